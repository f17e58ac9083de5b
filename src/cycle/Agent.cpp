#include "cycle/Agent.h"

#include "config/Credential.h"
#include "cycle/AgentHost.h"

#include <QLoggingCategory>
#include <QSysInfo>
#include <QTimer>
#include <algorithm>

namespace {
Q_LOGGING_CATEGORY(lcAgent, "cribsync.agent", QtInfoMsg)
}

Agent::Agent(ConfigStore config, AgentHost* host, const QString& machineName, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_host(host)
    , m_machineNameOverride(machineName)
    , m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(MinimumInterval * 1000);
}

int Agent::clampedInterval(int seconds)
{
    return std::clamp(seconds, MinimumInterval, MaximumInterval);
}

void Agent::FormCreate()
{
    m_startup = Startup::InProgress;
    m_firstTick = true;

    m_syncIntervalSeconds = clampedInterval(m_config.syncTime());
    m_excludeCrib = m_config.excludeCrib();

    const ConfigStore::Form form = m_config.open();
    qCDebug(lcAgent) << "settings form" << (form == ConfigStore::Form::Registry ? "registry" : "paths.ini");
    if (!configureFirstTime())
        return;
    readLocalSettings();
    if (!readRemoteAddress()) {
        m_startup = Startup::WaitingForAddress;
        return;
    }

    m_machineName = m_machineNameOverride.isEmpty() ? QSysInfo::machineHostName() : m_machineNameOverride;
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
    m_localServer = m_config.read(StoreKey::Server);
    m_localLogin = m_config.read(StoreKey::Login);
    m_localDatabase = m_config.read(StoreKey::DatabaseName);
    m_localPassword = DecodeCredential(m_config.read(StoreKey::Password));
    m_useWindowsAuth = m_config.read(StoreKey::WinAuth) == QLatin1String("1");
    if (!m_useWindowsAuth)
        m_config.write(StoreKey::WinAuth, QStringLiteral("0"));
}

bool Agent::readRemoteAddress()
{
    const bool hasAddress = !m_config.read(StoreKey::IpAddress).isEmpty();
    const bool hasPort = !m_config.read(StoreKey::PortNo).isEmpty();
    if (!hasAddress) {
        m_host->showMessage(QStringLiteral("Need to edit IP address!"));
        m_host->showEntry(AgentHost::Entry::Address);
        m_host->setTrayIconVisible(true);
    }
    if (!hasPort) {
        m_host->showMessage(QStringLiteral("Need to edit PortNo!"));
        m_host->showEntry(AgentHost::Entry::Port);
        m_host->setTrayIconVisible(true);
    }
    if (!hasAddress || !hasPort)
        return false;
    m_remotePort = m_config.read(StoreKey::PortNo);
    m_remoteAddress = m_config.read(StoreKey::IpAddress);
    return true;
}

void Agent::connectDatabases()
{
    // The database start-up (connections, credentials, schema, registration, table lists, timer) follows here.
}

void Agent::endProgram(ExitStatus status)
{
    m_startup = Startup::Ending;
    m_host->endProgram(status);
}

void Agent::btnChangeClick(int seconds)
{
    m_config.writeSyncTime(seconds);
    m_syncIntervalSeconds = clampedInterval(seconds);
    m_host->showInterval(m_syncIntervalSeconds);
    m_timer->stop();
    m_timer->setInterval(m_syncIntervalSeconds * 1000);
    m_timer->start();
}

void Agent::Button1Click(const QString& address, const QString& port)
{
    m_config.open();
    m_config.write(StoreKey::IpAddress, address);
    m_config.write(StoreKey::PortNo, port);
    FormCreate();
}
