#include "PushFixture.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "push/DeletePropagation.h"

#include <QTest>

/// Replaying the local delete history on the remote database: lookups by table, renames, the
/// remote bin history, progress, and which rows stay pending after a refusal or failure.
class TestDeletePropagation : public QObject
{
    Q_OBJECT

private:
    static int addHistory(PushFixture& f, const QString& table, const QString& key1, const QString& key2 = QString(),
        const QString& key3 = QString(), const QString& computer = QStringLiteral("CRIB-09"))
    {
        const auto literal
            = [](const QString& v) { return v.isNull() ? QStringLiteral("NULL") : db::quotedLiteral(v); };
        f.local.execute(QStringLiteral("INSERT INTO DeleteHst (TableName, Key1, Key2, Key3, ComputerName, "
                                       "ASPProcessed) VALUES (%1, %2, %3, %4, %5, 0)")
                            .arg(literal(table), literal(key1), literal(key2), literal(key3), literal(computer)));
        return f.localValue(QStringLiteral("SELECT max(RecordID) FROM DeleteHst")).toInt();
    }

    static bool isPending(PushFixture& f, int id)
    {
        return f.localCount(QStringLiteral("DeleteHst"), QStringLiteral("RecordID = %1 AND ASPProcessed = 0").arg(id))
            == 1;
    }

    static void replay(PushFixture& f)
    {
        f.clearTrace();
        DeletePropagation(f.context).PropagateDeletes();
    }

    /// The remote lookup the replay sent (the second remote statement), and after "<-" the values
    /// bound to its placeholders.
    static QString lookupOf(PushFixture& f)
    {
        const db::RowQuery& lookup = f.statements.qryASPFindRec;
        QStringList values;
        for (const QString& name : lookup.parameterNames())
            values << db::valueText(lookup.parameter(name));
        const QString text = f.traced(QStringLiteral("remote")).value(1);
        return values.isEmpty() ? text : text + QStringLiteral(" <- ") + values.join(QStringLiteral(", "));
    }

    static QString employeeItems(PushFixture& f, const QString& emp)
    {
        return f.remoteValue(QStringLiteral("SELECT Items FROM Emp WHERE MyNo = '%1'").arg(emp)).toString();
    }

private Q_SLOTS:
    void withoutPendingRowsNothingIsSent()
    {
        PushFixture f;
        f.local.execute(
            QStringLiteral("INSERT INTO DeleteHst (TableName, Key1, ASPProcessed) VALUES ('BIN', '01', 1)"));
        replay(f);
        QCOMPARE(f.events.progressTexts, QStringList{QStringLiteral("DeleteHst")});
        QCOMPARE(f.events.maximum, 0);
        QCOMPARE(f.traced(QStringLiteral("remote")), QStringList());
        QCOMPARE(f.traced(QStringLiteral("local")),
            QStringList{QStringLiteral("Select * from DeleteHst\nwhere  ASPProcessed= 0\n")});
    }

    void pictureRowsAreMarkedWithoutRemoteStatement_data()
    {
        QTest::addColumn<int>("pageRows");
        QTest::newRow("one page") << 1000;
        QTest::newRow("pages of two") << 2;
    }

    void pictureRowsAreMarkedWithoutRemoteStatement()
    {
        QFETCH(int, pageRows);
        PushFixture f;
        f.context.pageRows = pageRows;
        for (const char* table : {"ItemImage", "ITEMIMAGE", "itemimage", "ClassImage", "EmpImage"})
            addHistory(f, QLatin1String(table), QStringLiteral("P1"));
        replay(f);
        QCOMPARE(f.traced(QStringLiteral("remote")), QStringList());
        QCOMPARE(f.pendingCount(QStringLiteral("DeleteHst")), 0);
        QCOMPARE(f.events.done,
            QStringList({"history replayed:ItemImage", "history replayed:ITEMIMAGE", "history replayed:itemimage",
                "history replayed:ClassImage", "history replayed:EmpImage"}));
        QCOMPARE(f.events.progressTexts.mid(1, 2),
            QStringList({"DeleteHst record 1 out of 5", "DeleteHst record 2 out of 5"}));
        QCOMPARE(f.events.progressTexts.last(), QStringLiteral("DeleteHst record 5 out of 5"));
        QCOMPARE(f.events.position, 5);
        QCOMPARE(f.events.maximum, 5);
    }

