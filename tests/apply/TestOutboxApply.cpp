#include "ApplyFixture.h"
#include "apply/OutboxApply.h"
#include "db/Failpoint.h"
#include "step/EmployeeItems.h"

#include <QTest>

/// One pass over the remote outbox: the kinds of order and their letter case, the order of
/// processing, which failures end the pass, and what is marked done.
class TestOutboxApply : public QObject
{
    Q_OBJECT

private:
    /// Runs one pass and returns the statements it traced, one a line.
    static QString tracedPass(ApplyFixture& f)
    {
        f.clearTrace();
        OutboxApply(f.context).ApplyRemoteOutbox();
        return f.traced().join(QLatin1Char('\n'));
    }

    static int remoteInt(ApplyFixture& f, const QString& sql) { return f.remoteValue(sql).toInt(); }

private Q_SLOTS:
    void emptyOutboxTouchesNothingLocal()
    {
        ApplyFixture f({}, {.trace = true});
        const int other = f.order("Bin", "D", "", "01", "A1", "", "CRIB-02");
        OutboxApply apply(f.context);
        const QString trace = tracedPass(f);
        QVERIFY(trace.contains(QStringLiteral("remote: Select * from Outbox")));
        QVERIFY(!trace.contains(QStringLiteral("local:")));
        QVERIFY(!f.entryProcessed(other));
        apply.ApplyRemoteOutbox();
        QCOMPARE(apply.outbox().recordCount(), 0);
    }

    void outboxIsReadAgainOnlyWhenItMayHaveChanged_data()
    {
        QTest::addColumn<bool>("throughClient");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("carriedOut");
        // An order written past this process after the cycle read the outbox waits for the next cycle.
        QTest::newRow("nothing sent since the cycle read it") << false << false << false;
        QTest::newRow("a remote statement sent since") << true << false << true;
        QTest::newRow("not read this cycle") << false << true << true;
    }

    void outboxIsReadAgainOnlyWhenItMayHaveChanged()
    {
        QFETCH(bool, throughClient);
        QFETCH(bool, closed);
        QFETCH(bool, carriedOut);
        ApplyFixture f;
        const QString order = QStringLiteral(
            "INSERT INTO Outbox (ComputerName, TableName, Type, ID, Processed) VALUES ('CRIB-01', 'Bin', 'A', '9', 0)");
        if (throughClient)
            f.remote.execute(order);
        else
            f.executeRemoteRaw(order);
        if (closed)
            f.statements.qryASPOutbox.close();
        OutboxApply(f.context).ApplyRemoteOutbox();
        QCOMPARE(f.remoteCount("Outbox", "Processed = 1"), carriedOut ? 1 : 0);
    }

