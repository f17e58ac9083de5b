#include "demo/DemoSetup.h"
#include "doubles/FakeTdsServer.h"
#include "support/Files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

/// The program as started from a shell: the single-instance rule, the headless exit statuses
/// and the command line.
class TestExecutable : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_programDir;
    QString m_program;

    static constexpr int WaitMs = 60000;

    QProcess* start(const QStringList& arguments, const QString& platform = QStringLiteral("offscreen"),
        const QString& tmpDir = {}, const QString& workingDir = {}, const QStringList& asUser = {})
    {
        auto* process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", platform);
        if (!tmpDir.isEmpty())
            env.insert("TMPDIR", tmpDir);
        process->setWorkingDirectory(workingDir);
        env.insert("QT_LOGGING_RULES", "cribsync.instance.debug=true");
        // A windowed program without a console logs to the debugger on Windows.
        env.insert("QT_FORCE_STDERR_LOGGING", "1");
        process->setProcessEnvironment(env);
        process->setReadChannel(QProcess::StandardError);
        if (asUser.isEmpty())
            process->start(m_program, arguments);
        else
            process->start(asUser.first(), asUser.mid(1) + QStringList{m_program} + arguments);
        return process;
    }

    /// A settings folder's files, less the writability probe that a starting copy makes and
    /// removes at once.
    static QMap<QString, QByteArray> settingsFiles(const QString& folder)
    {
        QMap<QString, QByteArray> files = filesOf(folder);
        files.removeIf([](const auto& file) { return QFileInfo(file.key()).fileName().startsWith(".cribsync-"); });
        return files;
    }

