#include "support/AgentProcess.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll());
}

#ifdef Q_OS_WIN
// The agents of this test process: they end when it does, as it closes the job's last handle.
HANDLE testJob()
{
    static const HANDLE job = [] {
        HANDLE handle = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(handle, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
        return handle;
    }();
    return job;
}
#endif

} // namespace

QString AgentResult::describe() const
{
    QString how;
    if (!finished)
        how = QStringLiteral("did not end in time");
    else if (exitStatus == QProcess::CrashExit)
        how = QStringLiteral("crashed");
    else
        how = QStringLiteral("exit code %1").arg(exitCode);
    // The end of the log says what went wrong; the start-up lines before it rarely do.
    const QString tail
        = standardError.size() > 4000 ? QStringLiteral("...") + standardError.right(4000) : standardError;
    return QStringLiteral("%1 after %2 ms; standard error:\n%3").arg(how).arg(elapsedMs).arg(tail);
}

QString AgentProcess::defaultExecutable()
{
    return QStringLiteral(CRIBSYNC_SUPPORT_EXECUTABLE);
}

QStringList AgentProcess::failpoints(const QString& executable)
{
    QProcess process;
    process.start(executable, {QStringLiteral("--list-failpoints")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        throw std::runtime_error(QStringLiteral("%1 --list-failpoints failed").arg(executable).toStdString());
    QStringList names;
    for (const QString& line : QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            names << line.section(QLatin1Char('\t'), 0, 0).trimmed();
    }
    return names;
}

AgentProcess::AgentProcess(QString executable)
    : m_executable(std::move(executable))
    , m_environment(QProcessEnvironment::systemEnvironment())
    // Short: the lock's socket path must fit in a Unix socket address (about 100 bytes).
    , m_tmp(QDir(QDir::tempPath()).filePath(QStringLiteral("cs-XXXXXX")))
{
    m_environment.remove(QStringLiteral("TMPDIR"));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A trace file left set by whoever started the tests would collect every agent's statements.
    m_environment.remove(QStringLiteral("CRIBSYNC_SQL_TRACE"));
    m_environment.remove(QStringLiteral("CRIBSYNC_FAILPOINT"));
}

AgentProcess::~AgentProcess()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(30000);
    }
}

void AgentProcess::setEnvironment(const QString& name, const QString& value)
{
    m_environment.insert(name, value);
}

void AgentProcess::launch(const QString& configDir, const QString& machineName, const QStringList& mode)
{
    launchIn(configDir,
        mode + QStringList{QStringLiteral("--config"), configDir, QStringLiteral("--machine-name"), machineName});
}

void AgentProcess::launchIn(const QString& folder, const QStringList& arguments)
{
    if (isRunning())
        throw std::logic_error("AgentProcess: the previous run is still going");
    QDir().mkpath(folder);
    QProcessEnvironment env = m_environment;
    // The single-instance lock lives in the temporary folder: one folder per agent lets the
    // agents of several computers run at once, and keeps them apart from any other copy here.
    if (!env.contains(QStringLiteral("TMPDIR")))
        env.insert(QStringLiteral("TMPDIR"), m_tmp.path());

    m_errorFile = QDir(folder).filePath(QStringLiteral("stderr.txt"));
    QFile::remove(m_errorFile);
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(env);
    m_process->setWorkingDirectory(folder);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(m_errorFile);
    // A test that dies (a time-out, a crash) must not leave agents running for ever.
#ifdef Q_OS_LINUX
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    m_startedAt = QDateTime::currentMSecsSinceEpoch();
    m_process->start(m_executable, arguments);
    if (!m_process->waitForStarted(60000))
        throw std::runtime_error(
            QStringLiteral("cannot start %1: %2").arg(m_executable, m_process->errorString()).toStdString());
#ifdef Q_OS_WIN
    if (HANDLE process = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(m_process->processId()))) {
        AssignProcessToJobObject(testJob(), process);
        CloseHandle(process);
    }
