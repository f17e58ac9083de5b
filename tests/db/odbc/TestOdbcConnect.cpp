#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/DbError.h"
#include "doubles/FakeTdsServer.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

using namespace db;

/// The ODBC path with a real driver: what FreeTDS sends to a server, and how it fails on a
/// closed port, a server that does not answer and a refused login.
class TestOdbcConnect : public QObject
{
    Q_OBJECT

    static QString remoteString(quint16 port)
    {
        return QStringLiteral("Password=x;User ID=crib;Initial Catalog=Hosted;Data Source=127.0.0.1,%1").arg(port);
    }

private Q_SLOTS:
    void cleanup() { Connection::setOdbcTimeouts(15, 300); }

    void failuresCarryTheirCause_data()
    {
        QTest::addColumn<FakeTdsServer::Behaviour>("behaviour");
        QTest::addColumn<bool>("inStatement");
        QTest::addColumn<DbError::Cause>("cause");
        QTest::newRow("silent listener") << FakeTdsServer::Behaviour::Silent << false << DbError::Cause::Unreachable;
        QTest::newRow("refused login") << FakeTdsServer::Behaviour::RefuseLogin << false
                                       << DbError::Cause::LoginRefused;
        QTest::newRow("statement unanswered")
            << FakeTdsServer::Behaviour::SilentAfterLogin << true << DbError::Cause::Unreachable;
    }

    void failuresCarryTheirCause()
    {
        QFETCH(FakeTdsServer::Behaviour, behaviour);
        QFETCH(bool, inStatement);
        QFETCH(DbError::Cause, cause);
        if (qEnvironmentVariableIsEmpty("CRIBSYNC_SLOW"))
            QSKIP("waits out the time-outs: runs as test_odbc_timeouts (label slow)");
        Connection::setOdbcDriver(QStringLiteral("FreeTDS"));
        Connection::setOdbcTimeouts(2, 2);
        FakeTdsServer server(behaviour);
        Connection c(QStringLiteral("remote"));
        c.setConnectionString(remoteString(server.port()));
        QElapsedTimer timer;
        timer.start();
        try {
            c.open();
            QVERIFY(inStatement);
            c.query(QStringLiteral("Select * from Outbox"));
            QFAIL("the fake server answers no statement");
        } catch (const DbError& e) {
            qInfo(
                "failed after %lld ms with %s: %s", timer.elapsed(), qPrintable(e.sqlState()), qPrintable(e.message()));
            QVERIFY2(e.cause() == cause, qPrintable(e.sqlState() + QLatin1Char(' ') + e.message()));
        }
        // Not hanging is the point here: a generous bound over the 2 s time-outs.
        QVERIFY(timer.elapsed() < 30000);
    }

    void freeTdsSendsTheExactCredentials_data()
    {
        QTest::addColumn<QString>("password");
        // Values that would end their attribute early and add another one if they were not quoted.
        QTest::newRow("semicolon and attribute") << QStringLiteral("p;w{=x;DATABASE=master");
        QTest::newRow("braces and blanks") << QStringLiteral(" p}w{d=x ");
        QTest::newRow("leading brace") << QStringLiteral("{pw");
    }

    void freeTdsSendsTheExactCredentials()
    {
        QFETCH(QString, password);
        Connection::setOdbcDriver(QStringLiteral("FreeTDS"));
        FakeTdsServer server;
        Connection c(QStringLiteral("remote"));
        c.setConnectionString(
            QStringLiteral("Provider=SQLOLEDB.1;Password=%1;Persist Security Info=True;"
                           "User ID=crib;user;Initial Catalog=Hosted;Data Source=127.0.0.1,%2;"
                           "Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;"
                           "Workstation ID=PC-7;Use Encryption for Data=false")
                .arg(ConnectionString::quoteValue(password))
                .arg(server.port())
                .replace(QLatin1String("crib;user"), ConnectionString::quoteValue(QStringLiteral("crib;user"))));
        QVERIFY_THROWS_EXCEPTION(DbError, c.open()); // the fake server hangs up after the login
        const FakeTdsServer::Login login = server.login();
        QVERIFY(login.received);
        QCOMPARE(login.password, password);
        QCOMPARE(login.userName, QStringLiteral("crib;user"));
        QCOMPARE(login.database, QStringLiteral("Hosted"));
        QCOMPARE(login.hostName, QStringLiteral("PC-7"));
    }

    void closedPortFailsWithTheDriversText()
    {
        Connection::setOdbcDriver(QStringLiteral("FreeTDS"));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close(); // nothing listens there now

        Connection c(QStringLiteral("remote"));
        c.setConnectionString(remoteString(port));
        QElapsedTimer timer;
        timer.start();
        try {
            c.open();
            QFAIL("a closed port must not connect");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QLatin1String("FreeTDS")), qPrintable(e.message()));
            QCOMPARE(e.cause(), DbError::Cause::Unreachable);
            qInfo("refused after %lld ms: %s", timer.elapsed(), qPrintable(e.message()));
        }
        QVERIFY(!c.isOpen());
    }

    void withoutADriverForSqlServerTheFailureSaysWhatToInstall()
    {
#ifndef Q_OS_WIN
        QSKIP("FreeTDS is the driver on Linux");
#else
        const QSettings installed(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"), QSettings::NativeFormat);
        if (installed.contains("ODBC Driver 18 for SQL Server") || installed.contains("ODBC Driver 17 for SQL Server"))
            QSKIP("this computer has one of Microsoft's drivers");
        Connection::setOdbcDriver(QString());
        Connection c(QStringLiteral("remote"));
        c.setConnectionString(remoteString(1433));
        try {
            c.open();
            QFAIL("there is no driver to connect with");
        } catch (const DbError& e) {
            for (const char* text : {"No ODBC driver for SQL Server is installed", "\"ODBC Driver 18 for SQL Server\"",
                     "\"ODBC Driver 17 for SQL Server\"", "install Microsoft's ODBC Driver 18 for SQL Server",
                     "OdbcDriver"})
                QVERIFY2(e.message().contains(QLatin1String(text)), qPrintable(e.message()));
        }
        QVERIFY(!c.isOpen());
#endif
    }
};

QTEST_GUILESS_MAIN(TestOdbcConnect)
#include "TestOdbcConnect.moc"
