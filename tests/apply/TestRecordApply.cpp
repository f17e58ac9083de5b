#include "ApplyFixture.h"
#include "apply/RecordApply.h"

#include <QTest>

/// Copying one remote row into the local table: the key rules that find the local row, the
/// columns each table protects, the kinds of copy, and what is always inserted.
class TestRecordApply : public QObject
{
    Q_OBJECT

private:
    static bool apply(ApplyFixture& f, const QString& table, int recordId)
    {
        f.openSource(table, recordId);
        return RecordApply(f.context).ApplyRemoteRecord(table, QStringLiteral("7"));
    }

private Q_SLOTS:
    void binUpdateKeepsQuantitiesAndFillsNulls_data()
    {
        QTest::addColumn<QString>("tableName");
        QTest::newRow("as spelled") << "Bin";
        QTest::newRow("upper case") << "BIN";
        QTest::newRow("mixed case") << "bIn";
    }

    void binUpdateKeepsQuantitiesAndFillsNulls()
    {
        QFETCH(QString, tableName);
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, Description, OnHand, BurnQty, OnOrder, MinQty, MaxQty, "
                        "LastCount, ASPProcessed) VALUES ('01', 'A01', 'DRL', 'old', 5, 1, 2, 3, 4, "
                        "'2026-01-02T00:00:00', 0)");
        f.local.execute(
            "INSERT INTO Bin (Station, MyNo, Item, OnHand, ASPProcessed) VALUES ('01', 'A02', 'TAP', 8, 0)");
        f.remote.execute("INSERT INTO Bin (Station, MyNo, Item) VALUES ('09', 'Z', 'filler')");
        const int id = f.insertRemote("Bin",
            "INSERT INTO Bin (Station, MyNo, Item, Description, OnHand, BurnQty, OnOrder, MinQty, MaxQty, LastCount) "
            "VALUES ('01', 'A01', 'DRL-NEW', NULL, 99, 9, 9, NULL, 40, NULL)");

