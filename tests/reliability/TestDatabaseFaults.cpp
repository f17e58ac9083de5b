#include "ReliabilitySize.h"
#include "db/ConnectionPool.h"
#include "support/EngineSite.h"
#include "support/RawConnection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cstdio>

/// The databases failing under the agent in the middle of a cycle: the remote file gone, the
/// remote database refusing writes, one remote table refusing one row, the remote database and
/// the local database locked by another program. The agent keeps cycling, names every failure
/// in its log, loses nothing and moves no stock twice; once the fault is gone everything arrives.
class TestDatabaseFaults : public QObject
{
    Q_OBJECT

private:
    int m_scenarios = 0;
    int m_failuresLogged = 0;
    int m_cycles = 0;
    int m_lost = 0;
    int m_twice = 0;

    /// Local items, local transactions at bin B1 and outbox copies of remote items, `n` each.
    void seed(EngineSite& site, const QString& tag, int n)
    {
        site.remote.execute(
            QStringLiteral("INSERT INTO Bin (Station, MyNo, OnHand, Processed) VALUES ('01', 'B1', 1000, 1)"));
        site.local.execute(
            QStringLiteral("INSERT INTO Bin (Station, MyNo, OnHand, ASPProcessed) VALUES ('01', 'B1', 1000, 1)"));
        for (int i = 0; i < n; ++i) {
            site.local.execute(QStringLiteral("INSERT INTO Item (MyNo, ASPProcessed) VALUES (:v, 0)"),
                bind({QStringLiteral("%1-L%2").arg(tag).arg(i)}));
            site.local.execute(QStringLiteral("INSERT INTO MyTran (TranNo, MyDate, MyTime, Station, Bin, Type, Item, "
                                              "Quantity, BurnQty, Emp, ComputerName, ServerDateTime, ASPProcessed) "
                                              "VALUES (:v, '2026-12-01T00:00:00', '1899-12-30T08:00:00', '01', 'B1', "
                                              "'I', 'DRL', -1, 0, 'E1', :v1, :v2, 0)"),
                bind({7000 + i, site.machineName,
                    QDateTime(QDate(2026, 12, 1), QTime(8, 0)).addSecs(i).toString(Qt::ISODate)}));
            const int id = site.insertRemote(QStringLiteral("Item"),
                QStringLiteral("INSERT INTO Item (MyNo, Processed) VALUES (:v, 0)"),
                bind({QStringLiteral("%1-R%2").arg(tag).arg(i)}));
            site.remote.execute(QStringLiteral("INSERT INTO Outbox (ComputerName, TableName, Type, ID, Processed) "
                                               "VALUES (:v, 'Item', 'U', :v1, 0)"),
                bind({site.machineName, QString::number(id)}));
        }
    }

    /// Cycles until nothing is pending (at most `limit`), then checks that every row arrived once.
    void settle(EngineSite& site, const QString& tag, int n, int limit = 5)
    {
        for (int i = 0; i < limit; ++i) {
            site.cycle();
            ++m_cycles;
            const int pending = site.localValue("SELECT count(*) FROM Item WHERE ASPProcessed = 0").toInt()
                + site.localValue("SELECT count(*) FROM MyTran WHERE ASPProcessed = 0").toInt()
                + site.remoteValue("SELECT count(*) FROM Outbox WHERE Processed = 0").toInt();
            if (pending == 0)
                break;
        }
        for (int i = 0; i < n; ++i) {
            const int pushed = site.remoteValue("SELECT count(*) FROM Item WHERE MyNo = :v",
                                       bind({QStringLiteral("%1-L%2").arg(tag).arg(i)}))
                                   .toInt();
            const int applied = site.localValue("SELECT count(*) FROM Item WHERE MyNo = :v",
                                        bind({QStringLiteral("%1-R%2").arg(tag).arg(i)}))
                                    .toInt();
            const int sent
                = site.remoteValue("SELECT count(*) FROM MyTran WHERE TranNo = :v", bind({7000 + i})).toInt();
            m_lost += (pushed == 0) + (applied == 0) + (sent == 0);
            m_twice += qMax(0, sent - 1) + qMax(0, pushed - 1) + qMax(0, applied - 1);
            QVERIFY2(pushed == 1 && applied == 1 && sent == 1,
                qPrintable(QStringLiteral("%1 row %2: pushed %3, applied %4, transaction sent %5\n%6")
                               .arg(tag)
                               .arg(i)
                               .arg(pushed)
                               .arg(applied)
                               .arg(sent)
                               .arg(site.logText().right(2500))));
        }
        // Stock moved once per transaction.
        const int onHand = site.remoteValue("SELECT OnHand FROM Bin WHERE Station = '01' AND MyNo = 'B1'").toInt();
        QCOMPARE(onHand, 1000 - n);
        QCOMPARE(site.remoteValue("SELECT count(*) FROM Outbox WHERE Processed = 0").toInt(), 0);
    }

