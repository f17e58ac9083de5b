#include "cycle/Agent.h"

#include "clock/SystemClock.h"
#include "clock/SystemTimeZoneList.h"
#include "config/ConfigError.h"
#include "config/Credential.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "doubles/RecordingHost.h"
#include "support/CribFixture.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const SystemClock systemClock;
const SystemTimeZoneList systemZones;

} // namespace

/// The start-up sequence up to the database start-up, Change and Connect.
class AgentTest : public QObject
{
    Q_OBJECT

private:
    // The registry form: the key (settings.ini) can be created in a fresh folder.
    static void fillKey(const QTemporaryDir& dir, const QVariantMap& values)
    {
        QSettings key(dir.filePath("settings.ini"), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            key.setValue(it.key(), it.value());
    }

    static QString keyValue(const QTemporaryDir& dir, const QString& name)
    {
        return QSettings(dir.filePath("settings.ini"), QSettings::IniFormat).value(name).toString();
    }

    // The INI form: a folder named settings.ini can be neither opened nor created.
    static void blockKey(const QTemporaryDir& dir) { QDir(dir.path()).mkdir("settings.ini"); }

    // Both databases are embedded ones in `dir`; start-up finds them only where a test made them.
    static QVariantMap configured(const QTemporaryDir& dir)
    {
        const QString server = QStringLiteral("sqlite:") + dir.path();
        return {{"SERVER", server}, {"DATABASENAME", "CribLocal"}, {"LOGIN", "sa"},
            {"PASSWORD", EncodeCredential("pw")}, {"WinAuth", "0"}, {"IPADDRESS", server}, {"PortNo", "1433"}};
    }

    // The demo pair of CRIB-7, whose names the configured settings carry.
    static CribFixture::Options demo()
    {
        return {.databases = CribFixture::Databases::Demo, .machineName = QStringLiteral("CRIB-7")};
    }

private Q_SLOTS:
    void emptyAddressAndPortStopStartUp()
    {
        QTemporaryDir dir;
        QVariantMap values = configured(dir);
        values["IPADDRESS"] = "";
        values["PortNo"] = "";
        fillKey(dir, values);
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones, "CRIB-7");
        host.watch(agent);
        agent.FormCreate();

        QCOMPARE(host.calls,
            QStringList({"message: Need to edit IP address!", "entry: address", "tray shown",
                "message: Need to edit PortNo!", "entry: port", "tray shown"}));
        QCOMPARE(agent.startup(), Agent::Startup::WaitingForAddress);
        QVERIFY(!agent.Timer1()->isActive());
        QVERIFY(agent.FirstTick());
        QCOMPARE(agent.RemoteAddress(), QString());
        QCOMPARE(agent.MachineName(), QString());
    }

    void oneMissingValueKeepsBothUnstored()
    {
        QTemporaryDir dir;
        QVariantMap values = configured(dir);
        values["PortNo"] = "";
        fillKey(dir, values);
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();
        QCOMPARE(host.calls, QStringList({"message: Need to edit PortNo!", "entry: port", "tray shown"}));
        QCOMPARE(agent.RemoteAddress(), QString());
    }

    void readsTheSettingsIntoTheAgent()
    {
        QTemporaryDir dir;
        fillKey(dir, configured(dir));
        writeFile(dir.filePath("paths.ini"), "[Corvane]\nTime=45\n[Emp]\nExcludeCrib=1\n");
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones, "CRIB-7");
        host.watch(agent);
        agent.FormCreate();