private Q_SLOTS:
    void cleanup()
    {
        for (QProcess* process : findChildren<QProcess*>()) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(WaitMs);
            }
            delete process;
        }
    }

    void initTestCase()
    {
        // A private copy: its own name makes its own lock, apart from any other copy running here.
        m_program = m_programDir.filePath("cribsync-test-" + QUuid::createUuid().toString(QUuid::Id128).left(8));
        QVERIFY(QFile::copy(CRIBSYNC_EXECUTABLE, m_program));
    }

    // However the second copy spells the settings folder, and whatever its TMPDIR says.
    void aSecondCopyWakesTheFirstAndEndsWithoutChanges_data()
    {
        QTest::addColumn<QString>("spelling");
        QTest::newRow("same folder") << "same";
        QTest::newRow("through a symbolic link") << "link";
        QTest::newRow("relative") << "relative";
        QTest::newRow("another TMPDIR") << "tmpdir";
        QTest::newRow("another user account") << "user";
    }

    void aSecondCopyWakesTheFirstAndEndsWithoutChanges()
    {
        QFETCH(QString, spelling);
        QTemporaryDir config;
        QTemporaryDir elsewhere;
        QString secondFolder = config.path();
        QString workingDir;
        QString tmpDir;
        QStringList asUser;
        if (spelling == "link") {
#ifdef Q_OS_WIN
            QSKIP("QFile::link makes a shortcut on Windows, which the file system does not follow");
#endif
            secondFolder = elsewhere.filePath("link");
            QVERIFY(QFile::link(config.path(), secondFolder));
        } else if (spelling == "relative") {
            workingDir = QFileInfo(config.path()).path();
            secondFolder = "./" + QFileInfo(config.path()).fileName() + "/.";
        } else if (spelling == "tmpdir") {
            tmpDir = elsewhere.path();
        } else if (spelling == "user") {
#ifdef Q_OS_WIN
            QSKIP("needs a second Windows account");
#else
            const QString setpriv = QStandardPaths::findExecutable("setpriv");
            if (::geteuid() != 0 || setpriv.isEmpty())
                QSKIP("needs root and setpriv to start a copy as another user");
            asUser = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
            tmpDir = elsewhere.path();
            const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup;
            for (const QString& folder : {m_programDir.path(), config.path(), elsewhere.path()})
                QVERIFY(QFile::setPermissions(folder, open));
#endif
        }
        {
            QSettings key(config.filePath("settings.ini"), QSettings::IniFormat);
            key.setValue("SERVER", "SQL01");
            key.setValue("WinAuth", "0");
        }
        QProcess* first = start({"--config", config.path()});
        QString firstErr;
        while (!firstErr.contains("listening as")) {
            QVERIFY2(first->waitForReadyRead(WaitMs), qPrintable(firstErr));
            firstErr += QString::fromLocal8Bit(first->readAllStandardError());
        }
        // The first copy goes on to its "Need to edit IP address!" box while this looks.
        const auto before = settingsFiles(config.path());

        QProcess* second = start({"--config", secondFolder, "--headless"}, "offscreen", tmpDir, workingDir, asUser);
        QVERIFY(second->waitForFinished(WaitMs));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        const QString secondErr = QString::fromLocal8Bit(second->readAllStandardError());
        QVERIFY2(!secondErr.contains("Need to edit"), qPrintable(secondErr));
        QCOMPARE(settingsFiles(config.path()), before);

        while (!firstErr.contains("asks this one to come forward")) {
            QVERIFY2(first->waitForReadyRead(WaitMs), qPrintable(firstErr));
            firstErr += QString::fromLocal8Bit(first->readAllStandardError());
        }
        QCOMPARE(first->state(), QProcess::Running);
    }

    void aSignalDuringAStartUpBoxEndsWith128PlusSignal_data()
    {
        QTest::addColumn<QString>("server"); // empty: first configuration, the login dialog
        QTest::newRow("login dialog") << "";
        QTest::newRow("address box") << "SQL01";
    }

    void aSignalDuringAStartUpBoxEndsWith128PlusSignal()
    {
        QFETCH(QString, server);
#ifdef Q_OS_WIN
        QSKIP("no SIGTERM on Windows");
#endif
        QTemporaryDir config;
        if (!server.isEmpty()) {
            QSettings key(config.filePath("settings.ini"), QSettings::IniFormat);
            key.setValue("SERVER", server);
            key.setValue("WinAuth", "0");
        }
        QProcess* window = start({"--config", config.path()});
        QString err;
        while (!err.contains("listening as")) {
            QVERIFY2(window->waitForReadyRead(WaitMs), qPrintable(err));
            err += QString::fromLocal8Bit(window->readAllStandardError());
        }
        // Now on its "Need to edit IP address!" box.
        QTest::qWait(500);
        window->terminate();
        QVERIFY(window->waitForFinished(WaitMs));
        QCOMPARE(window->exitStatus(), QProcess::NormalExit);
        QCOMPARE(window->exitCode(), 128 + 15);
    }

    // A lock file that cannot be used is not the lock another copy holds: nothing ran, and a
    // scheduler must see that. A log that is not a file is only said, and the run goes on.
    void aSettingsFileThatCannotBeUsedIsSaid_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("FIFO") << "fifo" << 2 << "not a regular file";
        QTest::newRow("directory") << "directory" << 2 << "not a regular file";
        QTest::newRow("folder another user cannot write") << "user" << 2 << "Permission denied";
        QTest::newRow("log is a FIFO") << "logfifo" << 0 << "not a regular file";
        QTest::newRow("settings the service account cannot write")
            << "readonly" << 0 << "cannot be written by this account";
    }

    void aSettingsFileThatCannotBeUsedIsSaid()
    {
#ifdef Q_OS_WIN
        QSKIP("the lock is a named mutex on Windows, and the file system has no FIFOs");
#else
        QFETCH(QString, lock);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTemporaryDir config;
        const QString lockPath = config.filePath(QFileInfo(m_program).fileName() + ".lock");
        QStringList asUser;
        if (lock == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(lockPath).constData(), 0666), 0);
        } else if (lock == "logfifo") {
            DemoSetup::prepare(config.path(), "CRIB-DEMO");
            QCOMPARE(::mkfifo(QFile::encodeName(config.filePath("cribsync.log")).constData(), 0666), 0);
        } else if (lock == "directory") {
            QVERIFY(QDir().mkdir(lockPath));
        } else if (lock == "readonly") {
            // A configured crib: a run needs nothing written into its settings.
            DemoSetup::prepare(config.path(), "CRIB-DEMO");
            const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
            QVERIFY(QFile::setPermissions(config.filePath("settings.ini"), readable));
            if (::geteuid() == 0) {
                // Root writes whatever the permissions say: the file is root's, the run another account's.
                const QString setpriv = QStandardPaths::findExecutable("setpriv");
                if (setpriv.isEmpty())
                    QSKIP("needs setpriv to start a copy as another user");
                asUser = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
                const auto all = readable | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
                const auto folder = all | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
                QVERIFY(QFile::setPermissions(m_programDir.path(), folder & ~(QFile::WriteGroup | QFile::WriteOther)));
                QVERIFY(QFile::setPermissions(config.path(), folder));
                for (const QString& name : QDir(config.path()).entryList(QDir::Files)) {
                    if (name != "settings.ini")
                        QVERIFY(QFile::setPermissions(config.filePath(name), all));
                }
            }
        } else {
            const QString setpriv = QStandardPaths::findExecutable("setpriv");
            if (::geteuid() != 0 || setpriv.isEmpty())
                QSKIP("needs root and setpriv to start a copy as another user");
            asUser = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
            const auto readOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup;
            for (const QString& folder : {m_programDir.path(), config.path()})
                QVERIFY(QFile::setPermissions(folder, readOnly));
        }
        QProcess* once
            = start({"--once", lock == "logfifo" ? "--demo" : "--config", config.path()}, "none", {}, {}, asUser);
        QVERIFY(once->waitForFinished(WaitMs));
        const QString err = QString::fromLocal8Bit(once->readAllStandardError());
        QVERIFY2(once->exitCode() == status, qPrintable(QString::number(once->exitCode()) + err));
        QVERIFY2(err.contains(message) && err.contains(config.path()), qPrintable(err));
