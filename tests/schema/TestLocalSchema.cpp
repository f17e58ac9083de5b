#include "db/Connection.h"
#include "db/StoredProc.h"
#include "db/embedded/EmbeddedProcedure.h"
#include "demo/CribSchema.h"
#include "model/StartupStatements.h"
#include "model/TransactionProcedure.h"
#include "schema/LocalSchema.h"
#include "support/CribFixture.h"

#include <QTest>
#include <memory>

using namespace db;

/// The start-up's schema work: the DeleteHst upgrade with the local outbox procedure and
/// trigger, the table list trimming, and the agent's own remote transaction procedure.
class TestLocalSchema : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CribFixture> m_fixture;
    Connection* m_local = nullptr;
    Connection* m_remote = nullptr;
    StartupStatements* m_st = nullptr;

    int count(Connection* c, const QString& sql) { return c->query(sql).rows.value(0).value(0).toInt(); }

    void makeLocal(bool withKey3)
    {
        CribSchema::Options options;
        options.deleteHstWithoutKey3 = !withKey3;
        CribSchema::create(*m_local, CribSchema::Side::Local, options);
    }

    void callOutbox(const QVariant& recordId, const QString& key1, const QString& key2)
    {
        StoredProc p;
        p.setDatabase(Database::fixed(m_local));
        p.setProcedureName(QStringLiteral("sp_LocalSyncOutBox;1"));
        p.refreshParameters();
        p.setValue(QStringLiteral("@TableName"), QStringLiteral("Bin"));
        p.setValue(QStringLiteral("@RecordID"), recordId);
        p.setValue(QStringLiteral("@Key1"), key1);
        p.setValue(QStringLiteral("@Key2"), key2);
        p.execute();
    }

