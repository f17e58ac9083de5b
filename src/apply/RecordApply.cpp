#include "apply/RecordApply.h"

#include "apply/ApplyFailure.h"
#include "cycle/CycleContext.h"
#include "cycle/CycleStatements.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Failpoint.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "db/Transaction.h"
#include "model/TDM.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

const QString kStep = QStringLiteral("apply");
const QString kMyTran = QStringLiteral("MYTRAN");

QString q(const QString& value)
{
    return db::quotedLiteral(value);
}

/// The time of day of a date-time value (or of its text), to the whole second.
QTime timeOfDay(const QVariant& value)
{
    QTime time;
    if (value.typeId() == QMetaType::QDateTime) {
        time = value.toDateTime().time();
    } else if (value.typeId() == QMetaType::QTime) {
        time = value.toTime();
    } else {
        const QString text = value.toString().trimmed();
        time = QDateTime::fromString(text, Qt::ISODateWithMs).time();
        for (const char* format : {"h:mm:ss AP", "H:mm:ss"}) {
            if (!time.isValid())
                time = QTime::fromString(text, QLatin1String(format));
        }
    }
    if (!time.isValid())
        throw db::DbError(QStringLiteral("'%1' is not a valid time").arg(value.toString()));
    return QTime(time.hour(), time.minute(), time.second());
}

} // namespace

bool RecordApply::IsTimeOfDayField(const QString& columnName)
{
    static const QStringList names = {"TIME", "STARTTIME", "START", "ENDTIME", "STOP"};
    return names.contains(columnName.toUpper());
}

QString RecordApply::sourceText(const QString& column) const
{
    return m_context.statements->qryASPFindRec.asString(column);
}

QString RecordApply::sourceText(int position) const
{
    return db::valueText(m_context.statements->qryASPFindRec.value(position));
}

QString RecordApply::nonNumericKey(const QString& table) const
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    QString column;
    if (table == QLatin1String("RELEASE"))
        column = m_context.statements->qryASPFindRec.columnName(2);
    else if (table == QLatin1String("ROBOMINMAX"))
        column = QStringLiteral("PkgQty");
    else if (table == QLatin1String("TRANSFER2"))
        column = QStringLiteral("TransferID");
    else if (table == QLatin1String("MYTRANEXT1"))
        column = QStringLiteral("TranNo");
    if (column.isEmpty())
        return {};
    const QString value = sourceText(column);
    if (number.match(value).hasMatch())
        return {};
    return QStringLiteral("The key %1 = '%2' is not a number").arg(column, value);
}

