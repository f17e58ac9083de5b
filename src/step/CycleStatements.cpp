#include "step/CycleStatements.h"

#include "db/Connection.h"
#include "model/TDM.h"

namespace {

/// A copy of a template: text and connection string, and its parameter list when asked.
template <typename S> void copyOf(S& copy, const S& templ, bool withParameters)
{
    const QString name = copy.name();
    if (withParameters) {
        copy = templ;
    } else {
        copy = S(name);
        copy.setDatabase(templ.database());
        copy.setSql(templ.sql());
    }
}

} // namespace

void CycleStatements::PrepareCycleStatements(TDM& dm, const QString& machineName)
{
    qryASPOutbox = db::RowQuery(QStringLiteral("qryASPOutbox"));
    qryASPOutbox.setDatabase(dm.qryASPOutbox.database());
    qryASPOutbox.setSql(dm.qryASPOutbox.sql());
    qryASPOutbox.declareParameter(QStringLiteral("ComputerName"), db::ParamType::String, 100);
    qryASPOutbox.setParameter(QStringLiteral("ComputerName"), machineName);
    openOutbox();

    copyOf(qryASPFindRec, dm.qryASPFindRec, false);
    copyOf(RemoteProbe, dm.ASPQuery, false);
    copyOf(qryNETEmp, dm.qryNETEmp, false);
    copyOf(updBinChange, dm.updBinChange, true);
    copyOf(insDelHist, dm.insDelHist, true);
    copyOf(updItemChange, dm.updItemChange, true);

    updASPTran = db::StoredProc(QStringLiteral("updASPTran"));
    updASPTran.setDatabase(dm.updASPTran.database());
    updASPTran.setProcedureName(dm.updASPTran.procedureName());
    updASPTran.refreshParameters();

    stamp = db::Command(QStringLiteral("stamp"));
    stamp.setDatabase(db::Database::pooled(dm.remoteConnectionString()));
}

void CycleStatements::refreshOutbox()
{
    // Orders that arrive from elsewhere in between are read by the next cycle; only a statement
    // of this process on that side (a push, a mark) could have changed the outbox since.
    if (qryASPOutbox.isOpen() && m_outboxReadAt && *m_outboxReadAt == outboxSideStatements())
        return;
    qryASPOutbox.close();
    openOutbox();
}

qint64 CycleStatements::outboxSideStatements() const
{
    return db::Connection::traffic(qryASPOutbox.database().traceTarget()).statements;
}

void CycleStatements::openOutbox()
{
    m_outboxReadAt.reset();
    qryASPOutbox.open();
    m_outboxReadAt = outboxSideStatements();
}
