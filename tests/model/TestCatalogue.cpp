#include "db/Connection.h"
#include "db/DbError.h"
#include "db/embedded/EmbeddedProcedure.h"
#include "model/StartupStatements.h"
#include "model/TDM.h"
#include "support/CribFixture.h"

#include <QTest>

using namespace db;

/// The statement catalogue: exact texts (the server sees every blank and line break), the
/// parameters and databases, and the version probe.
class TestCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textsAreExact_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        Connection local;
        Connection web;
        TDM dm(&local);
        StartupStatements st(&local, &web);
        const auto row = [&](const char* name, const QString& actual, const QString& expected) {
            QTest::newRow(name) << QString::fromLatin1(name) << actual << expected;
        };
        row("DeleteHst", dm.DeleteHst.sql(), "Select * from DeleteHst\r\nwhere  ASPProcessed= 0\r\n");
        row("updTranProc", dm.updTranProc.sql(),
            "Update MyTran\r\nSET \r\nASPProcessed = 1\r\nwhere\r\nRecordID = :RecordID \r\n");
        row("updAccessBin", dm.updAccessBin.sql(),
            "Update Bin\r\nSET \r\nOnHand = OnHand + :onhand ,\r\nBurnQty = BurnQty + :burn ,\r\nOnOrder = OnOrder + "
            ":onorder\r\nwhere\r\n(MyNo = :bin) AND\r\n(Station = :crib)\r\n");
        row("FindAccessBin", dm.FindAccessBin.sql(),
            "Select * from Bin\r\nwhere\r\n(MyNo = :bin) AND\r\n(Station = :crib)\r\n");
        row("updAccOnHand", dm.updAccOnHand.sql(),
            "Update Bin\r\nSET \r\nOnHand = 0\r\nwhere\r\n(MyNo = :bin) AND\r\n(Station = :crib) AND\r\n(OnHand < "
            "0)\r\n");
        row("updAccBurn", dm.updAccBurn.sql(),
            "Update Bin\r\nSET \r\nBurnQty = 0\r\nwhere\r\n(MyNo = :bin) AND\r\n(Station = :crib) AND\r\n(BurnQty < "
            "0)\r\n");
        row("updAccOnorder", dm.updAccOnorder.sql(),
            "Update Bin\r\nSET \r\nOnOrder = 0\r\nwhere\r\n(MyNo = :bin) AND\r\n(Station = :crib) AND\r\n(OnOrder < "
            "0)\r\n");
        row("qryEmp", dm.qryEmp.sql(), "Select * from Emp");
        row("qryFindStation", dm.qryFindStation.sql(), "Select * from Station\r\nwhere\r\n(MyNo = :crib)\r\n");
        row("qryFindEmp", dm.qryFindEmp.sql(), "Select * from Emp\r\nwhere\r\n(MyNo = :emp)\r\n");
        row("qryUpdEmp", dm.qryUpdEmp.sql(),
            "Update Emp set Items = :Items, ASPProcessed = 1\r\nwhere [MyNo] = :emp\r\n\r\n");
        row("testConnection", dm.testConnection.sql(), "Select * from Outbox\r\nwhere Outbox.Processed = 0\r\n");
        row("qryASPOutbox", dm.qryASPOutbox.sql(),
            "Select * from Outbox\r\nwhere (Processed = 0) and (ComputerName =  :ComputerName)\r\nOrder By "
            "RecordID\r\n");
        row("qryNETEmp", dm.qryNETEmp.sql(), "Select * from Emp\r\n");
        row("updBinChange", dm.updBinChange.sql(),
            "EXEC [dbo].[sproc_BinChange]\r\n:Station, :MyNo, :NewBin, :Contact\r\n");
        row("updItemChange", dm.updItemChange.sql(),
            "EXEC [dbo].[sproc_ItemChange]\r\n:OldItem, :NewItem, 1, 1,  :Contact\r\n\r\n");
        row("insDelHist", dm.insDelHist.sql(),
            "Insert into DeleteHst (TableName, Key1, Key2, Key3, LastUpdate, ComputerName, LocalComputerName)\r\n"
            "Values(:TableName, :Key1, :Key2, :Key3, :LastUpdate, :ComputerName, :LocalComputerName)\r\n");
        row("qryFindRightVersion", dm.qryFindRightVersion.sql(),
            "if exists (select * from syscolumns where id = object_id('sp_CorvaneTran'))begin\tselect\t\t  "
            "name\t\tfrom "
            "syscolumns where id = object_id('sp_CorvaneTran')end");
        row("qryFindIssueVersion", dm.qryFindIssueVersion.sql(),
            "if exists (select * from syscolumns where id = object_id('Issue'))begin\tselect\t\t  name\t\tfrom "
            "syscolumns where id = object_id('Issue')end");
        row("tbCompany", st.tbCompany.sql(), "Select * from [Company]");
        row("qryUpdCompany", st.qryUpdCompany.sql(),
            "Update Company\r\nset \r\nASPDataBaseName = :ASPDataBaseName,\r\nASPLoginName =  :ASPLoginName ,\r\n"
            "ASPPassword = :ASPPassword\r\n");
        row("qryControl", st.qryControl.sql(), "Select * from Control\r\nwhere ComputerName =  :ComputerName\r\n");
        row("DeleteHst top 1", st.DeleteHst.sql(), "Select top 1 *  from [DeleteHst]");
        row("qryUpdDeleteHst", st.qryUpdDeleteHst.sql(),
            " if not exists (select * from dbo.syscolumns where id = object_id(N'[dbo].[DeleteHst]') and name = "
            "'Key3') "
            "\r\n  ALTER TABLE [dbo].[DeleteHst] ADD [Key3]  [varchar] (50)  NULL\r\n");
        row("DropTrigersVwStproc", st.DropTrigersVwStproc.sql(),
            "if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[DelRoboMinMax]') and "
            "OBJECTPROPERTY(id, N'IsTrigger') = 1)\r\ndrop trigger [dbo].[DelRoboMinMax]\r\n\r\n"
            "if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[sp_LocalSyncOutBox]') and "
            "OBJECTPROPERTY(id, N'IsProcedure') = 1)\r\ndrop procedure [dbo].[sp_LocalSyncOutBox]\r\n\r\n\r\n");
    }

    void textsAreExact()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void parametersAndDatabases()
    {
        Connection local;
        TDM dm(&local);
        QCOMPARE(dm.updAccessBin.parameterNames(), QStringList({"onhand", "burn", "onorder", "bin", "crib"}));
        QCOMPARE(dm.insDelHist.parameterNames().size(), 7);
        QVERIFY(!dm.DeleteHst.database().isPooled());
        QVERIFY(dm.testConnection.database().isPooled());
        QCOMPARE(dm.spBinChange.procedureName(), QStringLiteral("BinChange;1"));
        QCOMPARE(dm.spBinChange.parameters().size(), 5);
        // A NULL sent for a typed parameter keeps its type.
        dm.qryUpdEmp.setParameter(QStringLiteral("Items"), QVariant());
        QCOMPARE(dm.qryUpdEmp.parameter(QStringLiteral("Items")).metaType(), QMetaType::fromType<QString>());
        dm.updTranProc.setParameter(QStringLiteral("RecordID"), QStringLiteral("42"));
        QCOMPARE(dm.updTranProc.parameter(QStringLiteral("RecordID")), QVariant(42));
    }

    void versionProbeSetsTheFlags()
    {
        CribSchema::Options options;
        options.withTransactionProcedure = false;
        options.issueHasComputerName = false;
        CribFixture f({.schema = options, .trace = true});
        QTemporaryDir& dir = f.dir;
        const QString cs = f.remoteConnectionString;
        Connection& remote = f.remote;

        f.clearTrace();
        Connection local;
        TDM dm(&local);
        VersionFlags flags;
        dm.DataModuleCreate(QString(), flags);
        QCOMPARE(f.traced(), QStringList()); // nothing sent without a remote connection string
        QVERIFY(!flags.ProcHasComputerName && !flags.ProcHasDiscrepantQty && !flags.IssueHasComputerName);

        dm.DataModuleCreate(cs, flags);
        QVERIFY(!flags.ProcHasComputerName && !flags.ProcHasDiscrepantQty && !flags.IssueHasComputerName);
        QCOMPARE(dm.testConnection.database().connectionString(), cs);

        remote.installEmbeddedProcedure({"sp_CorvaneTran",
            "@TranNo int, @ComputerName varchar(100), "
            "@DiscrepantQtyOld int",
            "RETURN 0"});
        remote.execute(QStringLiteral("ALTER TABLE Issue ADD ComputerName varchar(100)"));
        dm.DataModuleCreate(cs, flags);
        QVERIFY(flags.ProcHasComputerName);
        QVERIFY(!flags.ProcHasDiscrepantQty); // the whole name is compared, not a prefix
        QVERIFY(flags.IssueHasComputerName);

        remote.installEmbeddedProcedure({"sp_CorvaneTran",
            "@TranNo int, @DiscrepantQty int, @ComputerName "
            "varchar(100)",
            "RETURN 0"});
        dm.DataModuleCreate(cs, flags);
        QVERIFY(flags.ProcHasComputerName && flags.ProcHasDiscrepantQty);

        // A probe that fails reaches the caller, and the flags keep what they held.
        QVERIFY_THROWS_EXCEPTION(DbError,
            dm.DataModuleCreate(
                QStringLiteral("Data Source=sqlite:%1;Initial Catalog=Missing").arg(dir.path()), flags));
        QVERIFY(flags.ProcHasComputerName);
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "TestCatalogue.moc"
