#include "push/ProbeStatement.h"

#include "db/RowQuery.h"
#include "model/TableRules.h"
#include "step/CycleContext.h"

RenderedStatement ProbeStatement::text(
    const QString& table, const db::RowQuery& row, const QString& k1, const QString& k2, const CycleContext& context)
{
    const TableRule& rule = TableRules::of(table);
    StatementValues values;
    values.table = table;
    values.at = [&](int position) { return row.value(position); };
    values.named = [&](const QString& column) { return row.value(rule.localColumn(column)); };
    values.column = [&](int position) { return QStringList{QString(), k1, k2}.value(position); };
    values.machineName = context.settings.machineName;
    values.issueHasComputerName = context.flags.IssueHasComputerName;
    return TableRules::render(rule.probe, values);
}
