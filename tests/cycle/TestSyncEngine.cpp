#include "config/Credential.h"
#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "support/EngineSite.h"
#include "support/Files.h"

#include <QFile>
#include <QTest>
#include <memory>

using namespace db;

/// The database start-up and whole cycles on the embedded demo databases, with the clock, the
/// machine name and the front end injected.
class TestSyncEngine : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<EngineSite> m_site;
    // The site's parts under the names the cases use.
    QTemporaryDir* m_dir = nullptr;
    FakeHost* m_host = nullptr;
    CycleLog* m_log = nullptr;
    SyncEngine* m_engine = nullptr;
    int m_restarts = 0;
    bool m_timerRunning = false;

    QVariant scalar(const QString& database, const QString& sql)
    {
        return database == m_site->localName ? m_site->localValue(sql) : m_site->remoteValue(sql);
    }

    void execute(const QString& database, const QString& sql)
    {
        (database == m_site->localName ? m_site->local : m_site->remote).execute(sql);
    }

    void start() { QVERIFY(m_site->start()); }

private Q_SLOTS:
    void init()
    {
        m_site = std::make_unique<EngineSite>(CribFixture::Options{
            .databases = CribFixture::Databases::Demo, .machineName = QStringLiteral("CRIB-DEMO")});
        m_dir = &m_site->dir;
        m_host = &m_site->host;
        m_log = m_site->log.get();
        m_engine = m_site->engine.get();
        m_restarts = 0;
        m_timerRunning = true;
        m_engine->setTimerControl([this] { m_timerRunning = false; },
            [this] {
                m_timerRunning = true;
                ++m_restarts;
            });
    }

    void cleanup() { m_site.reset(); }

    void startUpConnectsRegistersAndListsTables()
    {
        AgentSettings s = m_site->settings();
        s.useWindowsAuth = false;
        s.localLogin = QStringLiteral("sa");
        s.localPassword = QStringLiteral("pw");
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Connected);
        QVERIFY(s.localLogin.isEmpty() && s.localPassword.isEmpty());
        QVERIFY(m_engine->RemoteConnectionString().contains(
            QStringLiteral("Initial Catalog=CribRemote;Data Source=sqlite:%1,1433;").arg(m_dir->path())));
        QVERIFY(m_host->remoteTables.contains("Outbox"));
        QVERIFY(!m_host->localTables.contains("TempIssue")); // never synchronised
        QVERIFY(m_host->localTables.contains("Bin"));
        QVERIFY(m_host->remoteProcedures.contains("sp_CorvaneTran;1"));
        QVERIFY(m_host->trayVisible);
        QCOMPARE(scalar("CribLocal", "SELECT count(*) FROM Control WHERE ComputerName = 'CRIB-DEMO' AND Synch = 1"),
            QVariant(1));
        QVERIFY(m_host->messages.isEmpty());
    }

    void missingCredentialsAreAskedAndStoredInEveryCompanyRow()
    {
        {
            Connection c;
            c.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=CribLocal").arg(m_dir->path()));
            c.open();
            c.execute("UPDATE Company SET ASPPassword = ''");
            c.execute("INSERT INTO Company (Name) VALUES ('second')");
        }
        m_host->remoteLogins << NetLoginValues{"CribRemote", "crib2", "pw2"};
        AgentSettings s = m_site->settings();
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Connected);
        QCOMPARE(m_host->remoteLoginsAsked, 1);
        QCOMPARE(
            scalar("CribLocal",
                "SELECT count(*) FROM Company WHERE ASPLoginName = " + db::quotedLiteral(EncodeCredential("crib2"))),
            QVariant(2));
    }

    /// Without a Company row there is nowhere to keep the credentials: they serve this run only.
    void anEmptyCompanyTableAsksForTheCredentials()
    {
        execute("CribLocal", "DELETE FROM Company");
        AgentSettings s = m_site->settings();
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Ending);
        QCOMPARE(m_host->remoteLoginsAsked, 1);

        m_host->messages.clear();
        m_host->remoteLogins << NetLoginValues{"CribRemote", "crib", "secret"};
        s = m_site->settings();
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Connected);
        QCOMPARE(m_host->remoteLoginsAsked, 2);
        QCOMPARE(m_host->messages.size(), 1);
        QVERIFY2(m_host->messages[0].contains("Company table has no row"), qPrintable(m_host->messages[0]));
        QVERIFY(m_engine->RemoteConnectionString().contains("Initial Catalog=CribRemote;"));
        QCOMPARE(scalar("CribLocal", "SELECT count(*) FROM Company"), QVariant(0));
    }

    void wrongRemoteCredentialsAskOnceMoreThenEnd()
    {
        {
            Connection c;
            c.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=CribLocal").arg(m_dir->path()));
            c.open();
            c.execute("UPDATE Company SET ASPDataBaseName = " + db::quotedLiteral(EncodeCredential("Nowhere")));
        }
        m_host->remoteLogins << NetLoginValues{"StillNowhere", "crib", "pw"};
        AgentSettings s = m_site->settings();
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Ending);
        QCOMPARE(m_host->remoteLoginsAsked, 1);
        QCOMPARE(m_host->messages.size(), 2);
        QVERIFY2(m_host->messages[0].contains("Nowhere.db"), qPrintable(m_host->messages[0]));
        QVERIFY(m_host->messages[1].contains("StillNowhere.db"));
        QCOMPARE(m_host->ended, std::optional<ExitStatus>(ExitStatus::StartupIncomplete));
    }

    void localDatabaseFailureEndsTheProgram()
    {
        AgentSettings s = m_site->settings();
        s.localDatabase = QStringLiteral("Missing");
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Ending);
        QCOMPARE(m_host->messages.size(), 1);
        QVERIFY(m_host->messages[0].contains("Missing.db"));
        QVERIFY(!m_engine->MSDEConnection().isOpen());
    }

    void cycleSynchronisesAndStamps()
    {
        start();
        bool firstTick = true;
        m_host->entriesHidden = false;
        QVERIFY(m_engine->runCycle(firstTick));
        QVERIFY(!firstTick);
        QVERIFY(m_host->entriesHidden);
        QVERIFY(m_host->changeEnabled);
        QVERIFY(m_timerRunning);
        QCOMPARE(m_host->progressText, QStringLiteral("waiting..."));
        QCOMPARE(scalar("CribLocal", "SELECT count(*) FROM MyTran WHERE ASPProcessed = 0"), QVariant(0));
        QCOMPARE(scalar("CribRemote", "SELECT count(*) FROM Outbox WHERE ComputerName = 'CRIB-DEMO' AND Processed = 0"),
            QVariant(0));
        QCOMPARE(scalar("CribRemote", "SELECT LastSyncTime FROM Company").toDateTime(),
            QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::UTC));
        QCOMPARE(scalar("CribRemote", "SELECT ClientSyncTime FROM Company").toDateTime(),
            QDateTime(QDate(2026, 12, 8), QTime(17, 30), Qt::UTC));
        QVERIFY(scalar("CribRemote", "SELECT LastSyncTime FROM Control WHERE ComputerName = 'CRIB-DEMO'").isValid());
        QVERIFY(!scalar("CribRemote", "SELECT LastSyncTime FROM Control WHERE ComputerName = 'CRIB-DEMO'").isNull());
        // The hosted procedure has @DiscrepantQty, so the local Company is stamped as well.
        QCOMPARE(scalar("CribLocal", "SELECT LastSyncTime FROM Company").toDateTime(),
            QDateTime(QDate(2026, 12, 8), QTime(17, 30), Qt::UTC));
        QVERIFY(!m_engine->MSDEConnection().isOpen());
        QVERIFY(m_log->lastSummary().contains("completed"));
    }

    void unreachableRemoteEndsAfterTheProbe()
    {
        start();
        QVERIFY(moveDatabaseFile(m_dir->filePath("CribRemote.db"), m_dir->filePath("away.db"), {&m_site->remote}));
        bool firstTick = false;
        const QVariant before = scalar("CribLocal", "SELECT count(*) FROM MyTran WHERE ASPProcessed = 0");
        QVERIFY(!m_engine->runCycle(firstTick));
        QVERIFY(!m_host->changeEnabled);
        QVERIFY(m_timerRunning); // the next tick tries again
        QCOMPARE(scalar("CribLocal", "SELECT count(*) FROM MyTran WHERE ASPProcessed = 0"), before);
        QVERIFY(scalar("CribLocal", "SELECT LastSyncTime FROM Company").isNull());
        QVERIFY(m_log->lastSummary().contains("remote database unreachable"));

        QVERIFY(moveDatabaseFile(m_dir->filePath("away.db"), m_dir->filePath("CribRemote.db")));
        QVERIFY(m_engine->runCycle(firstTick));
        QVERIFY(m_host->changeEnabled);
    }

    void pushFailureStillAppliesAndStamps()
    {
        start();
        {
            Connection c;
            c.setConnectionString(
                QStringLiteral("Data Source=sqlite:%1;Initial Catalog=CribRemote").arg(m_dir->path()));
            c.open();
            // The remote Item refuses new rows: the push of the demo's new item fails.
            c.execute("CREATE TRIGGER NoItem BEFORE INSERT ON Item BEGIN SELECT RAISE(ABORT, 'items are locked'); END");
        }
        bool firstTick = true;
        QVERIFY(!m_engine->runCycle(firstTick));
        QVERIFY(m_restarts >= 1);
        QCOMPARE(scalar("CribRemote", "SELECT count(*) FROM Outbox WHERE TableName = 'Safety' AND Processed = 1"),
            QVariant(1));
        QVERIFY(!scalar("CribRemote", "SELECT LastSyncTime FROM Company").isNull());
        QVERIFY(m_log->lastFailure().contains("items are locked"));
        QVERIFY(m_host->changeEnabled);
    }

    void withoutDiscrepantQtyTheLocalCompanyIsNotStamped()
    {
        {
            Connection c;
            c.setConnectionString(
                QStringLiteral("Data Source=sqlite:%1;Initial Catalog=CribRemote").arg(m_dir->path()));
            c.open();
            c.execute("DELETE FROM cribsync_procedures WHERE name = 'sp_CorvaneTran'");
        }
        start(); // creates the agent's own procedure, which has no @DiscrepantQty
        bool firstTick = true;
        m_engine->runCycle(firstTick);
        QVERIFY(!m_engine->flags().ProcHasDiscrepantQty);
        QVERIFY(scalar("CribLocal", "SELECT LastSyncTime FROM Company").isNull());
        QVERIFY(!scalar("CribRemote", "SELECT LastSyncTime FROM Company").isNull());
    }

    void withoutAZoneListTheStampFollowsTheUsRulesAndSaysSoOnce()
    {
        m_site->zones.zones.clear();
        start();
        bool firstTick = true;
        QVERIFY(m_engine->runCycle(firstTick));
        QVERIFY(m_engine->runCycle(firstTick));
        QCOMPARE(scalar("CribRemote", "SELECT LastSyncTime FROM Company").toDateTime(),
            QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::UTC));
        QFile log(m_log->filePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count("lists no time zone"), 1);
    }

    void localConnectionRefusedReachesTheCaller()
    {
        start();
        QVERIFY(moveDatabaseFile(m_dir->filePath("CribLocal.db"), m_dir->filePath("away.db"),
            {&m_site->local, &m_engine->MSDEConnection()}));
        bool firstTick = false;
        QVERIFY_THROWS_EXCEPTION(DbError, m_engine->runCycle(firstTick));
        QVERIFY(!m_timerRunning); // no further ticks
        QVERIFY(!m_host->changeEnabled);
    }

    void aTickDuringACycleDoesNotNest()
    {
        start();
        int nested = 0;
        m_host->onProcessEvents = [&] {
            bool again = false;
            if (m_engine->isRunning() && !m_engine->runCycle(again))
                ++nested;
        };
        bool firstTick = true;
        QVERIFY(m_engine->runCycle(firstTick));
        QVERIFY(nested > 0);
        QCOMPARE(m_log->cycleNumber(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "TestSyncEngine.moc"
