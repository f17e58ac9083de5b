#pragma once

#include "db/RowQuery.h"
#include "db/Statement.h"
#include "db/StoredProc.h"
#include "model/VersionFlags.h"

namespace db {
class Connection;
}

/// The data module: the named statements the cycle's steps share, each with its text,
/// parameters and database. Local statements run on the local connection; remote ones get the
/// remote connection string in DataModuleCreate and open their own connection when they run.
class TDM
{
public:
    explicit TDM(db::Connection* MSDEConnection);

    /// Points every remote statement at `remoteConnectionString`; unless it is empty, probes the
    /// remote schema into `flags`. Failures reach the caller; flags not yet set keep their value.
    void DataModuleCreate(const QString& remoteConnectionString, VersionFlags& flags);

    QString remoteConnectionString() const { return m_remoteConnectionString; }

    // Local statements.
    db::RowQuery toTable{QStringLiteral("toTable")};
    db::RowQuery FindFieldName{QStringLiteral("FindFieldName")};
    db::RowQuery AccessQry{QStringLiteral("AccessQry")};
    db::RowQuery DeleteHst{QStringLiteral("DeleteHst")};
    db::Command updTranProc{QStringLiteral("updTranProc")};
    db::Command updAccessBin{QStringLiteral("updAccessBin")};
    db::RowQuery FindAccessBin{QStringLiteral("FindAccessBin")};
    db::Command updAccOnHand{QStringLiteral("updAccOnHand")};
    db::Command updAccBurn{QStringLiteral("updAccBurn")};
    db::Command updAccOnorder{QStringLiteral("updAccOnorder")};
    db::StoredProc spBinChange{QStringLiteral("spBinChange")};
    db::StoredProc spItemChange{QStringLiteral("spItemChange")};
    db::RowQuery qryEmp{QStringLiteral("qryEmp")};
    db::RowQuery qryFindStation{QStringLiteral("qryFindStation")};
    db::RowQuery qryFindEmp{QStringLiteral("qryFindEmp")};
    db::Command qryUpdEmp{QStringLiteral("qryUpdEmp")};

    // Remote statements.
    db::RowQuery testConnection{QStringLiteral("testConnection")};
    db::RowQuery qryASPOutbox{QStringLiteral("qryASPOutbox")};
    db::RowQuery qryASPFindRec{QStringLiteral("qryASPFindRec")};
    db::RowQuery ASPQuery{QStringLiteral("ASPQuery")};
    db::RowQuery qryNETEmp{QStringLiteral("qryNETEmp")};
    db::Command updBinChange{QStringLiteral("updBinChange")};
    db::Command updItemChange{QStringLiteral("updItemChange")};
    db::Command insDelHist{QStringLiteral("insDelHist")};
    db::StoredProc updASPTran{QStringLiteral("updASPTran")};
    db::RowQuery qryFindRightVersion{QStringLiteral("qryFindRightVersion")};
    db::RowQuery qryFindIssueVersion{QStringLiteral("qryFindIssueVersion")};

    /// The version probe's text for the parameters of a procedure or the columns of a table.
    static QString versionProbe(const QString& object);

private:
    QString m_remoteConnectionString;
};
