#include "ReliabilitySize.h"
#include "db/Connection.h"
#include "db/Failpoint.h"
#include "support/AgentProcess.h"
#include "support/CribSites.h"
#include "support/TableSnapshot.h"

#include <QElapsedTimer>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <functional>
#include <memory>

/// A power cut at every failpoint the executable lists, for every kind of change that passes it:
/// a small crib with one change is run until the process dies at the point, then run again until
/// nothing is pending, and both of its databases are compared whole with the same crib
/// synchronised without a cut. A row missing or short of its value counts as lost, a row or a
/// stock movement too many as twice, work still pending as stuck. A computer name that the
/// retried push stamps because it updates a row it first inserted is counted apart (restamped).
///
/// Which kinds pass which point is learnt from a traced run of each kind, so a new failpoint or a
/// new kind is covered without editing a table; a point that no kind passes fails the suite.
/// Reduced: the first and the last hit of each point; CRIBSYNC_SIZE=full: every hit.
class TestFailpoints : public QObject
{
    Q_OBJECT

private:
    const QString m_machine = QStringLiteral("CRIB-01");

    struct Kind
    {
        QString name;
        std::function<void(CribSites&, const CribComputer&)> seed;
    };

    struct Outcome
    {
        TableSnapshot local;
        TableSnapshot remote;
        bool settled = false;
        QString log;
    };

    /// One change of each kind the agent carries, each on a crib of its own.
    QList<Kind> kinds() const
    {
        const QString m = m_machine;
        const auto bin = [](const CribComputer& c, const QString& no) {
            return QStringLiteral("Station = %1 AND MyNo = %2").arg(CribSites::q(c.station), CribSites::q(no));
        };
        return {
            {"local new row",
                [m](CribSites& s, const CribComputer&) {
                    s.insertLocal(m, "Item", {{"MyNo", "LOC-1"}, {"Description", "crib item"}});
                }},
            {"local changed row",
                [m, bin](CribSites& s, const CribComputer& c) {
                    s.updateLocal(m, "Bin", bin(c, "B001"), {{"Description", "relabelled"}});
                }},
            {"local issue line",
                [m](CribSites& s, const CribComputer&) {
                    s.insertLocal(m, "Issue",
                        {{"TranNo", 7}, {"MyLineNo", 1}, {"Item", CribSites::itemNo(3)}, {"Quantity", 2},
                            {"Emp", "E100"}});
                }},
            {"local transaction",
                [m](CribSites& s, const CribComputer&) {
                    CribTransaction t;
                    t.tranNo = 42;
                    t.bin = CribSites::binNo(1);
                    t.item = CribSites::itemNo(1);
                    t.quantity = -2;
                    s.addLocalTransaction(m, t);
                }},
            {"local delete",
                [m](CribSites& s, const CribComputer&) {
                    s.insertLocal(m, "Kit", {{"KitNo", "K1"}, {"Item", CribSites::itemNo(1)}, {"ASPProcessed", 1}});
                    s.insertRemote("Kit", {{"KitNo", "K1"}, {"Item", CribSites::itemNo(1)}, {"Processed", 1}});
                    s.deleteLocal(m, "Kit", "KitNo = 'K1'", "K1", CribSites::itemNo(1));
                }},
            {"local bin delete",
                [m, bin](CribSites& s, const CribComputer& c) {
                    s.deleteLocal(m, "Bin", bin(c, "B006"), c.station, "B006");
                }},
            {"local bin rename", [m](CribSites& s, const CribComputer&) { s.renameLocalBin(m, "B002", "B102"); }},
            {"local item rename",
                [m](CribSites& s, const CribComputer&) { s.renameLocalItem(m, CribSites::itemNo(1), "ITM-101"); }},
            {"hosted new row",
                [m](CribSites& s, const CribComputer&) {
                    s.orderCopy(m, "Item", s.insertRemote("Item", {{"MyNo", "HOS-1"}, {"Description", "hosted"}}));
                }},
            {"hosted changed row",
                [m, bin](CribSites& s, const CribComputer& c) {
                    s.updateRemote("Bin", bin(c, "B003"), {{"Description", "hosted label"}});
                    s.orderCopy(m, "Bin", s.remoteId("Bin", bin(c, "B003")));
                }},
            {"hosted transaction",
                [m](CribSites& s, const CribComputer& c) {
                    CribTransaction t;
                    t.tranNo = 77;
                    t.bin = CribSites::binNo(1);
                    t.item = CribSites::itemNo(1);
                    t.quantity = -3;
                    s.orderCopy(m, "MyTran", s.addRemoteTransaction(c.station, t));
                }},
            {"hosted delete",
                [m, bin](CribSites& s, const CribComputer& c) {
                    s.remote().execute("DELETE FROM Bin WHERE " + bin(c, "B004"));
                    s.orderDelete(m, "Bin", c.station, "B004");
                }},
            {"hosted bin rename",
                [m, bin](CribSites& s, const CribComputer& c) {
                    s.updateRemote("Bin", bin(c, "B005"), {{"MyNo", "B105"}});
                    s.orderRename(m, "Bin", s.remoteId("Bin", bin(c, "B105")), "B005", "B105");
                }},
            {"hosted item rename",
                [m](CribSites& s, const CribComputer&) {
                    const QString old = CribSites::itemNo(2);
                    s.updateRemote("Item", "MyNo = " + CribSites::q(old), {{"MyNo", "ITM-102"}});
                    s.orderRename(m, "Item", s.remoteId("Item", "MyNo = 'ITM-102'"), old, "ITM-102");
                }},
            {"hosted item list",
                [m](CribSites& s, const CribComputer&) {
                    s.updateRemote("Emp", "MyNo = 'E200'", {{"Items", itemLine(CribSites::itemNo(3), 9, "issued")}});
                    s.orderEmployeeList(m, s.remoteId("Emp", "MyNo = 'E200'"));
                }},
        };
    }

