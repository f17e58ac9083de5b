#include "model/TDM.h"

#include "model/Statements.h"
#include "model/TransactionProcedure.h"

using db::ParamType;

QString TDM::versionProbe(const QString& object)
{
    return QStringLiteral("if exists (select * from syscolumns where id = object_id('%1'))begin\tselect\t\t  name\t\t"
                          "from syscolumns where id = object_id('%1')end")
        .arg(object);
}

TDM::TDM(db::Connection* MSDEConnection)
{
    const db::Database local = db::Database::fixed(MSDEConnection);
    for (db::Statement* s : std::initializer_list<db::Statement*>{&toTable, &FindFieldName, &AccessQry, &DeleteHst,
             &updTranProc, &updAccessBin, &FindAccessBin, &updAccOnHand, &updAccBurn, &updAccOnorder, &qryEmp,
             &qryFindStation, &qryFindEmp, &qryUpdEmp})
        s->setDatabase(local);
    spBinChange.setDatabase(local);
    spItemChange.setDatabase(local);

    DeleteHst.setSql(joinLines({"Select * from DeleteHst", "where  ASPProcessed= 0"}));
    updTranProc.setSql(joinLines({"Update MyTran", "SET ", "ASPProcessed = 1", "where", "RecordID = :RecordID "}));
    updTranProc.declareParameter(QStringLiteral("RecordID"), ParamType::Integer);

    updAccessBin.setSql(joinLines({"Update Bin", "SET ", "OnHand = OnHand + :onhand ,", "BurnQty = BurnQty + :burn ,",
        "OnOrder = OnOrder + :onorder", "where", "(MyNo = :bin) AND", "(Station = :crib)"}));
    for (const char* name : {"onhand", "burn", "onorder"})
        updAccessBin.declareParameter(QLatin1String(name), ParamType::Integer);
    FindAccessBin.setSql(joinLines({"Select * from Bin", "where", "(MyNo = :bin) AND", "(Station = :crib)"}));
    const auto binAndCrib = [](db::Statement& s) {
        s.declareParameter(QStringLiteral("bin"), ParamType::String, 12);
        s.declareParameter(QStringLiteral("crib"), ParamType::String, 4);
    };
    binAndCrib(updAccessBin);
    binAndCrib(FindAccessBin);
    const auto clampToZero = [&](db::Command& s, const char* column) {
        s.setSql(joinLines({"Update Bin", "SET ", QStringLiteral("%1 = 0").arg(QLatin1String(column)), "where",
            "(MyNo = :bin) AND", "(Station = :crib) AND", QStringLiteral("(%1 < 0)").arg(QLatin1String(column))}));
        binAndCrib(s);
    };
    clampToZero(updAccOnHand, "OnHand");
    clampToZero(updAccBurn, "BurnQty");
    clampToZero(updAccOnorder, "OnOrder");

    const auto input = [](const char* name, ParamType type, int size) {
        db::ProcParameter p;
        p.name = QLatin1String(name);
        p.type = type;
        p.size = size;
        return p;
    };
    db::ProcParameter returnValue = input("@RETURN_VALUE", ParamType::Integer, 0);
    returnValue.direction = db::ParamDirection::ReturnValue;
    spBinChange.setProcedureName(QStringLiteral("BinChange;1"));
    spBinChange.setParameterList(
        {returnValue, input("@Station", ParamType::String, 50), input("@MyNo", ParamType::String, 50),
            input("@NewBin", ParamType::String, 50), input("@Change", ParamType::Boolean, 0)});
    spItemChange.setProcedureName(QStringLiteral("ItemChange;1"));
    spItemChange.setParameterList({returnValue, input("@Item", ParamType::String, 50),
        input("@NewItem", ParamType::String, 50), input("@Change", ParamType::Boolean, 0)});

    qryEmp.setSql(QStringLiteral("Select * from Emp"));
    qryFindStation.setSql(joinLines({"Select * from Station", "where", "(MyNo = :crib)"}));
    qryFindStation.declareParameter(QStringLiteral("crib"), ParamType::String, 4);
    qryFindEmp.setSql(joinLines({"Select * from Emp", "where", "(MyNo = :emp)"}));
    qryFindEmp.declareParameter(QStringLiteral("emp"), ParamType::String, 12);
    qryUpdEmp.setSql(joinLines({"Update Emp set Items = :Items, ASPProcessed = 1", "where [MyNo] = :emp", ""}));
    qryUpdEmp.declareParameter(QStringLiteral("Items"), ParamType::LongText);
    qryUpdEmp.declareParameter(QStringLiteral("emp"), ParamType::String, 12);

    testConnection.setSql(joinLines({"Select * from Outbox", "where Outbox.Processed = 0"}));
    qryASPOutbox.setSql(joinLines(
        {"Select * from Outbox", "where (Processed = 0) and (ComputerName =  :ComputerName)", "Order By RecordID"}));
    qryASPOutbox.declareParameter(QStringLiteral("ComputerName"), ParamType::String, 100);
    qryNETEmp.setSql(joinLines({"Select * from Emp"}));
    updBinChange.setSql(joinLines({"EXEC [dbo].[sproc_BinChange]", ":Station, :MyNo, :NewBin, :Contact"}));
    for (const char* name : {"Station", "MyNo", "NewBin"})
        updBinChange.declareParameter(QLatin1String(name), ParamType::String, 50);
    updBinChange.declareParameter(QStringLiteral("Contact"), ParamType::String, 100);
    updItemChange.setSql(joinLines({"EXEC [dbo].[sproc_ItemChange]", ":OldItem, :NewItem, 1, 1,  :Contact", ""}));
    updItemChange.declareParameter(QStringLiteral("OldItem"), ParamType::String, 30);
    updItemChange.declareParameter(QStringLiteral("NewItem"), ParamType::String, 30);
    updItemChange.declareParameter(QStringLiteral("Contact"), ParamType::String, 100);
    insDelHist.setSql(
        joinLines({"Insert into DeleteHst (TableName, Key1, Key2, Key3, LastUpdate, ComputerName, LocalComputerName)",
            "Values(:TableName, :Key1, :Key2, :Key3, :LastUpdate, :ComputerName, :LocalComputerName)"}));
    for (const char* name : {"TableName", "Key1", "Key2", "Key3"})
        insDelHist.declareParameter(QLatin1String(name), ParamType::String, 50);
    insDelHist.declareParameter(QStringLiteral("LastUpdate"), ParamType::DateTime);
    insDelHist.declareParameter(QStringLiteral("ComputerName"), ParamType::String, 100);
    insDelHist.declareParameter(QStringLiteral("LocalComputerName"), ParamType::String, 100);
    updASPTran.setProcedureName(TransactionProcedure::name());
    qryFindRightVersion.setSql(versionProbe(TransactionProcedure::name()));
    qryFindIssueVersion.setSql(versionProbe(QStringLiteral("Issue")));
}

