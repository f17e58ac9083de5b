#pragma once

#include "config/AgentSettings.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "model/StartupStatements.h"
#include "model/TDM.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class AgentHost;
class Clock;
class CycleLog;
class TimeZoneList;
struct NetLoginValues;

/// What the start-up does when the remote server cannot be reached or its database file is
/// damaged, as against a login that the server refused.
enum class UnreachableRemote {
    AskForLogin, // show the cause and ask for the remote credentials, as for a refused login
    End, // show the cause and end the program
    Wait, // show the cause and leave the start-up to be repeated
};

/// The databases and the synchronisation cycle: the two connections, the data module, the
/// start-up's connection steps and table lists, and one cycle per timer tick. The agent owns
/// one and gives it the timer's stop and restart. What the window shows of the start-up and the
/// cycle comes as signals, which a front end without a window may leave unconnected.
class SyncEngine : public QObject, public CycleEvents
{
    Q_OBJECT

public:
    enum class StartupOutcome {
        Connected, // the remote database answered: the timer may run
        NotConnected, // start-up ended quietly with the timer off
        Ending, // a failure ended the program (the host has been told)
        RemoteUnreachable, // UnreachableRemote::Wait: the remote server did not answer
    };

    SyncEngine(
        AgentHost* host, const Clock* clock, const TimeZoneList* zones, CycleLog* log, QObject* parent = nullptr);
    ~SyncEngine() override;

    /// `stop` and `restart` drive the cycle timer (restart: a full interval from now).
    void setTimerControl(std::function<void()> stop, std::function<void()> restart);

    /// Connects the local database, reads or asks for the remote credentials, checks the local
    /// schema, proves the remote connection, registers this computer and fills the table lists.
    /// Clears the local login and password in `settings`, and keeps the rest for the cycles.
    /// Failures without a handler of their own reach the caller.
    StartupOutcome connectDatabases(
        AgentSettings& settings, UnreachableRemote unreachableRemote = UnreachableRemote::AskForLogin);

    /// Points the remote statements at the remote connection string and probes the remote
    /// schema version. Failures reach the caller.
    void DataModuleCreate();

    /// One cycle. `firstTick` is cleared by the first cycle after a start-up, which probes the
    /// remote schema again (its failure reaches the caller, as a failure to connect the local
    /// database does). A tick that comes while a cycle runs does nothing. Returns whether the
    /// cycle completed without a caught failure.
    bool runCycle(bool& firstTick);
    bool isRunning() const { return m_running; }
    /// The program is ending: a running cycle stops after its current row instead of going on
    /// through its backlog, so that it returns to the event loop within the signal's grace.
    void requestStop() { m_context.progress.requestStop(); }

    /// The settings of the last start-up, without the local login and password.
    const AgentSettings& settings() const { return m_context.settings; }
    QString RemoteConnectionString() const { return m_remoteConnectionString; }
    const VersionFlags& flags() const { return m_flags; }
    db::Connection& MSDEConnection() { return m_local; }
    TDM& dm() { return m_dm; }
    /// The outbox rows of the running or last cycle, for the window's grid.
    const db::RowQuery& outboxRows() const { return m_cycle.qryASPOutbox; }
    QStringList remoteTables() const { return m_context.remoteTables; }
    QStringList localTables() const { return m_context.localTables; }
    QStringList remoteProcedures() const { return m_remoteProcedures; }

    // CycleEvents
    void setProgressText(const QString& text) override;
    void setProgress(int position, int maximum) override;
    void pumpEvents() override;
    void RecoverFromCycleError() override;
    void failureCaught(const CycleFailure& failure) override;
    void workDone(const QString& what, const QString& table) override;

Q_SIGNALS:
    /// Label1: the caption of the progress line.
    void progressCaptionChanged(const QString& text);
    /// Label2: what the cycle is doing.
    void progressTextChanged(const QString& text);
    /// Gauge1.
    void progressChanged(int position, int maximum);
    /// At most once a second during a long step, and when a step starts or ends: what the cycle
    /// is doing and how far it is ("pushing MYTRAN: 120,000 of 1,000,000 rows (12%), about 35 min
    /// left"), or between two steps what it has done; `percent` is the running step's share done,
    /// -1 between steps.
    void progressReported(const QString& text, int percent);
    /// Between two records: pending input may be handled now. Connect it directly, so that the
    /// input is handled before the step goes on.
    void eventsDue();
    /// Change: disabled while a cycle runs, and after one that a failure stopped.
    void changeEnabledChanged(bool enabled);
    /// The first cycle after a start-up hides the address and port entries and Connect.
    void entriesHidden();
    /// The start-up reached the remote database.
    void trayIconShown();
    /// The hidden table lists: remote tables and views, local ones, remote procedures.
    void tableListsChanged(
        const QStringList& remoteTables, const QStringList& localTables, const QStringList& remoteProcedures);

private:
    /// Connects the remote database; on failure tells the host and the log why and returns the
    /// failure's cause.
    std::optional<db::DbError::Cause> connectRemote(const QString& connectionString, const QString& login);
    QString remoteStringFromCompany();
    /// The remote connection string from the values typed into the dialog.
    QString remoteString(const NetLoginValues& typed) const;
    void storeRemoteCredentials(const QString& database, const QString& login, const QString& password);
    void writeTimeStamps();
    /// Shows the cycle's progress and writes it to the log at most once a minute.
    void reportProgress(CycleProgress& progress);

    AgentHost* m_host;
    const Clock* m_clock;
    const TimeZoneList* m_zones;
    CycleLog* m_log;
    std::function<void()> m_stopTimer;
    std::function<void()> m_restartTimer;

    db::Connection m_local{QStringLiteral("local")};
    db::Connection m_web{QStringLiteral("remote")};
    TDM m_dm{&m_local};
    StartupStatements m_startup{&m_local, &m_web};
    CycleStatements m_cycle;
    CycleContext m_context;
    VersionFlags m_flags;
    QString m_remoteConnectionString;
    QStringList m_remoteProcedures;
    bool m_running = false;
    bool m_caughtFailure = false;
    bool m_zonesListed = true;
};
