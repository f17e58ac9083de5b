#pragma once

#include "config/AgentSettings.h"
#include "model/VersionFlags.h"
#include "step/CycleProgress.h"
#include "step/PagedRows.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

class TDM;
class CycleStatements;

/// One failure that a cycle step caught: where it happened and the engine's message.
struct CycleFailure
{
    QString step; // "push", "transaction", "delete history", "outbox", "apply", "delete", ...
    QString table; // the table concerned, if any
    QString key; // the row's key as the step knows it (RecordID, key values), if any
    QString message;
};

/// What the push and apply steps report while they work. The agent implements it: the window
/// shows the progress, the cycle log records counts and failures.
class CycleEvents
{
public:
    virtual ~CycleEvents() = default;

    /// The progress line (Label2) and gauge (Gauge1).
    virtual void setProgressText(const QString& text) = 0;
    virtual void setProgress(int position, int maximum) = 0;
    /// Lets the window handle pending input between two records.
    virtual void pumpEvents() = 0;
    /// The common failure handler: re-arms the timer and disconnects the local database.
    virtual void RecoverFromCycleError() = 0;
    /// A failure caught by a step, for the cycle log; called before RecoverFromCycleError where
    /// both happen, and alone where a step leaves a row pending without calling the handler.
    virtual void failureCaught(const CycleFailure& failure) = 0;
    /// A unit of work done: `what` is "row pushed", "transaction sent", "history replayed",
    /// "entry applied"; `table` the table concerned.
    virtual void workDone(const QString& what, const QString& table) = 0;
};

/// The cycle's state that the push and apply steps read: statements, flags, names, lists and
/// settings. The lists are the window's hidden lists: remote tables (ListBox1), local tables
/// (ListBox2) and the scratch column list (LBRestructure).
struct CycleContext
{
    TDM* dm = nullptr;
    CycleStatements* statements = nullptr;
    CycleEvents* events = nullptr;
    VersionFlags flags;
    /// The start-up's settings; the steps read the machine name and ExcludeCrib.
    AgentSettings settings;
    QStringList remoteTables;
    QStringList localTables;
    QStringList scratchColumns;
    /// The computer's local date and time (injectable for tests).
    QDateTime (*localNow)() = &QDateTime::currentDateTime;
    /// Rows a step reads at a time: the pending rows of a table, the outbox orders.
    int pageRows = kDefaultPageRows;
    /// How far the cycle is; the steps report their rows to it.
    CycleProgress progress;
    /// Where the push of a table (named in capitals) stopped at its time budget: the next cycle
    /// goes on after that row.
    QHash<QString, PagePoint> resumeAfter;

    /// How long one table's push, and the outbox, may take in this cycle (0: no limit).
    qint64 timeBudgetMs() const { return qint64(settings.timeBudgetSeconds) * 1000; }
};