        QVERIFY(apply(f, tableName, id));
        const db::ResultSet rows = f.local.query(
            "SELECT RecordID, Item, Description, OnHand, BurnQty, OnOrder, MinQty, MaxQty, LastCount, ASPProcessed "
            "FROM Bin ORDER BY RecordID");
        QCOMPARE(rows.rows.size(), 2);
        const QVariantList row = rows.rows.first();
        QCOMPARE(row[0].toInt(), 1); // the local identity is kept
        QCOMPARE(row[1].toString(), QStringLiteral("DRL-NEW"));
        QCOMPARE(row[2].toString(), QStringLiteral("")); // NULL text becomes empty text
        QVERIFY(!row[2].isNull());
        QCOMPARE(row[3].toInt(), 5);
        QCOMPARE(row[4].toInt(), 1);
        QCOMPARE(row[5].toInt(), 2);
        QCOMPARE(row[6].toInt(), 0); // NULL integer becomes 0
        QCOMPARE(row[7].toInt(), 40);
        QCOMPARE(row[8].toDateTime(), QDateTime(QDate(2026, 1, 2), QTime(0, 0), Qt::UTC)); // NULL date keeps the date
        QCOMPARE(row[9].toInt(), 1);
        QCOMPARE(rows.rows.last()[1].toString(), QStringLiteral("TAP"));
        QVERIFY(f.events.failures.isEmpty());
    }

    void localRowWithANullKeyIsUpdated()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Description, ASPProcessed) VALUES (NULL, 'A60', 'old', 1)");
        const int id
            = f.insertRemote("Bin", "INSERT INTO Bin (Station, MyNo, Description) VALUES (NULL, 'A60', 'central')");
        QVERIFY(apply(f, "Bin", id));
        QCOMPARE(f.localCount("Bin", "MyNo = 'A60'"), 1);
        QCOMPARE(f.localValue("SELECT Description FROM Bin WHERE MyNo = 'A60'").toString(), QStringLiteral("central"));
    }

    void insertPassesOverTheLastSourceColumnAndUpdateDoesNot()
    {
        // The remote Control table ends with LastSyncTime rather than a Processed column.
        ApplyFixture f;
        const int id = f.insertRemote("Control",
            "INSERT INTO Control (ComputerName, Synch, Port, LastSyncTime) VALUES ('CRIB-09', 1, 7, "
            "'2026-12-01T10:00:00')");
        QVERIFY(apply(f, "Control", id));
        QCOMPARE(f.localValue("SELECT Port FROM Control WHERE ComputerName = 'CRIB-09'").toInt(), 7);
        QVERIFY(f.localValue("SELECT LastSyncTime FROM Control WHERE ComputerName = 'CRIB-09'").isNull());

        f.remote.execute("UPDATE Control SET Port = 8");
        QVERIFY(apply(f, "Control", id));
        QCOMPARE(f.localCount("Control"), 1);
        QCOMPARE(f.localValue("SELECT Port FROM Control").toInt(), 8);
        QCOMPARE(f.localValue("SELECT LastSyncTime FROM Control").toDateTime(),
            QDateTime(QDate(2026, 12, 1), QTime(10, 0), Qt::UTC));
    }

    void safetyAndAliasUpdateTheFirstLocalRow()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Safety (Message, ASPProcessed) VALUES ('first', 0), ('second', 0)");
        const int safety = f.insertRemote("Safety", "INSERT INTO Safety (Message) VALUES ('central')");
        QVERIFY(apply(f, "Safety", safety));
        QCOMPARE(f.localCount("Safety"), 2);
        QCOMPARE(f.localValue("SELECT Message FROM Safety ORDER BY RecordID").toString(), QStringLiteral("central"));

        // An empty local table gets the row, with Machine and Reason renamed to Mach and Reas.
        const int alias = f.insertRemote("Alias", "INSERT INTO Alias (Machine, Reason) VALUES ('M1', 'R1')");
        QVERIFY(apply(f, "ALIAS", alias));
        QCOMPARE(f.localCount("Alias", "Mach = 'M1' AND Reas = 'R1'"), 1);
        f.local.execute("INSERT INTO Alias (Mach, Reas) VALUES ('M2', 'R2')");
        const int other = f.insertRemote("Alias", "INSERT INTO Alias (Machine, Reason) VALUES ('M9', 'R9')");
        QVERIFY(apply(f, "Alias", other));
        QCOMPARE(f.localCount("Alias"), 2);
        QCOMPARE(f.localValue("SELECT Mach || Reas FROM Alias ORDER BY RecordID").toString(), QStringLiteral("M9R9"));
    }

    void appendOnlyTablesInsertEveryTime_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("insert");
        QTest::newRow("DailyInventory") << "DailyInventory"
                                        << "INSERT INTO DailyInventory (Station, Item, OnHand) VALUES ('01', 'X', 3)";
        QTest::newRow("Poll") << "Poll"
                              << "INSERT INTO Poll (Station, Result) VALUES ('01', 'ok')";
        QTest::newRow("PortalLog") << "PortalLog"
                                   << "INSERT INTO PortalLog (Message) VALUES ('seen')";
        QTest::newRow("PortalPhotos") << "PORTALPHOTOS"
                                      << "INSERT INTO PortalPhotos (Photo) VALUES (x'0102')";
    }

    void appendOnlyTablesInsertEveryTime()
    {
        QFETCH(QString, table);
        QFETCH(QString, insert);
        ApplyFixture f;
        const int id = f.insertRemote(table, insert);
        QVERIFY(apply(f, table, id));
        QVERIFY(apply(f, table, id));
        QCOMPARE(f.localCount(table, "ASPProcessed = 1"), 2);
    }

    void companyUpdateProtectsItsCredentialsAndInsertCopiesThem()
    {
        ApplyFixture f;
        const int id = f.insertRemote("Company",
            "INSERT INTO Company (Name, ASPDataBaseName, ASPLoginName, ASPPassword, MasterID, MasterPin, Version, "
            "PoNo, LastReset) VALUES ('Central', 'rdb', 'rlogin', 'rpw', 'RM', 'R1', '9.0', 77, "
            "'2026-05-05T00:00:00')");
        QVERIFY(apply(f, "Company", id));
        QCOMPARE(f.localValue("SELECT ASPLoginName || MasterPin || PoNo FROM Company").toString(),
            QStringLiteral("rloginR177"));

        f.local.execute("UPDATE Company SET Name = 'Local', ASPDataBaseName = 'ldb', ASPLoginName = 'llogin', "
                        "ASPPassword = 'lpw', MasterID = 'LM', MasterPin = 'L1', Version = '7.2', PoNo = 5, "
                        "LastReset = '2020-01-01T00:00:00'");
        QVERIFY(apply(f, "COMPANY", id));
        const QVariantList row = f.local
                                     .query("SELECT Name, ASPDataBaseName, ASPLoginName, ASPPassword, MasterID, "
                                            "MasterPin, Version, PoNo, LastReset FROM Company")
                                     .rows.value(0);
        QCOMPARE(row.size(), 9);
        QCOMPARE(row[0].toString(), QStringLiteral("Central"));
        const QStringList kept = {"ldb", "llogin", "lpw", "LM", "L1", "7.2", "5"};
        for (int i = 0; i < kept.size(); ++i)
            QCOMPARE(row[i + 1].toString(), kept[i]);
        QCOMPARE(row[8].toDateTime(), QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC));
    }

    void employeeUpdateWithExcludeCribChangesOnlyCribs()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Emp (MyNo, Name, Cribs, Items, ASPProcessed) VALUES ('E1', 'Old', '01', 'x', 0)");
        const int id
            = f.insertRemote("Emp", "INSERT INTO Emp (MyNo, Name, Cribs, Items) VALUES ('E1', 'New', '01,02', 'y')");
        f.context.settings.excludeCrib = QStringLiteral("1");
        QVERIFY(apply(f, "Emp", id));
        QCOMPARE(f.localValue("SELECT Name || Cribs || Items || ASPProcessed FROM Emp").toString(),
            QStringLiteral("Old01,02x1"));
        f.context.settings.excludeCrib = QStringLiteral("0");
        QVERIFY(apply(f, "EMP", id));
        QCOMPARE(f.localValue("SELECT Name || Cribs || Items FROM Emp").toString(), QStringLiteral("New01,02y"));
    }

    void reportsKeepTheirDefinitionAndAreNeverAdded()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Report (MyGroup, Name, Description, Size1, SQLText, ASPProcessed) VALUES "
                        "('Stock', 'Low', 'local', 4, 'select 1', 0)");
        const int known = f.insertRemote("Report",
            "INSERT INTO Report (MyGroup, Name, Description, Size1, SQLText) VALUES ('stock', 'low', 'remote', 9, "
            "'select 2')");
        QVERIFY(apply(f, "Report", known));
        QCOMPARE(f.localValue("SELECT MyGroup || Name || Description || Size1 || SQLText || ASPProcessed FROM Report")
                     .toString(),
            QStringLiteral("StockLowlocal4select 21"));

        const int unknown = f.insertRemote("Custom", "INSERT INTO Custom (MyGroup, Name) VALUES ('Usage', 'By emp')");
        QVERIFY(apply(f, "CUSTOM", unknown));
        QCOMPARE(f.localCount("Custom"), 0);
        QVERIFY(f.events.failures.isEmpty());
    }

    void timeOfDayColumnsKeepTheWholeSecondsOfTheTime()
    {
        QVERIFY(RecordApply::IsTimeOfDayField(QStringLiteral("StartTime")));
        QVERIFY(RecordApply::IsTimeOfDayField(QStringLiteral("stop")));
        QVERIFY(!RecordApply::IsTimeOfDayField(QStringLiteral("MyTime")));

        ApplyFixture f;
        f.local.execute("INSERT INTO Schedules (Name, Station, StartTime, EndTime) VALUES ('Night', '01', "
                        "'2020-01-01T01:00:00', '2020-01-01T02:00:00')");
        const int id = f.insertRemote("Schedules",
            "INSERT INTO Schedules (Name, Station, StartTime, EndTime) VALUES ('Night', '02', "
            "'2026-12-01T07:30:15.678', NULL)");
        QVERIFY(apply(f, "Schedules", id));
        const QVariantList row = f.local.query("SELECT Station, StartTime, EndTime FROM Schedules").rows.value(0);
        QCOMPARE(row.size(), 3);
        QCOMPARE(row[0].toString(), QStringLiteral("02"));
        QCOMPARE(row[1].toDateTime(), QDateTime(QDate(1899, 12, 30), QTime(7, 30, 15), Qt::UTC));
        QVERIFY(row[2].isNull());
    }

    void aValueThatIsNotAcceptedLeavesTheRowUnwritten()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Schedules (Name, Station, StartTime) VALUES ('Night', '01', "
                        "'2020-01-01T01:00:00')");
        const int id = f.insertRemote(
            "Schedules", "INSERT INTO Schedules (Name, Station, StartTime) VALUES ('Night', '02', 'soon')");
        QVERIFY(!apply(f, "Schedules", id));
        QCOMPARE(f.localValue("SELECT Station FROM Schedules").toString(), QStringLiteral("01"));
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].key, QStringLiteral("7"));
        QCOMPARE(f.events.failures[0].table, QStringLiteral("Schedules"));
    }

    void unquotedKeysMustBeNumbers_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("insert");
        QTest::newRow("RoboMinMax PkgQty")
            << "RoboMinMax"
            << "INSERT INTO RoboMinMax (Station, Item, PkgQty) VALUES ('01', 'X', '1 ) OR ( 1 = 1')";
        QTest::newRow("Transfer2 TransferID") << "Transfer2"
                                              << "INSERT INTO Transfer2 (TransferID, Item) VALUES ('0 OR 1 = 1', 'X')";
        QTest::newRow("MyTranExt1 TranNo")
            << "MyTranExt1"
            << "INSERT INTO MyTranExt1 (TranNo, ComputerName) VALUES ('1) OR (1 = 1', 'C')";
        QTest::newRow("Release second column")
            << "Release"
            << "INSERT INTO Release (Station, ReleaseNo, Item) VALUES ('01', '2 ) OR ( 1 = 1', 'X')";
        QTest::newRow("empty") << "Transfer2"
                               << "INSERT INTO Transfer2 (TransferID, Item) VALUES (NULL, 'X')";
    }

    void unquotedKeysMustBeNumbers()
    {
        QFETCH(QString, table);
        QFETCH(QString, insert);
        ApplyFixture f({}, {.trace = true});
        const int id = f.insertRemote(table, insert);
        f.openSource(table, id);
        f.clearTrace();
        QVERIFY(!RecordApply(f.context).ApplyRemoteRecord(table));
        QCOMPARE(f.traced(), QStringList()); // nothing was executed
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.recoveries, 0);
        QCOMPARE(f.localCount(table), 0);
    }

    // A table re-created with its columns in another order: the positional lookup would miss
    // the local row and add another one for every order.
    void keyColumnsInOtherPlacesRefuseTheOrder_data()
    {
        QTest::addColumn<QString>("side");
        QTest::addColumn<QString>("order"); // of the re-created table's first columns
        QTest::addColumn<QStringList>("named"); // the columns the failure names
        QTest::newRow("remote Bin re-created") << "remote"
                                               << "MyNo, Station, Item" << QStringList{"MyNo", "Station"};
        QTest::newRow("local Bin re-created") << "local"
                                              << "Item, Station, MyNo" << QStringList{"Item", "MyNo"};
    }

    void keyColumnsInOtherPlacesRefuseTheOrder()
    {
        QFETCH(QString, side);
        QFETCH(QString, order);
        QFETCH(QStringList, named);
        ApplyFixture f;
        db::Connection& recreated = side == "local" ? f.local : f.remote;
        recreated.execute("DROP TABLE Bin");
        recreated.execute("CREATE TABLE Bin (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, "
            + order.split(", ").join(" varchar(30), ") + " varchar(30), Description varchar(50), "
            + (side == "local" ? "ASPProcessed bit" : "Processed bit") + ")");
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, Description) VALUES ('01', 'A01', 'DRL', 'old')");
        const int id = f.insertRemote(
            "Bin", "INSERT INTO Bin (Station, MyNo, Item, Description) VALUES ('01', 'A01', 'DRL', 'new')");
        QVERIFY(!apply(f, "Bin", id));
        QCOMPARE(f.localCount("Bin"), 1);
        QCOMPARE(f.localValue("SELECT Description FROM Bin").toString(), QStringLiteral("old"));
        QCOMPARE(f.events.failures.size(), 1);
        for (const QString& column : named)
            QVERIFY2(f.events.failures[0].message.contains(column), qPrintable(f.events.failures[0].message));
    }

    void numericKeysFindTheirRow()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO RoboMinMax (Station, Item, PkgQty, MinQty) VALUES ('01', 'X', -3, 1), "
                        "('01', 'X', 5, 1)");
        const int robo = f.insertRemote(
            "RoboMinMax", "INSERT INTO RoboMinMax (Station, Item, PkgQty, MinQty) VALUES ('01', 'X', -3, 9)");
        QVERIFY(apply(f, "ROBOMINMAX", robo));
        QCOMPARE(
            f.localValue("SELECT group_concat(MinQty) FROM (SELECT MinQty FROM RoboMinMax ORDER BY PkgQty)").toString(),
            QStringLiteral("9,1"));
    }
};

QTEST_GUILESS_MAIN(TestRecordApply)
#include "TestRecordApply.moc"
