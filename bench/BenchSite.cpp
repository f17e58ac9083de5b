#include "BenchSite.h"

#include "RawDb.h"
#include "config/Credential.h"
#include "db/Connection.h"
#include "demo/CribSchema.h"
#include "schema/LocalSchema.h"

#include <QDateTime>
#include <QDir>
#include <memory>

namespace {

const QString kDay = QStringLiteral("2026-12-01T00:00:00");

QString partNo(const QString& prefix, int n)
{
    return prefix + QStringLiteral("%1").arg(n, 7, 10, QLatin1Char('0'));
}

QString sharedBin(int n)
{
    return QStringLiteral("S%1").arg(n % BenchSite::kSharedBins + 1, 3, 10, QLatin1Char('0'));
}

QString timeOf(int n)
{
    return QDateTime(QDate(2026, 12, 1), QTime(6, 0)).addSecs(n).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

/// Each bin's transactions alternate between an issue of one and a receipt of two, so no bin runs
/// empty however many it gets (the n-th transaction goes to the shared bin n modulo their number).
bool isReceipt(int n)
{
    return (n / BenchSite::kSharedBins) % 2 != 0;
}

QString tranType(int n)
{
    return isReceipt(n) ? QStringLiteral("R") : QStringLiteral("I");
}

int tranQuantity(int n)
{
    return isReceipt(n) ? 2 : -1;
}

qint64 quantitySum(int rows)
{
    qint64 sum = 0;
    for (int n = 0; n < rows; ++n)
        sum += tranQuantity(n);
    return sum;
}

void createGeneric(RawDb& db, const QString& name, const QString& keyColumn, const QString& flag, bool local)
{
    db.exec(QStringLiteral("CREATE TABLE [%1] ([RecordID] INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "[%2] varchar(20) COLLATE NOCASE, [Description] varchar(50) COLLATE NOCASE, [Qty] int, "
                           "[Price] money, [Updated] datetime, [%3] bit NOT NULL DEFAULT 0)")
                .arg(name, keyColumn, flag));
    db.exec(QStringLiteral("CREATE INDEX [IX_%1_%2] ON [%1] ([%2])").arg(name, keyColumn));
    if (local)
        db.exec(QStringLiteral("CREATE INDEX [IX_%1_%2] ON [%1] ([%2])").arg(name, flag));
}

/// Seeds rows through one prepared insert in one transaction.
class Inserter
{
public:
    Inserter(RawDb& db, const QString& sql)
        : m_db(db)
        , m_statement(db.handle(), sql)
    {
        m_db.exec(QStringLiteral("BEGIN"));
    }
    void add(const QVariantList& values) { m_statement.run(values); }
    void commit() { m_db.exec(QStringLiteral("COMMIT")); }

private:
    RawDb& m_db;
    RawStatement m_statement;
};

void seedBins(RawDb& local, int rows)
{
    Inserter in(local,
        QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, Description, OnHand, BurnQty, OnOrder, MinQty, "
                       "MaxQty, LastCount, ASPProcessed) VALUES (?, ?, ?, ?, ?, 0, 0, 2, 40, ?, 0)"));
    for (int n = 0; n < rows; ++n)
        in.add({QStringLiteral("0%1").arg(n % 4 + 1), QStringLiteral("B%1").arg(n, 7, 10, QLatin1Char('0')),
            QStringLiteral("ITEM-%1").arg(n % 500), QStringLiteral("bin %1").arg(n), n % 50, timeOf(n)});
    in.commit();
}

void seedTransactions(RawDb& local, int rows)
{
    Inserter in(local,
        QStringLiteral("INSERT INTO MyTran (TranNo, MyDate, MyTime, Station, Bin, Type, Item, ItemType, Quantity, "
                       "PackQty, IssueCost, UnitPrice, UnitCost, Emp, BurnQty, CurOnHand, CurBurn, DiscrepantQty, "
                       "ComputerName, ServerDateTime, ASPProcessed) VALUES (?, ?, ?, '01', ?, ?, ?, 1, ?, 1, 0, "
                       "3.5, 2.25, 'E100', 0, 0, 0, 0, ?, ?, 0)"));
    for (int n = 0; n < rows; ++n)
        in.add({n + 1, kDay, QStringLiteral("1899-12-30T08:00:00"), sharedBin(n), tranType(n),
            QStringLiteral("ITEM-%1").arg(n % BenchSite::kSharedBins), tranQuantity(n), BenchSite::machineName(),
            timeOf(n)});
    in.commit();
}

void seedItems(RawDb& local, int rows)
{
    Inserter in(local,
        QStringLiteral("INSERT INTO Item (MyNo, Description, ItemClass, UnitPrice, UnitCost, ASPProcessed) "
                       "VALUES (?, ?, 'TOOL', ?, ?, 0)"));
    for (int n = 0; n < rows; ++n)
        in.add({partNo(QStringLiteral("L"), n), QStringLiteral("crib item %1").arg(n), (n % 400) * 0.5 + 1,
            (n % 400) * 0.25 + 1});
    in.commit();
}

void seedPending(RawDb& local, BenchCase benchCase, int rows)
{
    switch (benchCase) {
    case BenchCase::PushGeneric:
    case BenchCase::Connections:
    case BenchCase::Wan: {
        Inserter in(local,
            QStringLiteral("INSERT INTO Part (PartNo, Description, Qty, Price, Updated, ASPProcessed) "
                           "VALUES (?, ?, ?, ?, ?, 0)"));
        for (int n = 0; n < rows; ++n)
            in.add({partNo(QStringLiteral("P"), n), QStringLiteral("part %1").arg(n), n % 97, (n % 1000) * 0.25,
                timeOf(n)});
        in.commit();
        return;
    }
    case BenchCase::PushBin:
        seedBins(local, rows);
        return;
    case BenchCase::PushIssue: {
        Inserter in(local,
            QStringLiteral("INSERT INTO Issue (TranNo, MyLineNo, Item, Quantity, Emp, MyDate, ASPProcessed) "
                           "VALUES (?, ?, ?, ?, 'E100', ?, 0)"));
        for (int n = 0; n < rows; ++n)
            in.add({10000 + n / 5, n % 5 + 1, QStringLiteral("ITEM-%1").arg(n % 500), n % 9 + 1, timeOf(n)});
        in.commit();
        return;
    }
    case BenchCase::PushMyTran:
        seedTransactions(local, rows);
        return;
    case BenchCase::FirstSync: {
        const FirstSyncBacklog backlog = FirstSyncBacklog::of(rows);
        seedBins(local, backlog.bins);
        seedItems(local, backlog.items);
        seedTransactions(local, backlog.transactions);
        return;
    }
    default:
        return;
    }
}

/// Copies of hosted items, which the crib has not got yet.
void seedItemOrders(RawDb& remote, int rows)
{
    remote.exec(QStringLiteral("BEGIN"));
    RawStatement order(remote.handle(),
        QStringLiteral(
            "INSERT INTO Outbox (ComputerName, TableName, Type, ID, Processed) VALUES (?, 'Item', 'A', ?, 0)"));
    RawStatement source(remote.handle(),
        QStringLiteral("INSERT INTO Item (MyNo, Description, ItemClass, UnitPrice, UnitCost, Processed) "
                       "VALUES (?, ?, 'HOSTED', ?, ?, 0)"));
    for (int n = 0; n < rows; ++n) {
        source.run({partNo(QStringLiteral("H"), n), QStringLiteral("hosted item %1").arg(n), (n % 300) * 0.5 + 2,
            (n % 300) * 0.25 + 2});
        order.run({BenchSite::machineName(), QString::number(remote.lastInsertId())});
    }
    remote.exec(QStringLiteral("COMMIT"));
}

void seedOutbox(RawDb& remote, BenchCase benchCase, int rows)
{
    remote.exec(QStringLiteral("BEGIN"));
    RawStatement order(remote.handle(),
        QStringLiteral("INSERT INTO Outbox (ComputerName, TableName, Type, ID, Processed) VALUES (?, ?, 'A', ?, 0)"));
    if (benchCase == BenchCase::ApplyTransactions) {
        RawStatement source(remote.handle(),
            QStringLiteral("INSERT INTO MyTran (TranNo, MyDate, MyTime, Station, Bin, Type, Item, ItemType, Quantity, "
                           "PackQty, UnitPrice, UnitCost, Emp, BurnQty, ComputerName, Processed) VALUES (?, ?, "
                           "'1899-12-30T09:00:00', '01', ?, ?, ?, 1, ?, 1, 3.5, 2.25, 'E100', 0, 'HOSTED', 0)"));
        for (int n = 0; n < rows; ++n) {
            source.run({50000 + n, kDay, sharedBin(n), tranType(n),
                QStringLiteral("ITEM-%1").arg(n % BenchSite::kSharedBins), tranQuantity(n)});
            order.run({BenchSite::machineName(), QStringLiteral("MyTran"), QString::number(remote.lastInsertId())});
        }
    } else {
        RawStatement source(remote.handle(),
            QStringLiteral("INSERT INTO Part (PartNo, Description, Qty, Price, Updated, Processed) "
                           "VALUES (?, ?, ?, ?, ?, 0)"));
        for (int n = 0; n < rows; ++n) {
            source.run({partNo(QStringLiteral("Q"), n), QStringLiteral("hosted part %1").arg(n), n % 89,
                (n % 400) * 0.5, timeOf(n)});
            order.run({BenchSite::machineName(), QStringLiteral("Part"), QString::number(remote.lastInsertId())});
        }
    }
    remote.exec(QStringLiteral("COMMIT"));
}

/// The names the agent's scan leaves out whatever the columns say.
bool neverPushed(const QString& table)
{
    return table.compare(QLatin1String("MyUser"), Qt::CaseInsensitive) == 0
        || table.compare(QLatin1String("DeleteHst"), Qt::CaseInsensitive) == 0 || table.contains(QLatin1String("vw_"));
}

qint64 count(RawDb& db, const QString& sql)
{
    return db.scalar(sql).toLongLong();
}

QString expect(RawDb& db, const QString& what, const QString& sql, qint64 wanted)
{
    const qint64 got = count(db, sql);
    if (got == wanted)
        return {};
    return QStringLiteral("%1: %2 instead of %3").arg(what).arg(got).arg(wanted);
}

} // namespace

