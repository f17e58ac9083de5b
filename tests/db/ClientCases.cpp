#include "ClientCases.h"

#include "db/DbError.h"
#include "db/RowQuery.h"
#include "db/Statement.h"
#include "doubles/LocalZone.h"

#include <QDateTime>
#include <QTest>

using namespace db;

namespace {

RowQuery query(Connection& c, const QString& sql)
{
    RowQuery q(QStringLiteral("test"));
    q.setDatabase(Database::fixed(&c));
    q.setSql(sql);
    return q;
}

} // namespace

void ClientCases::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_connectionString = freshDatabase(m_dir->path());
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    createFixture(c);
    c.execute(QStringLiteral("INSERT INTO Item (Code, Qty, Price, Active, Stamp, Note) VALUES "
                             "('A-1', 5, 1.25, 1, :stamp, 'first')"),
        [] {
            NamedValues v;
            v.set(QStringLiteral("stamp"), QDateTime(QDate(2026, 4, 3), QTime(14, 5, 6), Qt::UTC));
            return v;
        }());
    c.execute(QStringLiteral("INSERT INTO Item (Code, Qty, Price, Active, Stamp, Note) VALUES "
                             "('B''2', 0, 10, 0, NULL, NULL)"));
    c.execute(QStringLiteral("INSERT INTO Loose (Name, Qty) VALUES ('same', 1)"));
    c.execute(QStringLiteral("INSERT INTO Loose (Name, Qty) VALUES ('same', 1)"));
}

void ClientCases::cleanup()
{
    ConnectionPool::instance().clear();
    delete m_dir;
    m_dir = nullptr;
}

void ClientCases::readsRowsColumnsAndKinds()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from [Item] as T order by RecordID"));
    q.open();
    QCOMPARE(q.recordCount(), 2);
    QCOMPARE(q.columnCount(), 7);
    QCOMPARE(q.columnName(0), QStringLiteral("RecordID"));
    QCOMPARE(q.columnName(1), QStringLiteral("Code"));
    QCOMPARE(q.columnKind(0), ColumnKind::AutoIncrement);
    QCOMPARE(q.columnKind(1), ColumnKind::Text);
    QCOMPARE(q.columnKind(2), ColumnKind::Integer);
    QCOMPARE(q.columnKind(3), ColumnKind::Floating);
    QCOMPARE(q.columnKind(4), ColumnKind::Boolean);
    QCOMPARE(q.columnKind(5), ColumnKind::DateTime);
    QVERIFY(q.hasColumn(QStringLiteral("code")));
    QVERIFY(!q.hasColumn(QStringLiteral("Missing")));

    QCOMPARE(q.asString(QStringLiteral("CODE")), QStringLiteral("A-1"));
    QCOMPARE(q.asInt(QStringLiteral("Qty")), 5);
    QVERIFY(q.asBool(QStringLiteral("Active")));
    QCOMPARE(q.value(QStringLiteral("Stamp")).toDateTime(), QDateTime(QDate(2026, 4, 3), QTime(14, 5, 6), Qt::UTC));
    QCOMPARE(q.asString(QStringLiteral("Stamp")), QStringLiteral("2026-04-03T14:05:06"));
    QCOMPARE(q.value(QStringLiteral("Price")).toDouble(), 1.25);

    q.next();
    QVERIFY(!q.eof());
    QCOMPARE(q.asString(QStringLiteral("Code")), QStringLiteral("B'2"));
    QVERIFY(q.value(QStringLiteral("Note")).isNull());
    QCOMPARE(q.asString(QStringLiteral("Note")), QString());
    QCOMPARE(q.asInt(QStringLiteral("Stamp")), 0);
    QVERIFY(!q.asBool(QStringLiteral("Active")));
    q.next();
    QVERIFY(q.eof());
    QVERIFY_THROWS_EXCEPTION(DbError, q.value(QStringLiteral("Code")));
    QVERIFY_THROWS_EXCEPTION(DbError, q.value(QStringLiteral("Nope")));

    // A row limit reads the first rows only; the connection serves the next statement at once.
    q.setRowLimit(1);
    q.open();
    QCOMPARE(q.recordCount(), 1);
    QCOMPARE(q.asString(QStringLiteral("Code")), QStringLiteral("A-1"));
    q.last();
    QCOMPARE(q.asString(QStringLiteral("Code")), QStringLiteral("A-1"));
    QCOMPARE(c.execute(QStringLiteral("Update Item SET Qty = 6 where Code = 'A-1'")), qint64(1));
    q.setRowLimit(0);
    q.open();
    q.last();
    QCOMPARE(q.recordCount(), 2);
    QCOMPARE(q.asString(QStringLiteral("Code")), QStringLiteral("B'2"));
}

