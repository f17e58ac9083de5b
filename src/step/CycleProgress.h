#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <functional>

/// How far the running cycle is, in an operator's words: for each step (one table's push, the
/// delete history, the outbox) the rows done of the rows pending and, from the pace so far, the
/// time left. Cheap per row: the clock is read once per row and the reporter called at most once
/// a second while a step works, and when a step starts and ends.
class CycleProgress
{
public:
    /// Milliseconds on a clock that never goes back.
    using Clock = std::function<qint64()>;

    enum class Kind { Push, History, Apply };

    struct Step
    {
        Kind kind = Kind::Push;
        QString table;
        qint64 done = 0;
        qint64 pending = 0;
        qint64 startedMs = 0;
        qint64 elapsedMs = 0;
        /// The step stopped at its time budget; the rest goes on in the next cycle.
        bool stoppedByBudget = false;
    };

    /// A step from its start to the end of the scope, however the step ends.
    class Scope
    {
    public:
        Scope(CycleProgress& progress, Kind kind, const QString& table, qint64 pending)
            : m_progress(progress)
        {
            m_progress.stepStarted(kind, table, pending);
        }
        ~Scope() { m_progress.stepFinished(m_byBudget); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        /// The step ends at its time budget with rows left.
        void stopAtBudget() { m_byBudget = true; }

    private:
        CycleProgress& m_progress;
        bool m_byBudget = false;
    };

    /// Without a clock, the process's monotonic clock.
    explicit CycleProgress(Clock clock = {});
    /// Reads `clock` from now on (tests).
    void setClock(Clock clock) { m_clock = std::move(clock); }

    /// Called with this progress when there is something new to show.
    void setReporter(std::function<void(CycleProgress&)> reporter) { m_reporter = std::move(reporter); }

    void cycleStarted();
    void stepStarted(Kind kind, const QString& table, qint64 pending);
    void rowDone();
    /// Ends the running step; `byBudget` when it stopped at its time budget with rows left.
    void stepFinished(bool byBudget = false);
    /// Whether the running step has worked for `budgetMs` or longer (never when it is 0), or the
    /// program is ending.
    bool overBudget(qint64 budgetMs) const;
    /// The program is ending (a signal, the window closed): the running step stops after its
    /// current row, and no later step starts, so the program ends between two rows.
    void requestStop() { m_stopRequested = true; }
    bool stopRequested() const { return m_stopRequested; }

    /// The running step, if any.
    const Step* current() const { return m_running ? &m_current : nullptr; }
    /// The steps of this cycle that ended, in order.
    const QList<Step>& finished() const { return m_finished; }
    qint64 cycleElapsedMs() const { return now() - m_cycleStartedMs; }
    /// The time the running step still needs at its pace so far; -1 until there is a pace.
    qint64 estimatedLeftMs() const;

    /// "pushing MYTRAN: 120,000 of 1,000,000 rows (12%), about 35 min left"; empty when no step runs.
    QString currentText() const;
    /// The steps done this cycle and the running one, for the log.
    QString summaryText() const;
    /// The running step's share done, 0 to 100.
    int percent() const;
    /// Whether the progress is due in the log: once a minute of the cycle, never in its first.
    bool logDue();

    /// "less than a minute", "35 min", "2 h 10 min".
    static QString span(qint64 milliseconds);
    /// The same with "about" before the minutes.
    static QString duration(qint64 milliseconds);

private:
    qint64 now() const;
    void report();

    Clock m_clock;
    QElapsedTimer m_timer;
    std::function<void(CycleProgress&)> m_reporter;
    qint64 m_cycleStartedMs = 0;
    qint64 m_lastReportMs = 0;
    qint64 m_lastLogMs = 0;
    bool m_running = false;
    bool m_stopRequested = false;
    Step m_current;
    QList<Step> m_finished;
};
