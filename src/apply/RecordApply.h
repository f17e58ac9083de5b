#pragma once

#include "apply/TransactionEffects.h"
#include "db/RowQuery.h"
#include "model/TableRules.h"

#include <QString>
#include <QVariant>
#include <optional>

struct CycleContext;

/// Carries one remote row, the current row of the cycle's source lookup, into the local table of
/// the same name: finds the local row by the table's key rules and updates it column by column,
/// or inserts a new row. Transactions are always inserted, after their effect on the local bin.
class RecordApply
{
public:
    explicit RecordApply(CycleContext& context)
        : m_context(context)
        , m_effects(context)
    { }

    /// Applies the source row to the local table `tableName`. Returns true when the row was
    /// written or the rules say nothing is to be written; false after a failure, reported with
    /// `entryKey`, when the entry must stay pending.
    bool ApplyRemoteRecord(const QString& tableName, const QString& entryKey = QString());

    /// Whether a column holds a time of day only (copied without its date on update).
    static bool IsTimeOfDayField(const QString& columnName);

private:
    enum class Copy { Plain, NullAware, Time };

    RenderedStatement lookupStatement(const QString& tableName, const TableRule& rule) const;
    QString sourceText(const QString& column) const;
    QString nonNumericKey(const TableRule& rule) const;
    /// Why the lookup cannot take the source row's key values by position (see
    /// TableRules::keyDifferences); empty when it can. FindFieldName must be open on the table.
    QString keyMismatch(const TableRule& rule) const;
    void copyColumns(db::RowQuery& target, const TableRule& rule, bool update);
    /// Whether the local MyTran already holds the source transaction (same computer, number,
    /// time, place, item and quantities).
    bool transactionStored();
    std::optional<Copy> copyFor(const TableRule& rule, const QString& sourceColumn, bool update) const;
    static void copyValue(db::RowQuery& target, int targetIndex, const QVariant& value, Copy copy);
    void storeBinQuantities(db::RowQuery& transaction);
    /// Appends the source row to the local table through FindFieldName.
    void insertRow(const TableRule& rule);
    /// Stores a remote transaction once, after its effect on the local stock; false when it failed
    /// (reported) and the entry must stay pending.
    bool applyTransaction(const TableRule& rule, const QString& entryKey);

    CycleContext& m_context;
    TransactionEffects m_effects;
    db::RowQuery m_stored{QStringLiteral("storedTransaction")};
};
