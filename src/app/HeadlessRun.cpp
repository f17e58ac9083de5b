#include "app/HeadlessRun.h"

#include "app/CrashReport.h"
#include "app/HeadlessHost.h"
#include "cycle/Agent.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"

#include <QCoreApplication>
#include <QTimer>

HeadlessRun::HeadlessRun(Agent* agent, HeadlessHost* host, bool once, QObject* parent)
    : QObject(parent)
    , m_agent(agent)
    , m_host(host)
    , m_once(once)
{
    // Without a window the log lines are the operator's view; a service manager keeps them.
    m_agent->log().setEcho([this](const QString& line) { m_host->writeLine(line); });
    // A service may start before the network or the VPN: it waits for the remote server, while
    // a single run reports the cause at once.
    m_agent->setUnreachableRemote(m_once ? UnreachableRemote::End : UnreachableRemote::Wait);
    connect(m_agent, &Agent::entryShown, this, [this](Agent::Entry entry) { m_host->showEntry(entry); });
    connect(
        &m_agent->engine(), &SyncEngine::eventsDue, this, [this] { m_host->processEvents(); }, Qt::DirectConnection);
    CrashReport::setReporter([this](const QString& text) {
        m_host->writeLine(CrashReport::caption() + QStringLiteral(" ") + text);
        // Once, an uncaught failure is the outcome: of the cycle when start-up had finished.
        if (m_once)
            QCoreApplication::exit(static_cast<int>(
                m_agent->startup() == Agent::Startup::Armed ? ExitStatus::StepFailed : ExitStatus::StartupIncomplete));
    });
}

HeadlessRun::~HeadlessRun()
{
    CrashReport::setReporter({});
}

void HeadlessRun::start()
{
    QTimer::singleShot(0, this, &HeadlessRun::startUp);
}

int HeadlessRun::exec()
{
    const int status = QCoreApplication::exec();
    return m_quitStatus != 0 ? m_quitStatus : status;
}

void HeadlessRun::quit(int status)
{
    m_quitStatus = status;
    QCoreApplication::exit(status);
}

void HeadlessRun::startUp()
{
    const bool finished = CrashReport::guard([this] { m_agent->FormCreate(); });
    switch (m_agent->startup()) {
    case Agent::Startup::Ending:
        return;
    case Agent::Startup::Armed:
        CrashReport::guard([this] { m_agent->DataModuleCreate(); });
        if (m_once) {
            connect(m_agent, &Agent::cycleFinished, this, [](bool completed) {
                QCoreApplication::exit(static_cast<int>(completed ? ExitStatus::Completed : ExitStatus::StepFailed));
            });
            // Once means now: nobody waits a whole interval for the one cycle.
            QTimer::singleShot(0, m_agent, &Agent::Timer1Timer);
        }
        return;
    case Agent::Startup::WaitingForRemote:
        m_agent->log().startupStep(QStringLiteral("waiting for the remote database: start-up is tried again in %1 s")
                                       .arg(m_agent->SyncIntervalSeconds()));
        QTimer::singleShot(std::chrono::seconds(m_agent->SyncIntervalSeconds()), this, &HeadlessRun::startUp);
        return;
    case Agent::Startup::WaitingForAddress:
        m_host->writeLine(QStringLiteral("Start-up stopped: the remote address or port is missing."));
        break;
    default:
        if (finished)
            m_host->writeLine(QStringLiteral("Start-up ended without a remote connection; the timer is off."));
        break;
    }
    QCoreApplication::exit(static_cast<int>(ExitStatus::StartupIncomplete));
}
