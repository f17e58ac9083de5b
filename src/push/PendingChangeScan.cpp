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
            if (m_context.progress.stopRequested())
                return;
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
        PagedRows pages(
            pending, PagedRows::TextSource([&] { return pagesOf(remoteTable, localTable); }), m_context.pageRows);
        try {
            openPending(pages, remoteTable);
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
        m_records.PushTableRows(pages, remoteTable);
        return;
    }
}

void PendingChangeScan::openPending(PagedRows& pending, const QString& remoteTable)
{
    const QString table = db::asciiUpper(remoteTable);
    const auto resume = m_context.resumeAfter.constFind(table);
    if (resume == m_context.resumeAfter.constEnd()) {
        pending.open();
        return;
    }
    pending.openAfter(*resume);
    // Past the last row: the rows before the point (left pending on the way) get their turn.
    if (pending.rows().isEmpty()) {
        m_context.resumeAfter.remove(table);
        pending.open();
    }
}

std::optional<PageTexts> PendingChangeScan::pagesOf(const QString& remoteTable, const QString& localTable)
{
    const TableRule& rule = TableRules::of(remoteTable);
    QString key;
    if (!rule.pendingKey.isEmpty()) {
        if (m_context.scratchColumns.contains(rule.pendingKey, Qt::CaseInsensitive))
            key = rule.pendingKey;
    } else {
        // One column that tells rows apart and orders the same way on every engine.
        QStringList keys;
        QStringList identities;
        for (const db::ColumnInfo& column :
            m_context.dm->AccessQry.database().run([&](db::Connection& c) { return c.columns(localTable); })) {
            const bool orderable = column.kind == db::ColumnKind::AutoIncrement
                || column.kind == db::ColumnKind::Integer || column.kind == db::ColumnKind::Text;
            if (column.primaryKey)
                keys << (orderable ? column.name : QString());
            if (column.kind == db::ColumnKind::AutoIncrement)
                identities << column.name;
        }
        if (keys.size() == 1)
            key = keys.first();
        else if (keys.isEmpty() && identities.size() == 1)
            key = identities.first();
    }
    if (key.isEmpty())
        return std::nullopt;
    StatementValues values;
    values.table = localTable;
    values.key = key;
    values.pageRows = m_context.pageRows;
    PageTexts texts;
    // The page texts name only the table and its key: they bind no value.
    texts.count = TableRules::render(rule.pendingCount, values).sql;
    texts.first = TableRules::render(rule.pendingPage, values).sql;
    texts.after = TableRules::render(rule.pendingPageAfter, values).sql;
    if (!rule.pendingPageAfterNull.isEmpty())
        texts.afterNull = TableRules::render(rule.pendingPageAfterNull, values).sql;
    texts.key = key;
    texts.orderColumn = rule.pendingOrder;
    return texts;
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
