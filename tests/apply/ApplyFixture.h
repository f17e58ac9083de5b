#pragma once

#include "db/Connection.h"
#include "demo/CribSchema.h"
#include "model/TDM.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"

#include <QTemporaryDir>
#include <QVariant>

/// Cycle events that record what the apply steps report.
class RecordingEvents : public CycleEvents
{
public:
    void setProgressText(const QString&) override { }
    void setProgress(int, int) override { }
    void pumpEvents() override { ++pumps; }
    void RecoverFromCycleError() override { ++recoveries; }
    void failureCaught(const CycleFailure& failure) override { failures << failure; }
    void workDone(const QString& what, const QString& table) override { done << what + QLatin1Char(':') + table; }

    int pumps = 0;
    int recoveries = 0;
    QList<CycleFailure> failures;
    QStringList done;
};

/// A local and a remote embedded crib database, the data module and the cycle copies on them,
/// and a cycle context for the computer "CRIB-01".
class ApplyFixture
{
public:
    explicit ApplyFixture(const CribSchema::Options& options = {});
    ~ApplyFixture();

    /// Runs the data module set-up and the cycle preparation again (after changing the remote).
    void prepare();

    /// Runs `sql` on the remote database and returns the RecordID of the last row of `table`.
    int insertRemote(const QString& table, const QString& sql);
    /// Adds a pending outbox order and returns its RecordID.
    int order(const QString& table, const QString& type, const QString& id, const QString& key1 = {},
        const QString& key2 = {}, const QString& key3 = {}, const QString& computer = QStringLiteral("CRIB-01"));
    /// Opens the cycle's source lookup on the remote row `recordId` of `table`.
    void openSource(const QString& table, int recordId);

    QVariant localValue(const QString& sql) { return local.query(sql).rows.value(0).value(0); }
    QVariant remoteValue(const QString& sql) { return remote.query(sql).rows.value(0).value(0); }
    int localCount(const QString& table, const QString& where = QStringLiteral("1 = 1"));
    bool entryProcessed(int recordId);

    QTemporaryDir dir;
    QString remoteConnectionString;
    db::Connection local{QStringLiteral("local")};
    db::Connection remote{QStringLiteral("remote")};
    TDM dm{&local};
    CycleStatements statements;
    RecordingEvents events;
    CycleContext context;
};
