#pragma once

#include "cycle/CycleStatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

class Clock;
class ConfigStore;

/// How the agent of this computer stands, for `cribsync --status`: per side the work pending per
/// table, what is refused and stuck, and the time of the last completed cycle. It only reads: the
/// settings, the status file the agent writes beside its log, and both databases; it takes no lock
/// and writes nothing, so that it can run beside a running agent.
class StatusReport
{
public:
    /// What the report says, and the exit status that tells it to a monitoring system.
    enum class Health {
        Healthy = 0,
        /// Something is stuck, or the last completed cycle is older than three intervals.
        NeedsAttention = 1,
        /// Nothing is stuck, but a database cannot be reached or the settings or the status file
        /// cannot be read: the rest is not known.
        Unknown = 2,
    };

    /// One database: whether it could be read, and the pending work per table.
    struct Side
    {
        QString name; // "local database CribLocal on CRIBSERVER"
        bool read = false;
        QString error;
        QList<QPair<QString, qint64>> pending; // table, rows
    };

    /// Gathers the report. `machineName` empty: this computer's own name.
    StatusReport(ConfigStore& config, const Clock& clock, const QString& machineName);

    Health health() const;
    QString text() const;
    QByteArray json() const;

private:
    void readDatabases(ConfigStore& config);
    void readStatusFile(const ConfigStore& config);
    /// Why the report cannot tell, or what needs attention; empty when healthy.
    QStringList reasons() const;

    const Clock& m_clock;
    QDateTime m_now;
    QString m_machineName;
    int m_intervalSeconds = 0;
    QString m_settingsError;
    Side m_local;
    Side m_remote;
    QString m_statusFile;
    QString m_statusError;
    QList<CycleStatus::Refusal> m_refusals;
    int m_unlisted = 0;
    QDateTime m_lastCompleted;
};
