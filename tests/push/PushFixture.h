#pragma once

#include "db/Connection.h"
#include "demo/CribSchema.h"
#include "model/TDM.h"
#include "push/PendingChangeScan.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"

#include <QTemporaryDir>
#include <QVariant>

/// Cycle events that record what the push reports.
class PushEvents : public CycleEvents
{
public:
    void setProgressText(const QString& text) override { progressTexts << text; }
    void setProgress(int position, int maximum) override
    {
        this->position = position;
        this->maximum = maximum;
    }
    void pumpEvents() override { ++pumps; }
    void RecoverFromCycleError() override { ++recoveries; }
    void failureCaught(const CycleFailure& failure) override { failures << failure; }
    void workDone(const QString& what, const QString& table) override { done << what + QLatin1Char(':') + table; }

    QStringList progressTexts;
    int position = -1;
    int maximum = -1;
    int pumps = 0;
    int recoveries = 0;
    QList<CycleFailure> failures;
    QStringList done;
};

/// A local and a remote embedded crib database (or the demo pair), the data module and the
/// cycle copies on them, a cycle context for the computer "CRIB-01", a scan, and an SQL trace.
class PushFixture
{
public:
    enum class Databases { Empty, Demo };

    explicit PushFixture(const CribSchema::Options& options = {}, Databases databases = Databases::Empty);
    ~PushFixture();

    /// Runs the data module set-up and the cycle preparation again (after changing the remote).
    void prepare();
    /// Runs the scan with `tables` in both table lists.
    void push(const QStringList& tables);

    /// Runs `sql` on the remote database file directly, past the client layer (for triggers).
    void executeRemoteRaw(const QString& sql);

    /// Forgets the statements traced so far.
    void clearTrace();
    /// Texts of the statements traced since the last clearTrace(), sent to `target`.
    QStringList traced(const QString& target) const;

    QVariant localValue(const QString& sql) { return local.query(sql).rows.value(0).value(0); }
    QVariant remoteValue(const QString& sql) { return remote.query(sql).rows.value(0).value(0); }
    int localCount(const QString& table, const QString& where = QStringLiteral("1 = 1"));
    int remoteCount(const QString& table, const QString& where = QStringLiteral("1 = 1"));
    int pendingCount(const QString& table) { return localCount(table, QStringLiteral("ASPProcessed = 0")); }

    QTemporaryDir dir;
    QString tracePath;
    QString remoteConnectionString;
    QString remoteFile;
    db::Connection local{QStringLiteral("local")};
    db::Connection remote{QStringLiteral("remote")};
    TDM dm{&local};
    CycleStatements statements;
    PushEvents events;
    CycleContext context;
    PendingChangeScan scan{context};
};