    int failuresIn(const EngineSite& site, const QString& text)
    {
        int count = 0;
        for (const QString& line : site.logText().split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String(" failure in ")) && line.contains(text, Qt::CaseInsensitive))
                ++count;
        }
        return count;
    }

private Q_SLOTS:
    void cleanupTestCase()
    {
        std::printf("database faults: scenarios=%d cycles=%d failures named in the log=%d rows lost=%d "
                    "rows or transactions twice=%d\n",
            m_scenarios, m_cycles, m_failuresLogged, m_lost, m_twice);
        std::fflush(stdout);
    }

    // The remote file disappears while the push is under way and comes back later.
    void remoteDisappearsMidCycle()
    {
        ++m_scenarios;
        EngineSite site;
        const int n = ReliabilitySize::pick(20, 100);
        seed(site, QStringLiteral("gone"), n);
        QVERIFY(site.start());
        const QString parked = site.remoteFile() + QStringLiteral(".away");
        int pumps = 0;
        site.host.onProcessEvents = [&] {
            if (++pumps == n / 2) {
                // A dropped link: the file goes, and no connection to it survives.
                db::ConnectionPool::instance().clear();
                QFile::rename(site.remoteFile(), parked);
            }
        };
        QVERIFY(!site.cycle());
        ++m_cycles;
        site.host.onProcessEvents = {};
        QVERIFY(!site.cycle()); // the probe fails while it is gone
        ++m_cycles;
        const int named = failuresIn(site, QStringLiteral("does not exist"));
        m_failuresLogged += named;
        QVERIFY2(named >= 2, qPrintable(site.logText()));
        QVERIFY(QFile::rename(parked, site.remoteFile()));
        settle(site, QStringLiteral("gone"), n);
    }

    // The remote file deleted, or replaced by a copy (a restore), between two cycles while the
    // pool keeps its connections: nothing may be marked sent that the file in place lacks, and a
    // file in place is the one used.
    void remoteFileDeletedOrReplacedUnderThePool_data()
    {
        QTest::addColumn<bool>("replaced");
        QTest::newRow("deleted") << false;
        QTest::newRow("replaced by a copy") << true;
    }

    void remoteFileDeletedOrReplacedUnderThePool()
    {
        QFETCH(bool, replaced);
        ++m_scenarios;
        EngineSite site;
        QVERIFY(site.start());
        QVERIFY(site.cycle());
        ++m_cycles;
        const QString copy = site.dir.filePath(QStringLiteral("copy.db"));
        QVERIFY(RawConnection(site.remoteFile()).exec(QStringLiteral("VACUUM INTO ") + CribRows::q(copy)));
        for (const QString& side : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::rename(site.remoteFile() + side, site.remoteFile() + QStringLiteral(".old") + side);
        if (replaced) {
            QVERIFY(QFile::rename(copy, site.remoteFile()));
            site.remote.open();
            const int id = site.insertRemote(
                QStringLiteral("Item"), QStringLiteral("INSERT INTO Item (MyNo, Processed) VALUES ('NEW-R', 0)"));
            site.remote.execute(QStringLiteral("INSERT INTO Outbox (ComputerName, TableName, Type, ID, Processed) "
                                               "VALUES (:v, 'Item', 'U', :v1, 0)"),
                bind({site.machineName, QString::number(id)}));
        }
        const int n = 4;
        for (int i = 0; i < n; ++i)
            site.local.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, ASPProcessed) VALUES ('01', :v, 0)"),
                bind({QStringLiteral("E%1").arg(i)}));
        QCOMPARE(site.cycle(), replaced);
        site.cycle();
        m_cycles += 2;
        const int pending = site.localValue("SELECT count(*) FROM Bin WHERE ASPProcessed = 0").toInt();
        if (replaced) {
            QCOMPARE(pending, 0);
            QCOMPARE(site.remoteValue("SELECT count(*) FROM Bin WHERE MyNo LIKE 'E%'").toInt(), n);
            QCOMPARE(site.localValue("SELECT count(*) FROM Item WHERE MyNo = 'NEW-R'").toInt(), 1);
        } else {
            QCOMPARE(pending, n);
            const int named = failuresIn(site, QFileInfo(site.remoteFile()).fileName());
            m_failuresLogged += named;
            QVERIFY2(named >= 2 && !site.log->lastSummary().contains(QLatin1String("; 0 failures")),
                qPrintable(site.logText()));
        }
    }

    // Writes refused by the whole remote database for one cycle (triggers raise on every insert).
    void remoteRefusesWritesMidCycle()
    {
        ++m_scenarios;
        EngineSite site;
        const int n = ReliabilitySize::pick(20, 100);
        seed(site, QStringLiteral("ro"), n);
        QVERIFY(site.start());
        int pumps = 0;
        RawConnection hosting(site.remoteFile());
        site.host.onProcessEvents = [&] {
            if (++pumps == 3) {
                for (const char* table : {"Item", "MyTran", "Outbox", "Bin"}) {
                    hosting.exec(QStringLiteral("CREATE TRIGGER refuse_%1_ins BEFORE INSERT ON %1 BEGIN SELECT "
                                                "RAISE(ABORT, 'the hosted database refuses writes'); END")
                                     .arg(QLatin1String(table)));
                    hosting.exec(QStringLiteral("CREATE TRIGGER refuse_%1_upd BEFORE UPDATE ON %1 BEGIN SELECT "
                                                "RAISE(ABORT, 'the hosted database refuses writes'); END")
                                     .arg(QLatin1String(table)));
                }
            }
        };
        site.cycle();
        ++m_cycles;
        site.host.onProcessEvents = {};
        const int named = failuresIn(site, QStringLiteral("refuses writes"));
        m_failuresLogged += named;
        QVERIFY2(named >= 2, qPrintable(site.logText()));
        for (const char* table : {"Item", "MyTran", "Outbox", "Bin"}) {
            hosting.exec(QStringLiteral("DROP TRIGGER refuse_%1_ins").arg(QLatin1String(table)));
            hosting.exec(QStringLiteral("DROP TRIGGER refuse_%1_upd").arg(QLatin1String(table)));
        }
        settle(site, QStringLiteral("ro"), n);
    }

    // One remote table refuses one row: that row waits, named in the log, while the other
    // tables go on; accepted later, it arrives once.
    void oneRowRefusedWhileOthersSync()
    {
        ++m_scenarios;
        EngineSite site;
        const int n = ReliabilitySize::pick(10, 50);
        seed(site, QStringLiteral("one"), n);
        site.local.execute("INSERT INTO Emp (MyNo, Name, ASPProcessed) VALUES ('BAD-1', 'refused', 0)");
        RawConnection hosting(site.remoteFile());
        QVERIFY(hosting.exec("CREATE TRIGGER refuse_bad BEFORE INSERT ON Emp WHEN NEW.MyNo LIKE 'BAD%' BEGIN "
                             "SELECT RAISE(ABORT, 'employee number not allowed'); END"));
        QVERIFY(site.start());
        site.cycle();
        site.cycle();
        m_cycles += 2;
        QCOMPARE(site.localValue("SELECT ASPProcessed FROM Emp WHERE MyNo = 'BAD-1'").toInt(), 0);
        const int named = failuresIn(site, QStringLiteral("table Emp, key MyNo=BAD-1"));
        m_failuresLogged += named;
        QVERIFY2(named == 2 && site.logText().contains("failed in 2 cycles in a row"), qPrintable(site.logText()));
        settle(site, QStringLiteral("one"), n);
        QVERIFY(hosting.exec("DROP TRIGGER refuse_bad"));
        site.cycle();
        ++m_cycles;
        QCOMPARE(site.remoteValue("SELECT count(*) FROM Emp WHERE MyNo = 'BAD-1'").toInt(), 1);
        QCOMPARE(site.localValue("SELECT ASPProcessed FROM Emp WHERE MyNo = 'BAD-1'").toInt(), 1);
    }

    // The remote database locked by another writer: shorter than the engine waits, the cycle
    // just waits; in the full form also longer, so that statements fail and are retried.
    void remoteLockedByAnotherWriter()
    {
        ++m_scenarios;
        EngineSite site;
        const int n = ReliabilitySize::pick(5, 20);
        seed(site, QStringLiteral("lock"), n);
        QVERIFY(site.start());
        RawConnection hosting(site.remoteFile());
        const int holdMs = ReliabilitySize::pick(2000, 12000);
        QElapsedTimer held;
        int pumps = 0;
        site.host.onProcessEvents = [&] {
            if (++pumps == 2) {
                QVERIFY(hosting.exec("BEGIN EXCLUSIVE"));
                QVERIFY(hosting.exec("UPDATE Company SET Name = Name"));
                held.start();
            }
            if (held.isValid() && held.elapsed() > holdMs) {
                hosting.exec("COMMIT");
                held.invalidate();
            }
        };
        site.cycle();
        ++m_cycles;
        if (held.isValid())
            hosting.exec("COMMIT");
        site.host.onProcessEvents = {};
        if (ReliabilitySize::full())
            m_failuresLogged += failuresIn(site, QStringLiteral("locked"));
        settle(site, QStringLiteral("lock"), n);
    }

    // The crib application holds the local database for longer than a cycle: the transactions
    // already sent cannot be marked, and are sent again once it lets go. They must not move the
    // remote stock twice.
    void localLockedLongerThanACycle()
    {
        ++m_scenarios;
        EngineSite site;
        const int n = 3;
        seed(site, QStringLiteral("crib"), n);
        QVERIFY(site.start());
        QVERIFY(site.cycle()); // nothing else pending than the seeded rows: they all go
        ++m_cycles;
        // New work, then the crib application takes the database.
        site.local.execute(QStringLiteral("INSERT INTO MyTran (TranNo, MyDate, MyTime, Station, Bin, Type, Item, "
                                          "Quantity, BurnQty, Emp, ComputerName, ServerDateTime, ASPProcessed) "
                                          "VALUES (7100, '2026-12-02T00:00:00', '1899-12-30T09:00:00', '01', 'B1', "
                                          "'I', 'DRL', -5, 0, 'E1', :v, '2026-12-02T09:00:00', 0)"),
            bind({site.machineName}));
        RawConnection crib(site.localFile());
        QVERIFY(crib.exec("BEGIN EXCLUSIVE"));
        QVERIFY(crib.exec("UPDATE Company SET Name = Name"));
        QVERIFY(!site.cycle());
        ++m_cycles;
        const int named = failuresIn(site, QStringLiteral("locked"));
        m_failuresLogged += named;
        QVERIFY2(named >= 1, qPrintable(site.logText()));
        QVERIFY(crib.exec("COMMIT"));
        site.cycle();
        site.cycle();
        m_cycles += 2;
        const int sent = site.remoteValue("SELECT count(*) FROM MyTran WHERE TranNo = 7100").toInt();
        m_twice += qMax(0, sent - 1);
        m_lost += sent == 0;
        QCOMPARE(sent, 1);
        QCOMPARE(site.localValue("SELECT ASPProcessed FROM MyTran WHERE TranNo = 7100").toInt(), 1);
        QCOMPARE(site.remoteValue("SELECT OnHand FROM Bin WHERE Station = '01' AND MyNo = 'B1'").toInt(), 1000 - n - 5);
    }
};

QTEST_GUILESS_MAIN(TestDatabaseFaults)
#include "TestDatabaseFaults.moc"