#endif
    }

    void headlessMessagesGoToStandardError()
    {
        QTemporaryDir config;
        {
            QSettings key(config.filePath("settings.ini"), QSettings::IniFormat);
            key.setValue("SERVER", "SQL01");
        }
        QProcess* once = start({"--once", "--config", config.path(), "--machine-name", "CRIB-7"}, "none");
        QVERIFY(once->waitForFinished(WaitMs));
        QCOMPARE(once->exitCode(), 2);
        const QString err = QString::fromLocal8Bit(once->readAllStandardError());
        const qsizetype address = err.indexOf("Need to edit IP address!");
        QVERIFY2(address >= 0 && err.indexOf("Need to edit PortNo!") > address, qPrintable(err));
    }

    void firstConfigurationCannotRunHeadless()
    {
        QTemporaryDir config;
        QProcess* headless = start({"--headless", "--config", config.path()}, "none");
        QVERIFY(headless->waitForFinished(WaitMs));
        QCOMPARE(headless->exitCode(), 2);
        QVERIFY(QString::fromLocal8Bit(headless->readAllStandardError()).contains("login dialog"));
        QCOMPARE(QSettings(config.filePath("settings.ini"), QSettings::IniFormat).value("SERVER"), QVariant());
    }

    void demoReachesARunningTimerAndCarriesOn()
    {
        QTemporaryDir folder;
        const QString demo = folder.filePath("demo");
        QProcess* agent = start({"--demo", demo, "--headless"}, "none");
        QString err;
        while (!err.contains("tables listed")) {
            QVERIFY2(agent->waitForReadyRead(WaitMs), qPrintable(err));
            err += QString::fromLocal8Bit(agent->readAllStandardError());
        }
        // Start-up is over and the program waits for its first tick.
        QVERIFY(!agent->waitForFinished(500));

        // A copy kept in another folder is another crib and runs beside this one.
        QTemporaryDir other;
        QProcess* beside = start({"--demo", other.filePath("demo"), "--headless"}, "none");
        QString besideErr;
        while (!besideErr.contains("tables listed")) {
            QVERIFY2(beside->waitForReadyRead(WaitMs), qPrintable(besideErr));
            besideErr += QString::fromLocal8Bit(beside->readAllStandardError());
        }
#ifdef Q_OS_WIN
        // No SIGTERM: ended as the Task Scheduler ends a task.
        beside->kill();
        QVERIFY(beside->waitForFinished(WaitMs));
        agent->kill();
        QVERIFY(agent->waitForFinished(WaitMs));
#else
        beside->terminate();
        QVERIFY(beside->waitForFinished(WaitMs));
        agent->terminate();
        QVERIFY(agent->waitForFinished(WaitMs));
        QCOMPARE(agent->exitCode(), 128 + 15);
#endif
        QVERIFY2(!err.contains("Application Error!"), qPrintable(err));

        // The next run finds the databases and settings it made and syncs them.
        for (int run = 0; run < 2; ++run) {
            QProcess* once = start({"--demo", demo, "--once"}, "none");
            QVERIFY(once->waitForFinished(WaitMs));
            const QString onceErr = QString::fromLocal8Bit(once->readAllStandardError());
            QVERIFY2(once->exitCode() == 0, qPrintable(QString::number(once->exitCode()) + onceErr));
            QVERIFY2(onceErr.contains("cycle 1 completed"), qPrintable(onceErr));
        }
    }

    void aBlockedProgramEnds_data()
    {
        QTest::addColumn<FakeTdsServer::Behaviour>("server");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("timeout"); // login and statement time-out, seconds
        QTest::addColumn<QString>("terminateAfter"); // empty: no signal
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        using B = FakeTdsServer::Behaviour;
        QTest::newRow("once, silent host") << B::Silent << "--once" << 3 << "" << 2 << "cannot be reached (HYT00)";
        QTest::newRow("SIGTERM waiting for the network")
            << B::Silent << "--headless" << 3 << "tried again in" << 143 << "";
        QTest::newRow("SIGTERM during the login")
            << B::Silent << "--headless" << 60 << "local schema checked" << 143 << "ending without waiting";
        QTest::newRow("SIGTERM during a statement")
            << B::SilentAfterLogin << "--once" << 60 << "local schema checked" << 143 << "ending without waiting";
    }

    void aBlockedProgramEnds()
    {
        QFETCH(FakeTdsServer::Behaviour, server);
        QFETCH(QString, mode);
        QFETCH(int, timeout);
        QFETCH(QString, terminateAfter);
        QFETCH(int, status);
        QFETCH(QString, message);
        if (qEnvironmentVariableIsEmpty("CRIBSYNC_SLOW"))
            QSKIP("waits out time-outs: runs as test_executable_blocked (label slow)");
#ifdef Q_OS_WIN
        if (!terminateAfter.isEmpty())
            QSKIP("no SIGTERM on Windows");
#endif
        QTemporaryDir folder;
        DemoSetup::prepare(folder.path(), "CRIB-DEMO");
        FakeTdsServer remote(server);
        {
            QSettings key(folder.filePath("settings.ini"), QSettings::IniFormat);
            key.setValue("IPADDRESS", "127.0.0.1");
            key.setValue("PortNo", remote.port());
            QSettings paths(folder.filePath("paths.ini"), QSettings::IniFormat);
            paths.setValue("Cribsync/LoginTimeout", timeout);
            paths.setValue("Cribsync/StatementTimeout", timeout);
        }
        QElapsedTimer timer;
        timer.start();
        QProcess* agent = start({"--demo", folder.path(), mode}, "none");
        QString err;
        if (!terminateAfter.isEmpty()) {
            while (!err.contains(terminateAfter)) {
                QVERIFY2(agent->waitForReadyRead(WaitMs), qPrintable(err));
                err += QString::fromLocal8Bit(agent->readAllStandardError());
            }
            QTest::qWait(1000); // into the blocking call that follows
            timer.restart();
            agent->terminate();
        }
        QVERIFY(agent->waitForFinished(WaitMs));
        err += QString::fromLocal8Bit(agent->readAllStandardError());
        qInfo("%s ended after %lld ms with status %d", qPrintable(terminateAfter.isEmpty() ? "start-up" : "SIGTERM"),
            timer.elapsed(), agent->exitCode());
        QCOMPARE(agent->exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent->exitCode(), status);
        QVERIFY2(err.contains(message), qPrintable(err));
        if (status == 2)
            QVERIFY2(err.contains(QStringLiteral("127.0.0.1,%1").arg(remote.port())), qPrintable(err));
        // Not hanging is the point: a generous bound over the time-outs and the grace period.
        QVERIFY(timer.elapsed() < 45000);
    }

    // A windowed program has no console of its own on Windows: started from a prompt it writes
    // to the prompt's console, but what the prompt sent to a file stays in the file.
    void redirectedOutputStaysInItsFile_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("standardError");
        QTest::addColumn<QString>("text");
        QTest::newRow("standard output") << QStringList{"--version"} << false << QStringLiteral(CRIBSYNC_VERSION);
        QTest::newRow("standard error") << QStringList{"--no-such-option"} << true << "no-such-option";
    }

    void redirectedOutputStaysInItsFile()
    {
#ifndef Q_OS_WIN
        QSKIP("only a windowed program on Windows attaches to its prompt's console");
#else
        QFETCH(QStringList, arguments);
        QFETCH(bool, standardError);
        QFETCH(QString, text);
        const HANDLE console = CreateFileW(
            L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console == INVALID_HANDLE_VALUE)
            QSKIP("needs a console, which Wine gives only in a terminal: runs as test_executable_console");
        CloseHandle(console);
        QTemporaryDir folder;
        const QString file = folder.filePath("output.txt");
        QProcess program;
        // Started as Windows starts a windowed program, without the console (Wine gives it one).
        program.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
            args->flags = (args->flags & ~DWORD(CREATE_NO_WINDOW)) | DETACHED_PROCESS;
        });
        if (standardError)
            program.setStandardErrorFile(file);
        else
            program.setStandardOutputFile(file);
        program.start(m_program, arguments);
        QVERIFY(program.waitForFinished(WaitMs));
        const QByteArray written = readFile(file);
        QVERIFY2(written.contains(text.toUtf8()), written.constData());
