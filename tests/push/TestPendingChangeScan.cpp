#include "PushFixture.h"
#include "db/DbError.h"
#include "db/Failpoint.h"
#include "db/SqlTokenizer.h"

#include <QTest>

/// Which tables the scan pushes, with which statements, and what it does when a statement fails.
class TestPendingChangeScan : public QObject
{
    Q_OBJECT

private:
    /// The delete history read that every scan starts with.
    static inline const QString kHistoryRead = QStringLiteral("Select * from DeleteHst\nwhere  ASPProcessed= 0\n");

    /// A table with an unsent-row flag on both sides (the remote one without it), one pending row.
    static void createPending(PushFixture& f, const QString& table)
    {
        f.local.execute(QStringLiteral("CREATE TABLE %1 (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Code "
                                       "varchar(12), Note varchar(20), ASPProcessed bit NOT NULL DEFAULT 0)")
                            .arg(db::bracketed(table)));
        f.remote.execute(QStringLiteral("CREATE TABLE %1 (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Code "
                                        "varchar(12), Note varchar(20), Processed bit)")
                             .arg(db::bracketed(table)));
        f.local.execute(
            QStringLiteral("INSERT INTO %1 (Code, Note) VALUES ('P1', 'pending')").arg(db::bracketed(table)));
    }

    static void insertPendingBin(PushFixture& f, const QString& bin)
    {
        f.local.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, ASPProcessed) VALUES ('01', '%1', "
                                       "'DRL', 0)")
                            .arg(bin));
    }