const QString& BenchSite::machineName()
{
    static const QString name = QStringLiteral("BENCH-01");
    return name;
}

const QString& BenchSite::localName()
{
    static const QString name = QStringLiteral("BenchLocal");
    return name;
}

const QString& BenchSite::remoteName()
{
    static const QString name = QStringLiteral("BenchRemote");
    return name;
}

QString BenchSite::localFile(const QString& folder)
{
    return QDir(folder).filePath(localName() + QStringLiteral(".db"));
}

QString BenchSite::remoteFile(const QString& folder)
{
    return QDir(folder).filePath(remoteName() + QStringLiteral(".db"));
}

void BenchSite::create(const QString& folder)
{
    QDir().mkpath(folder);
    {
        db::Connection local(QStringLiteral("local"));
        local.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, localName()));
        local.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
        CribSchema::create(local, CribSchema::Side::Local);
        db::Connection remote(QStringLiteral("remote"));
        remote.setConnectionString(
            QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, remoteName()));
        remote.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
        CribSchema::create(remote, CribSchema::Side::Remote);
    }

    RawDb local(localFile(folder));
    RawDb remote(remoteFile(folder));
    createGeneric(local, QStringLiteral("Part"), QStringLiteral("PartNo"), QStringLiteral("ASPProcessed"), true);
    createGeneric(remote, QStringLiteral("Part"), QStringLiteral("PartNo"), QStringLiteral("Processed"), false);
    for (int n = 1; synchronisedTables(folder).size() < kSynchronisedTables; ++n) {
        const QString name = QStringLiteral("Extra%1").arg(n, 2, 10, QLatin1Char('0'));
        createGeneric(local, name, QStringLiteral("Code"), QStringLiteral("ASPProcessed"), true);
        createGeneric(remote, name, QStringLiteral("Code"), QStringLiteral("Processed"), false);
    }

    const auto both = [&](const QString& sql) {
        local.exec(sql.arg(QStringLiteral("ASPProcessed")));
        remote.exec(sql.arg(QStringLiteral("Processed")));
    };
    both(QStringLiteral("INSERT INTO Station (MyNo, Name, LimitAccess, %1) VALUES ('01', 'Main crib', 0, 1)"));
    both(QStringLiteral("INSERT INTO Emp (MyNo, Name, Department, Cribs, Active, %1) "
                        "VALUES ('E100', 'Alice Turner', 'MACH', '01', 1, 1)"));
    both(QStringLiteral(
        "INSERT INTO Company (Name, Version, PoNo, Server, %1) VALUES ('Bench Works', '7.2', 1000, 0, 1)"));
    RawStatement(
        local.handle(), QStringLiteral("UPDATE Company SET ASPDataBaseName = ?, ASPLoginName = ?, ASPPassword = ?"))
        .run({EncodeCredential(remoteName()), EncodeCredential(QStringLiteral("bench")),
            EncodeCredential(QStringLiteral("bench"))});
    for (RawDb* db : {&local, &remote}) {
        const QString flag = db == &local ? QStringLiteral("ASPProcessed") : QStringLiteral("Processed");
        Inserter in(*db,
            QStringLiteral(
                "INSERT INTO Bin (Station, MyNo, Item, Description, OnHand, BurnQty, OnOrder, MinQty, MaxQty, "
                "%1) VALUES ('01', ?, ?, 'shared bin', ?, 0, 0, 2, 40, 1)")
                .arg(flag));
        for (int n = 0; n < kSharedBins; ++n)
            in.add({sharedBin(n), QStringLiteral("ITEM-%1").arg(n), kStartingStock});
        in.commit();
    }
}