QString RecordApply::lookupStatement(const QString& tableName) const
{
    const QString table = tableName.toUpper();
    const db::RowQuery& fields = m_context.dm->FindFieldName;
    const auto lf = [&](int position) { return fields.columnName(position); };
    const auto rv = [&](int position) { return sourceText(position); };
    const auto named = [&](const char* column) { return sourceText(QLatin1String(column)); };

    static const QStringList keyedByTwoColumns
        = {"BIN", "BINHST", "ISSUE", "KIT", "SERIAL", "TERMINAL", "JOBITEMS", "DEPTMACH", "MACHJOB", "ISSUEATTRIB1"};
    static const QStringList neverFound = {"DailyInventory", "Poll", "PortalLog", "PortalPhotos"};

    if (table == kMyTran)
        return QStringLiteral("Select  TOP 1 * from MYTRAN");
    if (table == QLatin1String("COMPANY") || table == QLatin1String("SYSPARAMETERS"))
        return QStringLiteral("Select TOP 1 * from ") + db::bracketed(tableName);
    if (table == QLatin1String("RELEASE"))
        return QStringLiteral("Select * from ") + db::bracketed(tableName) + QStringLiteral(" where ( [") + lf(1)
            + QStringLiteral("] = ") + q(rv(1)) + QStringLiteral(" ) AND ( [") + lf(2) + QStringLiteral("] = ") + rv(2)
            + QStringLiteral(" )");
    if (keyedByTwoColumns.contains(table))
        return QStringLiteral("Select * from ") + db::bracketed(tableName) + QStringLiteral(" where ( [") + lf(1)
            + QStringLiteral("] = ") + q(rv(1)) + QStringLiteral(" ) AND ( [") + lf(2) + QStringLiteral("] = ")
            + q(rv(2)) + QStringLiteral(" )");
    if (table == QLatin1String("BINATTRIB1"))
        return QStringLiteral("Select * from BINATTRIB1 where ( [Station] = ") + q(rv(1))
            + QStringLiteral(" ) AND ( [Bin] = ") + q(rv(2)) + QStringLiteral(" ) AND ( [Container] = ") + q(rv(3))
            + QStringLiteral(" ) AND ( [Lot] = ") + q(rv(4)) + QStringLiteral(" ) AND ( [ExpirDt] = ") + q(rv(5))
            + QStringLiteral(")");
    if (table == QLatin1String("ROBOMINMAX"))
        return QStringLiteral("Select * from ROBOMINMAX where (Station = ") + q(named("Station"))
            + QStringLiteral(" ) AND ( [Item] = ") + q(named("Item")) + QStringLiteral(" ) AND ( PkgQty = ")
            + named("PkgQty") + QStringLiteral(" )");
    if (table == QLatin1String("SAFETY"))
        return QStringLiteral("Select * from Safety");
    if (table == QLatin1String("SCHEDULES"))
        return QStringLiteral("Select * from [Schedules]where ( [") + lf(0) + QStringLiteral("] = ") + q(rv(1))
            + QStringLiteral(" )");
    if (table == QLatin1String("ALIAS"))
        return QStringLiteral("Select * from [ALIAS]");
    if (table == QLatin1String("TRANSFER2"))
        return QStringLiteral("Select * from [TRANSFER2] as T where T.TransferID = ") + named("TransferID");
    if (table == QLatin1String("REGRIND"))
        return QStringLiteral("Select * from [REGRIND]  where [RegrindID] = ") + q(named("RegrindID"));
    if (table == QLatin1String("CALHISTORY"))
        return QStringLiteral("Select * from [CalHistory]  where [CalibrateID] = ") + q(named("CalibrateID"));
    if (table == QLatin1String("REPORT") || table == QLatin1String("CUSTOM"))
        return QStringLiteral("Select * from ") + db::bracketed(tableName) + QStringLiteral(" where MyGroup = ")
            + q(named("MyGroup")) + QStringLiteral(" AND [Name] = ") + q(named("Name"));
    if (table == QLatin1String("STOCKOUTS"))
        return QStringLiteral("Select * from [STOCKOUTS]  where [BoNo] = ") + q(named("BoNo"));
    for (const QString& name : neverFound) {
        if (table == name.toUpper())
            return QStringLiteral("Select Top 0 * from ") + name;
    }
    if (table == QLatin1String("MYTRANEXT1"))
        return QStringLiteral("Select * from MyTranExt1 where (TranNo = ") + named("TranNo")
            + QStringLiteral(") and (ComputerName = ") + q(named("ComputerName")) + QStringLiteral(")");
    if (table == QLatin1String("ITEMATTRIB1"))
        return QStringLiteral("Select * from ITEMATTRIB1 where Code=") + q(named("Code"));
    return QStringLiteral("Select * from ") + db::bracketed(tableName) + QStringLiteral(" where [") + lf(1)
        + QStringLiteral("] = ") + q(rv(1));
}

bool RecordApply::transactionStored() const
{
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    const db::RowQuery& fields = m_context.dm->FindFieldName;
    QStringList terms;
    QList<QPair<QString, QVariant>> values;
    db::RowQuery stored(QStringLiteral("storedTransaction"));
    stored.setDatabase(m_context.dm->toTable.database());
    // Compared as the insert wrote them: every column it copies that tells two transactions apart
    // (two differing only in the employee are both stored), and a NULL as the null-aware copy
    // stores it. The bin figures and the mark are the agent's own; reals and binaries cannot be
    // compared exactly.
    const int copied = source.columnCount() - 1;
    for (int index = 0; index < copied; ++index) {
        const QString name = source.columnName(index);
        const int target = fields.columnIndex(name);
        static const QStringList ownColumns = {"curonhand2", "curburn2", "aspprocessed"};
        if (target < 0 || ownColumns.contains(name.toLower()))
            continue;
        const db::ColumnKind kind = fields.columnKind(target);
        if (kind == db::ColumnKind::AutoIncrement || kind == db::ColumnKind::Floating || kind == db::ColumnKind::Binary
            || kind == db::ColumnKind::Other || source.columnKind(index) == db::ColumnKind::AutoIncrement)
            continue;
        const QString bracketedName = db::bracketed(name);
        const QVariant value = source.value(index);
        if (!value.isNull()) {
            terms << bracketedName + QStringLiteral(" = :") + name;
            values.append({name, value});
            continue;
        }
        switch (kind) {
        case db::ColumnKind::Integer:
            terms << QStringLiteral("(%1 = 0 OR %1 IS NULL)").arg(bracketedName);
            break;
        case db::ColumnKind::Text:
            terms << QStringLiteral("(%1 = '' OR %1 IS NULL)").arg(bracketedName);
            break;
        default:
            // The new row kept the column's default, which may be a value.
            break;
        }
    }
    if (terms.isEmpty())
        return false;
    stored.setSql(QStringLiteral("Select TOP 1 RecordID from MYTRAN where ") + terms.join(QStringLiteral(" AND ")));
    for (const auto& [name, value] : values)
        stored.setParameter(name, value);
    stored.open();
    return !stored.isEmpty();
}

