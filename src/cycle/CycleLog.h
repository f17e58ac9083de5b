#pragma once

#include "cycle/CycleStatus.h"
#include "step/CycleContext.h"

#include <QMap>
#include <functional>

class Clock;

/// The agent's log for an operator: one line per start-up step, every failure a cycle caught
/// (with its step, table, key and the engine's message, and how many cycles in a row the same
/// row has failed), and one summary per cycle, which names what is stuck. The file is capped in
/// size: when it would grow past the cap it is renamed to "<name>.1" (older copies shift up) and a
/// new one is started. The refusals followed from cycle to cycle are kept in the status file
/// beside it (CycleStatus).
class CycleLog
{
public:
    CycleLog(const QString& filePath, const Clock* clock, qint64 maxBytes = 1024 * 1024, int keptFiles = 3);

    /// Also hands every line to `echo` (headless mode writes them to standard error).
    void setEcho(std::function<void(const QString&)> echo) { m_echo = std::move(echo); }
    QString filePath() const { return m_filePath; }
    /// Where the log goes on when its file cannot be written (the user's data folder).
    void setFallbackPath(const QString& path) { m_fallbackPath = path; }
    /// Why the log is not in its file: which file could not be written, why, what to do and
    /// where the lines go instead; empty while they reach a file.
    QString problem() const { return m_problem; }

    /// `text` with every control character (but the tab), line separator and bidirectional
    /// embedding, override or isolate written as an escape ("\x1B", "\u2028", "\u202E"): a value
    /// read from a database or the settings can neither begin a line of its own in the log, nor
    /// reach a terminal as a command, nor make the rest of its line read differently.
    static QString printable(const QString& text);

    void startupStep(const QString& text);
    /// A line of its own, outside the start-up and the cycle's counts.
    void note(const QString& text);

    void cycleStarted();
    void workDone(const QString& what, const QString& table);
    void failureCaught(const CycleFailure& failure);
    /// Writes the cycle's summary; `completed` is false when the cycle ended early.
    void cycleFinished(bool completed, const QString& reason = {});

    /// The last cycle's summary and the last failure, for the window and the tray tooltip.
    QString lastSummary() const { return m_lastSummary; }
    /// The last summary as its log line reads, with the time it was written.
    QString lastSummaryLine() const { return m_lastSummaryLine; }
    QString lastFailure() const { return m_lastFailure; }
    int cycleNumber() const { return m_cycle; }
    /// Failures caught in the running (or last) cycle.
    int failuresThisCycle() const { return m_failures; }
    /// What is stuck, for the window and the tray tooltip ("3 stuck: Item MyNo=AAA-0 refused since
    /// 08:14: ..."); empty when nothing is.
    QString stuckText() const;
    const CycleStatus& status() const { return m_status; }

private:
    /// Writes `text` as one line with the time; returns the line.
    QString write(const QString& text);
    /// `text` as a line of the log: the time, and the text made printable.
    QString stamped(const QString& text) const;
    /// Makes `problem` the log's problem and says it on the operator's stream, once.
    void tell(const QString& problem);
    void rotateIfNeeded(qint64 incoming);
    /// Appends `bytes` to the file at `path`; why it could not, or empty.
    static QString appendToFile(const QString& path, const QByteArray& bytes);
    /// Writes `bytes` to the log's file, or else to the fall-back file; whether a file took them.
    /// Each time the lines change place, a line says why.
    bool writeToFile(const QByteArray& bytes);

    QString m_filePath;
    QString m_fallbackPath;
    QString m_problem;
    const Clock* m_clock;
    qint64 m_maxBytes;
    int m_keptFiles;
    std::function<void(const QString&)> m_echo;
    bool m_notAFile = false;

    int m_cycle = 0;
    QDateTime m_started;
    QMap<QString, QMap<QString, int>> m_done; // what -> table -> count
    int m_failures = 0;
    CycleStatus m_status;
    QString m_statusWriteError; // the last one told
    QString m_lastSummary;
    QString m_lastSummaryLine;
    QString m_lastFailure;
};