        QCOMPARE(host.loginsAsked, 0);
        QCOMPARE(agent.LocalServer(), QStringLiteral("sqlite:") + dir.path());
        QCOMPARE(agent.LocalDatabase(), QStringLiteral("CribLocal"));
        QVERIFY(!agent.UseWindowsAuth());
        QCOMPARE(agent.RemoteAddress(), QStringLiteral("sqlite:") + dir.path());
        QCOMPARE(agent.RemotePort(), QStringLiteral("1433"));
        QCOMPARE(agent.MachineName(), QStringLiteral("CRIB-7"));
        QCOMPARE(agent.SyncIntervalSeconds(), 45);
        QCOMPARE(agent.ExcludeCrib(), QStringLiteral("1"));
        // The local credentials went into the connection string and are not kept.
        QCOMPARE(agent.LocalLogin(), QString());
        QCOMPARE(agent.LocalPassword(), QString());
        // There is no local database: its failure is shown and ends the program.
        QCOMPARE(host.calls.size(), 1);
        QVERIFY(host.calls.front().startsWith("message: "));
        QCOMPARE(host.ended, std::optional<ExitStatus>(ExitStatus::StartupIncomplete));
        QCOMPARE(agent.startup(), Agent::Startup::Ending);
        QVERIFY(!agent.Timer1()->isActive());
    }

    void aCompleteStartUpArmsTheTimerAndItsTickRunsACycle()
    {
        const CribFixture f(demo());
        const QTemporaryDir& dir = f.dir;
        fillKey(dir, configured(dir));
        writeFile(dir.filePath("paths.ini"), "[Corvane]\nTime=45\n");
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones, "CRIB-7");
        host.watch(agent);
        agent.FormCreate();
        QCOMPARE(host.calls, QStringList({"tray shown"}));
        QCOMPARE(agent.startup(), Agent::Startup::Armed);
        QCOMPARE(agent.Timer1()->interval(), 45000);
        agent.DataModuleCreate();

        agent.Timer1()->start(10); // the tick, without waiting the interval
        QSignalSpy finished(&agent, &Agent::cycleFinished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.front().front().toBool(), true);
        QVERIFY(!agent.FirstTick());
        QVERIFY(host.calls.contains("entries hidden"));
        QVERIFY(agent.Timer1()->isActive());
        QVERIFY(QFile(agent.log().filePath()).size() > 0);
    }

    void aFailedFirstTickIsRepeatedAtTheNextTick()
    {
        CribFixture f(demo());
        const QTemporaryDir& dir = f.dir;
        fillKey(dir, configured(dir));
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones, "CRIB-7");
        host.watch(agent);
        agent.FormCreate();
        QCOMPARE(agent.startup(), Agent::Startup::Armed);
        // The remote database goes away before the first tick.
        QVERIFY(moveDatabaseFile(dir.filePath("CribRemote.db"), dir.filePath("away.db"), {&f.remote}));
        QVERIFY_THROWS_EXCEPTION(std::exception, agent.Timer1Timer());
        QVERIFY2(agent.log().lastSummary().endsWith("; 1 failure"), qPrintable(agent.log().lastSummary()));
        QVERIFY(agent.FirstTick());
        QVERIFY(agent.Timer1()->isActive());
        QVERIFY(moveDatabaseFile(dir.filePath("away.db"), dir.filePath("CribRemote.db")));
        QSignalSpy finished(&agent, &Agent::cycleFinished);
        agent.Timer1Timer();
        QCOMPARE(finished.size(), 1);
        QVERIFY(finished.front().front().toBool());
        QVERIFY(!agent.FirstTick());
    }

    void winAuthOtherThanOneIsRewrittenAsZero_data()
    {
        QTest::addColumn<bool>("iniForm");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("windowsAuth");
        QTest::addColumn<QString>("after");
        for (const bool iniForm : {false, true}) {
            const char* form = iniForm ? "ini " : "registry ";
            QTest::addRow("%s1", form) << iniForm << "1" << true << "1";
            QTest::addRow("%syes", form) << iniForm << "yes" << false << "0";
            QTest::addRow("%sTRUE", form) << iniForm << "TRUE" << false << "0";
            QTest::addRow("%s11", form) << iniForm << "11" << false << "0";
            QTest::addRow("%sempty", form) << iniForm << "" << false << "0";
        }
    }

    void winAuthOtherThanOneIsRewrittenAsZero()
    {
        QFETCH(bool, iniForm);
        QFETCH(QString, stored);
        QFETCH(bool, windowsAuth);
        QFETCH(QString, after);
        QTemporaryDir dir;
        QVariantMap values = configured(dir);
        values["WinAuth"] = stored;
        if (iniForm) {
            blockKey(dir);
            QByteArray file = "[Paths]\n";
            for (auto it = values.begin(); it != values.end(); ++it)
                file += it.key().toUtf8() + "=" + it.value().toString().toLatin1() + "\n";
            writeFile(dir.filePath("paths.ini"), file);
        } else {
            fillKey(dir, values);
        }
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();
        QCOMPARE(agent.UseWindowsAuth(), windowsAuth);
        QCOMPARE(agent.config().read(StoreKey::WinAuth), after);
    }

    void firstConfigurationInTheRegistryFormIgnoresHowTheDialogClosed()
    {
        QTemporaryDir dir;
        RecordingHost host;
        host.loginAnswer = LoginAnswer{{"SQL01", "Crib", "", "pw", true, "", ""}, false};
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();

        QCOMPARE(host.loginsAsked, 1);
        QVERIFY(!host.ended);
        QCOMPARE(keyValue(dir, "SERVER"), QStringLiteral("SQL01"));
        QCOMPARE(keyValue(dir, "PASSWORD"), EncodeCredential("pw"));
        QCOMPARE(keyValue(dir, "WinAuth"), QStringLiteral("1"));
        QVERIFY(agent.UseWindowsAuth());
        QCOMPARE(agent.LocalPassword(), QStringLiteral("pw"));
        // A fresh computer has no address yet: both are asked for in the window.
        QCOMPARE(host.calls.filter("message: "),
            QStringList({"message: Need to edit IP address!", "message: Need to edit PortNo!"}));
        QCOMPARE(agent.startup(), Agent::Startup::WaitingForAddress);

        // The next start finds the server and does not ask again.
        RecordingHost again;
        Agent next(ConfigStore::inFolder(dir.path()), &again, &systemClock, &systemZones);
        next.FormCreate();
        QCOMPARE(again.loginsAsked, 0);
    }

    void firstConfigurationInTheIniForm()
    {
        QTemporaryDir dir;
        blockKey(dir);
        writeFile(dir.filePath("paths.ini"), "[Paths]\nSERVER=ERROR\n[Corvane]\nTime=60\n");
        RecordingHost host;
        host.loginAnswer = LoginAnswer{{"SQL01", "Crib", "sa", "pw", false, "", ""}, true};
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();

        QCOMPARE(host.loginsAsked, 1);
        QCOMPARE(agent.LocalServer(), QStringLiteral("SQL01"));
        QCOMPARE(agent.LocalLogin(), QStringLiteral("sa"));
        QCOMPARE(agent.LocalPassword(), QStringLiteral("pw"));
        QCOMPARE(agent.SyncIntervalSeconds(), 60);
    }

    void iniFormDialogClosedWithoutOkEndsTheProgram_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("server named ERROR") << QByteArray("[paths]\nserver=ERROR\n");
    }

    void iniFormDialogClosedWithoutOkEndsTheProgram()
    {
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        blockKey(dir);
        if (!file.isEmpty())
            writeFile(dir.filePath("paths.ini"), file);
        RecordingHost host;
        host.loginAnswer = LoginAnswer{{"SQL01", "Crib", "sa", "pw", false, "", ""}, false};
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();

        QCOMPARE(host.loginsAsked, 1);
        QCOMPARE(host.ended, std::optional<ExitStatus>(ExitStatus::StartupIncomplete));
        QCOMPARE(agent.startup(), Agent::Startup::Ending);
        QVERIFY(host.calls.isEmpty());
        QCOMPARE(readFile(dir.filePath("paths.ini")), file);
    }

    // The program's folder below C:\\Program Files, for a user without administrator rights.
    void aReadOnlySettingsFolderKeepsTheLogInTheLocalDataFolder()
    {
        QStandardPaths::setTestModeEnabled(true);
        QTemporaryDir dir;
        if (!setFolderReadOnly(dir.path(), true))
            QSKIP("cannot make a folder read-only here");
        const auto restore = qScopeGuard([&] { setFolderReadOnly(dir.path(), false); });
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones, "CRIB-7");
        const QString log = agent.log().filePath();
        const auto removeLog = qScopeGuard([&] { QFile::remove(log); });
        QCOMPARE(QFileInfo(log).absolutePath(), QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
        agent.log().note("kept");
        QVERIFY(readFile(log).contains("kept"));
    }

    void noDialogToShowEndsWithoutWriting()
    {
        QTemporaryDir dir;
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();
        QCOMPARE(host.ended, std::optional<ExitStatus>(ExitStatus::StartupIncomplete));
        QCOMPARE(keyValue(dir, "SERVER"), QString());
        QCOMPARE(keyValue(dir, "WinAuth"), QString());
    }

    void aStoreThatCannotBeWrittenIsAFailureNotASuccess()
    {
        QTemporaryDir dir;
        blockKey(dir);
        QDir(dir.path()).mkdir("paths.ini");
        RecordingHost host;
        host.loginAnswer = LoginAnswer{{"SQL01", "Crib", "sa", "pw", false, "", ""}, true};
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        QVERIFY_THROWS_EXCEPTION(ConfigError, agent.FormCreate());
        QCOMPARE(agent.startup(), Agent::Startup::InProgress);
        QVERIFY(!agent.Timer1()->isActive());
    }

    void smallIntervalsRunAtThirtySeconds()
    {
        QTemporaryDir dir;
        fillKey(dir, configured(dir));
        writeFile(dir.filePath("paths.ini"), "[Corvane]\nTime=5\n");
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();
        QCOMPARE(agent.SyncIntervalSeconds(), 30);
    }

    void changeStoresTheIntervalAndRunsAtLeastThirty()
    {
        QTemporaryDir dir;
        fillKey(dir, configured(dir));
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.FormCreate();
        QVERIFY(!agent.Timer1()->isActive());

        agent.btnChangeClick(10);
        QCOMPARE(agent.config().syncTime(), 10);
        QCOMPARE(agent.SyncIntervalSeconds(), 30);
        QCOMPARE(host.interval, 30);
        QVERIFY(agent.Timer1()->isActive());
        QCOMPARE(agent.Timer1()->interval(), 30000);

        agent.FormCreate();
        QCOMPARE(agent.SyncIntervalSeconds(), 30);

        agent.btnChangeClick(45);
        QCOMPARE(agent.Timer1()->interval(), 45000);
        QCOMPARE(host.interval, 45);
    }

    void anIntervalBeyondTheTimersRangeIsCapped()
    {
        QTemporaryDir dir;
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        host.watch(agent);
        agent.btnChangeClick(3000000);
        QCOMPARE(agent.config().syncTime(), 3000000);
        QCOMPARE(agent.SyncIntervalSeconds(), Agent::MaximumInterval);
        QVERIFY(agent.Timer1()->interval() > 0);
    }

    void connectStoresTheAddressAndStartsAgain()
    {
        const CribFixture f(demo());
        const QTemporaryDir& dir = f.dir;
        QVariantMap values = configured(dir);
        values.remove("IPADDRESS");
        values.remove("PortNo");
        fillKey(dir, values);
        RecordingHost host;
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones, "CRIB-7");
        host.watch(agent);
        agent.FormCreate();
        QCOMPARE(agent.startup(), Agent::Startup::WaitingForAddress);
        host.calls.clear();

        const QString address = QStringLiteral("sqlite:") + dir.path();
        agent.Button1Click(address, "1444");
        QCOMPARE(host.calls, QStringList({"tray shown"}));
        QCOMPARE(keyValue(dir, "IPADDRESS"), address);
        QCOMPARE(keyValue(dir, "PortNo"), QStringLiteral("1444"));
        QCOMPARE(agent.RemoteAddress(), address);
        QCOMPARE(agent.RemotePort(), QStringLiteral("1444"));
        QCOMPARE(agent.MachineName(), QStringLiteral("CRIB-7"));
        QCOMPARE(agent.startup(), Agent::Startup::Armed);
    }
};

QTEST_GUILESS_MAIN(AgentTest)
#include "AgentTest.moc"