void ClientCases::bindsPlaceholdersByName()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from Item where (Code = :code) or (Note = :code and Qty > :qty)"));
    q.declareParameter(QStringLiteral("qty"), ParamType::Integer);
    q.setParameter(QStringLiteral("qty"), QStringLiteral("3"));
    q.setParameter(QStringLiteral("CODE"), QStringLiteral("B'2"));
    QCOMPARE(q.parameterNames(), QStringList({QStringLiteral("code"), QStringLiteral("qty")}));
    q.open();
    QCOMPARE(q.recordCount(), 1);
    QCOMPARE(q.asInt(QStringLiteral("Qty")), 0);

    // A time of day inside a literal is not a placeholder.
    RowQuery literal = query(c, QStringLiteral("Select '12:30:00' as T from Item where Code = :code"));
    literal.setParameter(QStringLiteral("code"), QStringLiteral("A-1"));
    literal.open();
    QCOMPARE(literal.asString(QStringLiteral("T")), QStringLiteral("12:30:00"));
}

void ClientCases::refusesUnknownAndMissingParameters()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    Command cmd(QStringLiteral("updTest"));
    cmd.setDatabase(Database::fixed(&c));
    cmd.setSql(QStringLiteral("Update Item SET Qty = :qty where Code = :code"));
    QVERIFY_THROWS_EXCEPTION(DbError, cmd.setParameter(QStringLiteral("other"), 1));
    cmd.setParameter(QStringLiteral("qty"), 9);
    try {
        cmd.execute();
        QFAIL("a missing value must fail");
    } catch (const DbError& e) {
        QVERIFY2(e.message().contains(QLatin1String("code")), qPrintable(e.message()));
    }
    RowQuery check = query(c, QStringLiteral("Select * from Item where Qty = 9"));
    check.open();
    QCOMPARE(check.recordCount(), 0);
}

void ClientCases::editsAppendsAndDeletesRows()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from [Item] as T where (T.Active = 1) "));
    q.open();
    q.edit();
    q.setValue(QStringLiteral("qty"), 7);
    QCOMPARE(q.asInt(QStringLiteral("Qty")), 7);
    q.post();
    QCOMPARE(q.asInt(QStringLiteral("Qty")), 7);

    q.append();
    q.setValue(QStringLiteral("Code"), QStringLiteral("C-3"));
    q.setValue(QStringLiteral("Qty"), 3);
    q.setValue(QStringLiteral("Active"), true);
    q.setValue(QStringLiteral("Stamp"), QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58), Qt::UTC));
    q.post();
    QCOMPARE(q.recordCount(), 2);

    RowQuery check = query(c, QStringLiteral("Select * from Item order by Code"));
    check.open();
    QCOMPARE(check.recordCount(), 3);
    QCOMPARE(check.asInt(QStringLiteral("Qty")), 7);
    check.next();
    QCOMPARE(check.asInt(QStringLiteral("Qty")), 0); // the other row kept its value
    check.next();
    QCOMPARE(check.asString(QStringLiteral("Code")), QStringLiteral("C-3"));
    QCOMPARE(
        check.value(QStringLiteral("Stamp")).toDateTime(), QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58), Qt::UTC));
    QVERIFY(check.asBool(QStringLiteral("Active")));

    check.first();
    check.deleteRow();
    QCOMPARE(check.recordCount(), 2);
    QCOMPARE(check.asString(QStringLiteral("Code")), QStringLiteral("B'2"));
    RowQuery after = query(c, QStringLiteral("Select * from Item"));
    after.open();
    QCOMPARE(after.recordCount(), 2);
    QVERIFY(!after.locate(QStringLiteral("Code"), QStringLiteral("A-1")));
}

