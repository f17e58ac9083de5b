#include "apply/RemoteDelete.h"

#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "model/TDM.h"
#include "model/TableRules.h"
#include "step/CycleContext.h"
#include "step/StepFailure.h"

namespace {

const QString kStep = QStringLiteral("delete");

} // namespace

RenderedStatement RemoteDelete::lookupStatement(
    const QString& tableName, const QString& key1, const QString& key2, const QString& key3) const
{
    const db::RowQuery& fields = m_context.dm->FindFieldName;
    const QStringList keys{key1, key2, key3};
    StatementValues values;
    values.table = tableName;
    values.at = [&](int position) { return QVariant(keys.value(position - 1)); };
    values.column = [&](int position) { return fields.columnName(position); };
    values.emptyKeyIsNull = true;
    return TableRules::render(TableRules::choose(TableRules::of(tableName).deleteLookup, keys), values);
}

bool RemoteDelete::ApplyRemoteDelete(
    const QString& tableName, const QString& key1, const QString& key2, const QString& key3, const QString& entryKey)
{
    const TableRule& rule = TableRules::of(tableName);
    if (rule.picture)
        return true;
    TDM& dm = *m_context.dm;
    const auto closeBoth = [&] {
        dm.FindFieldName.close();
        dm.toTable.close();
    };
    try {
        closeBoth();
        dm.FindFieldName.setSql(
            QStringLiteral("Select Top 1 * FROM ") + db::bracketed(tableName) + QStringLiteral("   "));
        dm.FindFieldName.open();
        dm.toTable.setSql(QString());
        const bool otherComputersRow = rule.deleteOwnComputerOnly && !key3.isEmpty()
            && key3.compare(m_context.settings.machineName, Qt::CaseInsensitive) != 0;
        if (otherComputersRow) {
            dm.FindFieldName.close();
            return true;
        }
        lookupStatement(tableName, key1, key2, key3).applyTo(dm.toTable);
        dm.toTable.open();
    } catch (const std::exception& e) {
        closeBoth();
        StepFailure::report(m_context, kStep, tableName, entryKey, e, true);
        return false;
    }
    bool deleted = true;
    if (!dm.toTable.isEmpty()) {
        try {
            dm.toTable.first();
            dm.toTable.deleteRow();
        } catch (const std::exception& e) {
            // A refused delete stays pending: marking it done would keep the row here for good.
            dm.toTable.cancel();
            StepFailure::report(m_context, kStep, tableName, entryKey, e, true);
            deleted = false;
        }
    }
    closeBoth();
    return deleted;
}