    /// Columns that differ between two runs whatever they do: the cycle's time stamps and the
    /// times the databases give new rows.
    static QStringList volatileColumns()
    {
        return CribSites::stampColumns() << QStringLiteral("MyTran.ServerDateTime")
                                         << QStringLiteral("DeleteHst.LastUpdate");
    }

    static qint64 pending(const TableSnapshot& snapshot, const QString& flag)
    {
        qint64 count = 0;
        for (const QString& table : snapshot.tables()) {
            for (const QVariantMap& row : snapshot.rows(table)) {
                // LastPoll rows are sent at every cycle and never marked.
                if (row.contains(flag) && row.value(flag).toInt() == 0 && table != QLatin1String("LastPoll"))
                    ++count;
            }
        }
        return count;
    }

    /// Runs the crib until nothing is pending (or `runs` runs went by) and takes its databases.
    Outcome settle(CribSites& sites, const CribComputer& crib, AgentProcess& agent, int runs) const
    {
        Outcome outcome;
        for (int run = 0; run < runs && !outcome.settled; ++run) {
            const AgentResult result = agent.runOnce(crib.configDir, m_machine, 120000);
            outcome.log += result.standardError;
            outcome.local = TableSnapshot::take(sites.local(m_machine), volatileColumns());
            outcome.remote = TableSnapshot::take(sites.remote(), volatileColumns());
            outcome.settled
                = result.finished && pending(outcome.local, "ASPProcessed") == 0 && sites.pendingOutbox(m_machine) == 0;
        }
        sites.closeConnections();
        return outcome;
    }

    struct Tally
    {
        int lost = 0;
        int twice = 0;
        int restamped = 0;
    };

