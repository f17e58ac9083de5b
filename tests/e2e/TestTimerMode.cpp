#include "db/Connection.h"
#include "support/AgentProcess.h"
#include "support/CribSites.h"
#include "support/FlagAudit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

/// The agent left running headless, as a service manager keeps it: a cycle at every tick of the
/// timer (never sooner than 30 seconds after the last), work that arrives between ticks taken up
/// by the next one, --status answering beside it, and SIGTERM ending it with status 143.
class TestTimerMode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cyclesRunAtEveryTickUntilTerminated()
    {
        QTemporaryDir dir;
        CribSites c(dir.path());
        const QString m = QStringLiteral("CRIB-01");
        c.addComputer(m);
        FlagAudit::install(c.local(m), "ASPProcessed");
        FlagAudit::install(c.remote(), "Processed");
        const qint64 localItem = c.insertLocal(m, "Item", {{"MyNo", "ITM-300"}, {"Description", "Timer item"}});
        const qint64 remoteItem = c.insertRemote("Item", {{"MyNo", "ITM-301"}, {"Description", "Hosted timer item"}});
        const qint64 order = c.orderCopy(m, "Item", remoteItem);

        AgentProcess agent;
        agent.start(c.computer(m).configDir, m);
        QVERIFY2(agent.waitForStandardError("registered in Control", 60000), qPrintable(agent.standardErrorSoFar()));
        // The first tick comes a whole interval after start-up, not at once.
        QCOMPARE(c.pendingLocal(m, "Item"), 1);
        QCOMPARE(c.pendingOutbox(m), 1);

        QVERIFY2(agent.waitForStandardError("cycle 1 completed", 180000), qPrintable(agent.standardErrorSoFar()));
        QCOMPARE(c.pendingLocal(m, "Item"), 0);
        QCOMPARE(c.pendingOutbox(m), 0);
        QCOMPARE(CribSites::count(c.remote(), "Item", "MyNo = 'ITM-300' AND Processed = 1"), 1);
        QCOMPARE(CribSites::count(c.local(m), "Item", "MyNo = 'ITM-301' AND ASPProcessed = 1"), 1);

        // Asked how it stands while it runs: it is healthy, and it goes on undisturbed (the lock it
        // holds and its single-instance socket are not touched).
        const QByteArray settingsBefore = [&] {
            QFile settings(QDir(c.computer(m).configDir).filePath("settings.ini"));
            return settings.open(QIODevice::ReadOnly) ? settings.readAll() : QByteArray();
        }();
        const AgentResult status = agent.runStatus(c.computer(m).configDir, m);
        QVERIFY2(status.exitedWith(0) && status.standardOutput.startsWith("cribsync on CRIB-01: healthy\n"),
            qPrintable(status.standardOutput + status.describe()));
        QVERIFY2(status.standardOutput.contains("Nothing refused"), qPrintable(status.standardOutput));
        QVERIFY(agent.isRunning());
        QFile settings(QDir(c.computer(m).configDir).filePath("settings.ini"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QCOMPARE(settings.readAll(), settingsBefore);

        // Work that arrives while the agent waits goes at the next tick.
        const qint64 tran
            = c.addLocalTransaction(m, {9101, "B002", "ITM-002", "I", -3, 0, "E100", {}, QDateTime::currentDateTime()});
        const qint64 bin = c.remoteId("Bin", "Station = 'S1' AND MyNo = 'B004'");
        c.updateRemote("Bin", QStringLiteral("RecordID = %1").arg(bin), {{"Description", "moved by the office"}});
        const qint64 binOrder = c.orderCopy(m, "Bin", bin);
        QVERIFY2(agent.waitForStandardError("cycle 2 completed", 180000), qPrintable(agent.standardErrorSoFar()));
        QVERIFY(agent.isRunning());

        const AgentResult result = agent.terminate();
        QVERIFY2(result.exitedWith(143), qPrintable(result.describe()));
        QVERIFY2(!result.standardError.contains("cycle 3"), qPrintable(result.describe()));

        QCOMPARE(CribSites::count(c.remote(), "MyTran", "TranNo = 9101 AND Processed = 1"), 1);
        QCOMPARE(
            CribSites::value(c.remote(), "SELECT OnHand FROM Bin WHERE Station = 'S1' AND MyNo = 'B002'").toInt(), 17);
        QCOMPARE(CribSites::value(c.local(m), "SELECT Description FROM Bin WHERE Station = 'S1' AND MyNo = 'B004'")
                     .toString(),
            QStringLiteral("moved by the office"));
        // Each row marked done once, by the tick that carried it.
        QCOMPARE(FlagAudit::lines(c.local(m)),
            QStringList({QStringLiteral("Item#%1 0->1").arg(localItem), QStringLiteral("MyTran#%1 0->1").arg(tran)}));
        QStringList remoteMarks = {QStringLiteral("Outbox#%1 0->1").arg(order),
            QStringLiteral("Outbox#%1 0->1").arg(binOrder), QStringLiteral("Item#%1 0->1").arg(remoteItem),
            QStringLiteral("Bin#%1 1->0").arg(bin), QStringLiteral("Bin#%1 0->1").arg(bin)};
        remoteMarks.sort();
        QCOMPARE(FlagAudit::lines(c.remote()), remoteMarks);
    }
};

QTEST_GUILESS_MAIN(TestTimerMode)
#include "TestTimerMode.moc"
