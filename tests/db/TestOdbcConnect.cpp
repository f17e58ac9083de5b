#include "FakeTdsServer.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/DbError.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

using namespace db;

/// The ODBC path with a real driver: what FreeTDS sends to a server, and how it fails on a
/// closed port.
class TestOdbcConnect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        c.setConnectionString(
            QStringLiteral("Password=x;User ID=sa;Initial Catalog=Hosted;Data Source=127.0.0.1,%1").arg(port));
        QElapsedTimer timer;
        timer.start();
        try {
            c.open();
            QFAIL("a closed port must not connect");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QLatin1String("FreeTDS")), qPrintable(e.message()));
            qInfo("refused after %lld ms: %s", timer.elapsed(), qPrintable(e.message()));
        }
        QVERIFY(!c.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestOdbcConnect)
#include "TestOdbcConnect.moc"
