#include "apply/RecordApply.h"

#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Failpoint.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "db/Transaction.h"
#include "model/TDM.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"
#include "step/StepFailure.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

const QString kStep = QStringLiteral("apply");

/// The time of day of a date-time value (or of its text), to the whole second.
QTime timeOfDay(const QVariant& value)
{
    QTime time;
    if (value.typeId() == QMetaType::QDateTime) {
        time = db::wallClock(value.toDateTime()).time();
    } else if (value.typeId() == QMetaType::QTime) {
        time = value.toTime();
    } else {
        const QString text = value.toString().trimmed();
        time = db::wallClockFromText(text).time();
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

QString RecordApply::nonNumericKey(const TableRule& rule) const
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    for (const QString& key : TableRules::unquotedValues(rule.applyLookup)) {
        const QString column = key.startsWith(QLatin1Char('#')) ? source.columnName(key.mid(1).toInt()) : key;
        const QString value = sourceText(column);
        if (!number.match(value).hasMatch())
            return QStringLiteral("The key %1 = '%2' is not a number").arg(column, value);
    }
    return {};
}

QString RecordApply::keyMismatch(const TableRule& rule) const
{
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    const db::RowQuery& fields = m_context.dm->FindFieldName;
    const QStringList differences = TableRules::keyDifferences(
        rule.applyLookup,
        [&](int position) { return position < source.columnCount() ? source.columnName(position) : QString(); },
        [&](int position) { return position < fields.columnCount() ? fields.columnName(position) : QString(); },
        QStringLiteral("remotely"), QStringLiteral("locally"));
    return differences.isEmpty() ? QString()
                                 : TableRules::keyMismatch(differences, QStringLiteral("the order is not applied"));
}

RenderedStatement RecordApply::lookupStatement(const QString& tableName, const TableRule& rule) const
{
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    const db::RowQuery& fields = m_context.dm->FindFieldName;
    StatementValues values;
    values.table = tableName;
    values.at = [&](int position) { return source.value(position); };
    values.named = [&](const QString& column) { return source.value(column); };
    values.column = [&](int position) { return fields.columnName(position); };
    values.emptyKeyIsNull = true;
    return TableRules::render(rule.applyLookup, values);
}

bool RecordApply::transactionStored()
{
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    const db::RowQuery& fields = m_context.dm->FindFieldName;
    const QString head = QStringLiteral("Select TOP 1 RecordID from MyTran where ");
    QString sql = head;
    sql.reserve(2048);
    QList<QPair<QString, QVariant>> values;
    // Written into the text in place: about 40 terms per transaction.
    const auto startTerm = [&] {
        if (sql.size() > head.size())
            sql += QLatin1String(" AND ");
    };
    const auto appendName = [&](const QString& name) {
        if (name.contains(QLatin1Char(']'))) {
            sql += db::bracketed(name);
            return;
        }
        sql += QLatin1Char('[');
        sql += name;
        sql += QLatin1Char(']');
    };
    // Compared as the insert wrote them: every column it copies that tells two transactions apart
    // (two differing only in the employee are both stored), and a NULL as the null-aware copy
    // stores it. The bin figures and the mark are the agent's own; reals and binaries cannot be
    // compared exactly.
    static const QStringList ownColumns = {"curonhand2", "curburn2", "aspprocessed"};
    const int copied = source.columnCount() - 1;
    for (int index = 0; index < copied; ++index) {
        const QString name = source.columnName(index);
        const int target = fields.columnIndex(name);
        if (target < 0 || ownColumns.contains(name, Qt::CaseInsensitive))
            continue;
        const db::ColumnKind kind = fields.columnKind(target);
        if (kind == db::ColumnKind::AutoIncrement || kind == db::ColumnKind::Floating || kind == db::ColumnKind::Binary
            || kind == db::ColumnKind::Other || source.columnKind(index) == db::ColumnKind::AutoIncrement)
            continue;
        const QVariant value = source.value(index);
        if (!value.isNull()) {
            startTerm();
            appendName(name);
            sql += QLatin1String(" = :");
            sql += name;
            values.append({name, value});
            continue;
        }
        // The new row kept the default of any other kind of column, which may be a value.
        if (kind != db::ColumnKind::Integer && kind != db::ColumnKind::Text)
            continue;
        startTerm();
        sql += QLatin1Char('(');
        appendName(name);
        sql += kind == db::ColumnKind::Integer ? QLatin1String(" = 0 OR ") : QLatin1String(" = '' OR ");
        appendName(name);
        sql += QLatin1String(" IS NULL)");
    }
    if (sql.size() == head.size())
        return false;
    // One query object for every transaction: the text is the same while the same columns are
    // NULL, and then its placeholders are not listed again.
    m_stored.close();
    m_stored.setDatabase(m_context.dm->toTable.database());
    m_stored.setSql(sql);
    for (const auto& [name, value] : values)
        m_stored.setParameter(name, value);
    m_stored.open();
    const bool stored = !m_stored.isEmpty();
    m_stored.close();
    return stored;
}

std::optional<RecordApply::Copy> RecordApply::copyFor(
    const TableRule& rule, const QString& sourceColumn, bool update) const
{
    if (rule.excluded.contains(sourceColumn))
        return std::nullopt;
    if (update) {
        if (rule.applyKeepsOnUpdate.contains(sourceColumn))
            return std::nullopt;
        if (rule.followsExcludeCrib && m_context.settings.excludeCrib == QLatin1String("1")
            && sourceColumn != QLatin1String("Cribs"))
            return std::nullopt;
    }
    switch (update ? rule.applyUpdateCopy : rule.applyInsertCopy) {
    case ApplyCopy::Plain:
        return Copy::Plain;
    case ApplyCopy::NullAware:
        return Copy::NullAware;
    case ApplyCopy::NullAwareWithTimes:
        break;
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
            targetIndex, value.isNull() ? QVariant() : QVariant(db::wallClock(QDate(1899, 12, 30), timeOfDay(value))));
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

void RecordApply::copyColumns(db::RowQuery& target, const TableRule& rule, bool update)
{
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    // A new row takes every source column but the last.
    const int count = source.columnCount() - (update ? 0 : 1);
    for (int i = 0; i < count; ++i) {
        if (source.columnKind(i) == db::ColumnKind::AutoIncrement)
            continue;
        const QString column = source.columnName(i);
        const int targetIndex = target.columnIndex(rule.localColumn(column));
        if (targetIndex < 0)
            continue;
        if (const std::optional<Copy> copy = copyFor(rule, column, update))
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

void RecordApply::insertRow(const TableRule& rule)
{
    db::RowQuery& row = m_context.dm->FindFieldName;
    row.append();
    copyColumns(row, rule, false);
    if (rule.transactions)
        storeBinQuantities(row);
    if (row.hasColumn(QStringLiteral("ASPProcessed")))
        row.setValue(QStringLiteral("ASPProcessed"), true);
    row.post();
}

bool RecordApply::applyTransaction(const TableRule& rule, const QString& entryKey)
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
        insertRow(rule);
        transaction.commit();
    }
    m_effects.UpdateEmployeeItems(source, entryKey);
    return true;
}

bool RecordApply::ApplyRemoteRecord(const QString& tableName, const QString& entryKey)
{
    TDM& dm = *m_context.dm;
    const TableRule& rule = TableRules::of(tableName);
    const auto closeBoth = [&] {
        dm.FindFieldName.close();
        dm.toTable.close();
    };
    const auto fail = [&](const std::exception& error) {
        dm.toTable.cancel();
        dm.FindFieldName.cancel();
        closeBoth();
        StepFailure::report(m_context, kStep, tableName, entryKey, error, true);
        return false;
    };

    try {
        // Keys the lookup compares as whole numbers must be numbers: the order is refused otherwise.
        const QString refusal = nonNumericKey(rule);
        if (!refusal.isEmpty()) {
            StepFailure::refuse(m_context, kStep, tableName, entryKey, refusal);
            return false;
        }
        closeBoth();
        dm.FindFieldName.setSql(QStringLiteral("Select  TOP 1 * from ") + db::bracketed(tableName));
        dm.FindFieldName.open();
        // A lookup by values that stand where another column is expected would miss the local
        // row and add another.
        const QString mismatch = keyMismatch(rule);
        if (!mismatch.isEmpty()) {
            closeBoth();
            StepFailure::refuse(m_context, kStep, tableName, entryKey, mismatch);
            return false;
        }
    } catch (const std::exception& e) {
        return fail(e);
    }

    bool applied = true;
    try {
        lookupStatement(tableName, rule).applyTo(dm.toTable);
        dm.toTable.open();
        if (rule.transactions) {
            applied = applyTransaction(rule, entryKey);
        } else if (!dm.toTable.isEmpty()) {
            dm.toTable.first();
            dm.toTable.edit();
            copyColumns(dm.toTable, rule, true);
            if (dm.toTable.hasColumn(QStringLiteral("ASPProcessed")))
                dm.toTable.setValue(QStringLiteral("ASPProcessed"), true);
            dm.toTable.post();
        } else if (!rule.neverInserted) {
            // Report definitions are local: a remote one is never added.
            insertRow(rule);
        }
    } catch (const std::exception& e) {
        return fail(e);
    }
    closeBoth();
    return applied;
}