private Q_SLOTS:
    void neverPushedNamesAreSkipped_data()
    {
        QTest::addColumn<QString>("localName");
        QTest::addColumn<QString>("remoteName");
        QTest::newRow("MyUser") << "MyUser"
                                << "MyUser";
        QTest::newRow("MYUSER") << "MyUser"
                                << "MYUSER";
        QTest::newRow("myuser") << "MyUser"
                                << "myuser";
        QTest::newRow("DeleteHst") << "DeleteHst"
                                   << "DeleteHst";
        QTest::newRow("DELETEHST") << "DeleteHst"
                                   << "DELETEHST";
        QTest::newRow("deletehst") << "DeleteHst"
                                   << "deletehst";
        QTest::newRow("vw_ at the start") << "vw_Parts"
                                          << "vw_Parts";
        QTest::newRow("vw_ inside") << "Old_vw_Parts"
                                    << "Old_vw_Parts";
        // The databases ignore letter case for A to Z only: a Kelvin sign is not a K.
        QTest::newRow("Kelvin sign") << "Kettle" << QString(QChar(0x212A)) + "ettle";
    }

    void neverPushedNamesAreSkipped()
    {
        QFETCH(QString, localName);
        QFETCH(QString, remoteName);
        PushFixture f;
        if (localName.contains(QLatin1String("vw_")) || localName == QLatin1String("Kettle"))
            createPending(f, localName);
        else if (localName == QLatin1String("MyUser"))
            f.local.execute(QStringLiteral("INSERT INTO MyUser (MyNo, Password, ASPProcessed) VALUES ('U1', 'x', 0)"));
        else // a history row without a table name stays pending and sends nothing
            f.local.execute(
                QStringLiteral("INSERT INTO DeleteHst (TableName, Key1, ASPProcessed) VALUES ('', '01', 0)"));
        f.clearTrace();

        f.context.remoteTables = {remoteName};
        f.context.localTables = {localName};
        f.scan.PushPendingChanges();

        QCOMPARE(f.traced(QStringLiteral("local")), QStringList{kHistoryRead});
        QCOMPARE(f.traced(QStringLiteral("remote")), QStringList());
        QCOMPARE(f.pendingCount(localName), 1);
        QCOMPARE(f.events.recoveries, 0);
    }

    void listedNamesArePushed_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("capital VW is not skipped") << "Old_VW_Parts";
        QTest::newRow("a blank") << "Tool Parts";
        QTest::newRow("a letter without a one-letter capital") << "Maße";
    }

    void listedNamesArePushed()
    {
        QFETCH(QString, table);
        PushFixture f;
        createPending(f, table);
        f.push({table});
        QCOMPARE(f.remoteCount(db::bracketed(table), QStringLiteral("Code = 'P1' AND Processed = 1")), 1);
        QCOMPARE(f.pendingCount(db::bracketed(table)), 0);
        QCOMPARE(f.events.failures.size(), 0);
    }

    void localNameDifferingInCaseIsMatchedAndUsedAsSpelt()
    {
        PushFixture f;
        f.local.execute(
            QStringLiteral("INSERT INTO Item (MyNo, Description, ASPProcessed) VALUES ('RMR', 'Reamer', 0)"));
        f.clearTrace();
        f.context.remoteTables = {QStringLiteral("Item")};
        f.context.localTables = {QStringLiteral("ITEM")};
        f.scan.PushPendingChanges();

        QCOMPARE(f.traced(QStringLiteral("local")).mid(0, 2),
            QStringList({kHistoryRead, "Select * from [ITEM] as T where (T.ASPProcessed = 0) "}));
        QCOMPARE(
            f.traced(QStringLiteral("remote")).value(0), QStringLiteral("Select * FROM [Item] where RecordID = 0"));
        QCOMPARE(f.events.progressTexts.value(1), QStringLiteral("ITEM"));
        QCOMPARE(f.remoteCount(QStringLiteral("Item"), QStringLiteral("MyNo = 'RMR'")), 1);
        QCOMPARE(f.pendingCount(QStringLiteral("Item")), 0);
    }

    void transactionsAreReadInServerTimeOrder_data()
    {
        QTest::addColumn<int>("pageRows");
        QTest::newRow("one page") << 1000;
        QTest::newRow("pages of two") << 2;
        QTest::newRow("pages of one") << 1;
    }

    void transactionsAreReadInServerTimeOrder()
    {
        QFETCH(int, pageRows);
        PushFixture f;
        f.context.pageRows = pageRows;
        // Equal times go by RecordID; transactions without a time come first, as they sort.
        QStringList values;
        const QStringList times = {"'2026-12-01T08:00:00'", "NULL", "'2026-12-01T09:00:00'", "'2026-12-01T08:00:00'",
            "NULL", "'2026-12-01T07:00:00'"};
        for (int n = 0; n < times.size(); ++n)
            values << QStringLiteral("(%1, '01', 'A01', 'I', 'DRL', -1, 'E1', %2, 0)").arg(n + 1).arg(times[n]);
        f.local.execute(QStringLiteral("INSERT INTO MyTran (TranNo, Station, Bin, Type, Item, Quantity, Emp, "
                                       "ServerDateTime, ASPProcessed) VALUES ")
            + values.join(QStringLiteral(", ")));
        f.clearTrace();
        f.push({QStringLiteral("MyTran")});
        QCOMPARE(f.traced(QStringLiteral("local")).value(1),
            QStringLiteral("Select * from MyTran Where ASPProcessed = 0 Order By ServerDateTime"));
        QCOMPARE(f.traced(QStringLiteral("local"))
                     .count(QStringLiteral(
                         "Select count(*) as Pending, max(RecordID) as Highest from MyTran Where ASPProcessed = 0")),
            pageRows < times.size() ? 1 : 0);
        QCOMPARE(f.remoteValue(QStringLiteral("SELECT group_concat(TranNo) FROM (SELECT TranNo FROM MyTran ORDER BY "
                                              "RecordID)"))
                     .toString(),
            QStringLiteral("2,5,6,1,4,3"));
        QCOMPARE(f.pendingCount(QStringLiteral("MyTran")), 0);
    }

    void pagesComeInKeyOrderAndRowsLeftPendingOrAddedWait_data()
    {
        QTest::addColumn<int>("pageRows");
        QTest::newRow("one page") << 1000;
        QTest::newRow("pages of three") << 3;
        QTest::newRow("pages of one") << 1;
    }

    void pagesComeInKeyOrderAndRowsLeftPendingOrAddedWait()
    {
        QFETCH(int, pageRows);
        PushFixture f;
        f.context.pageRows = pageRows;
        for (int n = 1; n <= 7; ++n)
            f.local.execute(
                QStringLiteral("INSERT INTO Item (MyNo, Description, ASPProcessed) VALUES ('I%1', 'd', 0)").arg(n));
        // I3 changes whenever it is marked, so it stays pending; marking I1 adds I8.
        f.executeRaw(f.localFile(),
            QStringLiteral(
                "CREATE TRIGGER Busy AFTER UPDATE OF ASPProcessed ON Item BEGIN "
                "UPDATE Item SET Description = Description || 'x' WHERE NEW.MyNo = 'I3' AND RecordID = "
                "NEW.RecordID; INSERT INTO Item (MyNo, ASPProcessed) SELECT 'I8', 0 WHERE NEW.MyNo = 'I1'; END"));
        f.push({QStringLiteral("Item")});

        QCOMPARE(f.events.done.count(QStringLiteral("row pushed:ITEM")), 6);
        QCOMPARE(f.events.done.count(QStringLiteral("row changed while pushed, left pending:ITEM")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("Item")), 7);
        QCOMPARE(f.localValue(QStringLiteral("SELECT group_concat(MyNo) FROM Item WHERE ASPProcessed = 0")).toString(),
            QStringLiteral("I3,I8"));
        QCOMPARE(f.events.progressTexts.last(), QStringLiteral("ITEM record 7 out of 7"));
    }

    void longTablePushReportsHowFarItIsAndStopsAtItsBudget()
    {
        PushFixture f;
        for (int n = 1; n <= 10; ++n)
            f.local.execute(QStringLiteral("INSERT INTO Item (MyNo, ASPProcessed) VALUES ('I%1', 0)").arg(n));
        // I2 changes whenever it is marked: it stays pending.
        f.executeRaw(f.localFile(),
            QStringLiteral("CREATE TRIGGER Busy AFTER UPDATE OF ASPProcessed ON Item WHEN NEW.MyNo = 'I2' BEGIN "
                           "UPDATE Item SET Description = 'changed' WHERE RecordID = NEW.RecordID; END"));
        const QString leftPending = QStringLiteral("row changed while pushed, left pending:ITEM");
        // Each row takes 400 ms; a report comes at most once a second.
        f.context.progress.setClock([&f] { return qint64(f.events.pumps) * 400; });
        f.context.settings.timeBudgetSeconds = 2;
        QStringList reports;
        f.context.progress.setReporter(
            [&](CycleProgress& p) { reports << (p.current() ? p.currentText() : p.summaryText()); });
        f.context.progress.cycleStarted();
        f.push({QStringLiteral("Item")});

        QCOMPARE(reports.value(0), QStringLiteral("pushing ITEM: 0 of 10 rows (0%)"));
        QVERIFY2(reports.contains(QStringLiteral("pushing ITEM: 3 of 10 rows (30%), less than a minute left")),
            qPrintable(reports.join(QLatin1Char('\n'))));
        QCOMPARE(reports.last(), QStringLiteral("done ITEM 5 of 10 rows (the rest in the next cycle)"));
        QCOMPARE(reports.size(), 3);
        QCOMPARE(f.pendingCount(QStringLiteral("Item")), 6);
        QVERIFY(f.events.done.contains(QStringLiteral("push stopped at its time budget:ITEM")));
        QCOMPARE(f.events.done.count(leftPending), 1);

        // The next cycle goes on after the last row handled: I2 does not hold up the rest.
        f.context.progress.cycleStarted();
        f.push({QStringLiteral("Item")});
        QCOMPARE(f.pendingCount(QStringLiteral("Item")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("Item")), 10);
        QCOMPARE(f.events.done.count(leftPending), 1);
        // Past the end, the table starts again from its first pending row.
        f.context.progress.cycleStarted();
        f.push({QStringLiteral("Item")});
        QCOMPARE(f.events.done.count(leftPending), 2);
    }

    void stopRequestEndsThePushAfterTheRunningRow()
    {
        PushFixture f;
        for (int n = 1; n <= 5; ++n)
            f.local.execute(QStringLiteral("INSERT INTO Item (MyNo, ASPProcessed) VALUES ('I%1', 0)").arg(n));
        insertPendingBin(f, QStringLiteral("A01"));
        // The program is told to end (SIGTERM) once the second item is done: a report at every row.
        f.context.progress.setClock([&f] { return qint64(f.events.pumps) * 1000; });
        f.context.progress.setReporter([](CycleProgress& p) {
            if (p.current() && p.current()->done == 2)
                p.requestStop();
        });
        f.context.progress.cycleStarted();
        f.push({QStringLiteral("Item"), QStringLiteral("Bin")});

        QCOMPARE(f.pendingCount(QStringLiteral("Item")), 3);
        QCOMPARE(f.pendingCount(QStringLiteral("Bin")), 1);
        QVERIFY(f.events.done.contains(QStringLiteral("push stopped to end the program:ITEM")));
    }

    void progressGoesToTheLogOnceAMinute()
    {
        qint64 now = 0;
        CycleProgress progress([&now] { return now; });
        progress.cycleStarted();
        QList<bool> due;
        for (now = 0; now <= 130000; now += 10000)
            due << progress.logDue();
        QCOMPARE(due.count(true), 2);
        QVERIFY(due[6] && due[12]); // at one minute and at two
    }

    void tablesArePushedInRemoteListOrder()
    {
        PushFixture f;
        insertPendingBin(f, QStringLiteral("A01"));
        f.local.execute(QStringLiteral("INSERT INTO Item (MyNo, ASPProcessed) VALUES ('RMR', 0)"));
        f.context.remoteTables = {QStringLiteral("Item"), QStringLiteral("HostedNews"), QStringLiteral("Bin")};
        f.context.localTables = {QStringLiteral("Bin"), QStringLiteral("LocalNotes"), QStringLiteral("Item")};
        f.scan.PushPendingChanges();
        QCOMPARE(f.events.progressTexts,
            QStringList({"DeleteHst", "Item", "ITEM record 1 out of 1", "Bin", "BIN record 1 out of 1"}));
    }

    void tableWithoutUnsentFlagIsNeverQueried()
    {
        PushFixture f;
        f.local.execute(QStringLiteral("INSERT INTO Control (ComputerName) VALUES ('CRIB-01')"));
        f.clearTrace();
        f.push({QStringLiteral("Control")});
        QCOMPARE(f.traced(QStringLiteral("local")), QStringList{kHistoryRead});
        QCOMPARE(f.traced(QStringLiteral("remote")), QStringList());
        QVERIFY(f.context.scratchColumns.contains(QStringLiteral("ComputerName")));
        QVERIFY(!f.context.scratchColumns.contains(QStringLiteral("ASPProcessed"), Qt::CaseInsensitive));
    }

    void tableWithoutPendingRowsSendsNothingRemote()
    {
        PushFixture f;
        f.local.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, ASPProcessed) VALUES ('01', 'A01', 1)"));
        f.clearTrace();
        f.push({QStringLiteral("Bin")});
        QCOMPARE(f.traced(QStringLiteral("local")),
            QStringList({kHistoryRead, "Select * from [Bin] as T where (T.ASPProcessed = 0) "}));
        QCOMPARE(f.traced(QStringLiteral("remote")), QStringList());
        QVERIFY(!f.dm.AccessQry.isOpen());
    }

    void remoteTableWithoutRecordIdIsOpenedWithoutItsRows()
    {
        PushFixture f;
        f.local.execute(QStringLiteral("CREATE TABLE Gauges (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Code "
                                       "varchar(12), Size int, ASPProcessed bit NOT NULL DEFAULT 0)"));
        f.remote.execute(QStringLiteral("CREATE TABLE Gauges (Code varchar(12), Size int, Note varchar(20))"));
        f.local.execute(QStringLiteral("INSERT INTO Gauges (Code, Size) VALUES ('G1', 5)"));
        f.clearTrace();
        f.push({QStringLiteral("Gauges")});
        const QStringList remote = f.traced(QStringLiteral("remote"));
        QCOMPARE(remote.mid(0, 3),
            QStringList({"Select * FROM [Gauges] where RecordID = 0", "Select TOP 0 * FROM [Gauges]",
                "Select * from [Gauges] as T where T.[Size] = :k1"}));
        QCOMPARE(f.remoteCount(QStringLiteral("Gauges"), QStringLiteral("Code = 'G1'")), 1);
        QCOMPARE(f.pendingCount(QStringLiteral("Gauges")), 0);
        QCOMPARE(f.events.recoveries, 0);
    }

    void pictureTablesAreFirstOpenedByProcessed()
    {
        PushFixture f;
        f.local.execute(QStringLiteral("INSERT INTO ClassImage (MyNo, ASPProcessed) VALUES ('C1', 0)"));
        f.clearTrace();
        f.push({QStringLiteral("ClassImage")});
        QCOMPARE(f.traced(QStringLiteral("remote")).value(0),
            QStringLiteral("Select * FROM [ClassImage] where Processed = 0"));
        QCOMPARE(f.pendingCount(QStringLiteral("ClassImage")), 0);
    }

    void unsentFlagFailingAtQueryTimeIsSkippedQuietly()
    {
        PushFixture f;
        insertPendingBin(f, QStringLiteral("A01"));
        // The column listing names ASPProcessed, but reading the view fails with a message naming it.
        f.local.execute(QStringLiteral("CREATE VIEW Parts AS SELECT 1 AS RecordID, 'P1' AS Code, "
                                       "json_extract('{}', '$ASPProcessed') AS ASPProcessed"));
        f.remote.execute(QStringLiteral("CREATE TABLE Parts (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Code "
                                        "varchar(12), Note varchar(20), Processed bit)"));
        f.clearTrace();

        f.push({QStringLiteral("Parts"), QStringLiteral("Bin")});
        QCOMPARE(f.traced(QStringLiteral("local")).value(1),
            QStringLiteral("Select * from [Parts] as T where (T.ASPProcessed = 0) "));
        QCOMPARE(f.events.failures.size(), 0);
        QCOMPARE(f.events.recoveries, 0);
        QVERIFY(!f.traced(QStringLiteral("remote")).join(QLatin1Char('\n')).contains(QLatin1String("Parts")));
        QCOMPARE(f.pendingCount(QStringLiteral("Bin")), 0);
    }

    void otherPendingQueryFailureRecoversAndGoesOn()
    {
        PushFixture f;
        insertPendingBin(f, QStringLiteral("A01"));
        f.local.execute(QStringLiteral("CREATE VIEW Parts AS SELECT 1 AS RecordID, 'P1' AS Code, "
                                       "json_extract('not json', '$') AS ASPProcessed"));
        f.remote.execute(QStringLiteral("CREATE TABLE Parts (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Code "
                                        "varchar(12), Note varchar(20), Processed bit)"));

        f.push({QStringLiteral("Parts"), QStringLiteral("Bin")});
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].table, QStringLiteral("Parts"));
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.pendingCount(QStringLiteral("Bin")), 0);
    }

    void remoteTableThatCannotBeOpenedEndsTheScan()
    {
        PushFixture f;
        f.local.execute(QStringLiteral("CREATE TABLE Ghost (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Code "
                                       "varchar(12), Note varchar(20), ASPProcessed bit NOT NULL DEFAULT 0)"));
        f.local.execute(QStringLiteral("INSERT INTO Ghost (Code) VALUES ('X')"));
        insertPendingBin(f, QStringLiteral("A01"));
        f.push({QStringLiteral("Ghost"), QStringLiteral("Bin")});
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].table, QStringLiteral("Ghost"));
        QCOMPARE(f.pendingCount(QStringLiteral("Ghost")), 1);
        QCOMPARE(f.pendingCount(QStringLiteral("Bin")), 1);
    }

    void deletePropagationRunsFirst()
    {
        PushFixture f;
        insertPendingBin(f, QStringLiteral("A01"));
        f.local.execute(
            QStringLiteral("INSERT INTO DeleteHst (TableName, Key1, ASPProcessed) VALUES ('ItemImage', 'P1', 0)"));
        int pendingBinsSeen = -1;
        const Failpoint::Hook replayed([&](Failpoint::Point point) {
            if (point == Failpoint::Point::HistoryReplayed)
                pendingBinsSeen = f.pendingCount(QStringLiteral("Bin"));
        });
        f.push({QStringLiteral("Bin")});
        QCOMPARE(pendingBinsSeen, 1);
        QCOMPARE(f.pendingCount(QStringLiteral("Bin")), 0);
        QCOMPARE(f.pendingCount(QStringLiteral("DeleteHst")), 0);
    }

    void failedDeletePropagationIsReportedOnceAndTheScanGoesOn()
    {
        PushFixture f;
        insertPendingBin(f, QStringLiteral("A01"));
        f.local.execute(QStringLiteral("DROP TABLE DeleteHst"));
        f.push({QStringLiteral("Bin")});
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.events.failures.size(), 1);
        QVERIFY(f.events.failures[0].message.contains(QLatin1String("DeleteHst")));
        QCOMPARE(f.pendingCount(QStringLiteral("Bin")), 0);
    }
};

QTEST_GUILESS_MAIN(TestPendingChangeScan)
#include "TestPendingChangeScan.moc"