// Neither side's datetime has a zone: a value in the local zone's spring gap is read, compared
// and written as stored.
void ClientCases::dateTimesAreWallClockValues()
{
    const LocalZone berlin("Europe/Berlin");
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    const QDateTime gap(QDate(2026, 3, 29), QTime(2, 30), Qt::UTC);
    NamedValues stamp;
    stamp.set(QStringLiteral("stamp"), gap);
    c.execute(QStringLiteral("UPDATE Item SET Stamp = :stamp WHERE Code = 'A-1'"), stamp);
    RowQuery q = query(c, QStringLiteral("Select * from [Item] as T where T.Stamp = :stamp"));
    q.setParameter(QStringLiteral("stamp"), gap);
    q.open();
    QCOMPARE(q.recordCount(), 1);
    QCOMPARE(q.value(QStringLiteral("Stamp")).toDateTime(), gap);
    QCOMPARE(q.asString(QStringLiteral("Stamp")), QStringLiteral("2026-03-29T02:30:00"));
    q.edit();
    q.setValue(QStringLiteral("Stamp"), gap.addSecs(15 * 60));
    q.post();
    RowQuery check = query(c, QStringLiteral("Select * from Item where Code = 'A-1'"));
    check.open();
    QCOMPARE(check.value(QStringLiteral("Stamp")).toDateTime(), QDateTime(QDate(2026, 3, 29), QTime(2, 45), Qt::UTC));
}

void ClientCases::cancelDiscardsPendingEdit()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from Item where Code = 'A-1'"));
    q.open();
    QVERIFY_THROWS_EXCEPTION(DbError, q.setValue(QStringLiteral("Qty"), 1)); // not editing
    q.edit();
    q.setValue(QStringLiteral("Qty"), 99);
    q.cancel();
    QCOMPARE(q.asInt(QStringLiteral("Qty")), 5);
    q.open();
    QCOMPARE(q.asInt(QStringLiteral("Qty")), 5);
}

void ClientCases::postFailsWhenTheRowIsGone()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from Item where Code = 'A-1'"));
    q.open();
    c.execute(QStringLiteral("DELETE FROM Item WHERE Code = 'A-1'"));
    q.edit();
    q.setValue(QStringLiteral("Qty"), 1);
    QVERIFY_THROWS_EXCEPTION(DbError, q.post());
    q.cancel();
    QVERIFY_THROWS_EXCEPTION(DbError, q.deleteRow());
}

void ClientCases::editsRowsOfTableWithoutKey()
{
    if (!supportsKeylessTables())
        QSKIP("this engine does not limit a keyless update to one row");
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from Loose"));
    q.open();
    q.edit();
    q.setValue(QStringLiteral("Qty"), 2);
    q.post();
    RowQuery check = query(c, QStringLiteral("Select * from Loose order by Qty"));
    check.open();
    QCOMPARE(check.asInt(QStringLiteral("Qty")), 1); // only one of the two equal rows changed
    check.next();
    QCOMPARE(check.asInt(QStringLiteral("Qty")), 2);
    check.first();
    check.deleteRow();
    RowQuery left = query(c, QStringLiteral("Select * from Loose"));
    left.open();
    QCOMPARE(left.recordCount(), 1);
}

void ClientCases::locatesRowsExactly()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from Item order by RecordID"));
    q.open();
    QVERIFY(q.locate(QStringLiteral("Code"), QStringLiteral("B'2")));
    QCOMPARE(q.position(), 1);
    QVERIFY(!q.locate(QStringLiteral("Code"), QStringLiteral("B")));
    QVERIFY(q.locate(QStringLiteral("Qty"), 5));
    QCOMPARE(q.position(), 0);
}