#endif
}

AgentResult AgentProcess::runOnce(const QString& configDir, const QString& machineName, int timeoutMs)
{
    startOnce(configDir, machineName);
    return waitForFinished(timeoutMs);
}

AgentResult AgentProcess::runDemoOnce(const QString& demoDir, int timeoutMs)
{
    launchIn(demoDir, {QStringLiteral("--demo"), demoDir, QStringLiteral("--once")});
    return waitForFinished(timeoutMs);
}

void AgentProcess::startOnce(const QString& configDir, const QString& machineName)
{
    launch(configDir, machineName, {QStringLiteral("--once")});
}

void AgentProcess::start(const QString& configDir, const QString& machineName)
{
    launch(configDir, machineName, {QStringLiteral("--headless")});
}

AgentResult AgentProcess::runStatus(const QString& configDir, const QString& machineName, const QStringList& more)
{
    QProcess status;
    QProcessEnvironment env = m_environment;
    env.insert(QStringLiteral("TMPDIR"), m_tmp.path());
    status.setProcessEnvironment(env);
    status.setWorkingDirectory(configDir);
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    status.start(m_executable,
        QStringList{QStringLiteral("--status"), QStringLiteral("--config"), configDir, QStringLiteral("--machine-name"),
            machineName}
            + more);
    AgentResult result;
    result.finished = status.waitForFinished(DefaultTimeoutMs);
    if (!result.finished) {
        status.kill();
        status.waitForFinished(30000);
    }
    result.exitStatus = status.exitStatus();
    result.exitCode = status.exitCode();
    // Windows' standard output ends lines with CR LF.
    result.standardOutput
        = QString::fromLocal8Bit(status.readAllStandardOutput()).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    result.standardError = QString::fromLocal8Bit(status.readAllStandardError());
    result.elapsedMs = QDateTime::currentMSecsSinceEpoch() - started;
    return result;
}

bool AgentProcess::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 AgentProcess::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QString AgentProcess::standardErrorSoFar() const
{
    return m_errorFile.isEmpty() ? QString() : readText(m_errorFile);
}

bool AgentProcess::waitForStandardError(const QString& text, int timeoutMs, int occurrences) const
{
    QElapsedTimer timer;
    timer.start();
    while (true) {
        if (standardErrorSoFar().count(text) >= occurrences)
            return true;
        // Let QProcess notice an end; a process that ended will not write any more.
        if (!m_process || m_process->waitForFinished(0) || m_process->state() == QProcess::NotRunning)
            return standardErrorSoFar().count(text) >= occurrences;
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(100);
    }
}

bool AgentProcess::hasFinished(int waitMs)
{
    if (!m_process)
        return true;
    if (m_process->state() == QProcess::NotRunning)
        return true;
    m_process->waitForFinished(waitMs);
    return m_process->state() == QProcess::NotRunning;
}

AgentResult AgentProcess::waitForFinished(int timeoutMs)
{
    if (!m_process)
        throw std::logic_error("AgentProcess: nothing was started");
    bool finished = m_process->state() == QProcess::NotRunning || m_process->waitForFinished(timeoutMs);
    if (!finished) {
        m_process->kill();
        m_process->waitForFinished(30000);
    }
    return collect(finished);
}

AgentResult AgentProcess::terminate(int timeoutMs)
{
    if (isRunning())
        m_process->terminate(); // SIGTERM
    return waitForFinished(timeoutMs);
}

AgentResult AgentProcess::kill(int timeoutMs)
{
    if (isRunning())
        m_process->kill();
    return waitForFinished(timeoutMs);
}

AgentResult AgentProcess::collect(bool finished)
{
    AgentResult result;
    result.finished = finished;
    result.exitStatus = m_process->exitStatus();
    result.exitCode = m_process->exitCode();
    result.standardError = standardErrorSoFar();
    result.elapsedMs = QDateTime::currentMSecsSinceEpoch() - m_startedAt;
    return result;
}
