#include "cycle/Agent.h"

#include "config/Credential.h"
#include "config/MachineName.h"
#include "cycle/AgentHost.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "db/Connection.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>

namespace {
Q_LOGGING_CATEGORY(lcAgent, "cribsync.agent", QtInfoMsg)
}

Agent::Agent(ConfigStore config, AgentHost* host, const Clock* clock, const TimeZoneList* zones,
    const QString& machineName, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_host(host)
    , m_machineNameOverride(machineName)
    , m_timer(new QTimer(this))
    , m_log(std::make_unique<CycleLog>(logPath(m_config), clock))
    , m_engine(std::make_unique<SyncEngine>(host, clock, zones, m_log.get()))
    , m_unreachableRemote(UnreachableRemote::AskForLogin)
{
    m_log->setFallbackPath(fallbackLogPath());
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(MinimumInterval * 1000);
    connect(m_timer, &QTimer::timeout, this, &Agent::Timer1Timer);
    m_engine->setTimerControl([this] { m_timer->stop(); }, [this] { m_timer->start(); });
}

Agent::~Agent() = default;

QString Agent::logPath(const ConfigStore& config)
{
    const QFileInfo folder(config.folder());
    if (folder.isDir() && IniFile::canCreateIn(config.folder()))
        return QDir(config.folder()).filePath(QStringLiteral("cribsync.log"));
    return fallbackLogPath();
}

QString Agent::fallbackLogPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(QStringLiteral("cribsync.log"));
}

int Agent::clampedInterval(int seconds)
{
    return std::clamp(seconds, MinimumInterval, MaximumInterval);
}

void Agent::FormCreate()
{
    m_startup = Startup::InProgress;
    m_firstTick = true;

    m_settings.syncIntervalSeconds = clampedInterval(m_config.syncTime());
    m_settings.excludeCrib = m_config.excludeCrib();
    m_settings.timeBudgetSeconds = m_config.timeBudget();

    const ConfigStore::Form form = m_config.open();
    qCDebug(lcAgent) << "settings form" << (form == ConfigStore::Form::Registry ? "registry" : "paths.ini");
    if (m_config.readOnly())
        m_log->startupStep(QStringLiteral("the settings in %1 cannot be written by this account: they are read as "
                                          "they are, and a value the agent must store is refused naming them")
                               .arg(m_config.keyLocation()));
    db::Connection::setOdbcDriver(m_config.odbcDriver());
    db::Connection::setOdbcTimeouts(m_config.loginTimeout(), m_config.statementTimeout());
    if (!configureFirstTime())
        return;
    readLocalSettings();
    if (!readRemoteAddress()) {
        m_startup = Startup::WaitingForAddress;
        return;
    }

    m_settings.machineName = m_machineNameOverride.isEmpty() ? systemMachineName() : m_machineNameOverride;
    connectDatabases();
    if (m_startup == Startup::InProgress)
        m_startup = m_timer->isActive() ? Startup::Armed : Startup::Idle;
}

bool Agent::configureFirstTime()
{
    const QString server = m_config.read(StoreKey::Server);
    const bool registry = m_config.form() == ConfigStore::Form::Registry;
    if (registry ? !server.isEmpty() : server != QLatin1String("ERROR"))
        return true;

    const std::optional<LoginAnswer> answer = m_host->askLocalLogin();
    if (!answer) {
        endProgram(ExitStatus::StartupIncomplete);
        return false;
    }
    // The registry form keeps whatever the dialog held, however it was closed.
    if (!registry && !answer->accepted) {
        endProgram(ExitStatus::StartupIncomplete);
        return false;
    }
    m_config.writeFirstConfiguration(answer->values, QDateTime::currentDateTime());
    return true;
}