void ClientCases::commandReportsRowsChanged()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    Command cmd;
    cmd.setDatabase(Database::fixed(&c));
    cmd.setSql(QStringLiteral("Update Item\r\nSET \r\nQty = Qty + :add\r\nwhere\r\nActive = :active\r\n"));
    cmd.setParameter(QStringLiteral("add"), 10);
    cmd.setParameter(QStringLiteral("active"), true);
    QCOMPARE(cmd.execute(), 1);
    RowQuery q = query(c, QStringLiteral("Select Qty from Item where Code = 'A-1'"));
    q.open();
    QCOMPARE(q.asInt(QStringLiteral("Qty")), 15);

    // An update and a query in one round trip where the engine takes batches: the rows changed,
    // then the rows read after it.
    const qint64 sent = Connection::traffic(c.traceTarget()).statements;
    const RowKey key{{{QStringLiteral("Code"), QStringLiteral("A-1")}}};
    NamedValues code;
    code.set(QStringLiteral("p0"), QStringLiteral("A-1"));
    std::pair<qint64, ResultSet> result;
    try {
        result = c.updateRowThenQuery(QStringLiteral("Item"), key, {{QStringLiteral("Qty"), 16}},
            QStringLiteral("SELECT Qty, Code FROM Item WHERE Code = :p0"), code);
    } catch (const DbError& e) {
        QFAIL(qPrintable(e.message()));
    }
    const auto& [changed, rows] = result;
    QCOMPARE(Connection::traffic(c.traceTarget()).statements - sent, qint64(takesBatches() ? 1 : 2));
    QCOMPARE(changed, qint64(1));
    QCOMPARE(rows.rows.size(), 1);
    QCOMPARE(rows.rows.first().value(0).toInt(), 16);
    QCOMPARE(rows.rows.first().value(1).toString(), QStringLiteral("A-1"));
}

void ClientCases::listsTablesViewsAndColumns()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    const QStringList tables = c.tables();
    QVERIFY2(tables.contains(QStringLiteral("Item")), qPrintable(tables.join(QLatin1Char(','))));
    QVERIFY(tables.contains(QStringLiteral("Loose")));
    QVERIFY(tables.contains(QStringLiteral("ItemView")));
    for (const QString& t : tables)
        QVERIFY2(!t.startsWith(QLatin1String("sqlite_")), qPrintable(t));
    const QList<ColumnInfo> columns = c.columns(QStringLiteral("Item"));
    QStringList names;
    for (const ColumnInfo& col : columns)
        names << col.name;
    QCOMPARE(names, QStringList({"RecordID", "Code", "Qty", "Price", "Active", "Stamp", "Note"}));
    QVERIFY(columns[0].primaryKey);
    QVERIFY_THROWS_EXCEPTION(DbError, c.columns(QStringLiteral("NoSuchTable")));
}

void ClientCases::reportsEngineErrorsWithItsText()
{
    Connection c;
    c.setConnectionString(m_connectionString);
    c.open();
    RowQuery q = query(c, QStringLiteral("Select * from NoSuchTable"));
    try {
        q.open();
        QFAIL("opening a missing table must fail");
    } catch (const DbError& e) {
        QVERIFY2(e.message().contains(QLatin1String("NoSuchTable"), Qt::CaseInsensitive), qPrintable(e.message()));
    }
    QVERIFY(!q.isOpen());
    Connection closed;
    QVERIFY_THROWS_EXCEPTION(DbError, closed.query(QStringLiteral("Select * from Item")));
    // A statement on a disconnected connection that knows its string connects again.
    closed.setConnectionString(m_connectionString);
    RowQuery reopened = query(closed, QStringLiteral("Select * from Item"));
    reopened.open();
    QVERIFY(closed.isOpen());
    QCOMPARE(reopened.recordCount(), 2);
}

void ClientCases::pooledStatementsShareOneConnection()
{
    ConnectionPool::instance().clear();
    const int before = Connection::physicalConnectionsOpened();
    for (int i = 0; i < 5; ++i) {
        RowQuery q(QStringLiteral("remote"));
        q.setDatabase(Database::pooled(m_connectionString));
        q.setSql(QStringLiteral("Select * from Item"));
        q.open();
        q.edit();
        q.setValue(QStringLiteral("Qty"), i);
        q.post();
        Command cmd;
        cmd.setDatabase(Database::pooled(m_connectionString));
        cmd.setSql(QStringLiteral("Update Item set Qty = Qty"));
        cmd.execute();
    }
    QCOMPARE(Connection::physicalConnectionsOpened() - before, 1);

    // A statement that failed does not give its connection back.
    RowQuery bad;
    bad.setDatabase(Database::pooled(m_connectionString));
    bad.setSql(QStringLiteral("Select * from NoSuchTable"));
    QVERIFY_THROWS_EXCEPTION(DbError, bad.open());
    QCOMPARE(ConnectionPool::instance().idleCount(), 0);

    RowQuery noTarget;
    noTarget.setDatabase(Database::pooled(QString()));
    noTarget.setSql(QStringLiteral("Select * from Item"));
    QVERIFY_THROWS_EXCEPTION(DbError, noTarget.open());
}