    void lookupsFollowTheTableRules_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<bool>("issueFlag");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("lookup");
        QTest::addColumn<QString>("gone");
        QTest::addColumn<QString>("kept");

        QTest::newRow("issue of this computer")
            << "ISSUE" << QStringList{"5000", "1"} << true << "[ISSUE]"
            << "INSERT INTO Issue (TranNo, MyLineNo, ComputerName) VALUES (5000, 1, 'CRIB-09'), (5000, 1, 'CRIB-01')"
            << "Select * from Issue where (TranNo = :k1) AND (MyLineNo = :k2) AND (ComputerName = :k3) <- 5000, 1, "
               "CRIB-01"
            << "Issue WHERE ComputerName = 'CRIB-01'"
            << "Issue WHERE ComputerName = 'CRIB-09'";
        QTest::newRow("issue, older schema")
            << "Issue" << QStringList{"5000", "1"} << false << "[Issue]"
            << "INSERT INTO Issue (TranNo, MyLineNo, ComputerName) VALUES (5000, 1, 'CRIB-09'), (5000, 2, 'CRIB-09')"
            << "Select * from Issue where (TranNo = :k1) AND (MyLineNo = :k2) <- 5000, 1"
            << "Issue WHERE MyLineNo = 1"
            << "Issue WHERE MyLineNo = 2";
        QTest::newRow("quoted key")
            << "Kit" << QStringList{"O'Brien", "DRL"} << true << "[Kit]"
            << "INSERT INTO Kit (KitNo, Item) VALUES ('O''Brien', 'DRL'), ('O''Brien', 'TAP')"
            << "Select * from [Kit] where ( [KitNo] = :k1 ) AND ( [Item] = :k2 ) <- O'Brien, DRL"
            << "Kit WHERE Item = 'DRL'"
            << "Kit WHERE Item = 'TAP'";
        QTest::newRow("release by two columns")
            << "RELEASE" << QStringList{"01", "7"} << true << "[RELEASE]"
            << "INSERT INTO Release (Station, ReleaseNo) VALUES ('01', 7), ('01', 8)"
            << "Select * from [RELEASE] where ( [Station] = :k1 ) AND ( [ReleaseNo] = :k2 ) <- 01, 7"
            << "Release WHERE ReleaseNo = 7"
            << "Release WHERE ReleaseNo = 8";
        QTest::newRow("release without key 2") << "RELEASE" << QStringList{"01", ""} << true << "[RELEASE]"
                                               << "INSERT INTO Release (Station, ReleaseNo) VALUES ('01', 7), ('02', 8)"
                                               << "Select * from [RELEASE] where [Station] = :k1 <- 01"
                                               << "Release WHERE Station = '01'"
                                               << "Release WHERE Station = '02'";
        QTest::newRow("regrind") << "Regrind" << QStringList{"7"} << true << "[Regrind]"
                                 << "INSERT INTO Regrind (RegrindID) VALUES (7), (8)"
                                 << "Select * from Regrind  where [RegrindID] = :k1 <- 7"
                                 << "Regrind WHERE RegrindID = 7"
                                 << "Regrind WHERE RegrindID = 8";
        QTest::newRow("calibration") << "calhistory" << QStringList{"3"} << true << "[calhistory]"
                                     << "INSERT INTO CalHistory (CalibrateID) VALUES (3), (4)"
                                     << "Select * from CalHistory  where [CalibrateID] = :k1 <- 3"
                                     << "CalHistory WHERE CalibrateID = 3"
                                     << "CalHistory WHERE CalibrateID = 4";
        QTest::newRow("robot min-max")
            << "RoboMinMax" << QStringList{"01", "DRL", "5"} << true << "[RoboMinMax]"
            << "INSERT INTO RoboMinMax (Station, Item, PkgQty) VALUES ('01', 'DRL', 5), ('01', 'DRL', 10)"
            << "Select * from [RoboMinMax] where ( Station = :k1 ) AND ( Item = :k2 ) AND (PkgQty = :k3 ) <- 01, DRL, 5"
            << "RoboMinMax WHERE PkgQty = 5"
            << "RoboMinMax WHERE PkgQty = 10";
        QTest::newRow("Tran is MyTran") << "tran" << QStringList{"9001"} << true << "[MyTran]"
                                        << "INSERT INTO MyTran (TranNo) VALUES (9001), (9002)"
                                        << "Select * from [MyTran] where [TranNo] = :k1 <- 9001"
                                        << "MyTran WHERE TranNo = 9001"
                                        << "MyTran WHERE TranNo = 9002";
        QTest::newRow("User is MyUser") << "User" << QStringList{"U1"} << true << "[MyUser]"
                                        << "INSERT INTO MyUser (MyNo) VALUES ('U1'), ('U2')"
                                        << "Select * from [MyUser] where [MyNo] = :k1 <- U1"
                                        << "MyUser WHERE MyNo = 'U1'"
                                        << "MyUser WHERE MyNo = 'U2'";
        QTest::newRow("any other table") << "Item" << QStringList{"DRL"} << true << "[Item]"
                                         << "INSERT INTO Item (MyNo) VALUES ('DRL'), ('TAP')"
                                         << "Select * from [Item] where [MyNo] = :k1 <- DRL"
                                         << "Item WHERE MyNo = 'DRL'"
                                         << "Item WHERE MyNo = 'TAP'";
        QTest::newRow("a blank in the name") << "Tool Kit" << QStringList{"DRL"} << true << "[Tool Kit]"
                                             << "INSERT INTO [Tool Kit] (MyNo) VALUES ('DRL'), ('TAP')"
                                             << "Select * from [Tool Kit] where [MyNo] = :k1 <- DRL"
                                             << "[Tool Kit] WHERE MyNo = 'DRL'"
                                             << "[Tool Kit] WHERE MyNo = 'TAP'";
        QTest::newRow("several matches, first deleted")
            << "Kit" << QStringList{"K1", "DRL"} << true << "[Kit]"
            << "INSERT INTO Kit (KitNo, Item, Quantity) VALUES ('K1', 'DRL', 1), ('K1', 'DRL', 2)"
            << "Select * from [Kit] where ( [KitNo] = :k1 ) AND ( [Item] = :k2 ) <- K1, DRL"
            << "Kit WHERE Quantity = 1"
            << "Kit WHERE Quantity = 2";
    }

    void lookupsFollowTheTableRules()
    {
        QFETCH(QString, table);
        QFETCH(QStringList, keys);
        QFETCH(bool, issueFlag);
        QFETCH(QString, pasted);
        QFETCH(QString, seed);
        QFETCH(QString, lookup);
        QFETCH(QString, gone);
        QFETCH(QString, kept);
        PushFixture f;
        f.remote.execute(QStringLiteral("CREATE TABLE [Tool Kit] (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, MyNo "
                                        "TEXT, Processed bit)"));
        f.remote.execute(seed);
        f.context.flags.IssueHasComputerName = issueFlag;
        const int id = addHistory(f, table, keys.value(0), keys.value(1), keys.value(2));
        replay(f);

        const QStringList remote = f.traced(QStringLiteral("remote"));
        QCOMPARE(lookupOf(f), lookup);
        QCOMPARE(remote.value(0), QStringLiteral("Select top(1) * FROM ") + pasted + QStringLiteral("   "));
        QCOMPARE(f.remoteValue(QStringLiteral("SELECT count(*) FROM ") + gone).toInt(), 0);
        QCOMPARE(f.remoteValue(QStringLiteral("SELECT count(*) FROM ") + kept).toInt(), 1);
        QVERIFY(!isPending(f, id));
        QCOMPARE(f.events.done, QStringList{QStringLiteral("history replayed:") + table});
        QCOMPARE(f.remoteCount(QStringLiteral("DeleteHst")), 0);
    }

    void historyWithANullKeyDeletesTheRow()
    {
        PushFixture f;
        f.remote.execute(QStringLiteral("INSERT INTO Kit (KitNo, Item) VALUES (NULL, 'DRL'), ('K1', 'DRL')"));
        const int id = addHistory(f, QStringLiteral("Kit"), QString(), QStringLiteral("DRL"));
        replay(f);
        QCOMPARE(f.remoteCount(QStringLiteral("Kit")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("Kit"), QStringLiteral("KitNo IS NULL")), 0);
        QVERIFY(!isPending(f, id));

        // In a number column the NULL row is deleted, not the 0 row that '' matches on SQL Server.
        f.remote.execute(QStringLiteral("INSERT INTO AdminTran (TranNo, Type) VALUES (0, 'A'), (NULL, 'B')"));
        addHistory(f, QStringLiteral("AdminTran"), QString());
        replay(f);
        QCOMPARE(f.remoteCount(QStringLiteral("AdminTran"), QStringLiteral("TranNo IS NULL")), 0);
        QCOMPARE(f.remoteCount(QStringLiteral("AdminTran")), 1);
    }

    void closingBracketInAColumnNameIsDoubled()
    {
        PushFixture f;
        f.remote.execute(QStringLiteral("CREATE TABLE Gauge (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, \"Size]mm\" "
                                        "int, Processed bit)"));
        addHistory(f, QStringLiteral("Gauge"), QStringLiteral("10"));
        replay(f);
        QCOMPARE(lookupOf(f), QStringLiteral("Select * from [Gauge] where [Size]]mm] = :k1 <- 10"));
    }

    void binDeleteIsRecordedInTheRemoteHistoryFirst()
    {
        PushFixture f;
        f.context.localNow = [] { return QDateTime(QDate(2031, 5, 6), QTime(14, 30)); };
        f.remote.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A07'), ('01', 'A08')"));
        const int present = addHistory(f, QStringLiteral("BIN"), QStringLiteral("01"), QStringLiteral("A07"));
        replay(f);

        const QStringList remote = f.traced(QStringLiteral("remote"));
        QCOMPARE(lookupOf(f),
            QStringLiteral("Select * from [BIN] where ( [Station] = :k1 ) AND ( [MyNo] = :k2 ) <- 01, A07"));
        QCOMPARE(remote.value(2), QStringLiteral("BEGIN TRANSACTION"));
        QVERIFY(remote.value(3).startsWith(QLatin1String("Insert into DeleteHst")));
        QCOMPARE(remote.value(5), QStringLiteral("COMMIT"));
        QCOMPARE(remote.size(), 6); // probe, lookup, and history and delete in one transaction
        QCOMPARE(f.remote
                     .query(QStringLiteral("SELECT TableName, Key1, Key2, date(LastUpdate), time(LastUpdate), "
                                           "ComputerName, LocalComputerName FROM DeleteHst"))
                     .rows,
            QList<QVariantList>({{"Bin", "01", "A07", "2031-05-06", "00:00:00", "CRIB-01", "CRIB-09"}}));
        QCOMPARE(f.remoteCount(QStringLiteral("Bin")), 1);
        QVERIFY(!isPending(f, present));

        // A bin already gone leaves no remote history and is still marked.
        const int gone = addHistory(f, QStringLiteral("Bin"), QStringLiteral("01"), QStringLiteral("A07"));
        replay(f);
        QCOMPARE(f.remoteCount(QStringLiteral("DeleteHst")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("Bin")), 1);
        QVERIFY(!isPending(f, gone));
        QCOMPARE(f.events.failures.size(), 0);
    }

    void failedBinHistoryStillDeletesTheBin()
    {
        PushFixture f;
        f.executeRemoteRaw(QStringLiteral("CREATE TRIGGER NoHistory BEFORE INSERT ON DeleteHst BEGIN "
                                          "SELECT RAISE(ABORT, 'history is read-only'); END"));
        f.remote.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A07')"));
        const int id = addHistory(f, QStringLiteral("BIN"), QStringLiteral("01"), QStringLiteral("A07"));
        replay(f);
        QCOMPARE(f.remoteCount(QStringLiteral("Bin")), 0);
        QVERIFY(!isPending(f, id));
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.recoveries, 0);
    }

    void rowsThatStayPending_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("recoveries");
        QTest::newRow("empty table name") << "" << 0;
        QTest::newRow("remote table missing") << "NoSuchTable" << 1;
        QTest::newRow("statement in the name") << "Kit where 1 = 1; DELETE FROM Kit --" << 1;
        QTest::newRow("delete refused") << "Kit" << 1;
    }

    void rowsThatStayPending()
    {
        QFETCH(QString, table);
        QFETCH(int, recoveries);
        PushFixture f;
        f.remote.execute(QStringLiteral("INSERT INTO Kit (KitNo, Item) VALUES ('K1', 'DRL'), ('K2', 'TAP')"));
        f.executeRemoteRaw(QStringLiteral("CREATE TRIGGER KeepKits BEFORE DELETE ON Kit BEGIN "
                                          "SELECT RAISE(ABORT, 'kits are kept'); END"));
        const int id = addHistory(f, table, QStringLiteral("K1"), QStringLiteral("DRL"));
        const int picture = addHistory(f, QStringLiteral("ItemImage"), QStringLiteral("P1"));
        replay(f);
        const QStringList remote = f.traced(QStringLiteral("remote"));

        QVERIFY(isPending(f, id));
        QVERIFY(!isPending(f, picture)); // the walk goes on after the row
        QCOMPARE(f.events.recoveries, recoveries);
        QCOMPARE(f.events.failures.size(), recoveries);
        if (recoveries > 0) {
            QCOMPARE(f.events.failures.first().step, QStringLiteral("delete history"));
            QCOMPARE(f.events.failures.first().table, table);
            QCOMPARE(f.events.failures.first().key, QStringLiteral("K1, DRL"));
        }
        QCOMPARE(f.remoteCount(QStringLiteral("Kit")), 2);
        if (table.isEmpty())
            QCOMPARE(remote, QStringList());
        else
            QCOMPARE(remote.value(0), QStringLiteral("Select top(1) * FROM ") + db::bracketed(table) + "   ");
    }

    void renames_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("badList"); // an employee whose list cannot be searched
        QTest::addColumn<bool>("marked");
        // Renamed remotely before, the power failed before the mark: the new numbers are in place.
        QTest::addColumn<bool>("renamedBefore");
        QTest::newRow("bin") << "BinC" << QStringList{"01", "A06", "A66"} << "" << true << false;
        QTest::newRow("bin refused") << "binc" << QStringList{"01", "A99", "A66"} << "" << false << false;
        QTest::newRow("bin renamed before") << "BinC" << QStringList{"01", "A06", "A66"} << "" << true << true;
        QTest::newRow("item") << "ItemC" << QStringList{"OLD", "BBB"} << "" << true << false;
        QTest::newRow("item refused") << "ITEMC" << QStringList{"NONE", "BBB"} << "" << false << false;
        QTest::newRow("item renamed before") << "ItemC" << QStringList{"OLD", "BBB"} << "" << true << true;
        QTest::newRow("employee list failing")
            << "ItemC" << QStringList{"OLD", "BBB"} << "OLD\tEA\t1\t0\tx\t" << true << false;
    }

    void renames()
    {
        QFETCH(QString, table);
        QFETCH(QStringList, keys);
        QFETCH(QString, badList);
        QFETCH(bool, marked);
        QFETCH(bool, renamedBefore);
        PushFixture f;
        const auto line = [](const char* item) { return QLatin1String(item) + QStringLiteral("\tEA\t1\t0\t2\t"); };
        const QString first = QStringList{line("AAA"), line("MMM"), line("OLD")}.join(QStringLiteral("\r\n"));
        f.remote.execute(
            QStringLiteral("INSERT INTO Bin (Station, MyNo) VALUES ('01', '%1')").arg(renamedBefore ? "A66" : "A06"));
        f.remote.execute(QStringLiteral("INSERT INTO Item (MyNo) VALUES ('%1')").arg(renamedBefore ? "BBB" : "OLD"));
        f.remote.execute(QStringLiteral("INSERT INTO Emp (MyNo, Items) VALUES ('E1', %1), ('E2', %2), ('E3', %3), "
                                        "('E4', NULL)")
                             .arg(db::quotedLiteral(badList.isEmpty() ? first : badList),
                                 db::quotedLiteral(line("OLD")), db::quotedLiteral(line("MMM"))));
        const int id = addHistory(f, table, keys.value(0), keys.value(1), keys.value(2));
        replay(f);

        QCOMPARE(!isPending(f, id), marked);
        QCOMPARE(f.events.recoveries, 0);
        QCOMPARE(f.events.failures.size(), marked && badList.isEmpty() ? 0 : 1);
        if (table.compare(QLatin1String("BinC"), Qt::CaseInsensitive) == 0) {
            QCOMPARE(f.traced(QStringLiteral("remote")).value(0),
                f.dm.updBinChange.sql().replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
            QCOMPARE(f.statements.updBinChange.parameter(QStringLiteral("Contact")).toString(),
                QStringLiteral("LocalBinChange"));
            QCOMPARE(f.remoteCount(QStringLiteral("Bin"), QStringLiteral("MyNo = 'A66'")), marked ? 1 : 0);
            return;
        }
        QCOMPARE(f.traced(QStringLiteral("remote")).value(0),
            f.dm.updItemChange.sql().replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QCOMPARE(f.statements.updItemChange.parameter(QStringLiteral("Contact")).toString(),
            QStringLiteral("LocalItemChange"));
        const bool renamed = keys.first() == QLatin1String("OLD");
        QCOMPARE(f.remoteCount(QStringLiteral("Item"), QStringLiteral("MyNo = 'BBB'")), renamed ? 1 : 0);
        if (marked) {
            QCOMPARE(employeeItems(f, QStringLiteral("E1")),
                badList.isEmpty() ? QStringList({line("AAA"), line("BBB"), line("MMM")}).join(QStringLiteral("\r\n"))
                                  : badList);
            QCOMPARE(employeeItems(f, QStringLiteral("E2")), line("BBB"));
        } else if (!renamed) {
            QCOMPARE(employeeItems(f, QStringLiteral("E1")), first);
        }
        QCOMPARE(employeeItems(f, QStringLiteral("E3")), line("MMM"));
        QVERIFY(f.remoteValue(QStringLiteral("SELECT Items FROM Emp WHERE MyNo = 'E4'")).isNull());
    }

    void failureMarkingTheHistoryEndsTheWalk()
    {
        PushFixture f;
        const int first = addHistory(f, QStringLiteral("ItemImage"), QStringLiteral("P1"));
        const int second = addHistory(f, QStringLiteral("ItemImage"), QStringLiteral("P2"));
        f.executeRaw(f.localFile(),
            QStringLiteral("CREATE TRIGGER Locked BEFORE UPDATE ON DeleteHst WHEN OLD.RecordID = %1 BEGIN SELECT "
                           "RAISE(ABORT, 'locked'); END")
                .arg(first));
        replay(f);
        QVERIFY(isPending(f, first));
        QVERIFY(isPending(f, second));
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures.first().key, QStringLiteral("P1"));
    }

    void scanReplaysTheHistoryFirst()
    {
        PushFixture f;
        f.remote.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A07')"));
        f.local.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, ASPProcessed) VALUES ('01', 'A01', 0)"));
        const int id = addHistory(f, QStringLiteral("BIN"), QStringLiteral("01"), QStringLiteral("A07"));
        f.clearTrace();
        f.push({QStringLiteral("Bin")});

        QCOMPARE(f.traced(QStringLiteral("remote")).value(0), QStringLiteral("Select top(1) * FROM [Bin]   "));
        QCOMPARE(f.events.progressTexts.mid(0, 3), QStringList({"DeleteHst", "DeleteHst record 1 out of 1", "Bin"}));
        QVERIFY(!isPending(f, id));
        QCOMPARE(f.remoteCount(QStringLiteral("Bin"), QStringLiteral("MyNo = 'A07'")), 0);
        QCOMPARE(f.remoteCount(QStringLiteral("Bin"), QStringLiteral("MyNo = 'A01'")), 1);
    }

    void demoHistoryIsReplayed()
    {
        PushFixture f({}, PushFixture::Databases::Demo);
        replay(f);
        QCOMPARE(f.events.failures.size(), 0);
        QCOMPARE(f.pendingCount(QStringLiteral("DeleteHst")), 0);
        QCOMPARE(f.events.done.size(), 5);
        QCOMPARE(f.remoteCount(QStringLiteral("Bin"), QStringLiteral("Station = '01' AND MyNo = 'A07'")), 0);
        QCOMPARE(f.remoteCount(QStringLiteral("DeleteHst"), QStringLiteral("TableName = 'Bin' AND Key2 = 'A07'")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("Bin"), QStringLiteral("Station = '01' AND MyNo = 'A66'")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("Item"), QStringLiteral("MyNo = 'GLV-XL'")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("Item"), QStringLiteral("MyNo = 'GLV-L'")), 0);
        QVERIFY(employeeItems(f, QStringLiteral("E100")).contains(QLatin1String("\r\nGLV-XL\t")));
        QCOMPARE(f.remoteCount(QStringLiteral("Issue"), QStringLiteral("TranNo = 5000 AND MyLineNo = 1")), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeletePropagation)
#include "TestDeletePropagation.moc"
