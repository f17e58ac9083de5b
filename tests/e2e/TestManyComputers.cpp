#include "db/Connection.h"
#include "support/AgentProcess.h"
#include "support/CribSites.h"
#include "support/FlagAudit.h"
#include "support/TableSnapshot.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <tuple>

/// Many crib computers against one hosted database at the same time: every computer's agent runs
/// cycle after cycle (--once, again and again) alongside the others while the crib application
/// and the hosted application keep adding work. Each computer must receive exactly its own
/// outbox orders, all its changes must arrive, and no row may be lost or applied twice.
///
/// CRIBSYNC_SIZE=full runs 8 computers with 1,000 rows each way; the default is 3 with 50.
class TestManyComputers : public QObject
{
    Q_OBJECT

private:
    struct Size
    {
        int agents = 3;
        int rows = 50;
        int cycles = 3;
    };

    static Size size()
    {
        if (qEnvironmentVariable("CRIBSYNC_SIZE") == QLatin1String("full"))
            return {8, 1000, 4};
        return {};
    }

    // Row i of a computer's work is of kind i % 5, both ways.
    enum PushKind { NewItem, NewBin, Transaction, IssueLine, BinDeleted };
    enum OrderKind { HostedItem, HostedTransaction, HostedIssue, Inventory, BinDeleteOrder };

    struct Computer
    {
        int number = 0;
        QString machine;
        QString station;
        std::unique_ptr<AgentProcess> agent;
        int runsStarted = 0;
        QList<AgentResult> results;
        // What the crib sent and what the office ordered, by key, for the final count.
        QStringList itemsPushed, binsPushed, binsDeleted, hostedItems, binsOrderedDeleted;
        QList<qint64> transactionsPushed, issuesPushed, hostedTransactions, hostedIssues, inventories;
        QHash<QString, int> issuedPerLocalBin, issuedPerHostedBin;
        QList<qint64> outbox;
    };

    // Tallies keys found against keys expected.
    struct Tally
    {
        int lost = 0;
        int duplicates = 0;
        QStringList problems;

        void count(const QString& what, const QStringList& expected, const QHash<QString, int>& found)
        {
            for (const QString& key : expected) {
                const int n = found.value(key);
                if (n == 0) {
                    ++lost;
                    problems << QStringLiteral("%1 %2 missing").arg(what, key);
                } else if (n > 1) {
                    duplicates += n - 1;
                    problems << QStringLiteral("%1 %2 %3 times").arg(what, key).arg(n);
                }
            }
            for (auto it = found.constBegin(); it != found.constEnd(); ++it) {
                if (!expected.contains(it.key()))
                    problems << QStringLiteral("%1 %2 not expected here").arg(what, it.key());
            }
        }
    };

    // Every table of a database compared with the start: rows added and removed per table, as
    // the work planned, and values changed only in the columns the work may change.
    static void checkWholeTables(const QString& where, const TableSnapshot::Diff& diff,
        const QHash<QString, int>& added, const QHash<QString, int>& removed, const QStringList& changeable,
        Tally& tally)
    {
        QHash<QString, int> plus;
        QHash<QString, int> minus;
        for (const QString& line : diff.lines()) {
            if (line.startsWith('+') || line.startsWith('-')) {
                const QString table = line.mid(1).section('#', 0, 0);
                ++(line.startsWith('+') ? plus : minus)[table];
            } else if (!changeable.contains(line.section('#', 0, 0) + '.' + line.section('.', -1))) {
                tally.problems << QStringLiteral("%1: %2 changed").arg(where, line);
            }
        }
        for (const auto& [kind, expected, found] :
            {std::tuple{"added", added, plus}, std::tuple{"removed", removed, minus}}) {
            QSet<QString> tables(expected.keyBegin(), expected.keyEnd());
            for (auto it = found.constBegin(); it != found.constEnd(); ++it)
                tables.insert(it.key());
            for (const QString& table : tables) {
                if (expected.value(table) != found.value(table))
                    tally.problems << QStringLiteral("%1: %2 rows %3 in %4, expected %5")
                                          .arg(where)
                                          .arg(found.value(table))
                                          .arg(kind, table)
                                          .arg(expected.value(table));
            }
        }
    }

