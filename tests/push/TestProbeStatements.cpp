#include "PushFixture.h"

#include <QTest>
#include <memory>

/// The statement that looks for each pending row's remote counterpart, exactly as the server
/// receives it, for every key rule.
class TestProbeStatements : public QObject
{
    Q_OBJECT

private:
    /// The probe is the second remote statement: the first opens the remote table.
    static QString probeOf(PushFixture& f, const QString& table)
    {
        f.clearTrace();
        f.push({table});
        return f.traced(QStringLiteral("remote")).value(1);
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
            "Select * from ISSUE where (TranNo = '5001') AND (MyLineNo = '2') AND (ComputerName = 'CRIB-01')");
        row("IssueAttrib1", "IssueAttrib1", "(TranNo, MyLineNo, Attrib) VALUES (5001, 2, 'red')",
            "Select * from ISSUEATTRIB1 where (TranNo = '5001') AND (MyLineNo = '2') AND (ComputerName = "
            "'CRIB-01')");
        row("Bin with a quote in its key", "Bin", "(Station, MyNo, Item) VALUES ('01', 'A''7', 'DRL')",
            "Select * from [BIN] as T where (T.Station = '01') AND (T.MyNo = 'A''7')");
        row("BinHst", "BinHst", "(Station, Bin, Item) VALUES ('01', 'A01', 'DRL')",
            "Select * from [BINHST] as T where (T.Station = '01') AND (T.Bin = 'A01')");
        row("Kit", "Kit", "(KitNo, Item) VALUES ('K1', 'DRL')",
            "Select * from [KIT] as T where (T.KitNo = 'K1') AND (T.Item = 'DRL')");
        row("Serial", "Serial", "(Serial, Item) VALUES ('S1', 'DRL')",
            "Select * from [SERIAL] as T where (T.Serial = 'S1') AND (T.Item = 'DRL')");
        row("Terminal", "Terminal", "(Terminal, Station) VALUES ('T1', '01')",
            "Select * from [TERMINAL] as T where (T.Terminal = 'T1') AND (T.Station = '01')");
        row("JobItems", "JobItems", "(Job, Item) VALUES ('J1', 'DRL')",
            "Select * from [JOBITEMS] as T where (T.Job = 'J1') AND (T.Item = 'DRL')");
        row("Release", "Release", "(Station, ReleaseNo, Item) VALUES ('01', 3, 'DRL')",
            "Select * from [RELEASE] as T where (T.Station = '01') AND (T.ReleaseNo = '3')");
        row("BinAttrib1", "BinAttrib1",
            "(Station, Bin, Container, Lot, ExpirDt) VALUES ('01', 'A01', 'C1', 'L1', '2027-01-31T00:00:00')",
            "Select * from [BINATTRIB1] as T where (T.Station = '01') AND (T.Bin = 'A01') AND (T.Container = 'C1') "
            "AND (T.Lot = 'L1') AND (T.ExpirDt = '2027-01-31T00:00:00')");
        row("RoboMinMax", "RoboMinMax", "(Station, Item, PkgQty) VALUES ('01', 'O''Ring', 12)",
            "Select * from ROBOMINMAX where (Station = '01' ) AND ( [Item] = 'O''Ring' ) AND ( PkgQty = 12 )");
        row("RoboMinMax negative", "RoboMinMax", "(Station, Item, PkgQty) VALUES ('02', 'DRL', -4)",
            "Select * from ROBOMINMAX where (Station = '02' ) AND ( [Item] = 'DRL' ) AND ( PkgQty = -4 )");
        row("Transfer2", "Transfer2", "(TransferID, Item) VALUES (44, 'DRL')",
            "Select * from [TRANSFER2] as T where T.TransferID = 44");
        row("MyTran", "MyTran",
            "(TranNo, Station, Bin, Type, Item, Quantity, Emp) VALUES (1, '01', 'A01', 'I', "
            "'DRL', -1, 'E1')",
            "Select * from [MYTRAN] as T where T.Type = 'nerd' ");
        row("AdminTran", "AdminTran", "(TranNo, Type) VALUES (77, 'AD')",
            "Select * from [ADMINTRAN] as T where T.Type = 'nerd' ");
        row("MyTranExt1", "MyTranExt1", "(TranNo, Attrib) VALUES (9001, 'x')",
            "Select * from MyTranExt1 where (TranNo = 9001) and (ComputerName = 'CRIB-01')");
        row("MyTranExt1 null TranNo", "MyTranExt1", "(TranNo, Attrib) VALUES (NULL, 'y')",
            "Select * from MyTranExt1 where (TranNo is null) and (ComputerName = 'CRIB-01')");
        row("Company", "Company", "(Name) VALUES ('Works')", "Select   TOP 1 * from COMPANY");
        row("SysParameters", "SysParameters", "(Name, Value) VALUES ('a', 'b')", "Select   TOP 1 * from SYSPARAMETERS");
        row("Safety", "Safety", "(Message) VALUES ('Mind the step')", "Select TOP 1 * from [Safety]");
        row("Regrind", "Regrind", "(RegrindID, Item) VALUES (7, 'DRL')",
            "Select * from [Regrind] where RegrindID = '7'");
        row("CalHistory", "CalHistory", "(CalibrateID, Item) VALUES (8, 'DRL')",
            "Select * from [CalHistory] where CalibrateID = '8'");
        row("ClassImage", "ClassImage", "(MyNo) VALUES ('C1')", "Select * from [CLASSIMAGE] as T where T.MyNo = 'C1'");
        row("EmpImage", "EmpImage", "(MyNo) VALUES ('E1')", "Select * from [EMPIMAGE] as T where T.MyNo = 'E1'");
        row("ItemImage", "ItemImage", "(Code) VALUES ('X1')", "Select * from [ITEMIMAGE] as T where T.Code = 'X1'");
        row("ItemAttrib1", "ItemAttrib1", "(Code, Attrib) VALUES ('X1', 'a')",
            "Select * from [ITEMATTRIB1] as T where T.Code = 'X1'");
        row("DeptMach", "DeptMach", "(Dept, Mach) VALUES ('D1', 'M1')",
            "Select * from [DEPTMACH] as T where (T.Dept = 'D1') AND (T.Mach = 'M1')");
        row("MachJob", "MachJob", "(Mach, Job) VALUES ('M1', 'J1')",
            "Select * from [MACHJOB] as T where (T.Mach = 'M1') AND (T.Job = 'J1')");
        row("Report", "Report", "(MyGroup, Name) VALUES ('Stock', 'Low')",
            "Select * from REPORT where MyGroup = 'Stock' AND [Name] = 'Low'");
        row("Custom", "Custom", "(MyGroup, Name) VALUES ('Stock', 'Mine')",
            "Select * from CUSTOM where MyGroup = 'Stock' AND [Name] = 'Mine'");
        row("StockOuts", "StockOuts", "(BoNo, Item) VALUES ('B1', 'DRL')", "Select * from STOCKOUTS where BoNo = 'B1'");
        row("DailyInventory", "DailyInventory", "(Station, Item) VALUES ('01', 'DRL')",
            "Select Top 0 * from DailyInventory");
        row("Poll", "Poll", "(Station) VALUES ('01')", "Select Top 0 * from Poll");
        row("PortalLog", "PortalLog", "(Message) VALUES ('m')", "Select Top 0 * from PortalLog");
        row("PortalPhotos", "PortalPhotos", "(MyDate) VALUES ('2026-12-01T00:00:00')",
            "Select Top 0 * from PortalPhotos");
        row("any other table", "Item", "(MyNo, Description) VALUES ('RMR', 'Reamer')",
            "Select * from [ITEM] as T where T.MyNo = 'RMR'");
        row("Alias keyed by its renamed column", "Alias", "(Mach, Reas) VALUES ('M1', 'R1')",
            "Select * from [ALIAS] as T where T.Machine = 'M1'");
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
                               << "Select * from ISSUE where (TranNo = '5001') AND (MyLineNo = '1')";
        QTest::newRow("IssueAttrib1") << "IssueAttrib1"
                                      << "Select * from ISSUEATTRIB1 where (TranNo = '5001') AND (MyLineNo = '1')";
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
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].table, table.toUpper());
        QCOMPARE(f.events.failures[0].key, QStringLiteral("1"));
        QCOMPARE(f.events.recoveries, 1);
    }
};

QTEST_GUILESS_MAIN(TestProbeStatements)
#include "TestProbeStatements.moc"
