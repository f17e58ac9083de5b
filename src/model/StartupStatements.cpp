#include "model/StartupStatements.h"

#include "model/Statements.h"
#include "model/TransactionProcedure.h"

using db::ParamType;

StartupStatements::StartupStatements(db::Connection* MSDEConnection, db::Connection* WebConnection)
{
    const db::Database local = db::Database::fixed(MSDEConnection);
    for (db::Statement* s : std::initializer_list<db::Statement*>{&tbCompany, &qryUpdCompany, &qryControl, &DeleteHst,
             &qryUpdDeleteHst, &DropTrigersVwStproc, &CreateStProc})
        s->setDatabase(local);
    CreateSPASPTran.setDatabase(db::Database::fixed(WebConnection));

    tbCompany.setSql(QStringLiteral("Select * from [Company]"));
    qryUpdCompany.setSql(joinLines({"Update Company", "set ", "ASPDataBaseName = :ASPDataBaseName,",
        "ASPLoginName =  :ASPLoginName ,", "ASPPassword = :ASPPassword"}));
    for (const char* name : {"ASPDataBaseName", "ASPLoginName", "ASPPassword"})
        qryUpdCompany.declareParameter(QLatin1String(name), ParamType::String, 50);
    qryControl.setSql(joinLines({"Select * from Control", "where ComputerName =  :ComputerName"}));
    qryControl.declareParameter(QStringLiteral("ComputerName"), ParamType::String, 60);
    DeleteHst.setSql(QStringLiteral("Select top 1 *  from [DeleteHst]"));
    qryUpdDeleteHst.setSql(joinLines(
        {" if not exists (select * from dbo.syscolumns where id = object_id(N'[dbo].[DeleteHst]') and name = 'Key3') ",
            "  ALTER TABLE [dbo].[DeleteHst] ADD [Key3]  [varchar] (50)  NULL"}));
    DropTrigersVwStproc.setSql(
        joinLines({"if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[DelRoboMinMax]') and "
                   "OBJECTPROPERTY(id, N'IsTrigger') = 1)",
            "drop trigger [dbo].[DelRoboMinMax]", "",
            "if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[sp_LocalSyncOutBox]') and "
            "OBJECTPROPERTY(id, N'IsProcedure') = 1)",
            "drop procedure [dbo].[sp_LocalSyncOutBox]", "", ""}));
    CreateSPASPTran.setSql(TransactionProcedure::createText());
}