std::optional<RecordApply::Copy> RecordApply::copyFor(
    const QString& table, const QString& sourceColumn, bool update) const
{
    const auto passedOver = [&](const QStringList& names) { return names.contains(sourceColumn); };
    if (table == QLatin1String("BIN")) {
        if (passedOver({"OnHand", "BurnQty", "OnOrder"}))
            return std::nullopt;
        return Copy::NullAware;
    }
    if (table == QLatin1String("BINATTRIB1")) {
        if (passedOver({"DoseOnHand", "DoseBurn", "Quantity", "BurnQty"}))
            return std::nullopt;
        return Copy::Plain;
    }
    if (!update)
        return Copy::NullAware;
    if (table == QLatin1String("REPORT")) {
        static const QStringList definition = {"MyDate", "DateField", "Range1", "Field1", "Size1", "Range2", "Field2",
            "Size2", "Name", "Description", "MyGroup", "RecordID"};
        if (definition.contains(sourceColumn, Qt::CaseInsensitive))
            return std::nullopt;
        return Copy::Plain;
    }
    if (table == QLatin1String("EMP")) {
        if (m_context.excludeCrib == QLatin1String("1") && sourceColumn != QLatin1String("Cribs"))
            return std::nullopt;
        return Copy::Plain;
    }
    if (table == QLatin1String("COMPANY")) {
        if (passedOver({"ASPDataBaseName", "ASPLoginName", "MasterID", "MasterPin", "ASPPassword", "LastReset",
                "Version", "PoNo"}))
            return std::nullopt;
        return Copy::NullAware;
    }
    return IsTimeOfDayField(sourceColumn) ? Copy::Time : Copy::NullAware;
}

void RecordApply::copyValue(db::RowQuery& target, int targetIndex, const QVariant& value, Copy copy)
{
    switch (copy) {
    case Copy::Plain:
        target.setValue(targetIndex, value);
        return;
    case Copy::Time:
        target.setValue(
            targetIndex, value.isNull() ? QVariant() : QVariant(QDateTime(QDate(1899, 12, 30), timeOfDay(value))));
        return;
    case Copy::NullAware:
        if (!value.isNull()) {
            target.setValue(targetIndex, value);
            return;
        }
        switch (target.columnKind(targetIndex)) {
        case db::ColumnKind::Integer:
        case db::ColumnKind::Floating:
            target.setValue(targetIndex, 0);
            return;
        case db::ColumnKind::Text:
            target.setValue(targetIndex, QStringLiteral(""));
            return;
        default:
            return;
        }
    }
}

void RecordApply::copyColumns(db::RowQuery& target, const QString& table, bool update)
{
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    // A new row takes every source column but the last.
    const int count = source.columnCount() - (update ? 0 : 1);
    for (int i = 0; i < count; ++i) {
        if (source.columnKind(i) == db::ColumnKind::AutoIncrement)
            continue;
        const QString column = source.columnName(i);
        QString targetColumn = column;
        if (table == QLatin1String("ALIAS")) {
            if (column.compare(QLatin1String("Machine"), Qt::CaseInsensitive) == 0)
                targetColumn = QStringLiteral("Mach");
            else if (column.compare(QLatin1String("Reason"), Qt::CaseInsensitive) == 0)
                targetColumn = QStringLiteral("Reas");
        }
        const int targetIndex = target.columnIndex(targetColumn);
        if (targetIndex < 0)
            continue;
        if (const std::optional<Copy> copy = copyFor(table, column, update))
            copyValue(target, targetIndex, source.value(i), *copy);
    }
}