QStringList BenchSite::synchronisedTables(const QString& folder)
{
    db::Connection local(QStringLiteral("local"));
    local.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, localName()));
    local.open();
    db::Connection remote(QStringLiteral("remote"));
    remote.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, remoteName()));
    remote.open();
    const QStringList localTables = local.tables();
    QStringList names;
    for (const QString& table : remote.tables()) {
        if (neverPushed(table) || !localTables.contains(table, Qt::CaseInsensitive)
            || LocalSchema::ExcludedLocalTables().contains(table, Qt::CaseInsensitive))
            continue;
        for (const db::ColumnInfo& column : local.columns(table)) {
            if (column.name.compare(QLatin1String("ASPProcessed"), Qt::CaseInsensitive) == 0) {
                names << table;
                break;
            }
        }
    }
    return names;
}

void BenchSite::seed(const QString& folder, BenchCase benchCase, int rows)
{
    RawDb local(localFile(folder));
    RawDb remote(remoteFile(folder));
    seedPending(local, benchCase, rows);
    if (benchCase == BenchCase::FirstSync) {
        // As on SQL Server (docs/scaling.md): the procedure's clamps over every bin then read only
        // the bins below zero, not the crib's thousands of bins at every transaction.
        remote.exec(QStringLiteral("CREATE INDEX IX_Bin_OnHand ON Bin (OnHand)"));
        remote.exec(QStringLiteral("CREATE INDEX IX_Bin_BurnQty ON Bin (BurnQty)"));
        seedItemOrders(remote, FirstSyncBacklog::of(rows).orders);
        return;
    }
    if (benchCase == BenchCase::ApplyCopies || benchCase == BenchCase::ApplyTransactions || isBothWays(benchCase))
        seedOutbox(remote, isBothWays(benchCase) ? BenchCase::ApplyCopies : benchCase, rows);
}

