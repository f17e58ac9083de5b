#include "ClientCases.h"
#include "db/Connection.h"

#include <QTest>

/// The engine-neutral cases against a real SQL Server, when CRIBSYNC_TEST_MSSQL holds a
/// connection string to a scratch database (and CRIBSYNC_TEST_MSSQL_DRIVER the ODBC driver, if
/// not FreeTDS). The fixture tables are dropped and created in that database.
class TestOdbcServerClient : public ClientCases
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("CRIBSYNC_TEST_MSSQL"))
            QSKIP("CRIBSYNC_TEST_MSSQL names no SQL Server database");
        if (!qEnvironmentVariableIsEmpty("CRIBSYNC_TEST_MSSQL_DRIVER"))
            db::Connection::setOdbcDriver(qEnvironmentVariable("CRIBSYNC_TEST_MSSQL_DRIVER"));
    }

protected:
    QString freshDatabase(const QString&) override
    {
        const QString cs = qEnvironmentVariable("CRIBSYNC_TEST_MSSQL");
        db::Connection c;
        c.setConnectionString(cs);
        c.open();
        c.execute(QStringLiteral("IF OBJECT_ID('ItemView') IS NOT NULL DROP VIEW ItemView"));
        c.execute(QStringLiteral("IF OBJECT_ID('Item') IS NOT NULL DROP TABLE Item"));
        c.execute(QStringLiteral("IF OBJECT_ID('Loose') IS NOT NULL DROP TABLE Loose"));
        return cs;
    }

    void createFixture(db::Connection& c) override
    {
        c.execute(QStringLiteral("CREATE TABLE Item (RecordID int IDENTITY(1,1) PRIMARY KEY, Code varchar(20), "
                                 "Qty int, Price money, Active bit, Stamp datetime, Note varchar(50))"));
        c.execute(QStringLiteral("CREATE TABLE Loose (Name varchar(20), Qty int)"));
        c.execute(QStringLiteral("CREATE VIEW ItemView AS SELECT Code, Qty FROM Item"));
    }
};

QTEST_GUILESS_MAIN(TestOdbcServerClient)
#include "TestOdbcServerClient.moc"
