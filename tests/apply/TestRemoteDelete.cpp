#include "ApplyFixture.h"
#include "apply/RemoteDelete.h"

#include <QTest>

/// Remote delete orders: the local row the keys name is deleted, orders the rules pass over count
/// as done, and orders that cannot be carried out stay pending.
class TestRemoteDelete : public QObject
{
    Q_OBJECT

private:
    static bool remove(
        ApplyFixture& f, const QString& table, const QString& key1, const QString& key2 = {}, const QString& key3 = {})
    {
        return RemoteDelete(f.context).ApplyRemoteDelete(table, key1, key2, key3, QStringLiteral("3"));
    }

private Q_SLOTS:
    void deletesTheRowTheKeysName_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("victim");
        QTest::newRow("two keys") << "bin"
                                  << "INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A1'), ('01', 'A2'), ('02', 'A1')"
                                  << QStringList{"01", "A1", ""} << "Station = '01' AND MyNo = 'A1'";
        QTest::newRow("one key") << "Item"
                                 << "INSERT INTO Item (MyNo) VALUES ('X'), ('Y')" << QStringList{"Y", "", ""}
                                 << "MyNo = 'Y'";
        QTest::newRow("quote in a key") << "Item"
                                        << "INSERT INTO Item (MyNo) VALUES ('O''Brien'), ('O')"
                                        << QStringList{"O'Brien", "", ""} << "MyNo = 'O''Brien'";
        QTest::newRow("three keys") << "BinAttrib1"
                                    << "INSERT INTO BinAttrib1 (Station, Bin, Container) VALUES ('01', 'A1', 'C1'), "
                                       "('01', 'A1', 'C2')"
                                    << QStringList{"01", "A1", "C2"} << "Container = 'C2'";
        QTest::newRow("RoboMinMax") << "RoboMinMax"
                                    << "INSERT INTO RoboMinMax (Station, Item, PkgQty) VALUES ('01', 'X', 5), "
                                       "('01', 'X', 6)"
                                    << QStringList{"01", "X", "6"} << "PkgQty = 6";
        QTest::newRow("Regrind") << "REGRIND"
                                 << "INSERT INTO Regrind (RegrindID) VALUES (7), (8)" << QStringList{"7", "", ""}
                                 << "RegrindID = 7";
        QTest::newRow("CalHistory") << "calhistory"
                                    << "INSERT INTO CalHistory (CalibrateID) VALUES (3), (4)"
                                    << QStringList{"3", "", ""} << "CalibrateID = 3";
        QTest::newRow("Issue of any computer") << "Issue"
                                               << "INSERT INTO Issue (TranNo, MyLineNo) VALUES (50, 1), (50, 2)"
                                               << QStringList{"50", "1", ""} << "MyLineNo = 1";
        QTest::newRow("Issue of this computer") << "ISSUE"
                                                << "INSERT INTO Issue (TranNo, MyLineNo) VALUES (50, 1), (50, 2)"
                                                << QStringList{"50", "2", "crib-01"} << "MyLineNo = 2";
        // A key the deleted row had NULL comes as an empty key.
        QTest::newRow("NULL key") << "Bin"
                                  << "INSERT INTO Bin (Station, MyNo) VALUES (NULL, 'A1'), ('01', 'A1')"
                                  << QStringList{"", "A1", ""} << "Station IS NULL";
    }

    void deletesTheRowTheKeysName()
    {
        QFETCH(QString, table);
        QFETCH(QString, rows);
        QFETCH(QStringList, keys);
        QFETCH(QString, victim);
        ApplyFixture f;
        f.local.execute(rows);
        const int before = f.localCount(table);
        QVERIFY(remove(f, table, keys[0], keys[1], keys[2]));
        QCOMPARE(f.localCount(table, victim), 0);
        QCOMPARE(f.localCount(table), before - 1);
        QVERIFY(f.events.failures.isEmpty());
    }

    void ordersWithNothingToDeleteAreDone()
    {
        ApplyFixture f({}, {.trace = true});
        f.local.execute("INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A1')");
        f.local.execute("INSERT INTO Issue (TranNo, MyLineNo) VALUES (50, 1)");
        QVERIFY(remove(f, "Bin", "01", "A9"));
        QVERIFY(remove(f, "Issue", "50", "1", "CRIB-02"));
        QCOMPARE(f.localCount("Bin") + f.localCount("Issue"), 2);

        f.clearTrace();
        QVERIFY(remove(f, "ItemImage", "X") && remove(f, "CLASSIMAGE", "X") && remove(f, "EmpImage", "X"));
        QCOMPARE(f.traced(), QStringList());
        QVERIFY(f.events.failures.isEmpty());
    }

    void ordersThatCannotBeBuiltStayPending()
    {
        ApplyFixture f;
        // LocalNotes has three columns: a third key has no column to compare with.
        f.local.execute("INSERT INTO LocalNotes (Note) VALUES ('a')");
        QVERIFY(!remove(f, "LocalNotes", "a", "b", "c"));
        QCOMPARE(f.localCount("LocalNotes"), 1);
        QVERIFY(!remove(f, "HostedNews", "a"));
        QCOMPARE(f.events.recoveries, 2);
        QCOMPARE(f.events.failures.size(), 2);
        QCOMPARE(f.events.failures[0].key, QStringLiteral("3"));
    }

    void refusedDeleteStaysPending()
    {
        ApplyFixture f;
        f.local.execute("INSERT INTO Kit (KitNo, Item) VALUES ('K1', 'X')");
        f.executeRaw(
            f.localFile(), "CREATE TRIGGER KeepKits BEFORE DELETE ON Kit BEGIN SELECT RAISE(ABORT, 'kits stay'); END");
        QVERIFY(!remove(f, "Kit", "K1", "X"));
        QCOMPARE(f.localCount("Kit"), 1);
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.events.failures.size(), 1);
        QVERIFY(f.events.failures[0].message.contains(QStringLiteral("kits stay")));
    }
};

QTEST_GUILESS_MAIN(TestRemoteDelete)
#include "TestRemoteDelete.moc"