void Agent::readLocalSettings()
{
    m_settings.localServer = m_config.read(StoreKey::Server);
    m_settings.localLogin = m_config.read(StoreKey::Login);
    m_settings.localDatabase = m_config.read(StoreKey::DatabaseName);
    m_settings.localPassword = DecodeCredential(m_config.read(StoreKey::Password));
    m_settings.useWindowsAuth = m_config.read(StoreKey::WinAuth) == QLatin1String("1");
    // Only tidies the store: a run on settings this account cannot write does without it.
    if (!m_settings.useWindowsAuth && !m_config.readOnly())
        m_config.write(StoreKey::WinAuth, QStringLiteral("0"));
}

bool Agent::readRemoteAddress()
{
    const bool hasAddress = !m_config.read(StoreKey::IpAddress).isEmpty();
    const bool hasPort = !m_config.read(StoreKey::PortNo).isEmpty();
    if (!hasAddress) {
        m_host->showMessage(QStringLiteral("Need to edit IP address!"));
        Q_EMIT entryShown(Entry::Address);
        Q_EMIT trayIconShown();
    }
    if (!hasPort) {
        m_host->showMessage(QStringLiteral("Need to edit PortNo!"));
        Q_EMIT entryShown(Entry::Port);
        Q_EMIT trayIconShown();
    }
    if (!hasAddress || !hasPort)
        return false;
    m_settings.remotePort = m_config.read(StoreKey::PortNo);
    m_settings.remoteAddress = m_config.read(StoreKey::IpAddress);
    return true;
}

void Agent::connectDatabases()
{
    AgentSettings settings = m_settings;
    // The local credentials are not kept in memory once the connection string holds them.
    m_settings.localLogin.clear();
    m_settings.localPassword.clear();
    switch (m_engine->connectDatabases(settings, m_unreachableRemote)) {
    case SyncEngine::StartupOutcome::Connected:
        m_timer->setInterval(m_settings.syncIntervalSeconds * 1000);
        m_timer->start();
        break;
    case SyncEngine::StartupOutcome::NotConnected:
        break;
    case SyncEngine::StartupOutcome::Ending:
        m_startup = Startup::Ending;
        break;
    case SyncEngine::StartupOutcome::RemoteUnreachable:
        m_startup = Startup::WaitingForRemote;
        break;
    }
}

void Agent::DataModuleCreate()
{
    if (!m_engine->RemoteConnectionString().isEmpty())
        m_engine->DataModuleCreate();
}

void Agent::Timer1Timer()
{
    if (m_engine->isRunning())
        return;
    bool completed = false;
    try {
        completed = m_engine->runCycle(m_firstTick);
    } catch (const std::exception& e) {
        // Left stopped, the timer would end synchronisation for good on one bad moment of the
        // network; the failure is still reported as uncaught.
        // Counted, so that the summary does not say "0 failures" for a cycle that failed.
        m_log->failureCaught({QStringLiteral("cycle"), {}, {}, QString::fromUtf8(e.what())});
        m_log->cycleFinished(false, QStringLiteral("uncaught failure: ") + QString::fromUtf8(e.what()));
        m_timer->start();
        Q_EMIT changeEnabledChanged(true);
        Q_EMIT cycleFinished(false);
        throw;
    }
    Q_EMIT cycleFinished(completed);
}

void Agent::endProgram(ExitStatus status)
{
    m_startup = Startup::Ending;
    m_host->endProgram(status);
}

void Agent::btnChangeClick(int seconds)
{
    m_config.writeSyncTime(seconds);
    m_settings.syncIntervalSeconds = clampedInterval(seconds);
    Q_EMIT intervalShown(m_settings.syncIntervalSeconds);
    m_timer->stop();
    m_timer->setInterval(m_settings.syncIntervalSeconds * 1000);
    m_timer->start();
}

void Agent::Button1Click(const QString& address, const QString& port)
{
    m_config.open();
    m_config.write(StoreKey::IpAddress, address);
    m_config.write(StoreKey::PortNo, port);
    FormCreate();
}
