#include "ReliabilitySize.h"
#include "db/Connection.h"
#include "support/AgentProcess.h"
#include "support/CribSites.h"
#include "support/TableSnapshot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
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
/// The same for a crib's first synchronisation, every kind of backlog larger than a page and the
/// time budget at a second: killed again and again, it ends exactly as the same crib synchronised
/// without a kill.
///
/// The moments come from a seeded generator (CRIBSYNC_SEED repeats a run; the seed is printed).
/// Reduced: 15 kills over batches of 150 rows each way, and 8 kills in a first synchronisation of
/// 10,000 transactions; CRIBSYNC_SIZE=full: 60 kills over batches of 500, and 30 kills in one of
/// 40,000 transactions.
class TestCrashSurvival : public QObject
{
    Q_OBJECT

private:
    static constexpr int StartOnHand = 10000;
    const QString m_machine = QStringLiteral("CRIB-01");

    static quint32 seed()
    {
        return qEnvironmentVariableIsSet("CRIBSYNC_SEED") ? quint32(qEnvironmentVariableIntValue("CRIBSYNC_SEED"))
                                                          : QRandomGenerator::system()->generate();
    }

    /// A crib never synchronised: transactions on its bins, items and bins of its own, and the
    /// hosted items the outbox orders for it; a tenth as many items and orders as transactions.
    const CribComputer& firstSynchronisation(CribSites& sites, int transactions)
    {
        const CribComputer& crib = sites.addComputer(m_machine);
        for (int i = 0; i < transactions / 10; ++i) {
            sites.insertLocal(m_machine, "Item",
                {{"MyNo", QStringLiteral("LOC-%1").arg(i, 6, 10, QLatin1Char('0'))}, {"Description", "crib item"}});
            sites.orderCopy(m_machine, "Item",
                sites.insertRemote("Item",
                    {{"MyNo", QStringLiteral("HOS-%1").arg(i, 6, 10, QLatin1Char('0'))}, {"Description", "hosted"}}));
        }
        for (int i = 0; i < transactions / 40; ++i)
            sites.insertLocal(m_machine, "Bin",
                {{"Station", crib.station}, {"MyNo", QStringLiteral("N%1").arg(i, 5, 10, QLatin1Char('0'))},
                    {"Item", CribSites::itemNo(1)}, {"Description", "new bin"}});
        for (int i = 0; i < transactions; ++i) {
            CribTransaction t;
            t.tranNo = 100000 + i;
            t.bin = CribSites::binNo(1 + i % 12);
            t.item = CribSites::itemNo(1 + i % 6);
            t.type = i % 3 == 0 ? QStringLiteral("R") : QStringLiteral("I");
            t.quantity = i % 3 == 0 ? 2 : -1;
            // Some transactions share their server time, as the crib application can write them.
            t.when = QDateTime(QDate(2026, 12, 1), QTime(6, 0)).addSecs(i - i % 4);
            sites.addLocalTransaction(m_machine, t);
        }
        // A second's budget: the larger backlogs take several cycles, and kills land between them.
        QSettings paths(QDir(crib.configDir).filePath("paths.ini"), QSettings::IniFormat);
        paths.setValue("Cribsync/TimeBudget", 1);
        sites.closeConnections();
        return crib;
    }

