#include "ClientCases.h"
#include "db/Connection.h"

#include <QTest>

/// The engine-neutral cases on the embedded engine.
class TestSqliteClient : public ClientCases
{
    Q_OBJECT

protected:
    QString freshDatabase(const QString& folder) override
    {
        const QString cs = QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=crib;"
                                          "Data Source=sqlite:%1")
                               .arg(folder);
        db::Connection c;
        c.setConnectionString(cs);
        c.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
        return cs;
    }

    void createFixture(db::Connection& c) override
    {
        c.execute(QStringLiteral("CREATE TABLE Item (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, "
                                 "Code varchar(20) COLLATE NOCASE, Qty int, Price money, Active bit, "
                                 "Stamp datetime, Note varchar(50) COLLATE NOCASE)"));
        c.execute(QStringLiteral("CREATE TABLE Loose (Name varchar(20), Qty int)"));
        c.execute(QStringLiteral("CREATE VIEW ItemView AS SELECT Code, Qty FROM Item"));
    }
};

QTEST_GUILESS_MAIN(TestSqliteClient)
#include "TestSqliteClient.moc"
