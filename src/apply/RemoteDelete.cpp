#include "apply/RemoteDelete.h"

#include "db/SqlTokenizer.h"
#include "model/TDM.h"
#include "model/TableRules.h"
#include "step/CycleContext.h"
#include "step/StepFailure.h"

namespace {

const QString kStep = QStringLiteral("delete");

QString q(const QString& value)
{
    return db::quotedLiteral(value);
}

} // namespace

QString RemoteDelete::lookupStatement(
    const QString& tableName, const QString& key1, const QString& key2, const QString& key3) const
{
    const QString table = tableName.toUpper();
    const db::RowQuery& fields = m_context.dm->FindFieldName;
    const auto lf = [&](int position) { return fields.columnName(position); };
    if (table == QLatin1String("ISSUE"))
        return QStringLiteral("Select * from Issue where (TranNo = ") + q(key1) + QStringLiteral(") AND (MyLineNo = ")
            + q(key2) + QStringLiteral(")");
    if (table == QLatin1String("REGRIND"))
        return QStringLiteral("Select * from regrind where RegrindID = ") + q(key1);
    if (table == QLatin1String("CALHISTORY"))
        return QStringLiteral("Select * from CalHistory where CalibrateID = ") + q(key1);
    if (table == QLatin1String("ROBOMINMAX"))
        return QStringLiteral("Select * from ROBOMINMAX where ( Station = ") + q(key1)
            + QStringLiteral(" ) AND ( Item = ") + q(key2) + QStringLiteral(" ) AND (PkgQty = ") + q(key3)
            + QStringLiteral(" )");
    if (!key3.isEmpty())
        return QStringLiteral("Select * from ") + db::bracketed(tableName) + QStringLiteral(" where ( [") + lf(1)
            + QStringLiteral("] = ") + q(key1) + QStringLiteral(" ) AND ( [") + lf(2) + QStringLiteral("] = ") + q(key2)
            + QStringLiteral(" ) AND ( [") + lf(3) + QStringLiteral("] = ") + q(key3) + QStringLiteral(" )");
    if (!key2.isEmpty())
        return QStringLiteral("Select * from ") + db::bracketed(tableName) + QStringLiteral(" where ( [") + lf(1)
            + QStringLiteral("] = ") + q(key1) + QStringLiteral(" ) AND ( [") + lf(2) + QStringLiteral("] = ") + q(key2)
            + QStringLiteral(" )");
    return QStringLiteral("Select * from ") + db::bracketed(tableName) + QStringLiteral(" where [") + lf(1)
        + QStringLiteral("] = ") + q(key1);
}

bool RemoteDelete::ApplyRemoteDelete(
    const QString& tableName, const QString& key1, const QString& key2, const QString& key3, const QString& entryKey)
{
    if (TableRules::isPictureTable(tableName))
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
        const bool otherComputersIssue = tableName.toUpper() == QLatin1String("ISSUE") && !key3.isEmpty()
            && key3.compare(m_context.settings.machineName, Qt::CaseInsensitive) != 0;
        if (otherComputersIssue) {
            dm.FindFieldName.close();
            return true;
        }
        dm.toTable.setSql(lookupStatement(tableName, key1, key2, key3));
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
