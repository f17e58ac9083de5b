#pragma once

#include "db/RowQuery.h"
#include "db/Statement.h"

namespace db {
class Connection;
}

/// The statements of the start-up sequence: the remote credentials and this computer's
/// registration in the local database, the local schema check, and the remote transaction
/// procedure, which runs on the start-up remote connection `WebConnection`.
class StartupStatements
{
public:
    StartupStatements(db::Connection* MSDEConnection, db::Connection* WebConnection);

    db::RowQuery tbCompany{QStringLiteral("tbCompany")};
    db::Command qryUpdCompany{QStringLiteral("qryUpdCompany")};
    db::RowQuery qryControl{QStringLiteral("qryControl")};
    db::RowQuery DeleteHst{QStringLiteral("DeleteHst")};
    db::Command qryUpdDeleteHst{QStringLiteral("qryUpdDeleteHst")};
    db::Command DropTrigersVwStproc{QStringLiteral("DropTrigersVwStproc")};
    db::Command CreateStProc{QStringLiteral("CreateStProc")};
    db::Command CreateSPASPTran{QStringLiteral("CreateSPASPTran")};
};
