#include "ApplyFixture.h"
#include "apply/RecordApply.h"
#include "apply/TransactionEffects.h"
#include "step/EmployeeItems.h"

#include <QTest>

/// What a remote transaction does to the local stock before it is stored, and the item renames
/// carried into the employees' item lists.
class TestTransactionEffects : public QObject
{
    Q_OBJECT

private:
    /// A remote transaction; returns its RecordID.
    static int transaction(ApplyFixture& f, const QString& station, const QString& bin, const QString& type,
        const QString& quantity, int burn, const QString& poNo = QStringLiteral("NULL"),
        const QString& emp = QStringLiteral("'E1'"))
    {
        return f.insertRemote("MyTran",
            QStringLiteral("INSERT INTO MyTran (TranNo, Station, Bin, Type, Item, Quantity, BurnQty, PoNo, Emp, "
                           "CurOnHand2) VALUES (700, '%1', '%2', '%3', 'DRL', %4, %5, %6, %7, 555)")
                .arg(station, bin, type, quantity)
                .arg(burn)
                .arg(poNo, emp));
    }

    static QString bin(ApplyFixture& f)
    {
        return f.localValue("SELECT OnHand || '/' || BurnQty || '/' || OnOrder FROM Bin WHERE MyNo = 'A1'").toString();
    }

private Q_SLOTS:
    void binEffectsFollowTheType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("quantity");
        QTest::addColumn<int>("burn");
        QTest::addColumn<QString>("poNo");
        QTest::addColumn<QString>("expected"); // OnHand/BurnQty/OnOrder from 10/2/3
        QTest::newRow("PO orders") << "PO" << 5 << 1 << "NULL"
                                   << "10/2/9";
        QTest::newRow("PE orders") << "PE" << 5 << 0 << "NULL"
                                   << "10/2/8";
        QTest::newRow("R receives") << "R" << 3 << 1 << "NULL"
                                    << "13/3/3";
        QTest::newRow("I issues") << "I" << -4 << 0 << "NULL"
                                  << "6/2/3";
        QTest::newRow("I below zero is clamped") << "I" << -20 << -5 << "NULL"
                                                 << "0/0/3";
        QTest::newRow("S without PoNo") << "S" << 4 << 1 << "NULL"
                                        << "14/3/3";
        QTest::newRow("S with empty PoNo") << "S" << 4 << 1 << "''"
                                           << "14/3/3";
        QTest::newRow("S with PoNo") << "S" << 2 << 0 << "'PO7'"
                                     << "12/2/1";
        QTest::newRow("S with PoNo clamped") << "S" << 5 << 1 << "'PO7'"
                                             << "15/3/0";
        QTest::newRow("type letter case counts") << "i" << -4 << 0 << "NULL"
                                                 << "10/2/3";
        QTest::newRow("unknown type") << "XX" << 4 << 0 << "NULL"
                                      << "10/2/3";
    }

    void binEffectsFollowTheType()
    {
        QFETCH(QString, type);
        QFETCH(int, quantity);
        QFETCH(int, burn);
        QFETCH(QString, poNo);
        QFETCH(QString, expected);
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, OnHand, BurnQty, OnOrder) VALUES "
                        "('01', 'A1', 'DRL', 10, 2, 3), ('02', 'A1', 'DRL', 10, 2, 3)");
        const int id = transaction(f, "01", "A1", type, QString::number(quantity), burn, poNo);
        f.openSource("MyTran", id);
        QVERIFY(TransactionEffects(f.context).ApplyTransactionEffects(f.statements.qryASPFindRec));
        QCOMPARE(bin(f), expected);
        QCOMPARE(
            f.localValue("SELECT OnHand || '/' || BurnQty || '/' || OnOrder FROM Bin WHERE Station = '02'").toString(),
            QStringLiteral("10/2/3"));
    }

    void transactionIsStoredWithTheQuantitiesAfterItsEffect()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, OnHand, BurnQty, OnOrder) VALUES "
                        "('01', 'A1', 'DRL', 10, 2, 3)");
        f.local.execute("INSERT INTO MyTran (TranNo, Type, ASPProcessed) VALUES (1, 'R', 1), (2, 'R', 1)");
        const int id = transaction(f, "01", "A1", "R", "3", 1);
        f.openSource("MyTran", id);
        QVERIFY(RecordApply(f.context).ApplyRemoteRecord("MyTran"));
        QCOMPARE(bin(f), QStringLiteral("13/3/3"));
        QCOMPARE(f.localCount("MyTran"), 3);
        QCOMPARE(f.localValue("SELECT CurOnHand2 || '/' || CurBurn2 || '/' || ASPProcessed FROM MyTran WHERE "
                              "TranNo = 700")
                     .toString(),
            QStringLiteral("13/3/1"));

        // Applied again, it is found stored: the bin does not move again.
        QVERIFY(RecordApply(f.context).ApplyRemoteRecord("MYTRAN"));
        QCOMPARE(f.localCount("MyTran", "TranNo = 700"), 1);
        QCOMPARE(bin(f), QStringLiteral("13/3/3"));
    }

    void transactionForAnUnknownBinIsStoredWithoutEffect()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, OnHand, BurnQty, OnOrder) VALUES "
                        "('01', 'A1', 'DRL', 10, 2, 3)");
        const int id = transaction(f, "01", "A9", "R", "3", 1);
        f.openSource("MyTran", id);
        QVERIFY(RecordApply(f.context).ApplyRemoteRecord("MyTran"));
        QCOMPARE(bin(f), QStringLiteral("10/2/3"));
        QCOMPARE(f.localValue("SELECT CurOnHand2 FROM MyTran WHERE TranNo = 700").toInt(), 555);
        QVERIFY(f.events.failures.isEmpty());
    }

    void transactionThatFailsBeforeTheBinAnswersStaysPending()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, OnHand, BurnQty, OnOrder) VALUES "
                        "('01', 'A1', 'DRL', 10, 2, 3)");
        const int id = transaction(f, "01", "A1", "R", "'lots'", 1);
        f.openSource("MyTran", id);
        QVERIFY(!TransactionEffects(f.context).ApplyTransactionEffects(f.statements.qryASPFindRec));
        QCOMPARE(f.events.recoveries, 1);
        QVERIFY(!RecordApply(f.context).ApplyRemoteRecord("MyTran"));
        QCOMPARE(f.localCount("MyTran"), 0);
        QCOMPARE(bin(f), QStringLiteral("10/2/3"));
    }

    void issuesAtLimitedStationsMoveTheEmployeesQuantity_data()
    {
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("emp");
        QTest::addColumn<int>("expected"); // DRL quantity of E1, from 4
        QTest::addColumn<int>("processed");
        QTest::newRow("I at a limited station") << "02"
                                                << "I"
                                                << "E1" << 1 << 1;
        QTest::newRow("B at a limited station") << "02"
                                                << "B"
                                                << "E1" << 1 << 1;
        QTest::newRow("R at a limited station") << "02"
                                                << "R"
                                                << "E1" << 4 << 0;
        QTest::newRow("I at an open station") << "01"
                                              << "I"
                                              << "E1" << 4 << 0;
        QTest::newRow("I by another employee") << "02"
                                               << "I"
                                               << "E2" << 4 << 0;
    }

    void issuesAtLimitedStationsMoveTheEmployeesQuantity()
    {
        QFETCH(QString, station);
        QFETCH(QString, type);
        QFETCH(QString, emp);
        QFETCH(int, expected);
        QFETCH(int, processed);
        ApplyFixture f;
        f.local.execute("INSERT INTO Station (MyNo, LimitAccess) VALUES ('01', 0), ('02', 1)");
        f.local.execute("INSERT INTO Bin (Station, MyNo, Item, OnHand) VALUES ('01', 'A1', 'DRL', 10), "
                        "('02', 'A1', 'DRL', 10)");
        const QString e1 = QStringList{itemLine("AAA", 1), itemLine("drl", 4), itemLine("ZZZ", 2)}.join("\r\n");
        f.local.execute(QStringLiteral("INSERT INTO Emp (MyNo, Items, ASPProcessed) VALUES ('E1', '%1', 0), "
                                       "('E2', '%2', 0)")
                            .arg(e1, itemLine("XYZ", 9)));
        const int id = transaction(f, station, "A1", type, "-2", -1, "NULL", "'" + emp + "'");
        f.openSource("MyTran", id);
        QVERIFY(RecordApply(f.context).ApplyRemoteRecord("MyTran"));
        EmployeeItems items(f.localValue("SELECT Items FROM Emp WHERE MyNo = 'E1'").toString());
        QVERIFY(items.FindEmployeeItem("DRL"));
        QCOMPARE(items.FoundItemQuantity(), expected);
        QCOMPARE(items.lines().size(), 3);
        QCOMPARE(f.localValue("SELECT ASPProcessed FROM Emp WHERE MyNo = 'E1'").toInt(), processed);
        QCOMPARE(f.localValue("SELECT Items || ASPProcessed FROM Emp WHERE MyNo = 'E2'").toString(),
            itemLine("XYZ", 9) + "0");
    }

    void itemRenameReachesEveryEmployeesList()
    {
        ApplyFixture f;
        f.local.execute(
            QStringLiteral("INSERT INTO Emp (MyNo, Items, ASPProcessed) VALUES ('E1', '%1', 0), "
                           "('E2', '%2', 0), ('E3', NULL, 0)")
                .arg(QStringList{itemLine("AAA", 1), itemLine("tap-m8", 4), itemLine("ZZZ", 2)}.join("\r\n"),
                    itemLine("XYZ", 9)));
        QVERIFY(TransactionEffects(f.context).RenameItemInLocalEmployees("TAP-M8", "BIT-01"));
        const QString renamed = QStringList{itemLine("AAA", 1), itemLine("BIT-01", 4), itemLine("ZZZ", 2)}.join("\r\n");
        QCOMPARE(f.localValue("SELECT Items FROM Emp WHERE MyNo = 'E1'").toString(), renamed);
        QCOMPARE(f.localValue("SELECT group_concat(ASPProcessed) FROM (SELECT ASPProcessed FROM Emp ORDER BY MyNo)")
                     .toString(),
            QStringLiteral("1,0,0"));
        QCOMPARE(f.localValue("SELECT Items FROM Emp WHERE MyNo = 'E2'").toString(), itemLine("XYZ", 9));
    }

    // A malformed line leaves its list as it is; the rename still counts as done.
    void itemRenameSkipsABrokenListAndUpdatesTheOthers()
    {
        ApplyFixture f;
        f.local.execute(QStringLiteral("INSERT INTO Emp (MyNo, Items, ASPProcessed) VALUES ('E1', '%1', 0), "
                                       "('E2', '%2', 0), ('E3', '%1', 0)")
                            .arg(itemLine("OLD", 1), QStringLiteral("OLD\tEA\t1\t0\tmany\tnote")));
        QVERIFY(TransactionEffects(f.context).RenameItemInLocalEmployees("OLD", "NEW"));
        QCOMPARE(f.localValue("SELECT group_concat(substr(Items, 1, 3)) FROM (SELECT Items FROM Emp ORDER BY MyNo)")
                     .toString(),
            QStringLiteral("NEW,OLD,NEW"));
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.recoveries, 0);
    }
};

QTEST_GUILESS_MAIN(TestTransactionEffects)
#include "TestTransactionEffects.moc"
