#pragma once

#include "db/RowQuery.h"
#include "db/Statement.h"
#include "db/StoredProc.h"
#include "step/PagedRows.h"

#include <optional>

class TDM;

/// The private copies of the remote statements that every cycle makes afresh from the data
/// module's templates: each takes the template's text and remote connection string and, where
/// the template has parameters that the copy needs, its parameter list.
class CycleStatements
{
public:
    /// Copies the templates of `dm`; opens the outbox copy with `machineName` as addressee, its
    /// first page of orders. The procedure call fetches its parameter list from the server.
    /// Throws on any failure.
    void PrepareCycleStatements(TDM& dm, const QString& machineName);

    /// Reads the outbox copy's first page of `pageRows` orders again, unless it holds the page read
    /// this cycle and no statement went to the remote side since: then what it holds is still what
    /// to carry out. Throws on failure.
    void refreshOutbox(int pageRows = kDefaultPageRows);
    /// How the outbox copy's later pages are read, in RecordID order like its own statement.
    static PageTexts outboxPages(int pageRows);

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

private:
    /// Statements sent so far to the outbox copy's side by this process.
    qint64 outboxSideStatements() const;
    void openOutbox();

    /// outboxSideStatements() just after the outbox copy was read; empty while it is not open.
    std::optional<qint64> m_outboxReadAt;
    /// The outbox copy's own statement, which its later pages replace.
    QString m_outboxText;
};