    static QHash<QString, int> grouped(db::Connection& c, const QString& sql)
    {
        QHash<QString, int> counts;
        for (const QVariantList& row : c.query(sql).rows)
            counts.insert(row[0].toString(), row[1].toInt());
        return counts;
    }

    static QStringList keys(const QList<qint64>& numbers)
    {
        QStringList list;
        for (qint64 n : numbers)
            list << QString::number(n);
        return list;
    }

    static constexpr int OnHand = 100000;

    // Setup: the bins that rows of kind BinDeleted and BinDeleteOrder will remove, held on both sides.
    static void addDoomedBins(CribSites& sites, const Computer& c, int rows)
    {
        for (int i = BinDeleted; i < rows; i += 5) {
            for (const char* prefix : {"X", "Y"}) {
                const QString bin = QStringLiteral("%1%2").arg(prefix).arg(i, 4, 10, QChar('0'));
                sites.insertLocal(c.machine, "Bin",
                    {{"Station", c.station}, {"MyNo", bin}, {"Item", CribSites::itemNo(1)}, {"OnHand", 1},
                        {"ASPProcessed", 1}});
                sites.insertRemote("Bin",
                    {{"Station", c.station}, {"MyNo", bin}, {"Item", CribSites::itemNo(1)}, {"OnHand", 1},
                        {"ComputerName", c.machine}, {"Processed", 1}});
            }
        }
    }