    qint64 backlogOf(CribSites& sites)
    {
        const qint64 left = sites.pendingLocal(m_machine, "Item") + sites.pendingLocal(m_machine, "Bin")
            + sites.pendingLocal(m_machine, "MyTran") + sites.pendingOutbox(m_machine);
        sites.closeConnections();
        return left;
    }

private Q_SLOTS:
    void killedAgainAndAgainLosesNothingAndMovesNothingTwice()
    {
        const int rows = ReliabilitySize::pick(150, 500);
        const int killsWanted = ReliabilitySize::pick(15, 60);
        const quint32 seed = TestCrashSurvival::seed();
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
        // A batch takes about a tenth of a second a cycle (reduced), so most kills land in its work.
        const int sliceMs = ReliabilitySize::pick(120, 300);
        while (kills < killsWanted || backlog() > 0) {
            // Every kill is meant to land in work: more backlog when the last batch is done.
            if (kills < killsWanted && backlog() == 0)
                seedBatch();
            // A run that ends before its kill clears its batch and a new one is seeded: with a fast
            // cycle most runs do, so the bound is on runs that leave work behind too.
            QVERIFY2(runs < killsWanted * 10 + 60,
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

    void firstSynchronisationKilledAgainAndAgainEndsAsWithoutAKill()
    {
        const int transactions = ReliabilitySize::pick(10000, 40000);
        const int killsWanted = ReliabilitySize::pick(8, 30);
        // Each killed run gets a short slice of work, so that the kills spread over the backlog.
        const int sliceMs = ReliabilitySize::pick(300, 600);
        const quint32 seed = TestCrashSurvival::seed();
        QRandomGenerator random(seed);
        QElapsedTimer clock;
        clock.start();
        // The hosted side stamps the transactions it stores with its own time.
        const QStringList volatileColumns = CribSites::stampColumns() << QStringLiteral("MyTran.ServerDateTime");

        // The reference: the same crib synchronised without a kill.
        QTemporaryDir root;
        CribSites reference(root.filePath("reference"));
        const CribComputer& quiet = firstSynchronisation(reference, transactions);
        AgentProcess agent;
        int referenceRuns = 0;
        while (backlogOf(reference) > 0) {
            QVERIFY2(++referenceRuns < 100, "the backlog does not shrink without a kill");
            const AgentResult result = agent.runOnce(quiet.configDir, m_machine);
            QVERIFY2(result.exitedWith(0), qPrintable(result.describe()));
        }

        CribSites sites(root.filePath("killed"));
        const CribComputer& crib = firstSynchronisation(sites, transactions);
        int kills = 0;
        int runs = 0;
        while (backlogOf(sites) > 0) {
            QVERIFY2(++runs < killsWanted * 3 + 100,
                qPrintable(QStringLiteral("the backlog does not shrink: %1 left").arg(backlogOf(sites))));
            if (kills >= killsWanted) {
                const AgentResult result = agent.runOnce(crib.configDir, m_machine);
                QVERIFY2(result.finished && !result.exitedWith(2), qPrintable(result.describe()));
                continue;
            }
            agent.startOnce(crib.configDir, m_machine);
            // One kill in eight lands anywhere in start-up, the others in the cycle's work.
            const bool inCycle = random.bounded(8) != 0;
            if ((inCycle && !agent.waitForStandardError(QStringLiteral("tables listed"), 60000))
                || agent.hasFinished(int(random.bounded(quint32(sliceMs))))) {
                const AgentResult result = agent.waitForFinished();
                QVERIFY2(result.finished && !result.exitedWith(2), qPrintable(result.describe()));
                continue;
            }
            agent.kill();
            ++kills;
        }

        // Every row there once, every order carried out once, as without a kill. A row whose
        // insert was cut before its mark is updated when it goes again, which stamps an item
        // with this computer's name; nothing else may differ.
        const auto compare = [&](const TableSnapshot& expected, const TableSnapshot& actual, QStringList& differences) {
            static const QRegularExpression restamp(QStringLiteral("^Item#(\\d+)\\.ComputerName$"));
            int restamped = 0;
            for (const QString& line : expected.diff(actual).lines()) {
                const QRegularExpressionMatch m = restamp.match(line);
                const qint64 id = m.hasMatch() ? m.captured(1).toLongLong() : -1;
                if (m.hasMatch() && expected.rows("Item").value(id).value("ComputerName").isNull()
                    && actual.rows("Item").value(id).value("ComputerName").toString() == m_machine)
                    ++restamped;
                else
                    differences << line;
            }
            return restamped;
        };
        QStringList differences;
        const int restamped = compare(TableSnapshot::take(reference.remote(), volatileColumns),
                                  TableSnapshot::take(sites.remote(), volatileColumns), differences)
            + compare(TableSnapshot::take(reference.local(m_machine), volatileColumns),
                TableSnapshot::take(sites.local(m_machine), volatileColumns), differences);
        sites.closeConnections();
        reference.closeConnections();

        std::printf("first synchronisation: seed=%u transactions=%d kills=%d runs=%d reference runs=%d "
                    "differences=%lld restamped=%d seconds=%.1f\n",
            seed, transactions, kills, runs, referenceRuns, static_cast<long long>(differences.size()), restamped,
            clock.elapsed() / 1000.0);
        std::fflush(stdout);
        QVERIFY2(kills > 0, "no kill landed in the work");
        QVERIFY2(differences.isEmpty(), qPrintable(differences.mid(0, 40).join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestCrashSurvival)
#include "TestCrashSurvival.moc"
