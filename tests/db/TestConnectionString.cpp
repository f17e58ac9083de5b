#include "db/ConnectionString.h"
#include "db/DbError.h"

#include <QTest>

using namespace db;

class TestConnectionString : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesComposedFields()
    {
        const ConnectionString cs = ConnectionString::parse(
            QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;User ID=admin;"
                           "Initial Catalog=Crib;Data Source=CRIBSRV\\SQLEXPRESS;Use Procedure for Prepare=1;"
                           "Auto Translate=True;Packet Size=4096;Application Name=Corvane;Workstation ID=PC-7;"
                           "Use Encryption for Data=False;Tag with column collation when possible=False"));
        QCOMPARE(cs.value(QStringLiteral("data source")), QStringLiteral("CRIBSRV\\SQLEXPRESS"));
        QCOMPARE(cs.value(QStringLiteral("Initial Catalog")), QStringLiteral("Crib"));
        QCOMPARE(cs.value(QStringLiteral("Password")), QString());
        QVERIFY(!cs.contains(QStringLiteral("Password")));
        QCOMPARE(cs.fields().size(), 13);
    }

    void quotedValuesRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("semicolon") << QStringLiteral("pa;ss");
        QTest::newRow("braces") << QStringLiteral("a}b{c");
        QTest::newRow("double quote") << QStringLiteral("say \"hi\"");
        QTest::newRow("single quote") << QStringLiteral("o'neil");
        QTest::newRow("field injection") << QStringLiteral("x;Initial Catalog=master");
        QTest::newRow("blanks kept") << QStringLiteral("  padded  ");
        QTest::newRow("equals") << QStringLiteral("a=b");
        QTest::newRow("empty") << QString();
    }

    void quotedValuesRoundTrip()
    {
        QFETCH(QString, value);
        const QString text = QStringLiteral("Password=") + ConnectionString::quoteValue(value)
            + QStringLiteral(";User ID=sa;Initial Catalog=Crib");
        const ConnectionString cs = ConnectionString::parse(text);
        QCOMPARE(cs.value(QStringLiteral("Password")), value);
        QCOMPARE(cs.value(QStringLiteral("User ID")), QStringLiteral("sa"));
        QCOMPARE(cs.value(QStringLiteral("Initial Catalog")), QStringLiteral("Crib"));
    }

    void refusesMalformedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("named");
        QTest::newRow("field without value")
            << QStringLiteral("Provider=x;Password;User ID=a") << QStringLiteral("Password");
        QTest::newRow("unclosed quote") << QStringLiteral("Password=\"abc;User ID=a") << QStringLiteral("Password");
        QTest::newRow("text after quote")
            << QStringLiteral("Password=\"abc\"def;User ID=a") << QStringLiteral("Password");
        QTest::newRow("no name") << QStringLiteral("=abc") << QStringLiteral("name");
    }

    void refusesMalformedText()
    {
        QFETCH(QString, text);
        QFETCH(QString, named);
        try {
            ConnectionString::parse(text);
            QFAIL("malformed text must be refused");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(named), qPrintable(e.message()));
        }
    }

    void mapsEmbeddedDataSource()
    {
        const ConnectionTarget t = ConnectionTarget::fromConnectionString(
            QStringLiteral("Password=x;User ID=y;Initial Catalog=CribRemote;Data Source=sqlite:/tmp/demo,1433;"
                           "Workstation ID=PC-7"),
            QStringLiteral("FreeTDS"));
        QCOMPARE(t.engine, ConnectionTarget::Engine::Sqlite);
        QCOMPARE(t.sqliteFile, QStringLiteral("/tmp/demo/CribRemote.db"));
        QCOMPARE(t.workstation, QStringLiteral("PC-7"));
        QVERIFY_THROWS_EXCEPTION(DbError,
            ConnectionTarget::fromConnectionString(
                QStringLiteral("Data Source=sqlite:/tmp/demo"), QStringLiteral("x")));
        QVERIFY_THROWS_EXCEPTION(
            DbError, ConnectionTarget::fromConnectionString(QStringLiteral("Initial Catalog=a"), QStringLiteral("x")));
    }

    void mapsOdbcFieldsAndQuotesValues()
    {
        const QString password = QStringLiteral("p;w}d{x=1");
        const QString text = QStringLiteral("Provider=SQLOLEDB.1;Password=") + ConnectionString::quoteValue(password)
            + QStringLiteral(";Persist Security Info=True;User ID=crib;Initial Catalog=Hosted;"
                             "Data Source=192.0.2.10,1433;Use Procedure for Prepare=1;Packet Size=4096;"
                             "Workstation ID=PC-7;Use Encryption for Data=false");
        const ConnectionTarget t
            = ConnectionTarget::fromConnectionString(text, QStringLiteral("ODBC Driver 18 for SQL Server"));
        QCOMPARE(t.engine, ConnectionTarget::Engine::Odbc);
        QCOMPARE(t.odbcString,
            QStringLiteral(
                "DRIVER=ODBC Driver 18 for SQL Server;SERVER=192.0.2.10,1433;"
                "DATABASE=Hosted;UID=crib;PWD={p;w}}d{x=1};WSID=PC-7;Encrypt=no;TrustServerCertificate=yes"));
        // FreeTDS takes the port apart and has no such encryption keyword.
        QVERIFY(ConnectionTarget::fromConnectionString(
            QStringLiteral("Data Source=h,1499;Use Encryption for Data=false"), QStringLiteral("FreeTDS"))
                    .odbcString.endsWith(QLatin1String("SERVER=h;PORT=1499;UID=;PWD=")));

        // FreeTDS keeps "}}" inside braces as it stands, so it gets braces only where a ';' needs
        // them, and a value it cannot read back exactly is refused by name.
        QCOMPARE(ConnectionTarget::quoteOdbcValue(QStringLiteral("a}b{=c "), QStringLiteral("FreeTDS"), "Password"),
            QStringLiteral("a}b{=c "));
        QCOMPARE(ConnectionTarget::quoteOdbcValue(QStringLiteral("a;b{"), QStringLiteral("FreeTDS"), "Password"),
            QStringLiteral("{a;b{}"));
        QCOMPARE(ConnectionTarget::quoteOdbcValue(QStringLiteral("{x"), QStringLiteral("FreeTDS"), "Password"),
            QStringLiteral("{{x}"));
        try {
            ConnectionTarget::fromConnectionString(text, QStringLiteral("FreeTDS"));
            QFAIL("FreeTDS cannot take ';' and '}' in one value");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QLatin1String("Password")), qPrintable(e.message()));
        }

        const ConnectionTarget integrated = ConnectionTarget::fromConnectionString(
            QStringLiteral("Integrated Security=SSPI;User ID=admin;Initial Catalog=Crib;Data Source=CRIBSRV;"
                           "Application Name=Corvane"),
            QStringLiteral("ODBC Driver 17 for SQL Server"));
        QCOMPARE(integrated.odbcString,
            QStringLiteral("DRIVER=ODBC Driver 17 for SQL Server;SERVER=CRIBSRV;"
                           "DATABASE=Crib;Trusted_Connection=Yes;APP=Corvane"));
    }
};

QTEST_GUILESS_MAIN(TestConnectionString)
#include "TestConnectionString.moc"