    /// Sorts the differences from the run without a cut: a stock quantity that moved further from
    /// where it started, or a row too many, is work done twice; anything else is lost, except the
    /// computer name that the push stamps when it updates a row and not when it inserts one: a row
    /// whose insert was cut before its mark is updated when it goes again.
    Tally tally(const TableSnapshot& start, const TableSnapshot& expected, const TableSnapshot& actual) const
    {
        static const QRegularExpression valueLine(QStringLiteral("^(\\w+)#(\\d+)\\.(\\w+)$"));
        static const QStringList quantities = {"OnHand", "BurnQty", "OnOrder"};
        Tally t;
        for (const QString& line : expected.diff(actual).lines()) {
            const QRegularExpressionMatch m = valueLine.match(line);
            const auto value = [&](const TableSnapshot& s) {
                return s.rows(m.captured(1)).value(m.captured(2).toLongLong()).value(m.captured(3));
            };
            if (m.hasMatch() && m.captured(3) == QLatin1String("ComputerName") && value(expected).isNull()
                && value(actual).toString() == m_machine) {
                ++t.restamped;
            } else if (m.hasMatch() && m.captured(1) == QLatin1String("Bin") && quantities.contains(m.captured(3))) {
                const qint64 id = m.captured(2).toLongLong();
                const int from = start.rows("Bin").value(id).value(m.captured(3)).toInt();
                const int wanted = expected.rows("Bin").value(id).value(m.captured(3)).toInt();
                const int got = actual.rows("Bin").value(id).value(m.captured(3)).toInt();
                (qAbs(got - from) > qAbs(wanted - from) ? t.twice : t.lost) += 1;
            } else {
                (line.startsWith(QLatin1Char('+')) ? t.twice : t.lost) += 1;
            }
        }
        return t;
    }

private Q_SLOTS:
    void everyFailpointLosesNothingAndDoesNothingTwice()
    {
        const QStringList failpoints = AgentProcess::failpoints();
        QVERIFY(!failpoints.isEmpty());
        QElapsedTimer clock;
        clock.start();
        QTemporaryDir root;
        int cribs = 0;
        const auto newCrib = [&](const Kind& kind, std::unique_ptr<CribSites>& sites) {
            sites = std::make_unique<CribSites>(root.filePath(QString::number(++cribs)));
            const CribComputer& crib = sites->addComputer(m_machine);
            kind.seed(*sites, crib);
            sites->closeConnections();
            return crib;
        };

        QMap<QString, QStringList> kindsAt; // failpoint -> kinds that passed it
        int combinations = 0;
        int kills = 0;
        int stuck = 0;
        Tally total;
        QStringList problems;
        for (const Kind& kind : kinds()) {
            // The reference: the same change synchronised without a cut, traced.
            std::unique_ptr<CribSites> sites;
            CribComputer crib = newCrib(kind, sites);
            AgentProcess tracer;
            tracer.setEnvironment(Failpoint::EnvironmentVariable, QStringLiteral("trace"));
            const Outcome reference = settle(*sites, crib, tracer, 3);
            QVERIFY2(reference.settled,
                qPrintable(kind.name + QStringLiteral(": not settled without a cut\n") + reference.log.right(3000)));
            QMap<QString, int> hits;
            static const QRegularExpression reached(
                QStringLiteral("^failpoint (\\S+) reached"), QRegularExpression::MultilineOption);
            for (auto it = reached.globalMatch(reference.log); it.hasNext();)
                ++hits[it.next().captured(1)];

            for (auto hit = hits.constBegin(); hit != hits.constEnd(); ++hit) {
                QVERIFY2(failpoints.contains(hit.key()), qPrintable(hit.key() + QStringLiteral(" is not listed")));
                kindsAt[hit.key()] << kind.name;
                QList<int> cuts{1};
                for (int n = 2; n <= hit.value(); ++n) {
                    if (ReliabilitySize::full() || n == hit.value())
                        cuts << n;
                }
                for (int cut : cuts) {
                    ++combinations;
                    const QString where = QStringLiteral("%1 at %2:%3").arg(kind.name, hit.key()).arg(cut);
                    crib = newCrib(kind, sites);
                    const TableSnapshot startLocal = TableSnapshot::take(sites->local(m_machine), volatileColumns());
                    const TableSnapshot startRemote = TableSnapshot::take(sites->remote(), volatileColumns());
                    sites->closeConnections();
                    AgentProcess cutting;
                    cutting.setEnvironment(
                        Failpoint::EnvironmentVariable, QStringLiteral("%1:%2").arg(hit.key()).arg(cut));
                    const AgentResult cutRun = cutting.runOnce(crib.configDir, m_machine, 120000);
                    QVERIFY2(cutRun.exitedWith(Failpoint::ExitStatus),
                        qPrintable(where + QStringLiteral(": did not end there; ") + cutRun.describe()));
                    ++kills;

                    AgentProcess agent;
                    const Outcome after = settle(*sites, crib, agent, 4);
                    if (!after.settled) {
                        ++stuck;
                        problems << where + QStringLiteral(": still pending\n") + after.log.right(1500);
                    }
                    const Tally local = tally(startLocal, reference.local, after.local);
                    const Tally remote = tally(startRemote, reference.remote, after.remote);
                    total.lost += local.lost + remote.lost;
                    total.twice += local.twice + remote.twice;
                    total.restamped += local.restamped + remote.restamped;
                    if (local.lost + remote.lost + local.twice + remote.twice > 0)
                        problems << where + QStringLiteral(":\nlocal ") + reference.local.diff(after.local).details()
                                + QStringLiteral("\nremote ") + reference.remote.diff(after.remote).details();
                }
            }
        }
        QStringList uncovered;
        for (const QString& name : failpoints) {
            if (!kindsAt.contains(name))
                uncovered << name;
        }

        std::printf("failpoints: points=%lld kinds=%lld covered=%d (failpoint x kind) kills=%d lost=%d twice=%d "
                    "stuck=%d uncovered=%lld restamped=%d seconds=%.1f\n",
            static_cast<long long>(failpoints.size()), static_cast<long long>(kinds().size()), combinations, kills,
            total.lost, total.twice, stuck, static_cast<long long>(uncovered.size()), total.restamped,
            clock.elapsed() / 1000.0);
        for (auto it = kindsAt.constBegin(); it != kindsAt.constEnd(); ++it)
            std::printf("  %s: %s\n", qPrintable(it.key()), qPrintable(it.value().join(QStringLiteral(", "))));
        for (const QString& problem : std::as_const(problems))
            std::printf("  problem: %s\n", qPrintable(problem.section(QLatin1Char('\n'), 0, 0)));
        std::fflush(stdout);

        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n\n"))));
        QVERIFY2(
            uncovered.isEmpty(), qPrintable(QStringLiteral("no kind passes ") + uncovered.join(QStringLiteral(", "))));
    }
};

QTEST_GUILESS_MAIN(TestFailpoints)
#include "TestFailpoints.moc"