    // One batch of a computer's work: local changes left pending and orders from the office.
    static void seed(CribSites& sites, Computer& c, int from, int to)
    {
        const QString m = c.machine;
        const QDateTime start(QDate(2026, 12, 1), QTime(6, 0));
        for (int i = from; i < to; ++i) {
            const QString bin = CribSites::binNo(i % 6 + 1);
            switch (i % 5) {
            case NewItem: {
                const QString item = QStringLiteral("K%1-%2").arg(c.number).arg(i);
                sites.insertLocal(m, "Item", {{"MyNo", item}, {"Description", "crib item"}, {"UnitPrice", 1.5}});
                c.itemsPushed << item;
                break;
            }
            case NewBin: {
                const QString newBin = QStringLiteral("N%1").arg(i, 4, 10, QChar('0'));
                sites.insertLocal(m, "Bin",
                    {{"Station", c.station}, {"MyNo", newBin}, {"Item", CribSites::itemNo(2)}, {"MaxQty", 9}});
                c.binsPushed << newBin;
                break;
            }
            case Transaction: {
                const qint64 tranNo = 100000 + i;
                sites.addLocalTransaction(
                    m, {tranNo, bin, CribSites::itemNo(i % 6 + 1), "I", -1, 0, "E100", {}, start.addSecs(i)});
                c.transactionsPushed << tranNo;
                ++c.issuedPerLocalBin[bin];
                break;
            }
            case IssueLine: {
                // Every crib numbers its issues from the same start: the computer's name keeps them apart.
                const qint64 tranNo = 600000 + i;
                sites.insertLocal(m, "Issue",
                    {{"TranNo", tranNo}, {"MyLineNo", 1}, {"Item", CribSites::itemNo(3)}, {"Quantity", 1},
                        {"Emp", "E200"}});
                c.issuesPushed << tranNo;
                break;
            }
            case BinDeleted: {
                const QString doomed = QStringLiteral("X%1").arg(i, 4, 10, QChar('0'));
                sites.deleteLocal(m, "Bin",
                    QStringLiteral("Station = %1 AND MyNo = %2").arg(CribSites::q(c.station), CribSites::q(doomed)),
                    c.station, doomed);
                c.binsDeleted << doomed;
                break;
            }
            }

            switch (i % 5) {
            case HostedItem: {
                const QString item = QStringLiteral("H%1-%2").arg(c.number).arg(i);
                const qint64 id = sites.insertRemote("Item", {{"MyNo", item}, {"Description", "from the office"}});
                c.outbox << sites.orderCopy(m, "Item", id);
                c.hostedItems << item;
                break;
            }
            case HostedTransaction: {
                const qint64 tranNo = 300000 + i;
                const qint64 id = sites.addRemoteTransaction(
                    c.station, {tranNo, bin, CribSites::itemNo(i % 6 + 1), "I", -1, 0, "E300", {}, start.addSecs(i)});
                c.outbox << sites.orderCopy(m, "MyTran", id);
                c.hostedTransactions << tranNo;
                ++c.issuedPerHostedBin[bin];
                break;
            }
            case HostedIssue: {
                const qint64 tranNo = 700000 + i;
                const qint64 id = sites.insertRemote("Issue",
                    {{"TranNo", tranNo}, {"MyLineNo", 1}, {"Item", CribSites::itemNo(4)}, {"Quantity", 2},
                        {"ComputerName", m}});
                c.outbox << sites.orderCopy(m, "Issue", id);
                c.hostedIssues << tranNo;
                break;
            }
            case Inventory: {
                // Inventory rows are only ever inserted: one applied twice would be there twice.
                const qint64 id = sites.insertRemote("DailyInventory",
                    {{"MyDate", start}, {"Station", c.station}, {"Item", CribSites::itemNo(5)}, {"OnHand", i}});
                c.outbox << sites.orderCopy(m, "DailyInventory", id);
                c.inventories << i;
                break;
            }
            case BinDeleteOrder: {
                // The office deletes its bin and orders the crib to do the same.
                const QString doomed = QStringLiteral("Y%1").arg(i, 4, 10, QChar('0'));
                sites.remote().execute(QStringLiteral("DELETE FROM Bin WHERE Station = %1 AND MyNo = %2")
                                           .arg(CribSites::q(c.station), CribSites::q(doomed)));
                c.outbox << sites.orderDelete(m, "Bin", c.station, doomed);
                c.binsOrderedDeleted << doomed;
                break;
            }
            }
        }
    }

private Q_SLOTS:
    void computersRunTogether()
    {
        const Size n = size();
        QTemporaryDir dir;
        CribSites::Options options;
        options.binOnHand = OnHand;
        options.limitAccess = false;
        CribSites sites(dir.path(), options);
        std::vector<Computer> computers(n.agents);
        for (int k = 0; k < n.agents; ++k) {
            Computer& c = computers[k];
            c.number = k + 1;
            c.machine = QStringLiteral("CRIB-%1").arg(k + 1, 2, 10, QChar('0'));
            c.station = sites.addComputer(c.machine).station;
            c.agent = std::make_unique<AgentProcess>();
            addDoomedBins(sites, c, n.rows);
            FlagAudit::install(sites.local(c.machine), "ASPProcessed");
        }
        FlagAudit::install(sites.remote(), "Processed");
        const TableSnapshot remoteStart = TableSnapshot::take(sites.remote(), CribSites::stampColumns());
        std::vector<TableSnapshot> localStart;
        for (const Computer& c : computers)
            localStart.push_back(TableSnapshot::take(sites.local(c.machine), CribSites::stampColumns()));
        // Orders for a computer that never runs: nobody else may take them.
        const qint64 ghostItem = sites.insertRemote("Item", {{"MyNo", "GHOST-1"}, {"Description", "not yours"}});
        const QList<qint64> ghostOrders
            = {sites.orderCopy("CRIB-GHOST", "Item", ghostItem), sites.orderDelete("CRIB-GHOST", "Bin", "S1", "B001")};

        // The office changes one item for every crib at once, in every batch: the first computer
        // to reach a batch makes the change, with an order for each computer. Every computer's
        // later cycles start after that, so the last change reaches them all.
        int centralBatch = -1;
        auto centralChange = [&](int batch) {
            const QString where = QStringLiteral("MyNo = %1").arg(CribSites::q(CribSites::itemNo(6)));
            sites.updateRemote("Item", where, {{"Description", QStringLiteral("central change %1").arg(batch)}});
            const qint64 id = sites.remoteId("Item", where);
            for (Computer& c : computers)
                c.outbox << sites.orderCopy(c.machine, "Item", id);
        };
        auto seedBatch = [&](Computer& c, int batch) {
            if (batch > centralBatch) {
                centralBatch = batch;
                centralChange(batch);
            }
            seed(sites, c, batch * n.rows / n.cycles, (batch + 1) * n.rows / n.cycles);
        };
        auto startCycle = [&](Computer& c) {
            c.agent->startOnce(sites.computer(c.machine).configDir, c.machine);
            ++c.runsStarted;
            // The next batch arrives while this cycle runs: it may find part of it, the next the rest.
            if (c.runsStarted < n.cycles)
                seedBatch(c, c.runsStarted);
        };
        for (Computer& c : computers)
            seedBatch(c, 0);

        QElapsedTimer clock;
        clock.start();
        for (Computer& c : computers)
            startCycle(c);
        // Every computer runs its cycles back to back, whatever the others do.
        bool running = true;
        while (running) {
            running = false;
            for (Computer& c : computers) {
                if (!c.agent->hasFinished()) {
                    running = true;
                    continue;
                }
                if (c.results.size() < c.runsStarted)
                    c.results << c.agent->waitForFinished();
                if (c.runsStarted < n.cycles) {
                    startCycle(c);
                    running = true;
                }
            }
            QThread::msleep(20);
        }
        const double seconds = clock.elapsed() / 1000.0;

        Tally tally;
        int failedRuns = 0;
        QStringList failures;
        db::Connection& remote = sites.remote();
        for (Computer& c : computers) {
            for (const AgentResult& r : c.results) {
                if (!r.exitedWith(0)) {
                    ++failedRuns;
                    failures << c.machine + QStringLiteral(": ") + r.describe();
                }
            }
            db::Connection& local = sites.local(c.machine);
            const QString m = CribSites::q(c.machine);
            const QString station = CribSites::q(c.station);

            // Crib to office.
            tally.count(c.machine + " item", c.itemsPushed,
                grouped(remote,
                    QStringLiteral("SELECT MyNo, count(*) FROM Item WHERE MyNo LIKE 'K%1-%' GROUP BY MyNo")
                        .arg(c.number)));
            tally.count(c.machine + " bin", c.binsPushed,
                grouped(remote,
                    QStringLiteral("SELECT MyNo, count(*) FROM Bin WHERE Station = %1 AND MyNo LIKE 'N%' AND "
                                   "ComputerName = %2 GROUP BY MyNo")
                        .arg(station, m)));
            tally.count(c.machine + " transaction", keys(c.transactionsPushed),
                grouped(remote,
                    QStringLiteral("SELECT TranNo, count(*) FROM MyTran WHERE ComputerName = %1 GROUP BY TranNo")
                        .arg(m)));
            tally.count(c.machine + " issue", keys(c.issuesPushed),
                grouped(remote,
                    QStringLiteral("SELECT TranNo, count(*) FROM Issue WHERE ComputerName = %1 AND TranNo < 700000 "
                                   "GROUP BY TranNo")
                        .arg(m)));
            tally.count(c.machine + " bin delete", c.binsDeleted,
                grouped(remote,
                    QStringLiteral("SELECT Key2, count(*) FROM DeleteHst WHERE ComputerName = %1 GROUP BY Key2")
                        .arg(m)));
            const qint64 doomedLeft
                = CribSites::count(remote, "Bin", QStringLiteral("Station = %1 AND MyNo LIKE 'X%'").arg(station));
            tally.lost += int(doomedLeft);
            if (doomedLeft != 0)
                tally.problems
                    << QStringLiteral("%1: %2 deleted bins still held remotely").arg(c.machine).arg(doomedLeft);
            // A transaction applied twice would have moved its bin twice.
            for (int b = 1; b <= 6; ++b) {
                const QString bin = CribSites::binNo(b);
                const int remoteOnHand = CribSites::value(remote,
                    QStringLiteral("SELECT OnHand FROM Bin WHERE Station = %1 AND MyNo = '%2'").arg(station, bin))
                                             .toInt();
                if (remoteOnHand != OnHand - c.issuedPerLocalBin.value(bin))
                    tally.problems << QStringLiteral("%1: remote bin %2 holds %3, expected %4")
                                          .arg(c.machine, bin)
                                          .arg(remoteOnHand)
                                          .arg(OnHand - c.issuedPerLocalBin.value(bin));
                const int localOnHand
                    = CribSites::value(local, QStringLiteral("SELECT OnHand FROM Bin WHERE MyNo = '%1'").arg(bin))
                          .toInt();
                if (localOnHand != OnHand - c.issuedPerHostedBin.value(bin))
                    tally.problems << QStringLiteral("%1: local bin %2 holds %3, expected %4")
                                          .arg(c.machine, bin)
                                          .arg(localOnHand)
                                          .arg(OnHand - c.issuedPerHostedBin.value(bin));
            }
            for (const char* table : {"Item", "Bin", "MyTran", "Issue", "DeleteHst"}) {
                if (const qint64 left = sites.pendingLocal(c.machine, table))
                    tally.problems << QStringLiteral("%1: %2 %3 rows still pending").arg(c.machine, table).arg(left);
            }

            // Office to crib: only this computer's orders, each once.
            tally.count(c.machine + " hosted item", c.hostedItems,
                grouped(local, "SELECT MyNo, count(*) FROM Item WHERE MyNo LIKE 'H%' GROUP BY MyNo"));
            tally.count(c.machine + " hosted transaction", keys(c.hostedTransactions),
                grouped(local, "SELECT TranNo, count(*) FROM MyTran WHERE ComputerName = 'HOSTED' GROUP BY TranNo"));
            tally.count(c.machine + " hosted issue", keys(c.hostedIssues),
                grouped(local, "SELECT TranNo, count(*) FROM Issue WHERE TranNo >= 700000 GROUP BY TranNo"));
            tally.count(c.machine + " inventory", keys(c.inventories),
                grouped(local, "SELECT OnHand, count(*) FROM DailyInventory GROUP BY OnHand"));
            const qint64 ordered = CribSites::count(local, "Bin", "MyNo LIKE 'Y%'");
            tally.lost += int(ordered);
            if (ordered != 0)
                tally.problems
                    << QStringLiteral("%1: %2 bins ordered deleted are still there").arg(c.machine).arg(ordered);
            if (CribSites::count(local, "Item", "MyNo = 'GHOST-1'") != 0)
                tally.problems << c.machine + QStringLiteral(" took an order for another computer");
            const QString lastChange = CribSites::value(local,
                QStringLiteral("SELECT Description FROM Item WHERE MyNo = %1").arg(CribSites::q(CribSites::itemNo(6))))
                                           .toString();
            if (lastChange != QStringLiteral("central change %1").arg(centralBatch))
                tally.problems
                    << QStringLiteral("%1: the last central change is missing (%2)").arg(c.machine, lastChange);
            if (const qint64 left = sites.pendingOutbox(c.machine))
                tally.problems << QStringLiteral("%1: %2 outbox orders still pending").arg(c.machine).arg(left);

            // Each pending local row marked done once, and nothing reopened.
            QHash<QString, int> localMarks;
            for (const FlagAudit::Mark& mark : FlagAudit::marks(local)) {
                if (mark.before.toInt() != 0 || mark.after.toInt() != 1)
                    tally.problems << QStringLiteral("%1: %2#%3 reopened").arg(c.machine, mark.table).arg(mark.id);
                ++localMarks[QStringLiteral("%1#%2").arg(mark.table).arg(mark.id)];
            }
            int marked = 0;
            for (auto it = localMarks.constBegin(); it != localMarks.constEnd(); ++it) {
                marked += it.value();
                if (it.value() != 1)
                    tally.problems << QStringLiteral("%1: %2 marked %3 times").arg(c.machine, it.key()).arg(it.value());
            }
            if (marked != n.rows)
                tally.problems << QStringLiteral("%1: %2 local rows marked done, expected %3")
                                      .arg(c.machine)
                                      .arg(marked)
                                      .arg(n.rows);

            // Nothing else moved in the crib's database.
            const auto localDiff = localStart[c.number - 1].diff(TableSnapshot::take(local, CribSites::stampColumns()));
            checkWholeTables(c.machine, localDiff,
                {{"Item", int(c.itemsPushed.size() + c.hostedItems.size())}, {"Bin", int(c.binsPushed.size())},
                    {"MyTran", int(c.transactionsPushed.size() + c.hostedTransactions.size())},
                    {"Issue", int(c.issuesPushed.size() + c.hostedIssues.size())},
                    {"DeleteHst", int(c.binsDeleted.size())}, {"DailyInventory", int(c.inventories.size())}},
                {{"Bin", int(c.binsDeleted.size() + c.binsOrderedDeleted.size())}}, {"Item.Description", "Bin.OnHand"},
                tally);
        }

        // Nor in the hosted one.
        QHash<QString, int> remoteAdded = {{"Item", 1}, {"Outbox", int(ghostOrders.size())}};
        QHash<QString, int> remoteRemoved;
        for (const Computer& c : computers) {
            remoteAdded["Item"] += c.itemsPushed.size() + c.hostedItems.size();
            remoteAdded["Bin"] += c.binsPushed.size();
            remoteAdded["MyTran"] += c.transactionsPushed.size() + c.hostedTransactions.size();
            remoteAdded["Issue"] += c.issuesPushed.size() + c.hostedIssues.size();
            remoteAdded["DeleteHst"] += c.binsDeleted.size();
            remoteAdded["DailyInventory"] += c.inventories.size();
            remoteAdded["Outbox"] += c.outbox.size();
            remoteRemoved["Bin"] += c.binsDeleted.size() + c.binsOrderedDeleted.size();
        }
        checkWholeTables("remote", remoteStart.diff(TableSnapshot::take(remote, CribSites::stampColumns())),
            remoteAdded, remoteRemoved, {"Item.Description", "Item.Processed", "Bin.OnHand"}, tally);

        // Each outbox order marked done once, by its own computer; the stranger's left alone.
        QHash<qint64, int> outboxMarks;
        for (const FlagAudit::Mark& mark : FlagAudit::marks(remote)) {
            if (mark.table == QLatin1String("Outbox")) {
                if (mark.before.toInt() != 0 || mark.after.toInt() != 1)
                    tally.problems << QStringLiteral("Outbox#%1 reopened").arg(mark.id);
                ++outboxMarks[mark.id];
            }
        }
        qint64 orders = 0;
        for (const Computer& c : computers) {
            orders += c.outbox.size();
            for (qint64 id : c.outbox) {
                const int times = outboxMarks.value(id);
                if (times != 1)
                    tally.problems << QStringLiteral("%1: Outbox#%2 marked %3 times").arg(c.machine).arg(id).arg(times);
            }
        }
        if (outboxMarks.size() != orders)
            tally.problems << QStringLiteral("%1 outbox rows marked, %2 ordered").arg(outboxMarks.size()).arg(orders);
        for (qint64 id : ghostOrders) {
            if (outboxMarks.contains(id))
                tally.problems << QStringLiteral("Outbox#%1 for another computer was taken").arg(id);
        }

        std::printf("many computers: %d agents, %d rows each way, %d cycles, %.1f s, %d rows lost, %d duplicates, "
                    "%d failed runs\n",
            n.agents, n.rows, n.cycles, seconds, tally.lost, tally.duplicates, failedRuns);
        std::fflush(stdout);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.mid(0, 3).join("\n\n")));
        QVERIFY2(tally.problems.isEmpty(), qPrintable(tally.problems.mid(0, 40).join("\n")));
        QCOMPARE(tally.lost, 0);
        QCOMPARE(tally.duplicates, 0);
    }
};

QTEST_GUILESS_MAIN(TestManyComputers)
#include "TestManyComputers.moc"
