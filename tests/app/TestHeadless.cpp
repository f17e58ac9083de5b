#include "app/CrashReport.h"
#include "app/HeadlessApplication.h"
#include "app/HeadlessHost.h"
#include "app/HeadlessRun.h"
#include "app/SignalQuit.h"
#include "clock/SystemClock.h"
#include "clock/SystemTimeZoneList.h"
#include "cycle/Agent.h"
#include "demo/DemoDatabases.h"
#include "demo/DemoSetup.h"
#include "doubles/FakeTdsServer.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <stdexcept>

namespace {
const SystemClock systemClock;
const SystemTimeZoneList systemZones;
} // namespace

/// Running without a window: the crash report on standard error, the exit statuses of a
/// start-up that cannot go on, and the signals that end the program.
class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aFailureInAnEventHandlerIsReportedAndTheLoopGoesOn()
    {
        QStringList reported;
        CrashReport::setReporter([&reported](const QString& text) { reported << text; });
        bool later = false;
        QTimer::singleShot(0, [] { throw std::runtime_error("connection reset"); });
        QTimer::singleShot(0, [&later] {
            later = true;
            QCoreApplication::exit(5);
        });
        QCOMPARE(QCoreApplication::exec(), 5);
        QVERIFY(later);
        QCOMPARE(reported, QStringList({"connection reset"}));
        CrashReport::setReporter({});
    }

    void startUpWithoutAddressEndsWithStatusTwo_data()
    {
        QTest::addColumn<bool>("once");
        QTest::newRow("headless") << false;
        QTest::newRow("once") << true;
    }

    void startUpWithoutAddressEndsWithStatusTwo()
    {
        QFETCH(bool, once);
        QTemporaryDir dir;
        {
            QSettings key(dir.filePath("settings.ini"), QSettings::IniFormat);
            key.setValue("SERVER", "SQL01");
            key.setValue("WinAuth", "1");
        }
        QStringList lines;
        HeadlessHost host([&lines](const QString& line) { lines << line; });
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        HeadlessRun run(&agent, &host, once);
        run.start();
        QCOMPARE(QCoreApplication::exec(), 2);
        QCOMPARE(lines.filter("Need to edit"), QStringList({"Need to edit IP address!", "Need to edit PortNo!"}));
        QCOMPARE(agent.startup(), Agent::Startup::WaitingForAddress);
    }

    void anUncaughtFailureBeforeTheCycleEndsOnceWithStatusTwo()
    {
        QTemporaryDir dir;
        QStringList lines;
        HeadlessHost host([&lines](const QString& line) { lines << line; });
        // "paths.ini" is a folder, so storing the interval fails.
        QDir(dir.path()).mkdir("paths.ini");
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        HeadlessRun run(&agent, &host, true);
        QTimer::singleShot(0, &agent, [&agent] { agent.btnChangeClick(40); });
        QCOMPARE(QCoreApplication::exec(), 2);
        QVERIFY(!lines.filter("Application Error!").isEmpty());
    }

    void noLoginDialogWithoutAWindow()
    {
        QTemporaryDir dir;
        QStringList lines;
        HeadlessHost host([&lines](const QString& line) { lines << line; });
        Agent agent(ConfigStore::inFolder(dir.path()), &host, &systemClock, &systemZones);
        HeadlessRun run(&agent, &host, false);
        run.start();
        QCOMPARE(QCoreApplication::exec(), 2);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.front().contains("login dialog"));
        QCOMPARE(QSettings(dir.filePath("settings.ini"), QSettings::IniFormat).allKeys(), QStringList());
    }

    void aRemoteStartUpFailureNamesItsCause_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<bool>("once");
        QTest::addColumn<int>("status"); // -1: still running, waiting for the network
        QTest::addColumn<QString>("message");
        QTest::newRow("unreachable, once") << "closed port" << true << 2 << "cannot be reached (08";
        QTest::newRow("unreachable, headless waits") << "closed port" << false << -1 << "tried again in 30 s";
        QTest::newRow("login refused, headless") << "refusing" << false << 2 << "refused the login crib (28000)";
        QTest::newRow("corrupt remote file, once") << "corrupt" << true << 2 << "is not a database (XX001)";
    }

    void aRemoteStartUpFailureNamesItsCause()
    {
        QFETCH(QString, remote);
        QFETCH(bool, once);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTemporaryDir dir;
        DemoSetup::prepare(dir.path(), "CRIB-DEMO");
        FakeTdsServer refusing(FakeTdsServer::Behaviour::RefuseLogin);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 closedPort = closed.serverPort();
        closed.close();
        if (remote == "corrupt") {
            QFile file(QDir(dir.path()).filePath(DemoDatabases::remoteName() + ".db"));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(4096, 'x'));
        } else {
            QSettings key(dir.filePath("settings.ini"), QSettings::IniFormat);
            key.setValue("IPADDRESS", "127.0.0.1");
            key.setValue("PortNo", remote == "refusing" ? refusing.port() : closedPort);
            if (!FakeTdsServer::clientDriver().isEmpty())
                QSettings(dir.filePath("paths.ini"), QSettings::IniFormat)
                    .setValue("Cribsync/OdbcDriver", FakeTdsServer::clientDriver());
        }
        QStringList lines;
        HeadlessHost host([&lines](const QString& line) {
            lines << line;
            if (line.contains("tried again"))
                QCoreApplication::exit(-1);
        });
        Agent agent(DemoSetup::store(dir.path()), &host, &systemClock, &systemZones, "CRIB-DEMO");
        HeadlessRun run(&agent, &host, once);
        run.start();
        QCOMPARE(run.exec(), status);
        QVERIFY2(!lines.filter(message).isEmpty(), qPrintable(lines.join('\n')));
        // Only a refused login is blamed on the credentials.
        QCOMPARE(lines.filter("login or password").isEmpty(), remote != "refusing");
    }

    void aSignalDuringTheOnceCycleEndsWithItsStatus()
    {
        QTemporaryDir dir;
        DemoSetup::prepare(dir.path(), "CRIB-DEMO");
        HeadlessHost host([](const QString&) {});
        Agent agent(DemoSetup::store(dir.path()), &host, &systemClock, &systemZones, "CRIB-DEMO");
        HeadlessRun run(&agent, &host, true);
        bool cycleRan = false;
        // The signal comes while the cycle runs; the cycle's end then asks for its own status.
        connect(&agent, &Agent::cycleFinished, &run, [&run, &cycleRan] {
            cycleRan = true;
            run.quit(128 + SIGTERM);
        });
        run.start();
        QCOMPARE(run.exec(), 128 + SIGTERM);
        QVERIFY(cycleRan);
    }

    void interruptAndTerminateReachTheEventLoop()
    {
#ifdef Q_OS_WIN
        QSKIP("the C run-time's SIGTERM ends a Windows program at once; the agent does not catch it there");
#endif
        SignalQuit signals;
        QSignalSpy spy(&signals, &SignalQuit::received);
        std::raise(SIGTERM);
        QTRY_COMPARE(spy.count(), 1);
        std::raise(SIGINT);
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), SIGTERM);
        QCOMPARE(spy.at(1).at(0).toInt(), SIGINT);
    }
};

int main(int argc, char* argv[])
{
    HeadlessApplication app(argc, argv);
    TestHeadless test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestHeadless.moc"
