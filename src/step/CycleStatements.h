#pragma once

#include "db/RowQuery.h"
#include "db/Statement.h"
#include "db/StoredProc.h"

class TDM;

/// The private copies of the remote statements that every cycle makes afresh from the data
/// module's templates: each takes the template's text and remote connection string and, where
/// the template has parameters that the copy needs, its parameter list.
class CycleStatements
{
public:
    /// Copies the templates of `dm`; opens the outbox copy with `machineName` as addressee. The
    /// procedure call fetches its parameter list from the server. Throws on any failure.
    void PrepareCycleStatements(TDM& dm, const QString& machineName);

    db::RowQuery qryASPOutbox{QStringLiteral("qryASPOutbox")};
    db::RowQuery qryASPFindRec{QStringLiteral("qryASPFindRec")};
    db::RowQuery RemoteProbe{QStringLiteral("RemoteProbe")};
    db::RowQuery qryNETEmp{QStringLiteral("qryNETEmp")};
    db::StoredProc updASPTran{QStringLiteral("updASPTran")};
    db::Command updBinChange{QStringLiteral("updBinChange")};
    db::Command insDelHist{QStringLiteral("insDelHist")};
    db::Command updItemChange{QStringLiteral("updItemChange")};
    /// The remote command of the cycle's time stamps.
    db::Command stamp{QStringLiteral("stamp")};
};