void TDM::DataModuleCreate(const QString& remoteConnectionString, VersionFlags& flags)
{
    m_remoteConnectionString = remoteConnectionString;
    const db::Database remote = db::Database::pooled(remoteConnectionString);
    for (db::Statement* s :
        std::initializer_list<db::Statement*>{&testConnection, &qryASPOutbox, &qryASPFindRec, &qryFindRightVersion,
            &qryFindIssueVersion, &ASPQuery, &updBinChange, &insDelHist, &updItemChange, &qryNETEmp})
        s->setDatabase(remote);
    updASPTran.setDatabase(remote);
    if (remoteConnectionString.isEmpty())
        return;

    const auto hasName = [](db::RowQuery& probe, const QString& name) {
        for (probe.first(); !probe.eof(); probe.next()) {
            if (probe.asString(QStringLiteral("name")) == name)
                return true;
        }
        return false;
    };
    qryFindRightVersion.open();
    flags.ProcHasComputerName = hasName(qryFindRightVersion, QStringLiteral("@ComputerName"));
    flags.ProcHasDiscrepantQty = hasName(qryFindRightVersion, QStringLiteral("@DiscrepantQty"));
    qryFindRightVersion.close();

    qryFindIssueVersion.open();
    flags.IssueHasComputerName = hasName(qryFindIssueVersion, QStringLiteral("ComputerName"));
    qryFindIssueVersion.close();
}
