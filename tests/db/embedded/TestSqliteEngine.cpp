#include "db/Connection.h"
#include "db/DbError.h"
#include "db/RowQuery.h"
#include "db/SqlTrace.h"
#include "db/Statement.h"
#include "db/StoredProc.h"
#include "db/embedded/EmbeddedProcedure.h"
#include "db/embedded/SqliteFile.h"
#include "support/Files.h"

#include <QDateTime>
#include <QFile>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

using namespace db;

/// What only the embedded engine does: adapting T-SQL, running stored procedure definitions,
/// and refusing bad input without writing anything.
class TestSqliteEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    QString m_cs;
    Connection* m_c = nullptr;

    int count(const QString& sql)
    {
        const ResultSet r = m_c->query(sql);
        return r.rows.isEmpty() ? -1 : r.rows.first().first().toInt();
    }

    static const QString kBinChangeBody;

private Q_SLOTS:
    void init()
    {
        m_dir = new QTemporaryDir;
        m_cs = QStringLiteral("Initial Catalog=crib;Data Source=sqlite:%1").arg(m_dir->path());
        m_c = new Connection(QStringLiteral("remote"));
        m_c->setConnectionString(m_cs);
        m_c->open(Connection::OpenMode::CreateEmbeddedIfMissing);
        m_c->execute(QStringLiteral("CREATE TABLE Bin (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, "
                                    "Station varchar(12) COLLATE NOCASE, MyNo varchar(12) COLLATE NOCASE, "
                                    "OnHand int, LastUpdate datetime)"));
        m_c->execute(QStringLiteral("CREATE TABLE DeleteHst (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, "
                                    "TableName varchar(50), Key1 varchar(50), Key2 varchar(50))"));
        m_c->execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, OnHand) VALUES ('01', 'A1', 5), ('01', 'A2', 7), "
                                    "('02', 'A1', 1)"));
        m_c->installEmbeddedProcedure({QStringLiteral("sproc_BinChange"),
            QStringLiteral("@Station varchar(50), @MyNo varchar(50), @NewBin varchar(50), "
                           "@Contact varchar(100) = NULL"),
            kBinChangeBody});
    }

    void cleanup()
    {
        delete m_c;
        delete m_dir;
        ConnectionPool::instance().clear();
        qunsetenv("CRIBSYNC_SQL_TRACE");
        SqlTrace::reload();
    }

    void adaptsTopGetdateAndQualifiedNames()
    {
        QCOMPARE(m_c->query(QStringLiteral("Select TOP 1 * from Bin order by OnHand desc")).rows.size(), 1);
        QCOMPARE(m_c->query(QStringLiteral("Select   TOP 1 * from Bin")).rows.size(), 1);
        QCOMPARE(m_c->query(QStringLiteral("Select top(2) * FROM Bin   ")).rows.size(), 2);
        const ResultSet none = m_c->query(QStringLiteral("Select Top 0 * from Bin"));
        QVERIFY(none.hasResult);
        QCOMPARE(none.rows.size(), 0);
        QCOMPARE(none.columns.size(), 5);
        const ResultSet sub = m_c->query(
            QStringLiteral("select MyNo from [dbo].[Bin] where OnHand = (select top 1 OnHand from dbo.Bin order by "
                           "OnHand desc) and Station = N'01'"));
        QCOMPARE(sub.rows.size(), 1);
        QCOMPARE(sub.rows.first().first().toString(), QStringLiteral("A2"));

        m_c->execute(QStringLiteral("Update Bin SET LastUpdate = getdate() where MyNo = 'A1'"));
        const ResultSet stamped = m_c->query(QStringLiteral("Select LastUpdate from Bin where MyNo = 'A1'"));
        const QDateTime when = stamped.rows.first().first().toDateTime();
        QVERIFY2(when.isValid(), qPrintable(stamped.rows.first().first().toString()));
        // getdate() is the server's wall clock, zone-less as every date-time read.
        QVERIFY(qAbs(when.secsTo(wallClock(QDateTime::currentDateTime()))) < 3600);
        // Text comparisons of declared text columns ignore case, as the server's collation does.
        QCOMPARE(m_c->query(QStringLiteral("Select * from Bin where MyNo = 'a1'")).rows.size(), 2);
    }

    void answersTheCatalogueProbes()
    {
        const QString probe = QStringLiteral("if exists (select * from syscolumns where id = "
                                             "object_id('%1'))begin\tselect\t\t  name\t\tfrom syscolumns where id = "
                                             "object_id('%1')end");
        const ResultSet missing = m_c->query(probe.arg(QStringLiteral("sp_CorvaneTran")));
        QVERIFY(!missing.hasResult);
        QCOMPARE(missing.rows.size(), 0);

        QStringList parameters;
        for (const QVariantList& row : m_c->query(probe.arg(QStringLiteral("sproc_BinChange"))).rows)
            parameters << row.first().toString();
        QCOMPARE(parameters, QStringList({"@Station", "@MyNo", "@NewBin", "@Contact"}));

        QStringList columns;
        for (const QVariantList& row : m_c->query(probe.arg(QStringLiteral("Bin"))).rows)
            columns << row.first().toString();
        QCOMPARE(columns, QStringList({"RecordID", "Station", "MyNo", "OnHand", "LastUpdate"}));
    }

    void addsColumnOnlyWhenMissing()
    {
        const QString text = QStringLiteral(
            " if not exists (select * from dbo.syscolumns where id = object_id(N'[dbo].[DeleteHst]') and name = "
            "'Key3') \r\n  ALTER TABLE [dbo].[DeleteHst] ADD [Key3]  [varchar] (50)  NULL\r\n");
        m_c->execute(text);
        m_c->execute(text); // a second run finds the column and does nothing
        const QList<ColumnInfo> columns = m_c->columns(QStringLiteral("DeleteHst"));
        QCOMPARE(columns.size(), 5);
        QCOMPARE(columns.last().name, QStringLiteral("Key3"));
        QCOMPARE(columns.last().kind, ColumnKind::Text);
        m_c->execute(QStringLiteral("INSERT INTO DeleteHst (TableName, Key3) VALUES ('Bin', 'ABC')"));
        QCOMPARE(count(QStringLiteral("select count(*) from DeleteHst where Key3 = 'abc'")), 1);
    }

    void dropsAndCreatesTheAgentsObjects()
    {
        EmbeddedEquivalents::add({EmbeddedEquivalent::Kind::Procedure, QStringLiteral("sp_TestProc"),
            QStringLiteral("@A int"), QStringLiteral("RETURN @A + 1")});
        EmbeddedEquivalents::add({EmbeddedEquivalent::Kind::Trigger, QStringLiteral("DelBinTest"), QString(),
            QStringLiteral("INSERT INTO DeleteHst (TableName, Key1, Key2) SELECT 'Bin', Station, MyNo FROM deleted")});
        const QString drops = QStringLiteral(
            "if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[DelBinTest]') and "
            "OBJECTPROPERTY(id, N'IsTrigger') = 1)\r\ndrop trigger [dbo].[DelBinTest]\r\n\r\n"
            "if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[sp_TestProc]') and "
            "OBJECTPROPERTY(id, N'IsProcedure') = 1)\r\ndrop procedure [dbo].[sp_TestProc]\r\n\r\n\r\n");
        m_c->execute(drops); // nothing to drop yet
        m_c->execute(QStringLiteral("CREATE PROCEDURE [dbo].[sp_TestProc]\r\n@A int\r\nAS\r\nRETURN @A + 1"));
        m_c->execute(QStringLiteral("CREATE TRIGGER [DelBinTest] ON dbo.Bin\r\nFOR DELETE\r\nAS\r\n..."));
        QVERIFY(m_c->procedures().contains(QStringLiteral("sp_TestProc;1")));
        QVERIFY_THROWS_EXCEPTION(DbError, m_c->execute(QStringLiteral("CREATE PROCEDURE [dbo].[sp_TestProc] AS")));

        m_c->execute(QStringLiteral("DELETE FROM Bin WHERE MyNo = 'A2'"));
        QCOMPARE(count(QStringLiteral("select count(*) from DeleteHst where Key2 = 'A2'")), 1);

        m_c->execute(drops);
        QVERIFY(!m_c->procedures().contains(QStringLiteral("sp_TestProc;1")));
        m_c->execute(QStringLiteral("DELETE FROM Bin WHERE MyNo = 'A1' AND Station = '02'"));
        QCOMPARE(count(QStringLiteral("select count(*) from DeleteHst")), 1);

        try {
            m_c->execute(QStringLiteral("CREATE PROCEDURE [dbo].[sp_Unknown] AS select 1"));
            QFAIL("an object without an embedded definition must be refused");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QLatin1String("sp_Unknown")), qPrintable(e.message()));
        }
        QVERIFY(!m_c->procedures().contains(QStringLiteral("sp_Unknown;1")));
    }

    void triggersFireOncePerStatementWithEveryDeletedRow()
    {
        // As on SQL Server: one firing for the statement, `deleted` holding all its rows; a
        // failing trigger undoes the statement.
        EmbeddedEquivalents::add({EmbeddedEquivalent::Kind::Trigger, QStringLiteral("CountBinDeletes"), QString(),
            QStringLiteral("IF (SELECT count(*) FROM deleted) > 2 THEN RAISERROR 'three bins at once';\n"
                           "INSERT INTO DeleteHst (TableName, Key1, Key2) SELECT 'Bin', count(*), "
                           "group_concat(MyNo) FROM deleted")});
        m_c->execute(QStringLiteral("CREATE TRIGGER [CountBinDeletes] ON [dbo].[Bin]\r\nFOR DELETE\r\nAS\r\n..."));
        QVERIFY_THROWS_EXCEPTION(DbError, m_c->execute(QStringLiteral("DELETE FROM Bin")));
        QCOMPARE(count(QStringLiteral("select count(*) from Bin")), 3);
        QCOMPARE(count(QStringLiteral("select count(*) from DeleteHst")), 0);

        m_c->execute(QStringLiteral("DELETE FROM Bin WHERE Station = '01'"));
        m_c->execute(QStringLiteral("DELETE FROM Bin WHERE Station = '09'"));
        QCOMPARE(m_c->query(QStringLiteral("select Key1 || ':' || coalesce(Key2, 'none') from DeleteHst")).rows,
            QList<QVariantList>({{QStringLiteral("2:A1,A2")}, {QStringLiteral("0:none")}}));
        // The rows the trigger reads are kept out of sight.
        QVERIFY(!m_c->tables().join(QLatin1Char(' ')).contains(QLatin1String("cribsync"), Qt::CaseInsensitive));
    }

    void strictWhereSqlServerIs_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QVariant>("bound");
        QTest::addColumn<QString>("outcome"); // the count found, or the SQL state of the refusal
        // SQL Server converts '' to the column's type: 0, and 1900-01-01 for a date-time.
        QTest::newRow("integer = ''") << "Select count(*) from Bin where OnHand = ''" << QVariant() << "1";
        QTest::newRow("integer = bound ''") << "Select count(*) from Bin where OnHand = :v" << QVariant("") << "1";
        QTest::newRow("date-time = ''") << "Select count(*) from Bin where LastUpdate = ''" << QVariant() << "1";
        QTest::newRow("identity = bound text")
            << "Select count(*) from Bin as T where T.RecordID = :v" << QVariant("2") << "1";
        QTest::newRow("integer = a text that is no number")
            << "Select count(*) from Bin where OnHand = 'many'" << QVariant() << "22018";
        // A value too long for varchar(n) is refused, not stored whole.
        QTest::newRow("insert too long") << "INSERT INTO Bin (Station, MyNo) VALUES ('01', 'A123456789012')"
                                         << QVariant() << "22001";
        QTest::newRow("update too long") << "UPDATE Bin SET MyNo = :v WHERE MyNo = 'A1'" << QVariant("A123456789012")
                                         << "22001";
        QTest::newRow("as long as allowed")
            << "UPDATE Bin SET MyNo = :v WHERE OnHand = 0" << QVariant("A12345678901") << "1";
        // So is a number beyond an int's range.
        QTest::newRow("beyond an int") << "UPDATE Bin SET OnHand = :v WHERE MyNo = 'Z'" << QVariant(2147483648LL)
                                       << "22003";
        QTest::newRow("as large as an int allows")
            << "UPDATE Bin SET OnHand = :v WHERE MyNo = 'Z'" << QVariant(2147483647LL) << "1";
        // Also when the sum of a stored value and a bound one is.
        QTest::newRow("int overflow") << "UPDATE Bin SET OnHand = OnHand + :v WHERE MyNo = 'A2'" << QVariant(2147483647)
                                      << "22003";
        // Reserved words name nothing unless bracketed.
        QTest::newRow("reserved word qualified")
            << "Select * from Gadget as T where T.Key = 'x'" << QVariant() << "42000";
        QTest::newRow("reserved word compared") << "Select * from Gadget where File = 1" << QVariant() << "42000";
        QTest::newRow("reserved word as table") << "Select * from Percent" << QVariant() << "42000";
        QTest::newRow("reserved word selected") << "Select Key, [File] from Gadget" << QVariant() << "42000";
        QTest::newRow("reserved word in a column list")
            << "INSERT INTO Gadget (Key, [File]) VALUES ('y', 2)" << QVariant() << "42000";
        QTest::newRow("reserved word tested for NULL")
            << "Select count(*) from Gadget where Key IS NULL" << QVariant() << "42000";
        QTest::newRow("reserved word after a comparison")
            << "Select count(*) from Gadget where 1 = File" << QVariant() << "42000";
        QTest::newRow("reserved word as an added column")
            << "ALTER TABLE Gadget ADD Percent int NULL" << QVariant() << "42000";
        QTest::newRow("reserved word ordered by")
            << "Select count(*) from Gadget Order By File" << QVariant() << "42000";
        QTest::newRow("reserved word bracketed")
            << "Select count(*) from Gadget as T where T.[Key] = 'x' AND [File] = 1" << QVariant() << "1";
        QTest::newRow("keywords where names stand")
            << "Select count(*) from Gadget where [Key] IS NOT NULL AND [File] IN (1, NULL) AND [Key] NOT IN (N'z') "
               "AND [Key] LIKE 'x' "
               "AND [File] = CASE WHEN [Key] = 'x' THEN COALESCE(NULL, 1) END Order By [File] DESC"
            << QVariant() << "1";
    }

    void strictWhereSqlServerIs()
    {
        QFETCH(QString, sql);
        QFETCH(QVariant, bound);
        QFETCH(QString, outcome);
        m_c->execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, OnHand, LastUpdate) VALUES ('03', 'Z', 0, "
                                    "'1900-01-01T00:00:00')"));
        m_c->execute(QStringLiteral("CREATE TABLE Gadget ([Key] varchar(10), [File] int)"));
        m_c->execute(QStringLiteral("INSERT INTO Gadget ([Key], [File]) VALUES ('x', 1)"));
        NamedValues values;
        if (bound.isValid())
            values.set(QStringLiteral("v"), bound);
        try {
            const QString found = sql.startsWith(QLatin1String("Select"))
                ? m_c->query(sql, values).rows.value(0).value(0).toString()
                : QString::number(m_c->execute(sql, values));
            QCOMPARE(found, outcome);
        } catch (const DbError& e) {
            QVERIFY2(e.sqlState() == outcome, qPrintable(e.sqlState() + QStringLiteral(": ") + e.message()));
            QCOMPARE(count(QStringLiteral("select count(*) from Bin where length(MyNo) > 12")), 0);
        }
    }

    void runsExecWithPositionalArguments()
    {
        Command cmd(QStringLiteral("updBinChange"));
        cmd.setDatabase(Database::pooled(m_cs));
        cmd.setSql(QStringLiteral("EXEC [dbo].[sproc_BinChange]\r\n:Station, :MyNo, :NewBin, :Contact\r\n"));
        cmd.setParameter(QStringLiteral("Station"), QStringLiteral("01"));
        cmd.setParameter(QStringLiteral("MyNo"), QStringLiteral("A1"));
        cmd.setParameter(QStringLiteral("NewBin"), QStringLiteral("Z9"));
        cmd.setParameter(QStringLiteral("Contact"), QStringLiteral("LocalBinChange"));
        cmd.execute();
        QCOMPARE(count(QStringLiteral("select count(*) from Bin where MyNo = 'Z9' and Station = '01'")), 1);
        QCOMPARE(count(QStringLiteral("select count(*) from Bin where MyNo = 'A1'")), 1);

        QCOMPARE(count(QStringLiteral("select count(*) from DeleteHst")), 1);

        // The procedure refuses a bin that does not exist: the failure reaches the caller and the
        // statements it ran before refusing are undone.
        cmd.setParameter(QStringLiteral("MyNo"), QStringLiteral("NONE"));
        try {
            cmd.execute();
            QFAIL("a refused rename must fail");
        } catch (const DbError& e) {
            QCOMPARE(e.message(), QStringLiteral("bin NONE does not exist at station 01"));
        }
        QCOMPARE(count(QStringLiteral("select count(*) from DeleteHst")), 1);
    }

    void callsProceduresByNameWithReturnValue()
    {
        m_c->installEmbeddedProcedure(
            {QStringLiteral("sp_Adjust"), QStringLiteral("@Bin varchar(12), @Qty int, @Emp varchar(100) = 'x'"),
                QStringLiteral("SET @Found = (SELECT count(*) FROM Bin WHERE MyNo = @Bin);\n"
                               "IF @Found = 0 THEN RETURN 1;\n"
                               "IF upper(@Emp) <> 'JAM' THEN UPDATE Bin SET OnHand = OnHand "
                               "+ @Qty WHERE MyNo = @Bin;\n"
                               "RETURN 0")});
        StoredProc proc(QStringLiteral("updASPTran"));
        proc.setDatabase(Database::pooled(m_cs));
        proc.setProcedureName(QStringLiteral("sp_Adjust;1"));
        proc.refreshParameters();
        QCOMPARE(proc.parameters().size(), 4);
        QCOMPARE(proc.parameters().first().name, QStringLiteral("@RETURN_VALUE"));
        QCOMPARE(proc.parameters().first().direction, ParamDirection::ReturnValue);
        QCOMPARE(proc.parameters()[2].type, ParamType::Integer);
        QVERIFY_THROWS_EXCEPTION(DbError, proc.setValue(QStringLiteral("@ExternalPO"), 1));

        proc.setValue(QStringLiteral("@Bin"), QStringLiteral("A2"));
        proc.setValue(QStringLiteral("@qty"), QStringLiteral("-3"));
        proc.execute();
        QCOMPARE(proc.returnValue().toInt(), 0);
        QCOMPARE(proc.value(QStringLiteral("@RETURN_VALUE")).toInt(), 0);
        QCOMPARE(count(QStringLiteral("select OnHand from Bin where MyNo = 'A2'")), 4);

        proc.setValue(QStringLiteral("@Emp"), QStringLiteral("jam"));
        proc.execute();
        QCOMPARE(count(QStringLiteral("select OnHand from Bin where MyNo = 'A2'")), 4);

        proc.setValue(QStringLiteral("@Bin"), QStringLiteral("none"));
        proc.execute();
        QCOMPARE(proc.returnValue().toInt(), 1);

        StoredProc missingArgument;
        missingArgument.setDatabase(Database::fixed(m_c));
        missingArgument.setProcedureName(QStringLiteral("sp_Adjust"));
        missingArgument.refreshParameters();
        missingArgument.setValue(QStringLiteral("@Bin"), QStringLiteral("A2"));
        QVERIFY_THROWS_EXCEPTION(DbError, missingArgument.execute());

        StoredProc unknown;
        unknown.setDatabase(Database::fixed(m_c));
        unknown.setProcedureName(QStringLiteral("sp_Nothing;1"));
        QVERIFY_THROWS_EXCEPTION(DbError, unknown.refreshParameters());
    }

    void keepsParameterListsAndLayoutsUntilAFailure()
    {
        const auto fetched = [] { return Connection::traffic(QStringLiteral("remote")).catalogueCalls; };
        StoredProc proc;
        proc.setDatabase(Database::fixed(m_c));
        proc.setProcedureName(QStringLiteral("sproc_BinChange"));
        proc.refreshParameters();
        const qint64 once = fetched();
        proc.refreshParameters();
        QCOMPARE(fetched(), once);
        QVERIFY_THROWS_EXCEPTION(DbError, proc.execute()); // no @Station: the list is fetched again
        proc.refreshParameters();
        QCOMPARE(fetched(), once + 1);

        Connection other(QStringLiteral("remote"));
        other.setConnectionString(m_cs);
        other.open();
        m_c->columns(QStringLiteral("Bin"));
        const qint64 kept = fetched();
        QCOMPARE(other.columns(QStringLiteral("bin")).size(), 5);
        QCOMPARE(fetched(), kept);
        QVERIFY_THROWS_EXCEPTION(DbError, other.execute(QStringLiteral("UPDATE Bin SET Missing = 1")));
        other.columns(QStringLiteral("Bin"));
        QCOMPARE(fetched(), kept + 1);
    }

    void keptLayoutsFollowAColumnAddedByAnotherProgram()
    {
        QCOMPARE(m_c->columns(QStringLiteral("Bin")).size(), 5);
        QCOMPARE(m_c->query(QStringLiteral("Select * from Bin")).columns.size(), 5);
        {
            // The crib application's upgrade makes Bin synchronised between two cycles.
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(m_dir->filePath(QStringLiteral("crib.db")));
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("ALTER TABLE Bin ADD COLUMN ASPProcessed bit DEFAULT 0")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        Connection nextCycle;
        nextCycle.setConnectionString(m_cs);
        nextCycle.open();
        QCOMPARE(nextCycle.columns(QStringLiteral("Bin")).size(), 6);
        // Results are described afresh too, not as an earlier connection saw the table.
        const ResultSet rows = nextCycle.query(QStringLiteral("Select * from Bin"));
        QCOMPARE(rows.columns.size(), 6);
        QCOMPARE(rows.columns.last().kind, ColumnKind::Boolean);
    }

    // A statement that reached a file no longer under its name counts as failed; the pool hands
    // out connections to the file now in place.
    void aFileReplacedOrDeletedFailsTheStatementThatReachedIt()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows refuses to move or delete a database file that SQLite holds open");
#endif
        const QString file = m_dir->filePath(QStringLiteral("crib.db"));
        const Database pooled = Database::pooled(m_cs);
        const auto onHand = [&] {
            return pooled.run([](Connection& c) { return c.query(QStringLiteral("select sum(OnHand) from Bin")); })
                .rows.value(0)
                .value(0)
                .toInt();
        };
        QCOMPARE(onHand(), 13);
        {
            QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
            copy.setDatabaseName(file);
            QVERIFY(copy.open());
            QVERIFY(QSqlQuery(copy).exec(QStringLiteral("VACUUM INTO '%1.copy'").arg(file)));
            copy.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("copy"));
        // A restore: the file and its side files moved away, the copy put in their place.
        for (const QString& side : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::rename(file + side, file + QStringLiteral(".old") + side);
        QVERIFY(QFile::rename(file + QStringLiteral(".copy"), file));
        for (const char* what : {"replaced", "deleted"}) {
            try {
                m_c->execute(QStringLiteral("UPDATE Bin SET OnHand = 99"));
                QFAIL("a statement on a file no longer in place must fail");
            } catch (const DbError& e) {
                QCOMPARE(e.cause(), DbError::Cause::Unreachable);
                QVERIFY2(
                    e.message().contains(file) && e.message().contains(QLatin1String(what)), qPrintable(e.message()));
            }
            QVERIFY(!m_c->isOpen());
            if (qstrcmp(what, "replaced") == 0) {
                QCOMPARE(onHand(), 13);
                m_c->open();
                QVERIFY(QFile::remove(file));
            }
        }
        QVERIFY_THROWS_EXCEPTION(DbError, onHand());
    }

    // Made read-only and writable again: SQLite's side files, made meanwhile with the database
    // file's permissions, would keep refusing every write.
    void aReadOnlyFileIsNamedAndWritableAgainOnceItIsMade()
    {
#ifdef Q_OS_WIN
        QSKIP("the permissions of a service account need a second Windows account");
#else
        const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        const auto all = readable | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        QVERIFY(QFile::setPermissions(m_dir->path(), all | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
        const QString file = m_dir->filePath(QStringLiteral("svc.db"));
        const QString cs = QStringLiteral("Initial Catalog=svc;Data Source=sqlite:%1").arg(m_dir->path());
        const auto refusal = [&](Connection::OpenMode mode = Connection::OpenMode::ExistingDatabase) {
            Connection c;
            c.setConnectionString(cs);
            try {
                c.open(mode);
                c.execute(QStringLiteral("CREATE TABLE IF NOT EXISTS T (x int)"));
                c.execute(QStringLiteral("INSERT INTO T (x) VALUES (1)"));
                return QString();
            } catch (const DbError& e) {
                return e.message();
            }
        };
        const AsServiceAccount account;
        QCOMPARE(refusal(Connection::OpenMode::CreateEmbeddedIfMissing), QString());
        QVERIFY(QFile::setPermissions(file, readable));
        const QString readOnly = refusal();
        QVERIFY2(readOnly.contains(file) && readOnly.contains(QLatin1String("is read-only"))
                && readOnly.contains(m_dir->path()),
            qPrintable(readOnly));
        QVERIFY(QFile::exists(file + QStringLiteral("-shm")));
        QVERIFY(QFile::setPermissions(file, readable | QFile::WriteOwner));
        QCOMPARE(refusal(), QString());
        // A side file this account may not mend is named, with its folder and what to do.
        QVERIFY(writeFile(file + QStringLiteral("-journal"), {}) && QFile::setPermissions(file + "-journal", readable));
        const QString side = sqlite::readOnlyMessage(file, QStringLiteral("attempt to write a readonly database"));
        QVERIFY2(side.contains(file + QStringLiteral("-journal")) && side.contains(m_dir->path())
                && side.contains(QLatin1String("make it writable")),
            qPrintable(side));
#endif
    }

    // A disk without room (here a file size limit, which root meets too) is named with the file,
    // its folder and what to do.
    void aDiskWithoutRoomIsNamed()
    {
#ifdef Q_OS_WIN
        QSKIP("no file size limit to stand for a full disk");
#else
        m_c->execute(QStringLiteral("CREATE TABLE Pictures (RecordID INTEGER PRIMARY KEY AUTOINCREMENT, Data image)"));
        rlimit unlimited{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited{64 * 1024, unlimited.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
        NamedValues picture;
        picture.set(QStringLiteral("v"), QByteArray(1024 * 1024, 'x'));
        try {
            m_c->execute(QStringLiteral("INSERT INTO Pictures (Data) VALUES (:v)"), picture);
            QFAIL("a write past the limit must fail");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(m_dir->filePath(QStringLiteral("crib.db")))
                    && e.message().contains(QLatin1String("free space")),
                qPrintable(e.message()));
        }
#endif
    }

    void refusesBadInputWithoutWriting()
    {
        Connection missing;
        missing.setConnectionString(QStringLiteral("Initial Catalog=nothere;Data Source=sqlite:%1").arg(m_dir->path()));
        try {
            missing.open();
            QFAIL("a missing database file must be refused");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QLatin1String("nothere.db")), qPrintable(e.message()));
        }
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("nothere.db"))));

        Connection malformed;
        malformed.setConnectionString(QStringLiteral("Initial Catalog=crib;Password=\"open"));
        QVERIFY_THROWS_EXCEPTION(DbError, malformed.open());

        const QStringList unadaptable = {
            QStringLiteral("if exists (select * from Bin) delete from Bin"),
            QStringLiteral("DECLARE @x int"),
            QStringLiteral("begin tran delete from Bin"),
            QStringLiteral("exec sp_who @loginame = 'sa'"),
        };
        for (const QString& text : unadaptable) {
            try {
                m_c->execute(text);
                QFAIL(qPrintable(QStringLiteral("must be refused: ") + text));
            } catch (const DbError& e) {
                QVERIFY2(e.message().contains(text.left(10), Qt::CaseInsensitive), qPrintable(e.message()));
            }
        }
        QCOMPARE(count(QStringLiteral("select count(*) from Bin")), 3);

        QVERIFY_THROWS_EXCEPTION(DbError, m_c->columns(QStringLiteral("NoTable")));
        RowQuery q;
        q.setDatabase(Database::fixed(m_c));
        q.setSql(QStringLiteral("Select * from NoTable"));
        QVERIFY_THROWS_EXCEPTION(DbError, q.open());
    }

    void tracesStatementsBeforeAdaptation()
    {
        const QString trace = m_dir->filePath(QStringLiteral("trace.log"));
        qputenv("CRIBSYNC_SQL_TRACE", trace.toLocal8Bit());
        SqlTrace::reload();
        RowQuery remote(QStringLiteral("ASPQuery"));
        remote.setDatabase(Database::pooled(m_cs));
        remote.setSql(QStringLiteral("Select TOP 1 * from Bin"));
        remote.open();
        remote.edit();
        remote.setValue(QStringLiteral("OnHand"), 9);
        remote.post();
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains(QLatin1String(" remote: Select TOP 1 * from Bin\n")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String(" remote: UPDATE [Bin] SET [OnHand] = :p0 WHERE [RecordID] = :p1")),
            qPrintable(text));
        QVERIFY(!text.contains(QLatin1String("LIMIT")));
    }

    void readsStoredDateTimeTexts_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QVariant>("read");
        const QDate day(2026, 4, 3);
        QTest::newRow("as written") << "2026-04-03T14:05:06" << QVariant(QDateTime(day, QTime(14, 5, 6), Qt::UTC));
        QTest::newRow("blank, milliseconds")
            << "2026-04-03 14:05:06.789" << QVariant(QDateTime(day, QTime(14, 5, 6, 789), Qt::UTC));
        QTest::newRow("date only") << "2026-04-03" << QVariant(QDateTime(day, QTime(0, 0), Qt::UTC));
        QTest::newRow("no seconds") << "2026-04-03T14:05" << QVariant(QDateTime(day, QTime(14, 5), Qt::UTC));
        QTest::newRow("end of day") << "2026-04-03T24:00:00"
                                    << QVariant(QDateTime(day.addDays(1), QTime(0, 0), Qt::UTC));
        QTest::newRow("no such day") << "2026-02-30T10:00:00" << QVariant(QStringLiteral("2026-02-30T10:00:00"));
        QTest::newRow("no such hour") << "2026-04-03T25:00:00" << QVariant(QStringLiteral("2026-04-03T25:00:00"));
    }

    void readsStoredDateTimeTexts()
    {
        QFETCH(QString, stored);
        QFETCH(QVariant, read);
        NamedValues text;
        text.set(QStringLiteral("t"), stored);
        m_c->execute(QStringLiteral("UPDATE Bin SET LastUpdate = :t WHERE MyNo = 'A2'"), text);
        // Read twice: a text converted once reads the same the second time.
        for (int i = 0; i < 2; ++i) {
            const QVariant value
                = m_c->query(QStringLiteral("Select LastUpdate from Bin where MyNo = 'A2'")).rows.first().first();
            QCOMPARE(value.typeId(), read.typeId());
            QCOMPARE(value, read);
        }
    }

    void bindsWhereLiteralsWithoutChangingResults()
    {
        // Run in one connection, so that texts differing only in a literal share one statement.
        const struct
        {
            const char* sql;
            int rows;
            const char* first; // MyNo of the first row
        } cases[] = {
            {"Select MyNo from Bin where OnHand = 5", 1, "A1"},
            {"Select MyNo from Bin where OnHand = 7", 1, "A2"},
            {"Select MyNo from Bin where MyNo = N'A2' and Station = '01'", 1, "A2"},
            {"Select MyNo from Bin where MyNo = 'it''s'", 0, ""},
            {"Select MyNo from Bin where OnHand > 1.5 and OnHand < -1 + 7", 1, "A1"},
            {"Select MyNo, OnHand from Bin where Station = '01' order by 2 desc", 2, "A2"},
            {"Select MyNo from Bin where MyNo = x'4131'", 0, ""},
            {"Select MyNo from Bin where OnHand = (select top 1 OnHand from Bin order by OnHand desc)", 1, "A2"},
            {"Select MyNo from Bin where MyNo like 'a%' group by MyNo having count(*) > 1", 1, "A1"},
            // A number written with an exponent or in hex, and a type length, are literals too.
            {"Select MyNo from Bin where OnHand = 0.5e1", 1, "A1"},
            {"Select MyNo from Bin where OnHand = 1 or OnHand = 0x7", 2, "A2"},
            {"Select MyNo from Bin where cast(OnHand as varchar(10)) = '7'", 1, "A2"},
            {"Select MyNo from Bin where MyNo='A2'AND Station='01'", 1, "A2"},
        };
        for (const auto& c : cases) {
            const ResultSet r = m_c->query(QLatin1String(c.sql));
            QCOMPARE(r.rows.size(), c.rows);
            if (c.rows > 0)
                QCOMPARE(r.rows.first().first().toString(), QLatin1String(c.first));
        }
        QCOMPARE(m_c->execute(QStringLiteral("Update Bin set OnHand = 8 where MyNo = 'A1' and Station = '02'")), 1);
        QCOMPARE(count(QStringLiteral("Select count(*) from Bin where OnHand = 8")), 1);
    }
};

const QString TestSqliteEngine::kBinChangeBody
    = QStringLiteral("INSERT INTO DeleteHst (TableName, Key1, Key2) VALUES ('BinC', @Station, @MyNo);\n"
                     "IF NOT EXISTS (SELECT 1 FROM Bin WHERE Station = @Station AND MyNo = @MyNo) THEN "
                     "RAISERROR 'bin ' || @MyNo || ' does not exist at station ' || @Station;\n"
                     "UPDATE Bin SET MyNo = @NewBin WHERE Station = @Station AND MyNo = @MyNo");

QTEST_GUILESS_MAIN(TestSqliteEngine)
#include "TestSqliteEngine.moc"