private Q_SLOTS:
    void initTestCase()
    {
        LocalSchema::registerEmbeddedEquivalents();
        TransactionProcedure::registerEmbeddedEquivalent();
    }

    void init()
    {
        m_fixture = std::make_unique<CribFixture>(CribFixture::Options{.databases = CribFixture::Databases::Bare});
        m_local = &m_fixture->local;
        m_remote = &m_fixture->remote;
        m_st = new StartupStatements(m_local, m_remote);
    }

    void cleanup()
    {
        delete m_st;
        m_fixture.reset();
    }

    void databaseWithKey3IsLeftAlone()
    {
        makeLocal(true);
        m_local->installEmbeddedProcedure({"sp_LocalSyncOutBox", "@TableName varchar(50)", "RETURN 7"});
        LocalSchema::checkLocalSchema(*m_st);
        StoredProc p;
        p.setDatabase(Database::fixed(m_local));
        p.setProcedureName(QStringLiteral("sp_LocalSyncOutBox"));
        p.refreshParameters();
        QCOMPARE(p.parameters().size(), 2); // the older version is still there
        QCOMPARE(count(m_local, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger'"), 0);
    }

    void upgradeAddsKey3AndReplacesBothObjects()
    {
        makeLocal(false);
        m_local->installEmbeddedProcedure({"sp_LocalSyncOutBox", "@TableName varchar(50)", "RETURN 7"});
        m_local->execute("CREATE TRIGGER DelRoboMinMax AFTER DELETE ON RoboMinMax BEGIN "
                         "INSERT INTO LocalNotes (Note) VALUES ('old trigger'); END");
        LocalSchema::checkLocalSchema(*m_st);
        QCOMPARE(m_local->columns("DeleteHst").last().name, QStringLiteral("Key3"));

        m_local->execute("INSERT INTO RoboMinMax (Station, Item, PkgQty, LocalSyncProcessed) VALUES "
                         "('01', 'DRL', 6, 0), ('01', 'TAP', 2, 1), ('01', 'END', 3, NULL), ('02', 'GLV', 1, 0)");
        m_local->execute("DELETE FROM RoboMinMax WHERE Item IN ('TAP', 'END')");
        QCOMPARE(count(m_local, "SELECT count(*) FROM LocalSyncOutBox"), 0); // only LocalSyncProcessed = 0 fires
        QCOMPARE(count(m_local, "SELECT count(*) FROM LocalNotes"), 0); // the old trigger is gone
        m_local->execute("DELETE FROM RoboMinMax");
        QCOMPARE(count(m_local,
                     "SELECT count(*) FROM LocalSyncOutBox WHERE ComputerName = 'CLIENT' AND "
                     "TableName = 'ROBOMINMAX'"),
            2);
        const ResultSet history = m_local->query("SELECT TableName, Key1, Key2, Key3, LastUpdate FROM DeleteHst "
                                                 "ORDER BY Key2");
        QCOMPARE(history.rows.size(), 2);
        QCOMPARE(history.rows[0][1].toString(), QStringLiteral("01"));
        QCOMPARE(history.rows[0][2].toString(), QStringLiteral("DRL"));
        QCOMPARE(history.rows[0][3].toString(), QStringLiteral("6"));
        QVERIFY(history.rows[0][4].toDateTime().isValid());
    }

    void outboxProcedureWritesPerServerRole()
    {
        makeLocal(false);
        LocalSchema::checkLocalSchema(*m_st);
        m_local->execute("INSERT INTO Control (ComputerName, Synch, Port) VALUES ('C', 1, 1), ('A', 1, 1), "
                         "('B', 1, 1)");
        m_local->execute("INSERT INTO Company (Name, Server) VALUES ('x', 1)");
        callOutbox(QVariant(), "K1", "K2");
        QCOMPARE(count(m_local, "SELECT count(*) FROM LocalSyncOutBox"), 0);

        callOutbox(5, "K1", "K2");
        const ResultSet rows = m_local->query("SELECT ComputerName FROM LocalSyncOutBox ORDER BY RecordID");
        QCOMPARE(rows.rows.size(), 3);
        QCOMPARE(rows.rows[0][0].toString(), QStringLiteral("C")); // Control rows in RecordID order
        QCOMPARE(count(m_local, "SELECT count(*) FROM DeleteHst"), 0);

        m_local->execute("UPDATE Company SET Server = 0");
        callOutbox(6, "", "");
        QCOMPARE(
            count(m_local, "SELECT count(*) FROM LocalSyncOutBox WHERE ComputerName = 'CLIENT' AND Key1 IS NULL"), 1);
        QCOMPARE(count(m_local, "SELECT count(*) FROM DeleteHst"), 0);
        callOutbox(7, "K1", "");
        QCOMPARE(count(m_local, "SELECT count(*) FROM DeleteHst WHERE Key1 = 'K1' AND Key2 IS NULL"), 1);
    }

    void tableListsDropExcludedNamesAndCreateTheProcedure()
    {
        CribSchema::Options options;
        options.withTransactionProcedure = false;
        CribSchema::create(*m_remote, CribSchema::Side::Remote, options);
        QStringList local = {"Bin", "tempissue", "OUTBOX", "Outboxes", "CycleCount", "Item"};
        LocalSchema::PrepareTableLists(local, m_remote->procedures(), *m_st);
        QCOMPARE(local, QStringList({"Bin", "Outboxes", "Item"}));
        QVERIFY(m_remote->procedures().contains("sp_CorvaneTran;1"));

        // A procedure that is already there is not touched.
        m_remote->installEmbeddedProcedure({"sp_CorvaneTran", "@TranNo int", "RETURN 5"});
        QStringList none;
        LocalSchema::PrepareTableLists(none, {"SP_CORVANETRAN;1"}, *m_st);
        StoredProc p;
        p.setDatabase(Database::fixed(m_remote));
        p.setProcedureName("sp_CorvaneTran");
        p.refreshParameters();
        p.setValue("@TranNo", 1);
        p.execute();
        QCOMPARE(p.returnValue().toInt(), 5);
    }

    void agentsOwnTransactionProcedure()
    {
        CribSchema::Options options;
        options.withTransactionProcedure = false;
        CribSchema::create(*m_remote, CribSchema::Side::Remote, options);
        m_st->CreateSPASPTran.execute();
        m_remote->execute("INSERT INTO Bin (Station, MyNo, OnHand, BurnQty) VALUES ('01', 'A1', 5, 1)");
        StoredProc p;
        p.setDatabase(Database::fixed(m_remote));
        p.setProcedureName("sp_CorvaneTran;1");
        p.refreshParameters();
        QCOMPARE(p.parameters().last().name, QStringLiteral("@ExternalPO"));
        auto send = [&](const QVariant& emp, const QString& type, int quantity, int burn) {
            for (const ProcParameter& parameter : p.parameters()) {
                if (parameter.direction != ParamDirection::ReturnValue)
                    p.setValue(parameter.name, QVariant());
            }
            p.setValue("@Station", "01");
            p.setValue("@Bin", "A1");
            p.setValue("@Emp", emp);
            p.setValue("@Type", type);
            p.setValue("@Quantity", quantity);
            p.setValue("@BurnQty", burn);
            p.setValue("@ComputerName", "PC-7");
            p.setValue("@ExternalPO", "PO-1");
            p.execute();
            return p.returnValue().toInt();
        };
        QCOMPARE(send("jam", "I", -2, 0), 0);
        QCOMPARE(count(m_remote, "SELECT OnHand FROM Bin"), 5);
        QCOMPARE(send("E1", "GI", -3, 0), 0);
        QCOMPARE(count(m_remote, "SELECT OnHand FROM Bin"), 8);
        QCOMPARE(send("", "I", -50, -9), 0);
        QCOMPARE(count(m_remote, "SELECT count(*) FROM Bin WHERE OnHand < 0 OR BurnQty < 0"), 0);
        const ResultSet stored = m_remote->query("SELECT Processed, CurOnHand2, CurBurn2, ComputerName FROM MyTran "
                                                 "ORDER BY RecordID");
        QCOMPARE(stored.rows.size(), 3);
        QVERIFY(stored.rows[1][0].toBool());
        QCOMPARE(stored.rows[1][1].toInt(), 8);
        QCOMPARE(stored.rows[1][2].toInt(), 1);
        QCOMPARE(stored.rows[1][3].toString(), QStringLiteral("PC-7"));

        // Sent again, the 'GI' is found stored although its quantities were stored as absolute
        // values; type letters count in any letter case, as on a server's default collation.
        QCOMPARE(send("E1", "GI", -3, 0), 0);
        QCOMPARE(count(m_remote, "SELECT OnHand FROM Bin"), 0);
        QCOMPARE(send("E1", "gi", -5, 0), 0);
        QCOMPARE(count(m_remote, "SELECT OnHand FROM Bin"), 5);
        QCOMPARE(send("E1", "i", -1, 0), 0);
        QCOMPARE(count(m_remote, "SELECT OnHand FROM Bin"), 4);
        QCOMPARE(count(m_remote, "SELECT count(*) FROM MyTran"), 5);
        // A transaction without an employee moves stock like any other.
        QCOMPARE(send(QVariant(), "I", -3, 0), 0);
        QCOMPARE(count(m_remote, "SELECT OnHand FROM Bin"), 1);
        // The server's text does the same, and finds a stored transaction whose columns hold NULL.
        const QString text = m_st->CreateSPASPTran.sql();
        QVERIFY(text.indexOf("ABS(@Quantity)") < text.indexOf("FROM MyTran"));
        QVERIFY(text.contains("([BurnQty] IS NULL AND @BurnQty IS NULL)"));
    }
};

QTEST_GUILESS_MAIN(TestLocalSchema)
#include "TestLocalSchema.moc"