    void entryKindsFollowTheirLetterCase()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Description) VALUES ('01', 'A1', 'old')");
        f.local.execute("INSERT INTO Item (MyNo, Description) VALUES ('X', 'old')");
        f.local.execute("INSERT INTO Emp (MyNo, Items) VALUES ('E1', 'old')");
        const int bin
            = f.insertRemote("Bin", "INSERT INTO Bin (Station, MyNo, Description) VALUES ('01', 'A1', 'new')");
        const int item = f.insertRemote("Item", "INSERT INTO Item (MyNo, Description) VALUES ('X', 'new')");
        const int emp = f.insertRemote("Emp", "INSERT INTO Emp (MyNo, Items) VALUES ('E1', 'list')");

        const int lowerC = f.order("Bin", "c", QString::number(bin), "A1", "A2");
        const int lowerD = f.order("Item", "d", QString::number(item), "X");
        const int lowerAc = f.order("ac", "A", QString::number(emp));
        const int upperAc = f.order("AC", "D", QString::number(emp));
        OutboxApply apply(f.context);
        apply.ApplyRemoteOutbox();

        QCOMPARE(f.localValue("SELECT MyNo || Description FROM Bin").toString(), QStringLiteral("A1new"));
        QCOMPARE(f.localValue("SELECT MyNo || Description FROM Item").toString(), QStringLiteral("Xnew"));
        QCOMPARE(f.localValue("SELECT Items FROM Emp").toString(), QStringLiteral("list"));
        QVERIFY(f.entryProcessed(lowerC));
        QVERIFY(f.entryProcessed(lowerD));
        QVERIFY(!f.entryProcessed(lowerAc));
        QVERIFY(f.entryProcessed(upperAc));
        QCOMPARE(remoteInt(f, "SELECT sum(Processed) FROM Bin") + remoteInt(f, "SELECT sum(Processed) FROM Item")
                + remoteInt(f, "SELECT sum(Processed) FROM Emp"),
            3);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].key, QString::number(lowerAc));
        QCOMPARE(f.events.recoveries, 0);
        QCOMPARE(f.events.done.size(), 3);
    }

    void entriesRunInRecordIdOrderAndFailuresDoNotStopLaterOnes_data()
    {
        QTest::addColumn<int>("pageRows");
        QTest::addColumn<int>("budgetSeconds"); // each entry takes a second
        QTest::newRow("one page") << 1000 << 0;
        QTest::newRow("pages of two") << 2 << 0;
        QTest::newRow("pages of one") << 1 << 0;
        // The third entry waits for the next cycle.
        QTest::newRow("two entries' time") << 2 << 2;
    }

    void entriesRunInRecordIdOrderAndFailuresDoNotStopLaterOnes()
    {
        QFETCH(int, pageRows);
        QFETCH(int, budgetSeconds);
        ApplyFixture f;
        f.context.pageRows = pageRows;
        f.context.settings.timeBudgetSeconds = budgetSeconds;
        f.context.progress.setClock([&f] { return qint64(f.events.pumps) * 1000; });
        f.local.execute("INSERT INTO Safety (Message) VALUES ('local')");
        f.local.execute("INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A1')");
        const int first = f.insertRemote("Safety", "INSERT INTO Safety (Message) VALUES ('first')");
        const int last = f.insertRemote("Safety", "INSERT INTO Safety (Message) VALUES ('last')");
        const int bin = f.insertRemote("Bin", "INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A8')");
        const QString insert = QStringLiteral("INSERT INTO Outbox (RecordID, ComputerName, TableName, Type, ID, Key1, "
                                              "Key2, Processed) VALUES (%1, 'CRIB-01', %2, %3, '%4', %5, %6, 0)");
        f.remote.execute(insert.arg(30).arg("'Safety'", "'A'").arg(last).arg("NULL", "NULL"));
        f.remote.execute(insert.arg(10).arg("'Safety'", "'A'").arg(first).arg("NULL", "NULL"));
        // A rename of a bin this computer does not have is refused by the local procedure.
        f.remote.execute(insert.arg(20).arg("'Bin'", "'C'").arg(bin).arg("'A7'", "'A8'"));
        // An order the hosted application adds while the pass runs waits for the next cycle.
        f.executeRemoteRaw(QStringLiteral("CREATE TRIGGER LateOrder AFTER UPDATE OF Processed ON Outbox WHEN "
                                          "NEW.RecordID = 10 BEGIN INSERT INTO Outbox (RecordID, ComputerName, "
                                          "TableName, Type, ID, Processed) VALUES (40, 'CRIB-01', 'Safety', 'A', "
                                          "'%1', 0); END")
                               .arg(first));

        OutboxApply(f.context).ApplyRemoteOutbox();
        const bool allDone = budgetSeconds == 0;
        QCOMPARE(f.localValue("SELECT Message FROM Safety").toString(),
            allDone ? QStringLiteral("last") : QStringLiteral("first"));
        QVERIFY(f.entryProcessed(10));
        QVERIFY(!f.entryProcessed(20));
        QCOMPARE(f.entryProcessed(30), allDone);
        QVERIFY(!f.entryProcessed(40));
        QCOMPARE(remoteInt(f, QStringLiteral("SELECT Processed FROM Bin WHERE RecordID = %1").arg(bin)), 0);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].key, QStringLiteral("20"));
        QCOMPARE(f.events.recoveries, 0);
        QCOMPARE(f.events.pumps, allDone ? 3 : 2);
        QCOMPARE(f.events.done.contains(QStringLiteral("outbox stopped at its time budget:")), !allDone);
    }

    void vanishedSourceRowsAreMarkedDone()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Description) VALUES ('01', 'A1', 'old')");
        const int copy = f.order("Bin", "A", "999");
        const int rename = f.order("Bin", "C", "999", "A1", "A2");
        const int list = f.order("AC", "A", "999");
        OutboxApply(f.context).ApplyRemoteOutbox();
        QVERIFY(f.entryProcessed(copy) && f.entryProcessed(rename) && f.entryProcessed(list));
        QCOMPARE(f.localValue("SELECT MyNo || Description FROM Bin").toString(), QStringLiteral("A1old"));
        QVERIFY(f.events.failures.isEmpty());
    }

    void unreadableSourceStaysPendingAndThePassGoesOn()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Safety (Message) VALUES ('local')");
        const int safety = f.insertRemote("Safety", "INSERT INTO Safety (Message) VALUES ('central')");
        // LocalNotes exists here but not in the remote database.
        const int broken = f.order("LocalNotes", "A", "1");
        const int later = f.order("Safety", "A", QString::number(safety));
        OutboxApply(f.context).ApplyRemoteOutbox();
        QVERIFY(!f.entryProcessed(broken));
        QVERIFY(f.entryProcessed(later));
        QCOMPARE(f.localValue("SELECT Message FROM Safety").toString(), QStringLiteral("central"));
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].table, QStringLiteral("LocalNotes"));
    }

    void tableNamesWithABlankAreBracketed()
    {
        ApplyFixture f;
        const char* create = "CREATE TABLE [Tool Kit] (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Code TEXT, "
                             "Processed INTEGER DEFAULT 0, ASPProcessed INTEGER DEFAULT 0)";
        f.local.execute(create);
        f.remote.execute(create);
        f.local.execute("INSERT INTO [Tool Kit] (Code) VALUES ('P2')");
        const int copied = f.insertRemote("[Tool Kit]", "INSERT INTO [Tool Kit] (Code) VALUES ('P1')");
        const QList<int> entries
            = {f.order("Tool Kit", "A", QString::number(copied)), f.order("Tool Kit", "D", "", "P2")};
        OutboxApply(f.context).ApplyRemoteOutbox();
        QCOMPARE(f.localValue("SELECT group_concat(Code) FROM [Tool Kit]").toString(), QStringLiteral("P1"));
        for (int entry : entries)
            QVERIFY(f.entryProcessed(entry));
        QCOMPARE(f.events.failures.size(), 0);
    }

    void issueCopiesTakeOnlyThisComputersLines()
    {
        ApplyFixture f;
        QVERIFY(f.context.flags.IssueHasComputerName);
        const int other
            = f.insertRemote("Issue", "INSERT INTO Issue (TranNo, MyLineNo, ComputerName) VALUES (60, 1, 'CRIB-02')");
        const int own
            = f.insertRemote("Issue", "INSERT INTO Issue (TranNo, MyLineNo, ComputerName) VALUES (61, 1, 'CRIB-01')");
        const int otherEntry = f.order("ISSUE", "A", QString::number(other));
        const int ownEntry = f.order("Issue", "A", QString::number(own));
        OutboxApply(f.context).ApplyRemoteOutbox();
        QCOMPARE(f.localValue("SELECT group_concat(TranNo) FROM Issue").toString(), QStringLiteral("61"));
        QVERIFY(f.entryProcessed(otherEntry) && f.entryProcessed(ownEntry));
        QCOMPARE(remoteInt(f, QStringLiteral("SELECT Processed FROM Issue WHERE RecordID = %1").arg(other)), 0);
        QCOMPARE(remoteInt(f, QStringLiteral("SELECT Processed FROM Issue WHERE RecordID = %1").arg(own)), 1);
    }

    void issueCopiesOfAnOlderRemoteSchemaGoByRecordId()
    {
        CribSchema::Options options;
        options.issueHasComputerName = false;
        ApplyFixture f(options);
        QVERIFY(!f.context.flags.IssueHasComputerName);
        const int id = f.insertRemote("Issue", "INSERT INTO Issue (TranNo, MyLineNo) VALUES (60, 1)");
        const int entry = f.order("Issue", "A", QString::number(id));
        OutboxApply(f.context).ApplyRemoteOutbox();
        QCOMPARE(f.localCount("Issue", "TranNo = 60 AND ASPProcessed = 1"), 1);
        QVERIFY(f.entryProcessed(entry));
    }

    void renamesRunTheLocalProcedures()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item) VALUES ('01', 'A5', 'TAP'), ('02', 'A5', 'DRL')");
        f.local.execute("INSERT INTO Item (MyNo) VALUES ('TAP')");
        f.local.execute(QStringLiteral("INSERT INTO Emp (MyNo, Items) VALUES ('E1', '%1')")
                            .arg(QStringList{itemLine("AAA", 1), itemLine("TAP", 2)}.join("\r\n")));
        const int bin = f.insertRemote("Bin", "INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A30')");
        const int item = f.insertRemote("Item", "INSERT INTO Item (MyNo) VALUES ('BIT')");
        const int binRename = f.order("Bin", "C", QString::number(bin), "A5", "A30");
        const int itemRename = f.order("item", "C", QString::number(item), "TAP", "BIT");
        const int refused = f.order("Item", "C", QString::number(item), "NONE", "BIT2");
        OutboxApply(f.context).ApplyRemoteOutbox();

        QCOMPARE(f.localValue("SELECT group_concat(Station || MyNo || Item) FROM (SELECT * FROM Bin ORDER BY Station)")
                     .toString(),
            QStringLiteral("01A30BIT,02A5DRL"));
        QCOMPARE(f.localValue("SELECT MyNo FROM Item").toString(), QStringLiteral("BIT"));
        const QString renamed = QStringList{itemLine("AAA", 1), itemLine("BIT", 2)}.join("\r\n");
        QCOMPARE(f.localValue("SELECT Items FROM Emp").toString(), renamed);
        QVERIFY(f.entryProcessed(binRename) && f.entryProcessed(itemRename));
        QVERIFY(!f.entryProcessed(refused));
        QCOMPARE(remoteInt(f, "SELECT sum(Processed) FROM Bin") + remoteInt(f, "SELECT sum(Processed) FROM Item"), 2);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.recoveries, 0);
    }

    // A transaction copied again (two entries, or an entry read again after its marking was lost)
    // moves the stock once, with NULL columns stored as 0 or ''. A malformed line in the
    // employee's list leaves the list alone but holds back neither the stock nor the entry.
    void transactionsMoveTheStockOnce_data()
    {
        QTest::addColumn<QString>("quantity"); // field 5 of the employee's DRL line
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("failures");
        QTest::newRow("well-formed list") << "4"
                                          << "2" << 0;
        QTest::newRow("malformed list") << "many"
                                        << "many" << 1;
    }

    void transactionsMoveTheStockOnce()
    {
        QFETCH(QString, quantity);
        QFETCH(QString, expected);
        QFETCH(int, failures);
        ApplyFixture f;
        f.local.execute("INSERT INTO Station (MyNo, LimitAccess) VALUES ('02', 1)");
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, OnHand) VALUES ('02', 'A1', 'DRL', 10)");
        f.local.execute(
            QStringLiteral("INSERT INTO Emp (MyNo, Items) VALUES ('E1', 'DRL\tEA\t1\t0\t%1\tnote')").arg(quantity));
        const int id = f.insertRemote("MyTran",
            "INSERT INTO MyTran (TranNo, MyDate, Station, Bin, Type, Item, Quantity, BurnQty, Emp) VALUES (700, "
            "'2026-12-01T00:00:00', '02', 'A1', 'I', 'DRL', -2, NULL, 'E1')");
        const int first = f.order("MyTran", "A", QString::number(id));
        const int second = f.order("MyTran", "A", QString::number(id));
        OutboxApply(f.context).ApplyRemoteOutbox();

        QCOMPARE(f.localValue("SELECT OnHand FROM Bin").toInt(), 8);
        QCOMPARE(f.localCount("MyTran"), 1);
        QVERIFY(f.entryProcessed(first) && f.entryProcessed(second));
        QCOMPARE(f.localValue("SELECT Items FROM Emp").toString().section('\t', 4, 4), expected);
        QCOMPARE(f.events.failures.size(), failures);
        QCOMPARE(f.events.recoveries, 0);
    }

    void transactionsDifferingOnlyInTheEmployeeAreBothStored()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, OnHand) VALUES ('02', 'A1', 'DRL', 10)");
        const QString tran
            = "INSERT INTO MyTran (TranNo, MyDate, Station, Bin, Type, Item, Quantity, Emp) VALUES (700, "
              "'2026-12-01T00:00:00', '02', 'A1', 'I', 'DRL', -2, '%1')";
        const int first = f.order("MyTran", "A", QString::number(f.insertRemote("MyTran", tran.arg("E1"))));
        const int second = f.order("MyTran", "A", QString::number(f.insertRemote("MyTran", tran.arg("E2"))));
        OutboxApply(f.context).ApplyRemoteOutbox();

        QVERIFY(f.entryProcessed(first) && f.entryProcessed(second));
        QCOMPARE(f.localCount("MyTran"), 2);
        QCOMPARE(f.localValue("SELECT OnHand FROM Bin").toInt(), 6);
    }

    void renameCarriedOutBeforeIsFinished_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("bin") << "Bin";
        QTest::newRow("item") << "Item";
    }

    void renameCarriedOutBeforeIsFinished()
    {
        QFETCH(QString, table);
        ApplyFixture f;
        // Renamed, then the power failed before the marks: the new numbers are in place, the
        // employee's list still holds the old item.
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item) VALUES ('01', 'A30', 'BIT')");
        f.local.execute("INSERT INTO Item (MyNo) VALUES ('BIT')");
        f.local.execute(QStringLiteral("INSERT INTO Emp (MyNo, Items) VALUES ('E1', '%1')")
                            .arg(QStringList{itemLine("AAA", 1), itemLine("TAP", 2)}.join("\r\n")));
        const bool bin = table == QLatin1String("Bin");
        const int source = bin ? f.insertRemote("Bin", "INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A30')")
                               : f.insertRemote("Item", "INSERT INTO Item (MyNo) VALUES ('BIT')");
        const int entry = bin ? f.order("Bin", "C", QString::number(source), "A5", "A30")
                              : f.order("Item", "C", QString::number(source), "TAP", "BIT");
        OutboxApply(f.context).ApplyRemoteOutbox();

        QVERIFY(f.entryProcessed(entry));
        QCOMPARE(remoteInt(f, "SELECT Processed FROM " + table), 1);
        QCOMPARE(f.localValue("SELECT Items FROM Emp").toString(),
            QStringList({itemLine("AAA", 1), itemLine(bin ? "TAP" : "BIT", 2)}).join("\r\n"));
        QVERIFY(f.events.failures.isEmpty());
    }

    void sourceChangedWhileItIsAppliedStaysPending()
    {
        ApplyFixture f;
        const int item = f.insertRemote("Item", "INSERT INTO Item (MyNo, Description) VALUES ('BIT', 'first')");
        const int entry = f.order("Item", "A", QString::number(item));
        // The hosted application writes the source row between the apply's read and its mark.
        const Failpoint::Hook hosted([&](Failpoint::Point point) {
            if (point == Failpoint::Point::ApplyWritten)
                f.remote.execute("UPDATE Item SET Description = 'second', Processed = 0 WHERE MyNo = 'BIT'");
        });
        OutboxApply(f.context).ApplyRemoteOutbox();

        QVERIFY(f.entryProcessed(entry));
        QCOMPARE(f.localValue("SELECT Description FROM Item WHERE MyNo = 'BIT'").toString(), QStringLiteral("first"));
        QCOMPARE(remoteInt(f, "SELECT Processed FROM Item WHERE MyNo = 'BIT'"), 0);
    }

    void sourceMarkedOnlyWhileItHoldsWhatWasApplied_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("insert");
        QTest::addColumn<QString>("hosted");
        QTest::addColumn<int>("processed");
        // Remote round trips of the pass: the outbox, the source row, the mark with its read-back
        // in one batch (and the undone mark of a changed row), the entry's mark.
        QTest::addColumn<int>("roundTrips");
        QTest::newRow("date stored in another text form")
            << "Bin"
            << "INSERT INTO Bin (Station, MyNo, Item, LastCount) VALUES ('S1', 'B1', 'BIT', '2026-12-03 08:00:00')"
            << "" << 1 << 4;
        QTest::newRow("case-only change") << "Item"
                                          << "INSERT INTO Item (MyNo, Description) VALUES ('BIT', 'abc')"
                                          << "UPDATE Item SET Description = 'ABC', Processed = 0" << 0 << 5;
        // The row's first order marked it already; the hosted application's next change must not
        // be marked by the undo of the second order's mark.
        QTest::newRow("changed under its second order")
            << "Item"
            << "INSERT INTO Item (MyNo, Description, Processed) VALUES ('BIT', 'abc', 1)"
            << "UPDATE Item SET Description = 'new', Processed = 0" << 0 << 5;
    }

    void sourceMarkedOnlyWhileItHoldsWhatWasApplied()
    {
        QFETCH(QString, table);
        QFETCH(QString, insert);
        QFETCH(QString, hosted);
        QFETCH(int, processed);
        QFETCH(int, roundTrips);
        ApplyFixture f;
        const int source = f.insertRemote(table, insert);
        const int entry = f.order(table, "A", QString::number(source));
        qint64 hostedStatements = 0;
        const Failpoint::Hook write([&](Failpoint::Point point) {
            if (point == Failpoint::Point::ApplyWritten && !hosted.isEmpty()) {
                f.remote.execute(hosted);
                hostedStatements = 1;
            }
        });
        const qint64 before = db::Connection::traffic(QStringLiteral("remote")).statements;
        OutboxApply(f.context).ApplyRemoteOutbox();
        const qint64 sent = db::Connection::traffic(QStringLiteral("remote")).statements - before - hostedStatements;

        QVERIFY(f.entryProcessed(entry));
        QCOMPARE(remoteInt(f, "SELECT Processed FROM " + table), processed);
        QCOMPARE(sent, roundTrips);
    }

    void employeeListCopies()
    {
        ApplyFixture f({}, {.trace = true});
        f.local.execute("INSERT INTO Emp (MyNo, Items, ASPProcessed) VALUES ('E1', 'old', 0)");
        const int known = f.insertRemote("Emp", "INSERT INTO Emp (MyNo, Items) VALUES ('E1', 'new list')");
        const int unknown = f.insertRemote("Emp", "INSERT INTO Emp (MyNo, Items) VALUES ('E9', 'other')");
        const int knownEntry = f.order("AC", "A", QString::number(known));
        const int unknownEntry = f.order("AC", "A", QString::number(unknown));
        const int quoted = f.order("AC", "A", "1' OR '1'='1");
        const QString trace = tracedPass(f);

        QCOMPARE(f.localValue("SELECT Items || ASPProcessed FROM Emp").toString(), QStringLiteral("new list1"));
        QCOMPARE(f.localCount("Emp"), 1);
        // An employee unknown here is done: the list comes with the employee row.
        QVERIFY(f.entryProcessed(knownEntry) && f.entryProcessed(unknownEntry) && f.entryProcessed(quoted));
        QCOMPARE(remoteInt(f, "SELECT sum(Processed) FROM Emp"), 2);
        // The order's ID is a value bound to the statement, never part of its text.
        QVERIFY(trace.contains(QStringLiteral("Select * from Emp where (RecordID = :ID)")));
        QVERIFY(!trace.contains(QStringLiteral("1' OR")));
        QVERIFY(f.events.failures.isEmpty());
    }

    void hostileTableNamesExecuteNothing()
    {
        ApplyFixture f({}, {.trace = true});
        f.local.execute("INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A1'), ('01', 'A2')");
        const int bin = f.insertRemote("Bin", "INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A1')");
        const QString hostile = QStringLiteral("Bin where 1 = 1; DELETE FROM Bin --");
        QList<int> entries;
        for (const char* type : {"A", "C", "D"})
            entries << f.order(hostile, QLatin1String(type), QString::number(bin), "01", "A1");
        const QString trace = tracedPass(f);
        QVERIFY(trace.contains(QStringLiteral("remote: Select * from Outbox")));
        QVERIFY(!trace.contains(QStringLiteral("1 = 1")));
        QVERIFY(!trace.contains(QStringLiteral("local: Select")));
        for (int entry : entries)
            QVERIFY(!f.entryProcessed(entry));
        QCOMPARE(f.localCount("Bin"), 2);
        QCOMPARE(remoteInt(f, "SELECT count(*) FROM Bin"), 1);
        QCOMPARE(f.events.failures.size(), 3);
        QCOMPARE(f.events.recoveries, 0);
    }

    // Entries that no statement can carry stay pending, are named, and the pass goes on.
    void unusableEntriesStayPendingAndTheRestGoOn()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Safety (Message) VALUES ('local')");
        f.local.execute("INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A1')");
        const int safety = f.insertRemote("Safety", "INSERT INTO Safety (Message) VALUES ('central')");
        const int kit = f.insertRemote("Kit", "INSERT INTO Kit (KitNo, Item) VALUES ('K1', 'DRL')");
        const QString nul = QStringLiteral("1") + QChar(0) + QStringLiteral("2");
        const QString kelvinKit = QChar(0x212A) + QStringLiteral("it");
        const QList<QStringList> unusable = {{"Safety", "A", nul, ""}, {"Bin", "D", "", nul},
            {"Bin", "C", QString::number(safety), nul}, {kelvinKit, "A", QString::number(kit), ""}};
        QList<int> entries;
        for (const QStringList& e : unusable) {
            db::NamedValues values;
            const QStringList names = {"table", "type", "id", "key"};
            for (int i = 0; i < names.size(); ++i)
                values.set(names[i], e[i]);
            f.remote.execute("INSERT INTO Outbox (ComputerName, TableName, Type, ID, Key1, Key2, Processed) VALUES "
                             "('CRIB-01', :table, :type, :id, :key, 'A2', 0)",
                values);
            entries << f.remoteValue("SELECT max(RecordID) FROM Outbox").toInt();
        }
        const int later = f.order("Safety", "A", QString::number(safety));
        OutboxApply(f.context).ApplyRemoteOutbox();

        QVERIFY(f.entryProcessed(later));
        QCOMPARE(f.localValue("SELECT Message FROM Safety").toString(), QStringLiteral("central"));
        QCOMPARE(f.localCount("Bin"), 1);
        QCOMPARE(f.localCount("Kit"), 0);
        QCOMPARE(f.events.failures.size(), entries.size());
        for (int i = 0; i < entries.size(); ++i) {
            QVERIFY(!f.entryProcessed(entries[i]));
            QCOMPARE(f.events.failures[i].key, QString::number(entries[i]));
        }
        QCOMPARE(f.events.recoveries, 0);
    }

    void demoOutboxIsAppliedAsItsOrdersDescribe()
    {
        ApplyFixture f({}, {.databases = ApplyFixture::Databases::Demo, .machineName = QStringLiteral("CRIB-07")});
        const auto localValue = [&](const QString& sql) { return f.localValue(sql); };
        const auto remoteValue = [&](const QString& sql) { return f.remoteValue(sql); };
        const int orders = remoteValue("SELECT count(*) FROM Outbox WHERE ComputerName = 'CRIB-07'").toInt();
        const int tranCount = localValue("SELECT count(*) FROM MyTran").toInt();
        const int dailyCount = localValue("SELECT count(*) FROM DailyInventory").toInt();

        OutboxApply(f.context).ApplyRemoteOutbox();

        QVERIFY2(f.events.failures.isEmpty(), qPrintable(f.events.failures.value(0).message));
        QCOMPARE(f.events.recoveries, 0);
        QCOMPARE(f.events.done.size(), orders);
        QCOMPARE(
            remoteValue("SELECT count(*) FROM Outbox WHERE ComputerName = 'CRIB-07' AND Processed = 0").toInt(), 0);
        // The other computer's order is left alone, and so is the bin it names.
        QCOMPARE(remoteValue("SELECT Processed FROM Outbox WHERE ComputerName = 'CRIB-OTHER'").toInt(), 0);
        QCOMPARE(localValue("SELECT count(*) FROM Bin WHERE Station = '01' AND MyNo = 'A01'").toInt(), 1);

        // Item update.
        QCOMPARE(localValue("SELECT Description || '/' || UnitPrice || '/' || ASPProcessed FROM Item WHERE MyNo = "
                            "'DRL-0125'")
                     .toString(),
            QStringLiteral("Drill 1/8 cobalt/4.1/1"));
        // New bin, without the central quantities.
        QCOMPARE(localValue("SELECT Description || '/' || OnHand || '/' || ASPProcessed FROM Bin WHERE Station = '02' "
                            "AND MyNo = 'B20'")
                     .toString(),
            QStringLiteral("added centrally/0/1"));
        // Issue of 2 from bin A11 (21 on hand) at the limited-access station 02, by E200.
        QCOMPARE(localValue("SELECT OnHand FROM Bin WHERE Station = '02' AND MyNo = 'A11'").toInt(), 19);
        QCOMPARE(localValue("SELECT count(*) FROM MyTran").toInt(), tranCount + 1);
        QCOMPARE(localValue("SELECT CurOnHand2 || '/' || ASPProcessed FROM MyTran WHERE TranNo = 7001").toString(),
            QStringLiteral("19/1"));
        EmployeeItems bob(localValue("SELECT Items FROM Emp WHERE MyNo = 'E200'").toString());
        QVERIFY(bob.FindEmployeeItem("INS-CNMG"));
        QCOMPARE(bob.FoundItemQuantity(), 8);
        // Item list copy of E300, then the item rename TAP-M8 -> TAP-M8X1 in every list.
        EmployeeItems chen(localValue("SELECT Items FROM Emp WHERE MyNo = 'E300'").toString());
        QCOMPARE(chen.lines().size(), 2);
        QVERIFY(chen.FindEmployeeItem("SAF-GLS"));
        QVERIFY(chen.FindEmployeeItem("TAP-M8X1"));
        EmployeeItems alice(localValue("SELECT Items FROM Emp WHERE MyNo = 'E100'").toString());
        QVERIFY(alice.FindEmployeeItem("TAP-M8X1"));
        QVERIFY(!alice.FindEmployeeItem("TAP-M8"));
        QCOMPARE(localValue("SELECT count(*) FROM Item WHERE MyNo = 'TAP-M8X1'").toInt(), 1);
        QCOMPARE(localValue("SELECT count(*) FROM Bin WHERE Item = 'TAP-M8'").toInt(), 0);
        // Bin rename A05 -> A30 at station 01, and the delete of A14 at station 02.
        QCOMPARE(localValue("SELECT group_concat(MyNo) FROM Bin WHERE MyNo IN ('A05', 'A30', 'A14')").toString(),
            QStringLiteral("A30"));
        // Safety message replaces the local one; the daily inventory row is added.
        QCOMPARE(localValue("SELECT group_concat(Message) FROM Safety").toString(),
            QStringLiteral("Hearing protection required"));
        QCOMPARE(localValue("SELECT count(*) FROM DailyInventory").toInt(), dailyCount + 1);
        QCOMPARE(
            localValue("SELECT OnHand FROM DailyInventory WHERE Station = '02' AND Item = 'END-0500'").toInt(), 17);
        // A report the crib does not have is not added.
        QCOMPARE(localValue("SELECT count(*) FROM Report WHERE Name = 'By employee'").toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOutboxApply)
#include "TestOutboxApply.moc"