QString BenchSite::verify(const QString& folder, BenchCase benchCase, int rows)
{
    RawDb db(localFile(folder));
    db.exec(QStringLiteral("ATTACH DATABASE '%1' AS r").arg(remoteFile(folder)));
    QStringList problems;
    const auto check = [&](const QString& what, const QString& sql, qint64 wanted) {
        const QString problem = expect(db, what, sql, wanted);
        if (!problem.isEmpty())
            problems << problem;
    };
    const QString machine = machineName();
    const qint64 stock = qint64(kSharedBins) * kStartingStock + quantitySum(rows);
    const QString pendingOrders
        = QStringLiteral("SELECT count(*) FROM r.Outbox WHERE Processed = 0 AND ComputerName = '%1'").arg(machine);

    if (benchCase == BenchCase::PushGeneric || isBothWays(benchCase)) {
        check(QStringLiteral("local parts still pending"),
            QStringLiteral("SELECT count(*) FROM main.Part WHERE ASPProcessed = 0"), 0);
        check(QStringLiteral("parts arrived with their values"),
            QStringLiteral("SELECT count(*) FROM main.Part l JOIN r.Part p ON p.PartNo = l.PartNo AND "
                           "p.Description = l.Description AND p.Qty = l.Qty AND p.Price = l.Price AND "
                           "p.Updated = l.Updated AND p.Processed = 1 WHERE l.PartNo LIKE 'P%'"),
            rows);
    }
    const auto checkBins = [&](int bins) {
        check(QStringLiteral("local bins still pending"),
            QStringLiteral("SELECT count(*) FROM main.Bin WHERE ASPProcessed = 0"), 0);
        check(QStringLiteral("bins arrived with their values"),
            QStringLiteral("SELECT count(*) FROM main.Bin l JOIN r.Bin b ON b.Station = l.Station AND b.MyNo = l.MyNo "
                           "AND b.Item = l.Item AND b.Description = l.Description AND b.MaxQty = l.MaxQty AND "
                           "b.LastCount = l.LastCount AND b.ComputerName = '%1' AND b.Processed = 1 "
                           "WHERE l.MyNo LIKE 'B%'")
                .arg(machine),
            bins);
    };
    const auto checkTransactions = [&](int transactions) {
        check(QStringLiteral("local transactions still pending"),
            QStringLiteral("SELECT count(*) FROM main.MyTran WHERE ASPProcessed = 0"), 0);
        check(QStringLiteral("transactions arrived with their values"),
            QStringLiteral("SELECT count(*) FROM main.MyTran l JOIN r.MyTran t ON t.TranNo = l.TranNo AND "
                           "t.Bin = l.Bin AND t.Type = l.Type AND t.Quantity = l.Quantity AND t.ComputerName = '%1'")
                .arg(machine),
            transactions);
        check(QStringLiteral("remote transactions"), QStringLiteral("SELECT count(*) FROM r.MyTran"), transactions);
        check(QStringLiteral("remote stock of the shared bins"),
            QStringLiteral("SELECT sum(OnHand) FROM r.Bin WHERE MyNo LIKE 'S%'"),
            qint64(kSharedBins) * kStartingStock + quantitySum(transactions));
    };
    if (benchCase == BenchCase::PushBin)
        checkBins(rows);
    if (benchCase == BenchCase::PushIssue) {
        check(QStringLiteral("local issues still pending"),
            QStringLiteral("SELECT count(*) FROM main.Issue WHERE ASPProcessed = 0"), 0);
        check(QStringLiteral("issues arrived with their values"),
            QStringLiteral("SELECT count(*) FROM main.Issue l JOIN r.Issue i ON i.TranNo = l.TranNo AND "
                           "i.MyLineNo = l.MyLineNo AND i.Item = l.Item AND i.Quantity = l.Quantity AND "
                           "i.MyDate = l.MyDate AND i.ComputerName = '%1' AND i.Processed = 1")
                .arg(machine),
            rows);
    }
    if (benchCase == BenchCase::PushMyTran)
        checkTransactions(rows);
    if (benchCase == BenchCase::FirstSync) {
        const FirstSyncBacklog backlog = FirstSyncBacklog::of(rows);
        checkBins(backlog.bins);
        checkTransactions(backlog.transactions);
        check(QStringLiteral("local items still pending"),
            QStringLiteral("SELECT count(*) FROM main.Item WHERE ASPProcessed = 0"), 0);
        check(QStringLiteral("items arrived with their values"),
            QStringLiteral("SELECT count(*) FROM main.Item l JOIN r.Item i ON i.MyNo = l.MyNo AND "
                           "i.Description = l.Description AND i.UnitPrice = l.UnitPrice AND i.UnitCost = l.UnitCost "
                           "AND i.Processed = 1 WHERE l.MyNo LIKE 'L%'"),
            backlog.items);
        check(QStringLiteral("orders still pending"), pendingOrders, 0);
        check(QStringLiteral("hosted items copied with their values"),
            QStringLiteral("SELECT count(*) FROM r.Item i JOIN main.Item l ON l.MyNo = i.MyNo AND "
                           "l.Description = i.Description AND l.UnitPrice = i.UnitPrice AND l.UnitCost = i.UnitCost "
                           "AND l.ASPProcessed = 1 WHERE i.MyNo LIKE 'H%'"),
            backlog.orders);
        check(QStringLiteral("hosted items still pending"),
            QStringLiteral("SELECT count(*) FROM r.Item WHERE Processed = 0"), 0);
    }
    if (benchCase == BenchCase::ApplyCopies || isBothWays(benchCase)) {
        check(QStringLiteral("orders still pending"), pendingOrders, 0);
        check(QStringLiteral("parts copied with their values"),
            QStringLiteral("SELECT count(*) FROM r.Part p JOIN main.Part l ON l.PartNo = p.PartNo AND "
                           "l.Description = p.Description AND l.Qty = p.Qty AND l.Price = p.Price AND "
                           "l.Updated = p.Updated AND l.ASPProcessed = 1 WHERE p.PartNo LIKE 'Q%'"),
            rows);
        check(QStringLiteral("hosted parts still pending"),
            QStringLiteral("SELECT count(*) FROM r.Part WHERE Processed = 0"), 0);
    }
    if (benchCase == BenchCase::ApplyTransactions) {
        check(QStringLiteral("orders still pending"), pendingOrders, 0);
        check(QStringLiteral("transactions copied"),
            QStringLiteral("SELECT count(*) FROM r.MyTran t JOIN main.MyTran l ON l.TranNo = t.TranNo AND "
                           "l.Bin = t.Bin AND l.Type = t.Type AND l.Quantity = t.Quantity"),
            rows);
        check(QStringLiteral("local transactions"), QStringLiteral("SELECT count(*) FROM main.MyTran"), rows);
        check(QStringLiteral("hosted transactions still pending"),
            QStringLiteral("SELECT count(*) FROM r.MyTran WHERE Processed = 0"), 0);
        check(QStringLiteral("local stock of the shared bins"),
            QStringLiteral("SELECT sum(OnHand) FROM main.Bin WHERE MyNo LIKE 'S%'"), stock);
    }
    return problems.join(QStringLiteral("; "));
}
