#include "push/ProbeStatement.h"

#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
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

QString ProbeStatement::keyMismatch(
    const QString& table, const db::RowQuery& rows, const QString& k1, const QString& k2)
{
    const QStringList remote{QString(), k1, k2};
    QStringList differences;
    for (const PositionalKey& key : TableRules::positionalKeys(TableRules::of(table).probe)) {
        const QString local = key.position < rows.columnCount() ? rows.columnName(key.position) : QString();
        const bool fromRemote = key.columnPosition >= 0;
        const QString expected = fromRemote ? remote.value(key.columnPosition) : key.column;
        if (db::sameIdentifier(local, expected))
            continue;
        differences << QStringLiteral("column %1 is %2")
                           .arg(key.position + 1)
                           .arg(
                               local.isEmpty() ? QStringLiteral("missing locally") : local + QStringLiteral(" locally"))
                + (fromRemote ? QStringLiteral(" and %1 remotely").arg(expected)
                              : QStringLiteral(" where the key %1 must stand").arg(expected));
    }
    if (differences.isEmpty())
        return {};
    return QStringLiteral("The key columns differ (%1): the table is not pushed until each key column stands where "
                          "the other side, or the table's rules, have it")
        .arg(differences.join(QStringLiteral("; ")));
}
