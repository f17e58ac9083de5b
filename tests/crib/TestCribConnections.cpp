#include "crib/CribConnectionStrings.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RowQuery.h"
#include "model/StartupStatements.h"
#include "support/CribFixture.h"

#include <QTest>

using namespace db;

/// The crib's connection strings field by field, and this computer's registration in Control.
class TestCribConnections : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void composesTheThreeStrings()
    {
        QCOMPARE(CribConnectionStrings::localWindowsAuth("Crib", "SRV\\SQLEXPRESS", "PC-7"),
            QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                           "User ID=admin;Initial Catalog=Crib;Data Source=SRV\\SQLEXPRESS;Use Procedure for "
                           "Prepare=1;Auto Translate=True;Packet Size=4096;Application Name=Corvane;"
                           "Workstation ID=PC-7;Use Encryption for Data=False;Tag with column collation when "
                           "possible=False"));
        QCOMPARE(CribConnectionStrings::localSqlAuth("pw", "sa", "Crib", "SRV", "PC-7"),
            QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;Initial "
                           "Catalog=Crib;Data Source=SRV;Use Procedure for Prepare=1;Auto Translate=True;Packet "
                           "Size=4096;Application Name=Corvane;Workstation ID=PC-7;Use Encryption for "
                           "Data=False;Tag with column collation when possible=False"));
        QCOMPARE(CribConnectionStrings::remote("pw", "crib", "Hosted", "192.0.2.1", "1433", "PC-7"),
            QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=crib;Initial "
                           "Catalog=Hosted;Data Source=192.0.2.1,1433;Use Procedure for Prepare=1;Auto "
                           "Translate=True;Packet Size=4096;Workstation ID=PC-7;Use Encryption for Data=false"));
    }

    void valuesCannotAddFields()
    {
        const QString password = QStringLiteral("a;Initial Catalog=master;\"x");
        const ConnectionString cs = ConnectionString::parse(
            CribConnectionStrings::remote(password, "crib;2", "Hosted", "192.0.2.1", "1433", "PC;7"));
        QCOMPARE(cs.value("Password"), password);
        QCOMPARE(cs.value("User ID"), QStringLiteral("crib;2"));
        QCOMPARE(cs.value("Initial Catalog"), QStringLiteral("Hosted"));
        QCOMPARE(cs.value("Workstation ID"), QStringLiteral("PC;7"));
    }

    void registersThisComputer()
    {
        CribFixture f({});
        Connection& local = f.local;
        StartupStatements st(&local, nullptr);
        local.execute("INSERT INTO Control (ComputerName, Synch, Port) VALUES ('OFF', 0, 7), ('ON', 1, 9)");

        RegisterComputer(st.qryControl, "NEW");
        RegisterComputer(st.qryControl, "OFF");
        RegisterComputer(st.qryControl, "ON");
        const ResultSet rows = local.query("SELECT ComputerName, Synch, Port FROM Control ORDER BY RecordID");
        QCOMPARE(rows.rows.size(), 3);
        QCOMPARE(rows.rows[0], QVariantList({"OFF", true, 7}));
        QCOMPARE(rows.rows[1], QVariantList({"ON", true, 9}));
        QCOMPARE(rows.rows[2], QVariantList({"NEW", true, 1}));
    }
};

QTEST_GUILESS_MAIN(TestCribConnections)
#include "TestCribConnections.moc"
