#include "ClientCases.h"
#include "db/Connection.h"
#include "support/Files.h"

#include <QTest>

/// The engine-neutral cases through QODBC, against Debian's SQLite ODBC driver, so that the
/// ODBC path (binding, catalogue functions, column kinds) runs for real without a server.
class TestOdbcSqliteClient : public ClientCases
{
    Q_OBJECT

protected:
    QString freshDatabase(const QString& folder) override
    {
        db::Connection::setOdbcDriver(QStringLiteral("SQLite3"));
        const QString file = folder + QStringLiteral("/crib.db");
        {
            db::Connection create;
            create.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=crib").arg(folder));
            create.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
        }
        return QStringLiteral("Provider=SQLOLEDB.1;Password=secret;Persist Security Info=True;User ID=sa;"
                              "Initial Catalog=%1;Data Source=localhost,1433;Workstation ID=CRIB1")
            // Under Wine the driver is the host's own Linux library.
            .arg(hostPath(file));
    }

    void createFixture(db::Connection& c) override
    {
        c.execute(QStringLiteral("CREATE TABLE Item (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, "
                                 "Code varchar(20), Qty int, Price money, Active bit, Stamp datetime, "
                                 "Note varchar(50))"));
        c.execute(QStringLiteral("CREATE TABLE Loose (Name varchar(20), Qty int)"));
        c.execute(QStringLiteral("CREATE VIEW ItemView AS SELECT Code, Qty FROM Item"));
    }

    bool supportsKeylessTables() const override { return false; }
    // SQLite's ODBC driver takes one statement a text.
    bool takesBatches() const override { return false; }
};

QTEST_GUILESS_MAIN(TestOdbcSqliteClient)
#include "TestOdbcSqliteClient.moc"
