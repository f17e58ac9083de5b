#include "push/ProbeStatement.h"

#include "db/RowQuery.h"
#include "model/TableRules.h"
#include "step/CycleContext.h"

#include <QRegularExpression>

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

QString ProbeStatement::keyText(const RenderedStatement& probe)
{
    // "T.[MyNo] = :k1", "TranNo is null": a column compared with a bound value, or with NULL.
    static const QRegularExpression compared(
        QStringLiteral(R"((?:\w+\.)?(\[(?:[^\]]|\]\])*\]|\w+)\s*(?:=\s*:(k\d+)\b|is\s+null\b))"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList keys;
    for (QRegularExpressionMatchIterator it = compared.globalMatch(probe.sql); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString column = m.captured(1);
        if (column.startsWith(QLatin1Char('[')))
            column = column.mid(1, column.size() - 2).replace(QLatin1String("]]"), QLatin1String("]"));
        QVariant value;
        for (const auto& [name, bound] : probe.values) {
            if (name == m.captured(2))
                value = bound;
        }
        keys << column + QLatin1Char('=') + (value.isNull() ? QStringLiteral("NULL") : db::valueText(value));
    }
    return keys.join(QLatin1Char(' '));
}

QString ProbeStatement::keyMismatch(
    const QString& table, const db::RowQuery& rows, const QString& k1, const QString& k2)
{
    const QStringList remote{QString(), k1, k2};
    const QStringList differences = TableRules::keyDifferences(
        TableRules::of(table).probe,
        [&](int position) { return position < rows.columnCount() ? rows.columnName(position) : QString(); },
        [&](int position) { return remote.value(position); }, QStringLiteral("locally"), QStringLiteral("remotely"));
    return differences.isEmpty() ? QString()
                                 : TableRules::keyMismatch(differences, QStringLiteral("the table is not pushed"));
}
