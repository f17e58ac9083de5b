#include "FakeHost.h"
#include "clock/MockClock.h"
#include "clock/TimeZoneList.h"
#include "config/Credential.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/SqlTrace.h"
#include "demo/CribSchema.h"
#include "demo/DemoDatabases.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace db;

namespace {

/// One zone: US Pacific without daylight saving, so the remote stamp is UTC - 8 hours; or none.
class PacificZones : public TimeZoneList
{
public:
    bool listed = true;

    QList<TimeZoneEntry> zonesAt(const QDateTime&) const override
    {
        if (!listed)
            return {};
        TimeZoneEntry e;
        e.displayName = QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)");
        e.bias = 480;
        return {e};
    }
};

} // namespace

/// The database start-up and whole cycles on the embedded demo databases, with the clock, the
/// machine name and the front end injected.
class TestSyncEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    FakeHost* m_host = nullptr;
    MockClock* m_clock = nullptr;
    PacificZones m_zones;
    CycleLog* m_log = nullptr;
    SyncEngine* m_engine = nullptr;
    int m_restarts = 0;
    bool m_timerRunning = false;

    AgentSettings settings(const QString& remoteFolder)
    {
        AgentSettings s;
        s.useWindowsAuth = true;
        s.localServer = QStringLiteral("sqlite:") + m_dir->path();
        s.localDatabase = DemoDatabases::localName();
        s.remoteAddress = QStringLiteral("sqlite:") + remoteFolder;
        s.remotePort = QStringLiteral("1433");
        s.machineName = QStringLiteral("CRIB-DEMO");
        return s;
    }

    QVariant scalar(const QString& database, const QString& sql)
    {
        Connection c;
        c.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(m_dir->path(), database));
        c.open();
        return c.query(sql).rows.value(0).value(0);
    }

    void execute(const QString& database, const QString& sql)
    {
        Connection c;
        c.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(m_dir->path(), database));
        c.open();
        c.execute(sql);
    }

    void start()
    {
        AgentSettings s = settings(m_dir->path());
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Connected);
        m_engine->DataModuleCreate();
    }

private Q_SLOTS:
    void init()
    {
        m_dir = new QTemporaryDir;
        DemoDatabases::create(m_dir->path(), QStringLiteral("CRIB-DEMO"), EncodeCredential("CribRemote"),
            EncodeCredential("crib"), EncodeCredential("secret"));
        m_host = new FakeHost;
        m_clock = new MockClock(QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(17, 30), Qt::UTC));
        m_log = new CycleLog(m_dir->filePath("cribsync.log"), m_clock);
        m_engine = new SyncEngine(m_host, m_clock, &m_zones, m_log);
        m_host->watch(*m_engine);
        m_zones.listed = true;
        m_restarts = 0;
        m_timerRunning = true;
        m_engine->setTimerControl([this] { m_timerRunning = false; },
            [this] {
                m_timerRunning = true;
                ++m_restarts;
            });
    }

    void cleanup()
    {
        delete m_engine;
        delete m_log;
        delete m_clock;
        delete m_host;
        delete m_dir;
        ConnectionPool::instance().clear();
        qunsetenv("CRIBSYNC_SQL_TRACE");
        SqlTrace::reload();
    }

    void startUpConnectsRegistersAndListsTables()
    {
        AgentSettings s = settings(m_dir->path());
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
        AgentSettings s = settings(m_dir->path());
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
        AgentSettings s = settings(m_dir->path());
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Ending);
        QCOMPARE(m_host->remoteLoginsAsked, 1);

        m_host->messages.clear();
        m_host->remoteLogins << NetLoginValues{"CribRemote", "crib", "secret"};
        s = settings(m_dir->path());
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
        AgentSettings s = settings(m_dir->path());
        QCOMPARE(m_engine->connectDatabases(s), SyncEngine::StartupOutcome::Ending);
        QCOMPARE(m_host->remoteLoginsAsked, 1);
        QCOMPARE(m_host->messages.size(), 2);
        QVERIFY2(m_host->messages[0].contains("Nowhere.db"), qPrintable(m_host->messages[0]));
        QVERIFY(m_host->messages[1].contains("StillNowhere.db"));
        QCOMPARE(m_host->ended, std::optional<ExitStatus>(ExitStatus::StartupIncomplete));
    }

    void localDatabaseFailureEndsTheProgram()
    {
        AgentSettings s = settings(m_dir->path());
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
            QDateTime(QDate(2026, 12, 8), QTime(9, 30)));
        QCOMPARE(scalar("CribRemote", "SELECT ClientSyncTime FROM Company").toDateTime(),
            QDateTime(QDate(2026, 12, 8), QTime(17, 30)));
        QVERIFY(scalar("CribRemote", "SELECT LastSyncTime FROM Control WHERE ComputerName = 'CRIB-DEMO'").isValid());
        QVERIFY(!scalar("CribRemote", "SELECT LastSyncTime FROM Control WHERE ComputerName = 'CRIB-DEMO'").isNull());
        // The hosted procedure has @DiscrepantQty, so the local Company is stamped as well.
        QCOMPARE(scalar("CribLocal", "SELECT LastSyncTime FROM Company").toDateTime(),
            QDateTime(QDate(2026, 12, 8), QTime(17, 30)));
        QVERIFY(!m_engine->MSDEConnection().isOpen());
        QVERIFY(m_log->lastSummary().contains("completed"));
    }

    void unreachableRemoteEndsAfterTheProbe()
    {
        start();
        QVERIFY(QFile::rename(m_dir->filePath("CribRemote.db"), m_dir->filePath("away.db")));
        ConnectionPool::instance().clear();
        bool firstTick = false;
        const QVariant before = scalar("CribLocal", "SELECT count(*) FROM MyTran WHERE ASPProcessed = 0");
        QVERIFY(!m_engine->runCycle(firstTick));
        QVERIFY(!m_host->changeEnabled);
        QVERIFY(m_timerRunning); // the next tick tries again
        QCOMPARE(scalar("CribLocal", "SELECT count(*) FROM MyTran WHERE ASPProcessed = 0"), before);
        QVERIFY(scalar("CribLocal", "SELECT LastSyncTime FROM Company").isNull());
        QVERIFY(m_log->lastSummary().contains("remote database unreachable"));

        QVERIFY(QFile::rename(m_dir->filePath("away.db"), m_dir->filePath("CribRemote.db")));
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
        m_zones.listed = false;
        start();
        bool firstTick = true;
        QVERIFY(m_engine->runCycle(firstTick));
        QVERIFY(m_engine->runCycle(firstTick));
        QCOMPARE(scalar("CribRemote", "SELECT LastSyncTime FROM Company").toDateTime(),
            QDateTime(QDate(2026, 12, 8), QTime(9, 30)));
        QFile log(m_log->filePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count("lists no time zone"), 1);
    }

    void localConnectionRefusedReachesTheCaller()
    {
        start();
        QVERIFY(QFile::rename(m_dir->filePath("CribLocal.db"), m_dir->filePath("away.db")));
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
