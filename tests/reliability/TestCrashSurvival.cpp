#include "ReliabilitySize.h"
#include "db/Connection.h"
#include "support/AgentProcess.h"
#include "support/CribSites.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>

/// Power cuts: the real executable works through a large backlog both ways (pending local rows
/// and transactions, outbox orders) and is killed with SIGKILL at random moments, then started
/// again, until the backlog is gone. Afterwards every local change is on the remote database
/// once, every order was carried out and marked once, and every bin holds what its
/// transactions say: nothing lost, nothing moved twice.
///
/// The moments come from a seeded generator (CRIBSYNC_SEED repeats a run; the seed is printed).
/// Reduced: 15 kills over batches of 150 rows each way; CRIBSYNC_SIZE=full: 60 kills over batches
/// of 500.
class TestCrashSurvival : public QObject
{
    Q_OBJECT

private:
    static constexpr int StartOnHand = 10000;
    const QString m_machine = QStringLiteral("CRIB-01");

private Q_SLOTS:
    void killedAgainAndAgainLosesNothingAndMovesNothingTwice()
    {
        const int rows = ReliabilitySize::pick(150, 500);
        const int killsWanted = ReliabilitySize::pick(15, 60);
        const quint32 seed = qEnvironmentVariableIsSet("CRIBSYNC_SEED")
            ? quint32(qEnvironmentVariableIntValue("CRIBSYNC_SEED"))
            : QRandomGenerator::system()->generate();
        QRandomGenerator random(seed);

        QTemporaryDir root;
        CribSites::Options options;
        options.binsPerCrib = 12;
        options.binOnHand = StartOnHand;
        // Issues at a limited-access crib also change the employees' item lists; the bins are
        // the stock this suite counts.
        options.limitAccess = false;
        CribSites sites(root.path(), options);
        const CribComputer crib = sites.addComputer(m_machine);

        // The backlog: local rows and transactions, and outbox orders of copies, transactions
        // and deletes, interleaved so that a kill can land in any kind of work.
        QHash<QString, int> pushedToBin; // remote bin -> quantity moved by local transactions
        QHash<QString, int> appliedToBin; // local bin -> quantity moved by hosted transactions
        QStringList localItems;
        QList<qint64> localTransactions, hostedTransactions;
        QStringList hostedItems;
        int seeded = 0;
        const auto seedBatch = [&] {
            for (int n = 0; n < rows; ++n, ++seeded) {
                const int i = seeded;
                const QString item = QStringLiteral("LOC-%1").arg(i, 5, 10, QLatin1Char('0'));
                sites.insertLocal(m_machine, "Item", {{"MyNo", item}, {"Description", "crib item"}});
                localItems << item;

                CribTransaction t;
                t.tranNo = 100000 + i;
                t.bin = CribSites::binNo(1 + i % options.binsPerCrib);
                t.item = CribSites::itemNo(1 + i % options.items);
                t.type = i % 3 == 0 ? QStringLiteral("R") : QStringLiteral("I");
                t.quantity = i % 3 == 0 ? 1 + i % 4 : -(1 + i % 3);
                t.when = QDateTime(QDate(2026, 12, 1), QTime(6, 0)).addSecs(i);
                sites.addLocalTransaction(m_machine, t);
                pushedToBin[t.bin] += t.quantity;
                localTransactions << t.tranNo;

                CribTransaction h = t;
                h.tranNo = 500000 + i;
                h.type = i % 2 == 0 ? QStringLiteral("I") : QStringLiteral("R");
                h.quantity = i % 2 == 0 ? -(1 + i % 5) : 2;
                const qint64 hosted = sites.addRemoteTransaction(crib.station, h);
                sites.orderCopy(m_machine, "MyTran", hosted);
                appliedToBin[h.bin] += h.quantity;
                hostedTransactions << h.tranNo;

                const QString hostedItem = QStringLiteral("HOS-%1").arg(i, 5, 10, QLatin1Char('0'));
                sites.orderCopy(
                    m_machine, "Item", sites.insertRemote("Item", {{"MyNo", hostedItem}, {"Description", "hosted"}}));
                hostedItems << hostedItem;
            }
            sites.closeConnections();
        };
        seedBatch();

        AgentProcess agent;
        int kills = 0;
        int runs = 0;
        int completedRuns = 0;
        QElapsedTimer clock;
        clock.start();
        const auto backlog = [&] {
            const qint64 left = sites.pendingLocal(m_machine, "Item") + sites.pendingLocal(m_machine, "MyTran")
                + sites.pendingOutbox(m_machine);
            sites.closeConnections();
            return left;
        };
        const int sliceMs = ReliabilitySize::pick(250, 400);
        while (kills < killsWanted || backlog() > 0) {
            // Every kill is meant to land in work: more backlog when the last batch is done.
            if (kills < killsWanted && backlog() == 0)
                seedBatch();
            QVERIFY2(runs < killsWanted * 3 + 60,
                qPrintable(QStringLiteral("the backlog does not shrink: %1 left; last run: %2")
                               .arg(backlog())
                               .arg(agent.standardErrorSoFar().right(3000))));
            ++runs;
            if (kills >= killsWanted) {
                const AgentResult result = agent.runOnce(crib.configDir, m_machine);
                QVERIFY2(result.finished && !result.exitedWith(2), qPrintable(result.describe()));
                ++completedRuns;
                continue;
            }
            agent.startOnce(crib.configDir, m_machine);
            // One kill in eight lands anywhere in start-up; the others inside the cycle, after a
            // random slice of its work.
            if (random.bounded(8) != 0 && !agent.waitForStandardError(QStringLiteral("tables listed"), 60000)) {
                const AgentResult result = agent.waitForFinished();
                QVERIFY2(result.finished && !result.exitedWith(2), qPrintable(result.describe()));
                ++completedRuns;
                continue;
            }
            if (agent.hasFinished(int(random.bounded(quint32(sliceMs))))) {
                const AgentResult result = agent.waitForFinished();
                QVERIFY2(result.finished && !result.exitedWith(2), qPrintable(result.describe()));
                ++completedRuns;
                continue;
            }
            agent.kill();
            ++kills;
        }
        const double seconds = clock.elapsed() / 1000.0;

        // Every local change reached the remote database, once.
        int lost = 0;
        int duplicates = 0;
        db::Connection& remote = sites.remote();
        db::Connection& local = sites.local(m_machine);
        for (const QString& item : localItems) {
            const qint64 n = CribSites::count(remote, "Item", QStringLiteral("MyNo = %1").arg(CribSites::q(item)));
            lost += n == 0 ? 1 : 0;
            duplicates += n > 1 ? int(n - 1) : 0;
        }
        int transactionsTwice = 0;
        for (qint64 tranNo : localTransactions) {
            const qint64 n = CribSites::count(remote, "MyTran",
                QStringLiteral("TranNo = %1 AND ComputerName = %2").arg(tranNo).arg(CribSites::q(m_machine)));
            lost += n == 0 ? 1 : 0;
            transactionsTwice += n > 1 ? int(n - 1) : 0;
        }
        // Every order was carried out, once, and marked.
        for (const QString& item : hostedItems) {
            const qint64 n = CribSites::count(local, "Item", QStringLiteral("MyNo = %1").arg(CribSites::q(item)));
            lost += n == 0 ? 1 : 0;
            duplicates += n > 1 ? int(n - 1) : 0;
        }
        for (qint64 tranNo : hostedTransactions) {
            const qint64 n = CribSites::count(local, "MyTran", QStringLiteral("TranNo = %1").arg(tranNo));
            lost += n == 0 ? 1 : 0;
            transactionsTwice += n > 1 ? int(n - 1) : 0;
        }
        const qint64 pendingOrders = sites.pendingOutbox(m_machine);
        const qint64 unmarkedSources = CribSites::count(remote, "MyTran", "ComputerName = 'HOSTED' AND Processed = 0")
            + CribSites::count(remote, "Item", "MyNo LIKE 'HOS-%' AND Processed = 0");
        // The bins hold what their transactions say, on both sides.
        int binsOff = 0;
        QStringList binReport;
        for (int b = 1; b <= options.binsPerCrib; ++b) {
            const QString bin = CribSites::binNo(b);
            const QString where
                = QStringLiteral("Station = %1 AND MyNo = %2").arg(CribSites::q(crib.station), CribSites::q(bin));
            const int remoteOnHand = CribSites::value(remote, "SELECT OnHand FROM Bin WHERE " + where).toInt();
            const int localOnHand = CribSites::value(local, "SELECT OnHand FROM Bin WHERE " + where).toInt();
            if (remoteOnHand != StartOnHand + pushedToBin.value(bin)
                || localOnHand != StartOnHand + appliedToBin.value(bin)) {
                ++binsOff;
                binReport << QStringLiteral("%1: remote %2 (expected %3), local %4 (expected %5)")
                                 .arg(bin)
                                 .arg(remoteOnHand)
                                 .arg(StartOnHand + pushedToBin.value(bin))
                                 .arg(localOnHand)
                                 .arg(StartOnHand + appliedToBin.value(bin));
            }
        }
        sites.closeConnections();

        std::printf("crash survival: seed=%u kills=%d runs=%d completed runs=%d local rows and orders=%d rows lost=%d "
                    "duplicates=%d transactions twice=%d bins off=%d orders pending=%lld sources unmarked=%lld "
                    "seconds=%.1f\n",
            seed, kills, runs, completedRuns, seeded * 4, lost, duplicates, transactionsTwice, binsOff,
            static_cast<long long>(pendingOrders), static_cast<long long>(unmarkedSources), seconds);
        std::fflush(stdout);

        QCOMPARE(lost, 0);
        QCOMPARE(pendingOrders, qint64(0));
        QCOMPARE(unmarkedSources, qint64(0));
        QVERIFY2(transactionsTwice == 0 && binsOff == 0, qPrintable(binReport.join(QStringLiteral("\n"))));
        QCOMPARE(duplicates, 0);
    }
};

QTEST_GUILESS_MAIN(TestCrashSurvival)
#include "TestCrashSurvival.moc"
