#include "push/PendingChangeScan.h"

#include "db/Connection.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "model/TDM.h"
#include "model/TableRules.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"
#include "step/StepFailure.h"

namespace {

const QString kStep = QStringLiteral("push");

} // namespace

void PendingChangeScan::PushPendingChanges()
{
    QString table;
    try {
        m_deletes.PropagateDeletes();
        for (const QString& remoteTable : m_context.remoteTables) {
            table = remoteTable;
            pushTable(remoteTable);
            m_context.events->pumpEvents();
        }
    } catch (const std::exception& e) {
        StepFailure::report(m_context, kStep, table, QString(), e, true);
    }
}

void PendingChangeScan::pushTable(const QString& remoteTable)
{
    db::RowQuery& pending = m_context.dm->AccessQry;
    // Asked once per remote table, not once per pair of tables: the walk meets every pair.
    const bool neverPushed = TableRules::isNeverPushed(remoteTable);
    for (const QString& localTable : m_context.localTables) {
        m_context.events->pumpEvents();
        if (neverPushed)
            return;
        // Matched as the databases match names, not by Unicode case folding.
        if (!db::sameIdentifier(remoteTable, localTable))
            continue;
        if (!tracksUnsentRows(localTable))
            return;

        pending.close();
        StatementValues names;
        names.table = localTable;
        TableRules::render(TableRules::of(remoteTable).pendingRows, names).applyTo(pending);
        try {
            pending.open();
        } catch (const std::exception& e) {
            pending.cancel();
            if (StepFailure::messageOf(e).contains(QLatin1String("ASPProcessed")))
                continue;
            StepFailure::report(m_context, kStep, localTable, QString(), e, true);
            return;
        }
        m_context.events->setProgressText(localTable);
        // No remote statement for a table without pending rows.
        if (pending.isEmpty()) {
            pending.close();
            return;
        }
        openRemoteProbe(remoteTable);
        m_records.PushTableRows(pending, remoteTable);
        return;
    }
}

bool PendingChangeScan::tracksUnsentRows(const QString& localTable)
{
    const QList<db::ColumnInfo> columns
        = m_context.dm->AccessQry.database().run([&](db::Connection& c) { return c.columns(localTable); });
    m_context.scratchColumns.clear();
    for (const db::ColumnInfo& column : columns)
        m_context.scratchColumns << column.name;
    return m_context.scratchColumns.contains(QStringLiteral("ASPProcessed"), Qt::CaseInsensitive);
}

void PendingChangeScan::openRemoteProbe(const QString& remoteTable)
{
    db::RowQuery& probe = m_context.statements->RemoteProbe;
    probe.close();
    probe.setSql(QStringLiteral("Select * FROM ") + db::bracketed(remoteTable)
        + (TableRules::isPictureTable(remoteTable) ? QStringLiteral(" where Processed = 0")
                                                   : QStringLiteral(" where RecordID = 0")));
    try {
        probe.open();
    } catch (const std::exception&) {
        // A table without that column is opened for its columns only; a failure of this second
        // opening ends the scan.
        probe.cancel();
        probe.close();
        probe.setSql(QStringLiteral("Select TOP 0 * FROM ") + db::bracketed(remoteTable));
        probe.open();
    }
}
