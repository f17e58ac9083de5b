#include "push/ProbeStatement.h"

#include "db/DbError.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "push/RecordPush.h"
#include "step/CycleContext.h"

#include <QRegularExpression>

namespace {

QString q(const QVariant& value)
{
    return db::quotedLiteral(db::valueText(value));
}

/// A key that goes into the text without quotes: only a whole number may, or the text could
/// carry SQL of its own.
QString unquotedNumber(const db::RowQuery& row, const QString& column)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = db::valueText(row.value(column));
    if (!number.match(text).hasMatch())
        throw db::DbError(QStringLiteral("The key %1 = '%2' is not a whole number").arg(column, text));
    return text;
}

bool isOneOf(const QString& table, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (table.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

QString ProbeStatement::text(
    const QString& table, const db::RowQuery& row, const QString& k1, const QString& k2, const CycleContext& context)
{
    const auto c = [&](int position) { return q(row.value(position)); };
    const auto named = [&](const char* column) { return q(row.value(QLatin1String(column))); };
    const QString machine = db::quotedLiteral(context.settings.machineName);

    if (isOneOf(table, {"ISSUE", "ISSUEATTRIB1"})) {
        QString sql = QStringLiteral("Select * from ") + table + QStringLiteral(" where (TranNo = ") + c(1)
            + QStringLiteral(") AND (MyLineNo = ") + c(2) + QStringLiteral(")");
        if (context.flags.IssueHasComputerName)
            sql += QStringLiteral(" AND (ComputerName = ") + machine + QStringLiteral(")");
        return sql;
    }
    if (isOneOf(table, {"BIN", "BINHST", "KIT", "SERIAL", "TERMINAL", "JOBITEMS", "RELEASE"}))
        return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where (T.") + k1
            + QStringLiteral(" = ") + c(1) + QStringLiteral(") AND (T.") + k2 + QStringLiteral(" = ") + c(2)
            + QStringLiteral(")");
    if (isOneOf(table, {"BINATTRIB1"}))
        return QStringLiteral("Select * from [BINATTRIB1] as T where (T.Station = ") + c(1)
            + QStringLiteral(") AND (T.Bin = ") + c(2) + QStringLiteral(") AND (T.Container = ") + c(3)
            + QStringLiteral(") AND (T.Lot = ") + c(4) + QStringLiteral(") AND (T.ExpirDt = ") + c(5)
            + QStringLiteral(")");
    if (isOneOf(table, {"ROBOMINMAX"})) {
        const QString pkgQty = unquotedNumber(row, QStringLiteral("PkgQty"));
        return QStringLiteral("Select * from ROBOMINMAX where (Station = ") + named("Station")
            + QStringLiteral(" ) AND ( [Item] = ") + named("Item") + QStringLiteral(" ) AND ( PkgQty = ") + pkgQty
            + QStringLiteral(" )");
    }
    if (isOneOf(table, {"TRANSFER2"}))
        return QStringLiteral("Select * from [TRANSFER2] as T where T.TransferID = ")
            + unquotedNumber(row, QStringLiteral("TransferID"));
    if (isOneOf(table, {"MyTran", "AdminTran"}))
        return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where T.Type = 'nerd' ");
    if (isOneOf(table, {"MyTranExt1"})) {
        const QString tranNo = row.value(QStringLiteral("TranNo")).isNull()
            ? QStringLiteral("TranNo is null")
            : QStringLiteral("TranNo = ") + unquotedNumber(row, QStringLiteral("TranNo"));
        return QStringLiteral("Select * from MyTranExt1 where (") + tranNo + QStringLiteral(") and (ComputerName = ")
            + machine + QStringLiteral(")");
    }
    if (isOneOf(table, {"Company", "SysParameters"}))
        return QStringLiteral("Select   TOP 1 * from ") + table;
    if (isOneOf(table, {"Safety"}))
        return QStringLiteral("Select TOP 1 * from [Safety]");
    if (isOneOf(table, {"Regrind"}))
        return QStringLiteral("Select * from [Regrind] where RegrindID = ") + named("RegrindID");
    if (isOneOf(table, {"CalHistory"}))
        return QStringLiteral("Select * from [CalHistory] where CalibrateID = ") + named("CalibrateID");
    if (isOneOf(table, {"CLASSIMAGE", "EMPIMAGE"}))
        return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where T.MyNo = ")
            + named("MyNo");
    if (isOneOf(table, {"ITEMIMAGE", "ITEMATTRIB1"}))
        return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where T.Code = ")
            + named("Code");
    if (isOneOf(table, {"DEPTMACH"}))
        return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where (T.Dept = ")
            + named("Dept") + QStringLiteral(") AND (T.Mach = ") + named("Mach") + QStringLiteral(")");
    if (isOneOf(table, {"MACHJOB"}))
        return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where (T.Mach = ")
            + named("Mach") + QStringLiteral(") AND (T.Job = ") + named("Job") + QStringLiteral(")");
    if (isOneOf(table, {"REPORT", "CUSTOM"}))
        return QStringLiteral("Select * from ") + table + QStringLiteral(" where MyGroup = ") + named("MyGroup")
            + QStringLiteral(" AND [Name] = ") + named("Name");
    if (isOneOf(table, {"STOCKOUTS"}))
        return QStringLiteral("Select * from ") + table + QStringLiteral(" where BoNo = ") + named("BoNo");
    for (const char* appendOnly : {"DailyInventory", "Poll", "PortalLog", "PortalPhotos"}) {
        if (isOneOf(table, {appendOnly}))
            return QStringLiteral("Select Top 0 * from ") + QLatin1String(appendOnly);
    }
    // The key's value comes from the local column that feeds the remote key column.
    return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where T.") + k1
        + QStringLiteral(" = ") + q(row.value(RecordPush::sourceColumn(table, k1)));
}
