#pragma once

#include "step/CycleContext.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimeZone>

/// The rows, transactions and outbox entries refused cycle after cycle, and the time of the last
/// completed cycle. The agent keeps them in a small file beside its log, written whole after every
/// cycle, so that they survive a restart and another process (cribsync --status) can read them
/// without disturbing the agent.
class CycleStatus
{
public:
    /// Refused in this many cycles in a row, a row, transaction or entry is stuck.
    static constexpr int StuckAfterCycles = 3;
    /// Refusals followed from cycle to cycle: a table failing row by row cannot make the agent
    /// hold its whole backlog.
    static constexpr int FollowedRefusals = 10000;
    /// Refusals the file lists, oldest first; the rest are counted.
    static constexpr int ListedRefusals = 1000;

    struct Refusal
    {
        QString step;
        QString table;
        QString key;
        QString message; // the last refusal's
        QDateTime first; // UTC
        QDateTime last; // UTC
        int cycles = 0; // in a row

        bool stuck() const { return cycles >= StuckAfterCycles; }
        /// What was refused, for an operator: "Item MyNo=AAA-0", "MyTran RecordID 12",
        /// "Outbox entry 40 (Item)".
        QString what() const;
    };

    /// "cribsync-status.json" in the folder of the log `logPath`.
    static QString pathBesideLog(const QString& logPath);

    /// Reads the file at `path` if there is one; an empty path keeps the state in memory only.
    explicit CycleStatus(const QString& path = {});

    QString path() const { return m_path; }
    /// Whether the file was there and could be read (or there is none to read).
    bool readable() const { return m_readError.isEmpty(); }
    QString readError() const { return m_readError; }

    void cycleStarted();
    /// Follows a failure that names a row, transaction or entry (one with a key); returns in how
    /// many cycles in a row it has been refused, this one included (1 when it is not followed).
    int refused(const CycleFailure& failure, const QDateTime& utc);
    /// After a completed cycle what it did not refuse is no longer followed; a cycle that ended
    /// early keeps the rest as it was. Writes the file; false, with writeError(), when it cannot.
    bool cycleFinished(bool completed, const QDateTime& utc);
    QString writeError() const { return m_writeError; }

    /// Oldest first.
    QList<Refusal> refusals() const;
    QList<Refusal> stuck() const;
    /// Refusals followed but left out of the file.
    int unlisted() const { return m_unlisted; }
    /// Invalid before the first completed cycle.
    QDateTime lastCompletedCycle() const { return m_lastCompleted; }

    /// "3 stuck: Item MyNo=AAA-0 refused since 08:14: <reason>", the times in `zone`; empty when
    /// nothing is stuck.
    QString stuckText(const QTimeZone& zone, const QDateTime& nowUtc) const;
    /// "when" in `zone`: the time alone on the day of `nowUtc`, else with its date.
    static QString timeText(const QDateTime& when, const QTimeZone& zone, const QDateTime& nowUtc);

private:
    static QString identity(const QString& step, const QString& table, const QString& key);
    void read();
    bool write();

    QString m_path;
    QString m_readError;
    QString m_writeError;
    QHash<QString, Refusal> m_refusals; // by identity
    QSet<QString> m_refusedThisCycle;
    int m_unlisted = 0;
    QDateTime m_lastCompleted;
};
