#pragma once

#include "clock/MockClock.h"
#include "clock/TimeZoneList.h"
#include "cycle/CycleLog.h"
#include "cycle/FakeHost.h"
#include "cycle/SyncEngine.h"
#include "db/Connection.h"
#include "demo/CribSchema.h"

#include <QMap>
#include <QTemporaryDir>
#include <memory>

/// One zone without daylight saving, so the engine needs no time-zone data.
class FixedZones : public TimeZoneList
{
public:
    QList<TimeZoneEntry> zonesAt(const QDateTime&) const override;
};

/// One crib computer's synchronisation engine in this process, on an empty embedded local and
/// remote crib database of its own folder, with a cycle log file and an SQL trace. The seed
/// connections are traced under "seed", apart from the engine's own "local" and "remote".
class EngineSite
{
public:
    explicit EngineSite(
        const QString& machineName = QStringLiteral("CRIB-01"), const CribSchema::Options& options = {});
    ~EngineSite();

    /// Runs the engine's start-up; false when it did not connect.
    bool start();
    /// One cycle; returns whether it completed without a caught failure.
    bool cycle();

    QString localFile() const { return dir.filePath(QStringLiteral("L.db")); }
    QString remoteFile() const { return dir.filePath(QStringLiteral("R.db")); }
    QString logText() const;
    /// Statements the engine sent since the last clearTrace(), each with its target ("local: ...").
    QStringList traced() const;
    void clearTrace();

    QVariant localValue(const QString& sql, const db::NamedValues& values = {});
    QVariant remoteValue(const QString& sql, const db::NamedValues& values = {});
    int insertRemote(const QString& table, const QString& sql, const db::NamedValues& values = {});

    QTemporaryDir dir;
    QString machineName;
    QString tracePath;
    db::Connection local{QStringLiteral("seed")};
    db::Connection remote{QStringLiteral("seed")};
    FakeHost host;
    MockClock clock{QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(17, 30), Qt::UTC)};
    FixedZones zones;
    std::unique_ptr<CycleLog> log;
    std::unique_ptr<SyncEngine> engine;
    bool firstTick = true;
    int restarts = 0;
};

/// Values bound to ":v" and further placeholders, for seeding and checking hostile text.
db::NamedValues bind(const QVariantList& values);

/// Everything a database holds: its schema ("schema") and, per table, its rows as sorted text.
QMap<QString, QStringList> snapshotOf(db::Connection& connection);

/// Statements whose text holds more than the one statement the agent meant: a comment, a second
/// statement after a semicolon, or a DROP, ATTACH, PRAGMA, ALTER or CREATE outside literals.
QStringList statementsBeyondIntent(const QStringList& traced);
