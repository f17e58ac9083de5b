#include "step/CycleStatements.h"

#include "db/Connection.h"
#include "model/Statements.h"
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
    m_outboxText = dm.qryASPOutbox.sql();
    qryASPOutbox.declareParameter(QStringLiteral("ComputerName"), db::ParamType::String, 100);
    qryASPOutbox.setParameter(QStringLiteral("ComputerName"), machineName);
    qryASPOutbox.setRowLimit(kDefaultPageRows);
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

void CycleStatements::refreshOutbox(int pageRows)
{
    // Orders that arrive from elsewhere in between are read by the next cycle; only a statement
    // of this process on that side (a push, a mark) could have changed the outbox since.
    if (qryASPOutbox.isOpen() && qryASPOutbox.rowLimit() == pageRows && m_outboxReadAt
        && *m_outboxReadAt == outboxSideStatements())
        return;
    qryASPOutbox.close();
    qryASPOutbox.setSql(m_outboxText);
    qryASPOutbox.setRowLimit(pageRows);
    openOutbox();
}

PageTexts CycleStatements::outboxPages(int pageRows)
{
    const QString orders = QStringLiteral("where (Processed = 0) and (ComputerName =  :ComputerName)");
    const QString top = QStringLiteral("Select TOP %1 * from Outbox").arg(pageRows);
    PageTexts texts;
    texts.count = joinLines({"Select count(*) as Pending, max(RecordID) as Highest from Outbox", orders});
    texts.first = joinLines({top, orders + QStringLiteral(" and (RecordID <= :Highest)"), "Order By RecordID"});
    texts.after = joinLines(
        {top, orders + QStringLiteral(" and (RecordID <= :Highest) and (RecordID > :Last)"), "Order By RecordID"});
    texts.key = QStringLiteral("RecordID");
    texts.ownTextInKeyOrder = true;
    return texts;
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
