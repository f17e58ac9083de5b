#pragma once

#include "config/AgentSettings.h"
#include "config/ConfigStore.h"
#include "cycle/AgentHost.h"

#include <QObject>
#include <QString>
#include <limits>
#include <memory>

class Clock;
class CycleLog;
class QTimer;
class SyncEngine;
class TimeZoneList;
enum class UnreachableRemote;

/// The agent's state and start-up sequence, the same with a window and without one. The front
/// end (AgentHost) asks a person what the agent needs; what the window shows comes as signals of
/// the agent and of its engine.
class Agent : public QObject
{
    Q_OBJECT

public:
    /// How far the last run of the start-up sequence came.
    enum class Startup {
        NotRun,
        /// Running, or stopped by a failure that no handler caught.
        InProgress,
        /// The remote address or port is missing; Connect repeats the start-up.
        WaitingForAddress,
        /// The start-up ended the program.
        Ending,
        /// Finished with the timer off.
        Idle,
        /// Finished with the timer running.
        Armed,
        /// The remote server could not be reached, and the start-up is to be repeated.
        WaitingForRemote,
    };

    /// The address and port entry controls of the window: a label, a box, and Connect.
    enum class Entry { Address, Port };
    Q_ENUM(Entry)

    static constexpr int MinimumInterval = 30;
    /// The longest interval whose milliseconds the timer can hold.
    static constexpr int MaximumInterval = std::numeric_limits<int>::max() / 1000;

    /// An empty `machineName` means this computer's network name, read at every start-up. The
    /// log is "cribsync.log" in the settings folder, or in the user's data folder when that one
    /// cannot be written. `clock` and `zones` give the time stamps; they outlive the agent.
    Agent(ConfigStore config, AgentHost* host, const Clock* clock, const TimeZoneList* zones,
        const QString& machineName = {}, QObject* parent = nullptr);
    ~Agent() override;

    /// The start-up sequence: settings, first configuration, and the database start-up.
    void FormCreate();
    /// Change: stores `seconds` as the interval and restarts the timer with it, raised to 30.
    void btnChangeClick(int seconds);
    /// What the start-up does when the remote server cannot be reached (by default it asks for
    /// the remote credentials, as for a refused login).
    void setUnreachableRemote(UnreachableRemote behaviour) { m_unreachableRemote = behaviour; }
    /// Connect: stores the remote address and port and runs the start-up again.
    void Button1Click(const QString& address, const QString& port);
    /// The data module's set-up at program start, once the start-up has built the remote
    /// connection string; nothing without one. Failures reach the caller.
    void DataModuleCreate();
    /// One cycle. A failure to connect the local database or to probe the remote schema on the
    /// first tick reaches the caller; the timer runs again all the same, so that an agent left
    /// alone tries again at the next tick.
    void Timer1Timer();

    Startup startup() const { return m_startup; }
    ConfigStore& config() { return m_config; }
    QTimer* Timer1() const { return m_timer; }

    /// The settings of the last start-up; the local login and password are cleared once the
    /// local connection string holds them.
    const AgentSettings& settings() const { return m_settings; }
    int SyncIntervalSeconds() const { return m_settings.syncIntervalSeconds; }
    bool FirstTick() const { return m_firstTick; }
    QString MachineName() const { return m_settings.machineName; }
    QString LocalServer() const { return m_settings.localServer; }
    QString LocalDatabase() const { return m_settings.localDatabase; }
    QString LocalLogin() const { return m_settings.localLogin; }
    QString LocalPassword() const { return m_settings.localPassword; }
    bool UseWindowsAuth() const { return m_settings.useWindowsAuth; }
    QString RemoteAddress() const { return m_settings.remoteAddress; }
    QString RemotePort() const { return m_settings.remotePort; }
    QString ExcludeCrib() const { return m_settings.excludeCrib; }

    SyncEngine& engine() { return *m_engine; }
    CycleLog& log() { return *m_log; }

Q_SIGNALS:
    /// Emitted by the cycle when it returns; `completed` is false when a step caught a failure.
    void cycleFinished(bool completed);
    /// A missing setting: the entry's label and box and Connect are to be shown.
    void entryShown(Agent::Entry entry);
    void trayIconShown();
    /// The cycle interval for the interval box, after Change.
    void intervalShown(int seconds);
    /// Change may be pressed again: a failure that no step caught ended the cycle.
    void changeEnabledChanged(bool enabled);

private:
    static int clampedInterval(int seconds);

    /// Returns false when the program is ending.
    bool configureFirstTime();
    void readLocalSettings();
    bool readRemoteAddress();
    void connectDatabases();
    void endProgram(ExitStatus status);
    static QString logPath(const ConfigStore& config);
    /// The log in the user's data folder: where it goes when the settings folder cannot take it.
    static QString fallbackLogPath();

    ConfigStore m_config;
    AgentHost* m_host;
    QString m_machineNameOverride;
    QTimer* m_timer;
    std::unique_ptr<CycleLog> m_log;
    std::unique_ptr<SyncEngine> m_engine;
    Startup m_startup = Startup::NotRun;
    UnreachableRemote m_unreachableRemote;

    AgentSettings m_settings;
    bool m_firstTick = false;
};
