#include "PushFixture.h"
#include "db/RowQuery.h"

#include <QTest>
#include <memory>

/// The statement that looks for each pending row's remote counterpart, exactly as the server
/// receives it, for every key rule.
class TestProbeStatements : public QObject
{
    Q_OBJECT

private:
    /// The probe is the second remote statement: the first opens the remote table. After "<-" the
    /// values bound to its placeholders, as text.
    static QString probeOf(PushFixture& f, const QString& table)
    {
        f.clearTrace();
        f.push({table});
        const db::RowQuery& probe = f.statements.RemoteProbe;
        QStringList values;
        for (const QString& name : probe.parameterNames())
            values << db::valueText(probe.parameter(name));
        const QString text = f.traced(QStringLiteral("remote")).value(1);
        return values.isEmpty() ? text : text + QStringLiteral(" <- ") + values.join(QStringLiteral(", "));
    }

    std::unique_ptr<PushFixture> m_fixture;

private Q_SLOTS:
    void initTestCase() { m_fixture = std::make_unique<PushFixture>(); }
    void cleanupTestCase() { m_fixture.reset(); }

    void probe_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("pendingRow");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* table, const char* pendingRow, const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(table) << QString::fromLatin1(pendingRow)
                                << QString::fromLatin1(expected);
        };
        row("Issue", "Issue", "(TranNo, MyLineNo, Item) VALUES (5001, 2, 'DRL')",
            "Select * from [Issue] where (TranNo = :k1) AND (MyLineNo = :k2) AND (ComputerName = :k3) <- 5001, 2, "
            "CRIB-01");
        row("IssueAttrib1", "IssueAttrib1", "(TranNo, MyLineNo, Attrib) VALUES (5001, 2, 'red')",
            "Select * from [IssueAttrib1] where (TranNo = :k1) AND (MyLineNo = :k2) AND (ComputerName = :k3) <- 5001, "
            "2, CRIB-01");
        row("Bin with a quote in its key", "Bin", "(Station, MyNo, Item) VALUES ('01', 'A''7', 'DRL')",
            "Select * from [Bin] as T where (T.[Station] = :k1) AND (T.[MyNo] = :k2) <- 01, A'7");
        row("BinHst", "BinHst", "(Station, Bin, Item) VALUES ('01', 'A01', 'DRL')",
            "Select * from [BinHst] as T where (T.[Station] = :k1) AND (T.[Bin] = :k2) <- 01, A01");
        row("Kit", "Kit", "(KitNo, Item) VALUES ('K1', 'DRL')",
            "Select * from [Kit] as T where (T.[KitNo] = :k1) AND (T.[Item] = :k2) <- K1, DRL");
        row("Serial", "Serial", "(Serial, Item) VALUES ('S1', 'DRL')",
            "Select * from [Serial] as T where (T.[Serial] = :k1) AND (T.[Item] = :k2) <- S1, DRL");
        row("Terminal", "Terminal", "(Terminal, Station) VALUES ('T1', '01')",
            "Select * from [Terminal] as T where (T.[Terminal] = :k1) AND (T.[Station] = :k2) <- T1, 01");
        row("JobItems", "JobItems", "(Job, Item) VALUES ('J1', 'DRL')",
            "Select * from [JobItems] as T where (T.[Job] = :k1) AND (T.[Item] = :k2) <- J1, DRL");
        row("Release", "Release", "(Station, ReleaseNo, Item) VALUES ('01', 3, 'DRL')",
            "Select * from [Release] as T where (T.[Station] = :k1) AND (T.[ReleaseNo] = :k2) <- 01, 3");
        row("BinAttrib1", "BinAttrib1",
            "(Station, Bin, Container, Lot, ExpirDt) VALUES ('01', 'A01', 'C1', 'L1', '2027-01-31T00:00:00')",
            "Select * from [BinAttrib1] as T where (T.Station = :k1) AND (T.Bin = :k2) AND (T.Container = :k3) AND "
            "(T.Lot = :k4) AND (T.ExpirDt = :k5) <- 01, A01, C1, L1, 2027-01-31T00:00:00");
        row("RoboMinMax", "RoboMinMax", "(Station, Item, PkgQty) VALUES ('01', 'O''Ring', 12)",
            "Select * from [RoboMinMax] where (Station = :k1 ) AND ( [Item] = :k2 ) AND ( PkgQty = :k3 ) <- 01, "
            "O'Ring, 12");
        row("RoboMinMax negative", "RoboMinMax", "(Station, Item, PkgQty) VALUES ('02', 'DRL', -4)",
            "Select * from [RoboMinMax] where (Station = :k1 ) AND ( [Item] = :k2 ) AND ( PkgQty = :k3 ) <- 02, DRL, "
            "-4");
        row("Transfer2", "Transfer2", "(TransferID, Item) VALUES (44, 'DRL')",
            "Select * from [Transfer2] as T where T.TransferID = :k1 <- 44");
        row("MyTran", "MyTran",
            "(TranNo, Station, Bin, Type, Item, Quantity, Emp) VALUES (1, '01', 'A01', 'I', "
            "'DRL', -1, 'E1')",
            "Select * from [MyTran] as T where T.Type = 'nerd' ");
        row("AdminTran", "AdminTran", "(TranNo, Type) VALUES (77, 'AD')",
            "Select * from [AdminTran] as T where T.Type = 'nerd' ");
        row("MyTranExt1", "MyTranExt1", "(TranNo, Attrib) VALUES (9001, 'x')",
            "Select * from MyTranExt1 where (TranNo = :k1) and (ComputerName = :k2) <- 9001, CRIB-01");
        row("MyTranExt1 null TranNo", "MyTranExt1", "(TranNo, Attrib) VALUES (NULL, 'y')",
            "Select * from MyTranExt1 where (TranNo is null) and (ComputerName = :k1) <- CRIB-01");
        row("Company", "Company", "(Name) VALUES ('Works')", "Select   TOP 1 * from [Company]");
        row("SysParameters", "SysParameters", "(Name, Value) VALUES ('a', 'b')",
            "Select   TOP 1 * from [SysParameters]");
        row("Safety", "Safety", "(Message) VALUES ('Mind the step')", "Select TOP 1 * from [Safety]");
        row("Regrind", "Regrind", "(RegrindID, Item) VALUES (7, 'DRL')",
            "Select * from [Regrind] where RegrindID = :k1 <- 7");
        row("CalHistory", "CalHistory", "(CalibrateID, Item) VALUES (8, 'DRL')",
            "Select * from [CalHistory] where CalibrateID = :k1 <- 8");
        row("ClassImage", "ClassImage", "(MyNo) VALUES ('C1')",
            "Select * from [ClassImage] as T where T.MyNo = :k1 <- C1");
        row("EmpImage", "EmpImage", "(MyNo) VALUES ('E1')", "Select * from [EmpImage] as T where T.MyNo = :k1 <- E1");
        row("ItemImage", "ItemImage", "(Code) VALUES ('X1')",
            "Select * from [ItemImage] as T where T.Code = :k1 <- X1");
        row("ItemAttrib1", "ItemAttrib1", "(Code, Attrib) VALUES ('X1', 'a')",
            "Select * from [ItemAttrib1] as T where T.Code = :k1 <- X1");
        row("DeptMach", "DeptMach", "(Dept, Mach) VALUES ('D1', 'M1')",
            "Select * from [DeptMach] as T where (T.Dept = :k1) AND (T.Mach = :k2) <- D1, M1");
        row("MachJob", "MachJob", "(Mach, Job) VALUES ('M1', 'J1')",
            "Select * from [MachJob] as T where (T.Mach = :k1) AND (T.Job = :k2) <- M1, J1");
        row("Report", "Report", "(MyGroup, Name) VALUES ('Stock', 'Low')",
            "Select * from [Report] where MyGroup = :k1 AND [Name] = :k2 <- Stock, Low");
        row("Custom", "Custom", "(MyGroup, Name) VALUES ('Stock', 'Mine')",
            "Select * from [Custom] where MyGroup = :k1 AND [Name] = :k2 <- Stock, Mine");
        row("StockOuts", "StockOuts", "(BoNo, Item) VALUES ('B1', 'DRL')",
            "Select * from [StockOuts] where BoNo = :k1 <- B1");
        row("DailyInventory", "DailyInventory", "(Station, Item) VALUES ('01', 'DRL')",
            "Select Top 0 * from [DailyInventory]");
        row("Poll", "Poll", "(Station) VALUES ('01')", "Select Top 0 * from [Poll]");
        row("PortalLog", "PortalLog", "(Message) VALUES ('m')", "Select Top 0 * from [PortalLog]");
        row("PortalPhotos", "PortalPhotos", "(MyDate) VALUES ('2026-12-01T00:00:00')",
            "Select Top 0 * from [PortalPhotos]");
        row("any other table", "Item", "(MyNo, Description) VALUES ('RMR', 'Reamer')",
            "Select * from [Item] as T where T.[MyNo] = :k1 <- RMR");
        row("Alias keyed by its renamed column", "Alias", "(Mach, Reas) VALUES ('M1', 'R1')",
            "Select * from [Alias] as T where T.[Machine] = :k1 <- M1");
    }

    void probe()
    {
        QFETCH(QString, table);
        QFETCH(QString, pendingRow);
        QFETCH(QString, expected);
        PushFixture& f = *m_fixture;
        f.local.execute(QStringLiteral("INSERT INTO [%1] %2").arg(table, pendingRow));
        QCOMPARE(probeOf(f, table), expected);
        QCOMPARE(f.events.recoveries, 0);
        QCOMPARE(f.pendingCount(table), 0);
    }

    void issueWithoutRemoteComputerName_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Issue") << "Issue"
                               << "Select * from [Issue] where (TranNo = :k1) AND (MyLineNo = :k2) <- 5001, 1";
        QTest::newRow("IssueAttrib1")
            << "IssueAttrib1"
            << "Select * from [IssueAttrib1] where (TranNo = :k1) AND (MyLineNo = :k2) <- 5001, 1";
    }

    void issueWithoutRemoteComputerName()
    {
        QFETCH(QString, table);
        QFETCH(QString, expected);
        CribSchema::Options older;
        older.issueHasComputerName = false;
        PushFixture f(older);
        QVERIFY(!f.context.flags.IssueHasComputerName);
        f.local.execute(QStringLiteral("INSERT INTO [%1] (TranNo, MyLineNo) VALUES (5001, 1)").arg(table));
        QCOMPARE(probeOf(f, table), expected);
        QCOMPARE(f.pendingCount(table), 0);
    }

    void hostileUnquotedKeySendsNothing_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("pendingRow");
        QTest::newRow("RoboMinMax PkgQty") << "RoboMinMax"
                                           << "(Station, Item, PkgQty) VALUES ('01', 'DRL', '1 ) OR ( 1 = 1')";
        QTest::newRow("RoboMinMax null PkgQty") << "RoboMinMax"
                                                << "(Station, Item, PkgQty) VALUES ('01', 'DRL', NULL)";
        QTest::newRow("Transfer2 TransferID") << "Transfer2"
                                              << "(TransferID, Item) VALUES ('0; DELETE FROM Bin', 'DRL')";
        QTest::newRow("MyTranExt1 TranNo") << "MyTranExt1"
                                           << "(TranNo, Attrib) VALUES ('1) or (1=1', 'x')";
    }

    void hostileUnquotedKeySendsNothing()
    {
        QFETCH(QString, table);
        QFETCH(QString, pendingRow);
        PushFixture f;
        f.local.execute(QStringLiteral("INSERT INTO [%1] %2").arg(table, pendingRow));
        f.local.execute(QStringLiteral("INSERT INTO [%1] %2").arg(table, pendingRow));
        f.clearTrace();
        f.push({table});

        // Only the opening of the remote table reached the server.
        QCOMPARE(f.traced(QStringLiteral("remote")).size(), 1);
        QCOMPARE(f.remoteCount(table), 0);
        QCOMPARE(f.pendingCount(table), 2);
        // Each row is refused for its own key, as the server refuses a text for a number.
        QCOMPARE(f.events.failures.size(), 2);
        QCOMPARE(f.events.failures[1].table, table);
        QCOMPARE(f.events.failures[1].key, QStringLiteral("2"));
        QCOMPARE(f.events.recoveries, 0);
    }
};

QTEST_GUILESS_MAIN(TestProbeStatements)
#include "TestProbeStatements.moc"
