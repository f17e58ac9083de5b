#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Statement.h"
#include "db/StoredProc.h"
#include "demo/CribSchema.h"
#include "demo/DemoDatabases.h"
#include "support/CribFixture.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace db;

/// The embedded crib databases: where the key columns stand, how text compares, and what the
/// procedures of both sides do.
class TestCribSchema : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CribFixture> m_fixture;
    Connection* m_local = nullptr;
    Connection* m_remote = nullptr;

    static QStringList names(const QList<ColumnInfo>& columns)
    {
        QStringList result;
        for (const ColumnInfo& c : columns)
            result << c.name;
        return result;
    }

    QVariant scalar(Connection* c, const QString& sql) { return c->query(sql).rows.value(0).value(0); }

private Q_SLOTS:
    void init()
    {
        CribSchema::Options older;
        older.deleteHstWithoutKey3 = true;
        m_fixture = std::make_unique<CribFixture>(CribFixture::Options{.localSchema = older});
        m_local = &m_fixture->local;
        m_remote = &m_fixture->remote;
    }

    void cleanup() { m_fixture.reset(); }

    void keyColumnsStandWhereTheRulesLook()
    {
        for (Connection* c : {m_local, m_remote}) {
            QCOMPARE(names(c->columns("Bin")).mid(0, 3), QStringList({"RecordID", "Station", "MyNo"}));
            QCOMPARE(names(c->columns("Issue")).mid(1, 2), QStringList({"TranNo", "MyLineNo"}));
            QCOMPARE(names(c->columns("BINATTRIB1")).mid(1, 5),
                QStringList({"Station", "Bin", "Container", "Lot", "ExpirDt"}));
            QCOMPARE(c->columns("Release")[2].kind, ColumnKind::Integer);
            QCOMPARE(c->columns("Bin")[0].kind, ColumnKind::AutoIncrement);
            QCOMPARE(names(c->columns("Emp"))[1], QStringLiteral("MyNo"));
        }
        QCOMPARE(names(m_local->columns("Schedules"))[0], QStringLiteral("Name"));
        QCOMPARE(names(m_remote->columns("Schedules"))[1], QStringLiteral("Name"));
        QVERIFY(names(m_local->columns("Alias")).contains("Mach"));
        QVERIFY(names(m_remote->columns("Alias")).contains("Machine"));
        QVERIFY(!names(m_local->columns("DeleteHst")).contains("Key3"));
        QVERIFY(names(m_remote->columns("DeleteHst")).contains("LocalComputerName"));
        QCOMPARE(names(m_local->columns("Bin")).last(), QStringLiteral("ASPProcessed"));
        QCOMPARE(names(m_remote->columns("Bin")).last(), QStringLiteral("Processed"));
        QVERIFY(names(m_remote->columns("Issue")).contains("ComputerName"));
        QVERIFY(m_local->tables().contains("LocalSyncOutBox"));
        QVERIFY(!m_remote->tables().contains("LocalSyncOutBox"));
        QVERIFY(m_remote->procedures().contains("sp_CorvaneTran;1"));
        QVERIFY(m_local->procedures().contains("BinChange;1"));
    }

    void textComparesWithoutCase()
    {
        m_local->execute("INSERT INTO Bin (Station, MyNo, Item) VALUES ('01', 'A1', 'drl-1')");
        QCOMPARE(scalar(m_local, "SELECT count(*) FROM Bin WHERE MyNo = 'a1' AND Item = 'DRL-1'").toInt(), 1);
    }

    void hostedTransactionProcedureMovesStock()
    {
        m_remote->execute("INSERT INTO Bin (Station, MyNo, OnHand, BurnQty) VALUES ('01', 'A1', 5, 1), "
                          "('01', 'A2', 1, 0)");
        StoredProc proc("updASPTran");
        proc.setDatabase(Database::fixed(m_remote));
        proc.setProcedureName("sp_CorvaneTran");
        proc.refreshParameters();
        auto send = [&](const QString& emp, const QString& type, int quantity, int burn) {
            proc.clearValues();
            for (const ProcParameter& p : proc.parameters()) {
                if (p.direction != ParamDirection::ReturnValue)
                    proc.setValue(p.name, QVariant());
            }
            proc.setValue("@TranNo", 1);
            proc.setValue("@Station", "01");
            proc.setValue("@Bin", "a1");
            proc.setValue("@Type", type);
            proc.setValue("@Emp", emp);
            proc.setValue("@Quantity", quantity);
            proc.setValue("@BurnQty", burn);
            proc.setValue("@CurOnHand2", -1);
            proc.setValue("@CurBurn2", -1);
            proc.setValue("@DiscrepantQty", 0);
            proc.setValue("@OGTranNo", QVariant());
            proc.setValue("@ComputerName", "PC-7");
            proc.setValue("@ExternalPO", "PO-9");
            proc.execute();
            return proc.returnValue().toInt();
        };
        QCOMPARE(send("jam", "I", -4, 0), 0);
        QCOMPARE(scalar(m_remote, "SELECT OnHand FROM Bin WHERE MyNo = 'A1'").toInt(), 5);
        QCOMPARE(send("E1", "GI", -3, -1), 0);
        QCOMPARE(scalar(m_remote, "SELECT OnHand FROM Bin WHERE MyNo = 'A1'").toInt(), 8);
        QCOMPARE(scalar(m_remote, "SELECT BurnQty FROM Bin WHERE MyNo = 'A1'").toInt(), 2);
        QCOMPARE(send("", "I", -20, -5), 0);
        QCOMPARE(scalar(m_remote, "SELECT count(*) FROM Bin WHERE OnHand < 0 OR BurnQty < 0").toInt(), 0);
        QCOMPARE(send("E1", "XX", 7, 0), 0); // a type that does not move stock
        QCOMPARE(scalar(m_remote, "SELECT OnHand FROM Bin WHERE MyNo = 'A1'").toInt(), 0);

        const ResultSet stored = m_remote->query("SELECT Processed, CurOnHand2, CurBurn2, ComputerName, ExternalPO, "
                                                 "Emp FROM MyTran ORDER BY RecordID");
        QCOMPARE(stored.rows.size(), 4);
        QCOMPARE(stored.rows[1][0].toBool(), true);
        QCOMPARE(stored.rows[1][1].toInt(), 8);
        QCOMPARE(stored.rows[1][2].toInt(), 2);
        QCOMPARE(stored.rows[1][3].toString(), QStringLiteral("PC-7"));
        QCOMPARE(stored.rows[1][4].toString(), QStringLiteral("PO-9"));
    }

    void renameProceduresRenameOrRefuse()
    {
        m_local->execute("INSERT INTO Bin (Station, MyNo, Item) VALUES ('01', 'A1', 'X'), ('01', 'A2', 'Y')");
        m_local->execute("INSERT INTO Item (MyNo) VALUES ('X'), ('Y')");
        StoredProc bin("spBinChange");
        bin.setDatabase(Database::fixed(m_local));
        bin.setProcedureName("BinChange;1");
        bin.refreshParameters();
        bin.setValue("@Station", "01");
        bin.setValue("@MyNo", "A1");
        bin.setValue("@NewBin", "A9");
        bin.setValue("@Change", false);
        bin.execute();
        QCOMPARE(scalar(m_local, "SELECT count(*) FROM Bin WHERE MyNo = 'A9'").toInt(), 1);
        QCOMPARE(scalar(m_local, "SELECT count(*) FROM DeleteHst").toInt(), 0);
        bin.setValue("@MyNo", "A2");
        bin.setValue("@NewBin", "A9");
        QVERIFY_THROWS_EXCEPTION(DbError, bin.execute()); // the new number is taken
        QCOMPARE(scalar(m_local, "SELECT count(*) FROM Bin WHERE MyNo = 'A2'").toInt(), 1);

        StoredProc item("spItemChange");
        item.setDatabase(Database::fixed(m_local));
        item.setProcedureName("ItemChange;1");
        item.refreshParameters();
        item.setValue("@Item", "X");
        item.setValue("@NewItem", "X2");
        item.setValue("@Change", true);
        item.execute();
        QCOMPARE(scalar(m_local, "SELECT Item FROM Bin WHERE MyNo = 'A9'").toString(), QStringLiteral("X2"));
        QCOMPARE(scalar(m_local, "SELECT TableName FROM DeleteHst").toString(), QStringLiteral("ItemC"));

        m_remote->execute("INSERT INTO Item (MyNo) VALUES ('OLD')");
        m_remote->execute("INSERT INTO Bin (Station, MyNo, Item) VALUES ('01', 'A1', 'OLD')");
        Command change("updItemChange");
        change.setDatabase(Database::fixed(m_remote));
        change.setSql("EXEC [dbo].[sproc_ItemChange]\r\n:OldItem, :NewItem, 1, 1,  :Contact\r\n\r\n");
        change.setParameter("OldItem", "OLD");
        change.setParameter("NewItem", "NEW");
        change.setParameter("Contact", "LocalItemChange");
        change.execute();
        QCOMPARE(scalar(m_remote, "SELECT Item FROM Bin").toString(), QStringLiteral("NEW"));
        QVERIFY_THROWS_EXCEPTION(DbError, change.execute()); // OLD is gone now
    }

    void demoHoldsPendingWorkOfEveryKind()
    {
        QTemporaryDir demo;
        DemoDatabases::create(demo.path(), "CRIB-DEMO", "x", "y", "z");
        Connection local;
        local.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=CribLocal").arg(demo.path()));
        local.open();
        Connection remote;
        remote.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=CribRemote").arg(demo.path()));
        remote.open();
        QCOMPARE(scalar(&local, "SELECT count(*) FROM MyTran WHERE ASPProcessed = 0").toInt(), 3);
        QVERIFY(scalar(&local, "SELECT count(*) FROM Bin WHERE ASPProcessed = 0").toInt() >= 2);
        QCOMPARE(scalar(&local, "SELECT count(*) FROM DeleteHst WHERE ASPProcessed = 0").toInt(), 5);
        QCOMPARE(scalar(&local, "SELECT ASPDataBaseName FROM Company").toString(), QStringLiteral("x"));
        const ResultSet kinds = remote.query("SELECT DISTINCT Type FROM Outbox WHERE ComputerName = 'CRIB-DEMO' "
                                             "AND Processed = 0 ORDER BY Type");
        QStringList types;
        for (const QVariantList& row : kinds.rows)
            types << row.first().toString();
        QCOMPARE(types, QStringList({"A", "C", "D", "U"}));
        QCOMPARE(scalar(&remote, "SELECT count(*) FROM Outbox WHERE TableName = 'AC'").toInt(), 1);
        QCOMPARE(scalar(&remote, "SELECT count(*) FROM Outbox WHERE ComputerName <> 'CRIB-DEMO'").toInt(), 1);
        QVERIFY_THROWS_EXCEPTION(DbError, DemoDatabases::create(demo.path(), "CRIB-DEMO", "x", "y", "z"));
    }
};

QTEST_GUILESS_MAIN(TestCribSchema)
#include "TestCribSchema.moc"