#endif
    }

    void commandLine()
    {
        QProcess* version = start({"--version"}, "none");
        QVERIFY(version->waitForFinished(WaitMs));
        QCOMPARE(version->exitCode(), 0);
        QVERIFY(version->readAllStandardOutput().contains(CRIBSYNC_VERSION));

        QProcess* help = start({"--help"}, "none");
        QVERIFY(help->waitForFinished(WaitMs));
        const QByteArray text = help->readAllStandardOutput();
        for (const char* option :
            {"--headless", "--once", "--config", "--machine-name", "--demo", "--status", "--json"})
            QVERIFY2(text.contains(option), option);

        for (const QStringList& arguments : {QStringList{"--no-such-option"}, QStringList{"--json"}}) {
            QProcess* wrong = start(arguments, "none");
            QVERIFY(wrong->waitForFinished(WaitMs));
            QCOMPARE(wrong->exitCode(), 2);
        }

        // --status on settings that are not there cannot tell, and makes no folder for them.
        QTemporaryDir dir;
        const QString missing = dir.filePath("no-settings");
        QProcess* status = start({"--status", "--json", "--config", missing}, "none");
        QVERIFY(status->waitForFinished(WaitMs));
        QCOMPARE(status->exitCode(), 2);
        QVERIFY(status->readAllStandardOutput().contains("\"settingsError\": \"the settings name no local server\""));
        QVERIFY(!QFileInfo::exists(missing));
    }
};

QTEST_GUILESS_MAIN(TestExecutable)
#include "TestExecutable.moc"
