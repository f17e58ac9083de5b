#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

/// How one run of the executable ended.
struct AgentResult
{
    /// False when the run did not end within its time-out (it was then killed).
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    /// Everything the run wrote to standard error (the log lines of a headless run).
    QString standardError;
    /// What it printed (--status).
    QString standardOutput;
    /// From the start until the end was seen.
    qint64 elapsedMs = 0;

    /// Ended by itself with this exit code.
    bool exitedWith(int code) const { return finished && exitStatus == QProcess::NormalExit && exitCode == code; }
    /// One paragraph for a failure message: how it ended and the end of its standard error.
    QString describe() const;
};

/// The cribsync executable as a scheduler or a service manager runs it: headless, on the
/// settings folder of one crib computer and under that computer's name. Standard error goes to
/// a file in the settings folder, so a chatty run can never block on a full pipe while the test
/// waits for another process. Each AgentProcess gives its runs a temporary folder of their own,
/// which holds the single-instance lock, so that agents of different computers can run side by
/// side on one machine; set TMPDIR through setEnvironment to make two of them share one lock.
class AgentProcess
{
public:
    /// Generous: a run on a loaded machine with a large backlog may take minutes.
    static constexpr int DefaultTimeoutMs = 10 * 60 * 1000;

    /// The executable this build made.
    static QString defaultExecutable();
    /// The failpoint names the executable lists (--list-failpoints).
    static QStringList failpoints(const QString& executable = defaultExecutable());

    explicit AgentProcess(QString executable = defaultExecutable());
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    /// Adds an environment variable for the runs started from now on (for example
    /// CRIBSYNC_SQL_TRACE).
    void setEnvironment(const QString& name, const QString& value);

    /// Start-up and one cycle (--once); waits for the end.
    AgentResult runOnce(const QString& configDir, const QString& machineName, int timeoutMs = DefaultTimeoutMs);
    /// `--demo folder --once`, as a new user runs the demo; waits for the end.
    AgentResult runDemoOnce(const QString& demoDir, int timeoutMs = DefaultTimeoutMs);
    /// Starts a --once run without waiting, for running several computers at the same time.
    void startOnce(const QString& configDir, const QString& machineName);
    /// Starts headless timer mode: a cycle at every tick until the process is stopped.
    void start(const QString& configDir, const QString& machineName);
    /// `--status` (and `more`) on the computer's settings, beside any run of this object's.
    AgentResult runStatus(const QString& configDir, const QString& machineName, const QStringList& more = {});

    bool isRunning() const;
    qint64 processId() const;
    /// Standard error of the current (or last) run so far.
    QString standardErrorSoFar() const;
    /// Waits until standard error holds `text` `occurrences` times; false when the time ran out
    /// or the process ended first.
    bool waitForStandardError(const QString& text, int timeoutMs, int occurrences = 1) const;

    /// Waits for the end; a run still going after `timeoutMs` is killed and reported unfinished.
    AgentResult waitForFinished(int timeoutMs = DefaultTimeoutMs);
    /// True once a run started without waiting has ended; waits at most `waitMs`.
    bool hasFinished(int waitMs = 0);
    /// SIGTERM, then waits for the end (the agent finishes its running step first).
    AgentResult terminate(int timeoutMs = DefaultTimeoutMs);
    /// SIGKILL, then waits for the end.
    AgentResult kill(int timeoutMs = DefaultTimeoutMs);

private:
    void launch(const QString& configDir, const QString& machineName, const QStringList& mode);
    /// Starts the executable with `arguments` in `folder`, its standard error going to a file there.
    void launchIn(const QString& folder, const QStringList& arguments);
    AgentResult collect(bool finished);

    QString m_executable;
    QProcessEnvironment m_environment;
    QTemporaryDir m_tmp;
    std::unique_ptr<QProcess> m_process;
    QString m_errorFile;
    qint64 m_startedAt = 0;
};