void RecordApply::storeBinQuantities(db::RowQuery& transaction)
{
    db::RowQuery& bin = m_context.dm->FindAccessBin;
    bin.close();
    bin.setParameter(QStringLiteral("bin"), sourceText(QStringLiteral("Bin")));
    bin.setParameter(QStringLiteral("crib"), sourceText(QStringLiteral("Station")));
    bin.open();
    if (bin.isEmpty())
        return;
    if (transaction.hasColumn(QStringLiteral("CurOnHand2")))
        transaction.setValue(QStringLiteral("CurOnHand2"), bin.asInt(QStringLiteral("OnHand")));
    if (transaction.hasColumn(QStringLiteral("CurBurn2")))
        transaction.setValue(QStringLiteral("CurBurn2"), bin.asInt(QStringLiteral("BurnQty")));
}

void RecordApply::insertRow(const QString& table)
{
    db::RowQuery& row = m_context.dm->FindFieldName;
    row.append();
    copyColumns(row, table, false);
    if (table == kMyTran)
        storeBinQuantities(row);
    if (row.hasColumn(QStringLiteral("ASPProcessed")))
        row.setValue(QStringLiteral("ASPProcessed"), true);
    row.post();
}

bool RecordApply::applyTransaction(const QString& entryKey)
{
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    {
        // The check, the stock move and the transaction row are one local transaction, so that a
        // transaction found stored has moved its stock exactly once.
        db::Transaction transaction(*m_context.dm->toTable.database().fixedConnection());
        // Holding the bin first makes a second agent that carries out the same transaction wait
        // here until this one has stored it, and then find it.
        m_effects.HoldBin(source);
        if (transactionStored()) {
            transaction.commit();
            return true;
        }
        if (!m_effects.ApplyTransactionEffects(source, entryKey))
            return false;
        Failpoint::reach(Failpoint::Point::ApplyTransactionMoved);
        insertRow(kMyTran);
        transaction.commit();
    }
    m_effects.UpdateEmployeeItems(source, entryKey);
    return true;
}

bool RecordApply::ApplyRemoteRecord(const QString& tableName, const QString& entryKey)
{
    TDM& dm = *m_context.dm;
    const QString table = tableName.toUpper();
    const auto closeBoth = [&] {
        dm.FindFieldName.close();
        dm.toTable.close();
    };
    const auto fail = [&](const std::exception& error) {
        dm.toTable.cancel();
        dm.FindFieldName.cancel();
        closeBoth();
        ApplyFailure::report(m_context, kStep, tableName, entryKey, error, true);
        return false;
    };

    try {
        // Keys pasted into the lookup without quotes must be numbers, or they could rewrite it.
        const QString refusal = nonNumericKey(table);
        if (!refusal.isEmpty()) {
            ApplyFailure::refuse(m_context, kStep, tableName, entryKey, refusal);
            return false;
        }
        closeBoth();
        dm.FindFieldName.setSql(QStringLiteral("Select  TOP 1 * from ") + db::bracketed(tableName));
        dm.FindFieldName.open();
    } catch (const std::exception& e) {
        return fail(e);
    }

    bool applied = true;
    try {
        dm.toTable.setSql(lookupStatement(tableName));
        dm.toTable.open();
        if (table == kMyTran) {
            applied = applyTransaction(entryKey);
        } else if (!dm.toTable.isEmpty()) {
            dm.toTable.first();
            dm.toTable.edit();
            copyColumns(dm.toTable, table, true);
            if (dm.toTable.hasColumn(QStringLiteral("ASPProcessed")))
                dm.toTable.setValue(QStringLiteral("ASPProcessed"), true);
            dm.toTable.post();
        } else if (table != QLatin1String("REPORT") && table != QLatin1String("CUSTOM")) {
            // Report definitions are local: a remote one is never added.
            insertRow(table);
        }
    } catch (const std::exception& e) {
        return fail(e);
    }
    closeBoth();
    return applied;
}
