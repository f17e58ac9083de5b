#include "RawLoop.h"

#include "BenchSite.h"
#include "RawDb.h"

#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <stdexcept>

namespace {

using Row = QVariantList;

QList<Row> readAll(RawStatement& statement, const QVariantList& values = {})
{
    QList<Row> rows;
    statement.bind(values);
    while (statement.step()) {
        Row row;
        row.reserve(statement.columnCount());
        for (int i = 0; i < statement.columnCount(); ++i)
            row << statement.value(i);
        rows << row;
    }
    statement.reset();
    return rows;
}

/// Runs a query and reports whether it found a row, reading the row as the agent would.
bool found(RawStatement& statement, const QVariantList& values, Row* first = nullptr)
{
    statement.bind(values);
    bool any = false;
    while (statement.step()) {
        if (!any && first) {
            first->clear();
            for (int i = 0; i < statement.columnCount(); ++i)
                *first << statement.value(i);
        }
        any = true;
    }
    statement.reset();
    return any;
}

QString placeholders(int n)
{
    QStringList marks;
    for (int i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

/// Pushes rows of a table whose remote row is probed by `keys`, inserted or updated with
/// `columns` plus the stamps, and marked sent locally by RecordID.
void pushRows(RawDb& local, RawDb& remote, const QString& table, const QStringList& keys, const QStringList& columns,
    const QStringList& stamps, const QVariantList& stampValues, const QStringList& probeExtra,
    const QVariantList& probeExtraValues)
{
    RawStatement pending(local.handle(),
        QStringLiteral("SELECT RecordID, %1 FROM [%2] WHERE ASPProcessed = 0").arg(columns.join(", "), table));
    QStringList conditions;
    for (const QString& key : keys + probeExtra)
        conditions << key + QStringLiteral(" = ?");
    RawStatement probe(
        remote.handle(), QStringLiteral("SELECT * FROM [%1] WHERE %2").arg(table, conditions.join(" AND ")));
    const QStringList written = columns + stamps;
    RawStatement insert(remote.handle(),
        QStringLiteral("INSERT INTO [%1] (%2) VALUES (%3)")
            .arg(table, written.join(", "), placeholders(int(written.size()))));
    RawStatement update(remote.handle(),
        QStringLiteral("UPDATE [%1] SET %2 = ? WHERE RecordID = ?").arg(table, written.join(" = ?, ")));
    RawStatement mark(local.handle(), QStringLiteral("UPDATE [%1] SET ASPProcessed = ? WHERE RecordID = ?").arg(table));
    // The mark holds only while the row reads back as it was sent, in one transaction with it.
    RawStatement begin(local.handle(), QStringLiteral("BEGIN IMMEDIATE"));
    RawStatement readBack(local.handle(),
        QStringLiteral("SELECT RecordID, %1 FROM [%2] WHERE RecordID = ?").arg(columns.join(", "), table));
    RawStatement commit(local.handle(), QStringLiteral("COMMIT"));

    QList<int> keyPositions;
    for (const QString& key : keys)
        keyPositions << int(columns.indexOf(key)) + 1;
    Row remoteRow;
    for (const Row& row : readAll(pending)) {
        QVariantList key;
        for (int position : keyPositions)
            key << row[position];
        const Row values = row.mid(1) + stampValues;
        if (found(probe, key + probeExtraValues, &remoteRow))
            update.run(values + QVariantList{remoteRow[0]});
        else
            insert.run(values);
        begin.run();
        mark.run({1, row[0]});
        Row now;
        found(readBack, {row[0]}, &now);
        if (now != row)
            throw std::runtime_error("raw loop: a pushed row changed before its mark");
        commit.run();
    }
}

const QStringList kTranColumns = {"TranNo", "MyDate", "MyTime", "Station", "Bin", "Type", "Item", "ItemType",
    "Quantity", "PackQty", "IssueCost", "UnitPrice", "UnitCost", "Emp", "Department", "Job", "Machine", "Reason",
    "Operation", "Supplier", "PoNo", "TagNo", "Comment", "Red", "Compleat", "BurnQty", "Lot", "SpotTranCode", "Serial",
    "CurOnHand", "CurBurn", "CurOnHand2", "CurBurn2", "PickTicketNo", "PSlip", "MAvgPrice", "MAvgCost"};

/// What tells a transaction sent or copied again from the first one.
const QStringList kIdentity = {"TranNo", "MyDate", "MyTime", "Station", "Bin", "Type", "Item", "Quantity", "BurnQty"};

/// Transactions: the 'nerd' probe, then what the remote procedure does, in one transaction as
/// the embedded engine runs it, then the local mark.
void pushTransactions(RawDb& local, RawDb& remote)
{
    const QStringList read = kTranColumns + QStringList{"DiscrepantQty", "OGTranNo", "ExternalPO"};
    RawStatement pending(local.handle(),
        QStringLiteral("SELECT RecordID, %1 FROM MyTran WHERE ASPProcessed = 0 ORDER BY ServerDateTime")
            .arg(read.join(", ")));
    RawStatement probe(remote.handle(), QStringLiteral("SELECT * FROM MyTran WHERE Type = 'nerd'"));
    RawStatement begin(remote.handle(), QStringLiteral("BEGIN IMMEDIATE"));
    RawStatement commit(remote.handle(), QStringLiteral("COMMIT"));
    QStringList identity{QStringLiteral("ComputerName IS ?")};
    for (const QString& column : kIdentity)
        identity << column + QStringLiteral(" IS ?");
    RawStatement already(
        remote.handle(), QStringLiteral("SELECT 1 FROM MyTran WHERE %1").arg(identity.join(QStringLiteral(" AND "))));
    RawStatement bin(remote.handle(), QStringLiteral("SELECT OnHand, BurnQty FROM Bin WHERE MyNo = ? AND Station = ?"));
    RawStatement move(remote.handle(),
        QStringLiteral("UPDATE Bin SET OnHand = OnHand + ?, BurnQty = BurnQty + ? WHERE MyNo = ? AND Station = ?"));
    RawStatement clampOnHand(remote.handle(), QStringLiteral("UPDATE Bin SET OnHand = 0 WHERE OnHand < 0"));
    RawStatement clampBurn(remote.handle(), QStringLiteral("UPDATE Bin SET BurnQty = 0 WHERE BurnQty < 0"));
    const QStringList stored
        = kTranColumns + QStringList{"Processed", "ComputerName", "DiscrepantQty", "OGTranNo", "ExternalPO"};
    RawStatement insert(remote.handle(),
        QStringLiteral("INSERT INTO MyTran (%1) VALUES (%2)").arg(stored.join(", "), placeholders(int(stored.size()))));
    RawStatement mark(local.handle(), QStringLiteral("UPDATE MyTran SET ASPProcessed = 1 WHERE RecordID = ?"));

    static const QStringList movingTypes = {"A", "AB", "B", "I", "P", "R", "T", "RG", "GI", "GO", "RR", "S"};
    const auto at = [&](const Row& row, const char* column) { return row[int(read.indexOf(column)) + 1]; };
    Row binRow;
    for (Row row : readAll(pending)) {
        found(probe, {});
        const QVariant station = at(row, "Station");
        const QVariant binNo = at(row, "Bin");
        const QString type = at(row, "Type").toString();
        begin.run();
        QVariantList key{BenchSite::machineName()};
        for (const QString& column : kIdentity)
            key << row[int(read.indexOf(column)) + 1];
        if (found(already, key)) {
            commit.run();
            mark.run({row[0]});
            continue;
        }
        const bool moves = at(row, "Emp").toString().toUpper() != QLatin1String("JAM") && found(bin, {binNo, station})
            && movingTypes.contains(type);
        if (moves) {
            move.run({at(row, "Quantity"), at(row, "BurnQty"), binNo, station});
            clampOnHand.run();
            clampBurn.run();
        }
        Row values;
        for (const QString& column : kTranColumns)
            values << row[int(read.indexOf(column)) + 1];
        if (found(bin, {binNo, station}, &binRow)) {
            values[int(kTranColumns.indexOf("CurOnHand2"))] = binRow[0];
            values[int(kTranColumns.indexOf("CurBurn2"))] = binRow[1];
        }
        values << 1 << BenchSite::machineName() << at(row, "DiscrepantQty") << at(row, "OGTranNo")
               << at(row, "ExternalPO");
        insert.run(values);
        commit.run();
        mark.run({row[0]});
    }
}

/// The source row read back after its mark: the mark holds only while the row is as it was read.
class SourceReadBack
{
public:
    SourceReadBack(RawDb& remote, const QString& table, const QStringList& columns)
        : m_statement(remote.handle(),
            QStringLiteral("SELECT RecordID, %1 FROM [%2] WHERE RecordID = ?").arg(columns.join(", "), table))
    { }
    void check(const Row& read)
    {
        found(m_statement, {read[0]}, &m_now);
        if (m_now != read)
            throw std::runtime_error("raw loop: a source row changed before its mark");
    }

private:
    RawStatement m_statement;
    Row m_now;
};

/// Record copies of `table`, keyed by its column `key`: the source row by RecordID, the layout
/// and key lookups, the local write, the source's and the order's marks.
void applyCopies(RawDb& local, RawDb& remote, const QList<Row>& orders, const QString& table, const QString& key,
    const QStringList& columns)
{
    RawStatement source(remote.handle(),
        QStringLiteral("SELECT RecordID, %1 FROM [%2] WHERE RecordID = ?").arg(columns.join(", "), table));
    RawStatement layout(local.handle(), QStringLiteral("SELECT * FROM [%1] LIMIT 1").arg(table));
    RawStatement lookup(local.handle(), QStringLiteral("SELECT * FROM [%1] WHERE %2 = ?").arg(table, key));
    RawStatement insert(local.handle(),
        QStringLiteral("INSERT INTO [%1] (%2, ASPProcessed) VALUES (%3)")
            .arg(table, columns.join(", "), placeholders(int(columns.size()) + 1)));
    RawStatement update(local.handle(),
        QStringLiteral("UPDATE [%1] SET %2 = ?, ASPProcessed = ? WHERE RecordID = ?")
            .arg(table, columns.join(" = ?, ")));
    RawStatement markSource(
        remote.handle(), QStringLiteral("UPDATE [%1] SET Processed = ? WHERE RecordID = ?").arg(table));
    SourceReadBack readBack(remote, table, columns);
    RawStatement markOrder(remote.handle(), QStringLiteral("UPDATE Outbox SET Processed = ? WHERE RecordID = ?"));
    const int keyPosition = int(columns.indexOf(key)) + 1;
    Row row;
    Row existing;
    for (const Row& order : orders) {
        if (!found(source, {order[1]}, &row))
            continue;
        found(layout, {});
        const Row values = row.mid(1) + QVariantList{1};
        if (found(lookup, {row[keyPosition]}, &existing))
            update.run(values + QVariantList{existing[0]});
        else
            insert.run(values);
        markSource.run({1, row[0]});
        readBack.check(row);
        markOrder.run({1, order[0]});
    }
}

/// Copied transactions: the source row, the layout and lookup queries, the local bin's move and
/// clamps, the station of an issue, the bin read back, the local insert and both marks.
void applyTransactions(RawDb& local, RawDb& remote, const QList<Row>& orders)
{
    const QStringList columns = kTranColumns
        + QStringList{"AdjQty", "DiscrepantQty", "OGTranNo", "ExternalPO", "ComputerName", "ServerDateTime"};
    RawStatement source(
        remote.handle(), QStringLiteral("SELECT RecordID, %1 FROM MyTran WHERE RecordID = ?").arg(columns.join(", ")));
    RawStatement layout(local.handle(), QStringLiteral("SELECT * FROM MyTran LIMIT 1"));
    RawStatement bin(local.handle(), QStringLiteral("SELECT * FROM Bin WHERE MyNo = ? AND Station = ?"));
    RawStatement move(local.handle(),
        QStringLiteral("UPDATE Bin SET OnHand = OnHand + ?, BurnQty = BurnQty + ?, OnOrder = OnOrder + ? "
                       "WHERE MyNo = ? AND Station = ?"));
    RawStatement clampOnHand(
        local.handle(), QStringLiteral("UPDATE Bin SET OnHand = 0 WHERE MyNo = ? AND Station = ? AND OnHand < 0"));
    RawStatement clampBurn(
        local.handle(), QStringLiteral("UPDATE Bin SET BurnQty = 0 WHERE MyNo = ? AND Station = ? AND BurnQty < 0"));
    RawStatement station(local.handle(), QStringLiteral("SELECT * FROM Station WHERE MyNo = ?"));
    RawStatement insert(local.handle(),
        QStringLiteral("INSERT INTO MyTran (%1, ASPProcessed) VALUES (%2)")
            .arg(columns.join(", "), placeholders(int(columns.size()) + 1)));
    RawStatement markSource(remote.handle(), QStringLiteral("UPDATE MyTran SET Processed = ? WHERE RecordID = ?"));
    SourceReadBack readBack(remote, QStringLiteral("MyTran"), columns);
    RawStatement markOrder(remote.handle(), QStringLiteral("UPDATE Outbox SET Processed = ? WHERE RecordID = ?"));
    QStringList identity{QStringLiteral("ComputerName IS ?")};
    for (const QString& column : kIdentity)
        identity << column + QStringLiteral(" IS ?");
    RawStatement stored(local.handle(),
        QStringLiteral("SELECT RecordID FROM MyTran WHERE %1 LIMIT 1").arg(identity.join(QStringLiteral(" AND "))));
    RawStatement begin(local.handle(), QStringLiteral("BEGIN IMMEDIATE"));
    RawStatement commit(local.handle(), QStringLiteral("COMMIT"));

    static const QStringList onHandTypes = {"A", "AB", "B", "I", "P", "R", "RT", "RG", "GI", "GO", "RR", "T"};
    const auto at = [&](const Row& row, const char* column) { return row[int(columns.indexOf(column)) + 1]; };
    const int onHand = 5; // Bin: RecordID, Station, MyNo, Item, Description, OnHand, BurnQty
    Row row;
    Row binRow;
    for (const Row& order : orders) {
        if (!found(source, {order[1]}, &row))
            continue;
        found(layout, {});
        found(layout, {});
        QVariantList key{at(row, "ComputerName")};
        for (const QString& column : kIdentity)
            key << row[int(columns.indexOf(column)) + 1];
        if (found(stored, key)) {
            markSource.run({1, row[0]});
            readBack.check(row);
            markOrder.run({1, order[0]});
            continue;
        }
        begin.run();
        const QVariant binNo = at(row, "Bin");
        const QVariant crib = at(row, "Station");
        const QString type = at(row, "Type").toString();
        if (found(bin, {binNo, crib}) && onHandTypes.contains(type)) {
            move.run({at(row, "Quantity"), at(row, "BurnQty"), 0, binNo, crib});
            clampOnHand.run({binNo, crib});
            clampBurn.run({binNo, crib});
            if (type == QLatin1String("I") || type == QLatin1String("B"))
                found(station, {crib});
        }
        Row values = row.mid(1);
        if (found(bin, {binNo, crib}, &binRow)) {
            values[int(columns.indexOf("CurOnHand2"))] = binRow[onHand];
            values[int(columns.indexOf("CurBurn2"))] = binRow[onHand + 1];
        }
        values << 1;
        insert.run(values);
        commit.run();
        markSource.run({1, row[0]});
        readBack.check(row);
        markOrder.run({1, order[0]});
    }
}

/// The idle cycle's statements: the probe, a fresh local connection and its schema stamp, each
/// table's pending rows, the delete history, the outbox and the three time stamps. The tables'
/// layouts are the agent's from an earlier cycle while the stamp stays, and read by neither.
double idleCycles(const QString& folder, int cycles)
{
    const QStringList tables = BenchSite::synchronisedTables(folder);
    RawDb remote(BenchSite::remoteFile(folder));
    RawStatement probe(remote.handle(), QStringLiteral("SELECT * FROM Outbox WHERE Processed = 0"));
    RawStatement outbox(remote.handle(),
        QStringLiteral("SELECT * FROM Outbox WHERE Processed = 0 AND ComputerName = ? ORDER BY RecordID"));
    RawStatement stampCompany(
        remote.handle(), QStringLiteral("UPDATE Company SET LastSyncTime = ?, ClientSyncTime = ?"));
    RawStatement stampControl(
        remote.handle(), QStringLiteral("UPDATE Control SET LastSyncTime = datetime('now') WHERE ComputerName = ?"));
    const QString now = QStringLiteral("2026-12-01T08:00:00");
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < cycles; ++i) {
        found(probe, {});
        RawDb local(BenchSite::localFile(folder));
        RawStatement stamp(local.handle(), QStringLiteral("PRAGMA schema_version"));
        found(stamp, {});
        found(outbox, {BenchSite::machineName()});
        RawStatement history(local.handle(), QStringLiteral("SELECT * FROM DeleteHst WHERE ASPProcessed = 0"));
        found(history, {});
        for (const QString& table : tables) {
            RawStatement pending(
                local.handle(), QStringLiteral("SELECT * FROM [%1] WHERE ASPProcessed = 0").arg(table));
            found(pending, {});
        }
        stampCompany.run({now, now});
        stampControl.run({BenchSite::machineName()});
        RawStatement(local.handle(), QStringLiteral("UPDATE Company SET LastSyncTime = ?")).run({now});
    }
    return timer.nsecsElapsed() / 1e9 / cycles;
}

/// The outbox orders addressed to the bench computer, as the agent reads them.
QList<Row> readOrders(RawDb& remote)
{
    RawStatement outbox(remote.handle(),
        QStringLiteral("SELECT RecordID, ID FROM Outbox WHERE Processed = 0 AND ComputerName = ? ORDER BY RecordID"));
    return readAll(outbox, {BenchSite::machineName()});
}

/// The first synchronisation, kind by kind in the order the agent meets them, each timed.
void firstSync(RawDb& local, RawDb& remote, RunReport& report)
{
    const QString machine = BenchSite::machineName();
    const auto timed = [&](FirstSyncKind kind, const std::function<void()>& work) {
        const SqliteCounter::Counts before = SqliteCounter::counts();
        QElapsedTimer timer;
        timer.start();
        work();
        report.set(kindName(kind) + QStringLiteral("_seconds"), timer.nsecsElapsed() / 1e9);
        report.setCounts(kindName(kind) + QLatin1Char('_'), before, SqliteCounter::counts());
    };
    timed(FirstSyncKind::Bins, [&] {
        pushRows(local, remote, QStringLiteral("Bin"), {"Station", "MyNo"},
            {"Station", "MyNo", "Item", "Description", "MinQty", "MaxQty", "LastCount"}, {"ComputerName", "Processed"},
            {machine, 1}, {}, {});
    });
    timed(FirstSyncKind::Items, [&] {
        pushRows(local, remote, QStringLiteral("Item"), {"MyNo"},
            {"MyNo", "Description", "ItemClass", "UnitPrice", "UnitCost"}, {"Processed"}, {1}, {}, {});
    });
    timed(FirstSyncKind::Transactions, [&] { pushTransactions(local, remote); });
    timed(FirstSyncKind::Orders, [&] {
        applyCopies(local, remote, readOrders(remote), QStringLiteral("Item"), QStringLiteral("MyNo"),
            {"MyNo", "Description", "ItemClass", "UnitPrice", "UnitCost"});
    });
}

} // namespace

double rawIdleCycles(const QString& folder, int cycles)
{
    return idleCycles(folder, cycles);
}

RunReport runRawLoop(const QString& folder, BenchCase benchCase)
{
    RunReport report;
    if (benchCase == BenchCase::Idle) {
        idleCycles(folder, 1);
        const SqliteCounter::Counts before = SqliteCounter::counts();
        idleCycles(folder, 1);
        report.setCounts(QString(), before, SqliteCounter::counts());
        report.set(QStringLiteral("seconds"), idleCycles(folder, 50));
        return report;
    }
    const SqliteCounter::Counts before = SqliteCounter::counts();
    ProcessMemory::resetPeak();
    report.set(QStringLiteral("base_kb"), double(ProcessMemory::residentKb()));
    QElapsedTimer timer;
    timer.start();
    {
        RawDb local(BenchSite::localFile(folder));
        RawDb remote(BenchSite::remoteFile(folder));
        const QString machine = BenchSite::machineName();
        switch (benchCase) {
        case BenchCase::PushGeneric:
            pushRows(local, remote, QStringLiteral("Part"), {"PartNo"},
                {"PartNo", "Description", "Qty", "Price", "Updated"}, {"Processed"}, {1}, {}, {});
            break;
        case BenchCase::PushBin:
            pushRows(local, remote, QStringLiteral("Bin"), {"Station", "MyNo"},
                {"Station", "MyNo", "Item", "Description", "MinQty", "MaxQty", "LastCount"},
                {"ComputerName", "Processed"}, {machine, 1}, {}, {});
            break;
        case BenchCase::PushIssue:
            pushRows(local, remote, QStringLiteral("Issue"), {"TranNo", "MyLineNo"},
                {"TranNo", "MyLineNo", "Item", "Quantity", "Emp", "MyDate"}, {"ComputerName", "Processed"},
                {machine, 1}, {"ComputerName"}, {machine});
            break;
        case BenchCase::PushMyTran:
            pushTransactions(local, remote);
            break;
        case BenchCase::FirstSync:
            firstSync(local, remote, report);
            break;
        case BenchCase::ApplyCopies:
        case BenchCase::ApplyTransactions: {
            const QList<Row> orders = readOrders(remote);
            if (benchCase == BenchCase::ApplyCopies)
                applyCopies(local, remote, orders, QStringLiteral("Part"), QStringLiteral("PartNo"),
                    {"PartNo", "Description", "Qty", "Price", "Updated"});
            else
                applyTransactions(local, remote, orders);
            break;
        }
        default:
            break;
        }
    }
    report.set(QStringLiteral("seconds"), timer.nsecsElapsed() / 1e9);
    report.set(QStringLiteral("peak_kb"), double(ProcessMemory::peakKb()));
    report.setCounts(QString(), before, SqliteCounter::counts());
    return report;
}
