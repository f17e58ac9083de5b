#pragma once

#include <QString>

struct CycleContext;

namespace db {
class RowQuery;
}

/// The local effects of remote changes on stock and on the employees' item lists: the bin
/// quantities a remote transaction moves, and an item rename carried into every item list.
class TransactionEffects
{
public:
    explicit TransactionEffects(CycleContext& context)
        : m_context(context)
    { }

    /// Moves the local bin of the transaction `row` (and, for issues at a limited-access station,
    /// the employee's running quantity). Returns false only when it failed before the bin lookup
    /// answered, so that nothing has changed; true otherwise, also after a later failure.
    bool ApplyTransactionEffects(const db::RowQuery& row, const QString& entryKey = QString());
    /// Whether the last ApplyTransactionEffects stopped at a failure.
    bool lastEffectsFailed() const { return m_lastFailed; }
    /// Renames `oldItem` to `newItem` in the item list of every local employee. Returns false
    /// when a step failed; employees already updated keep their new lists.
    bool RenameItemInLocalEmployees(const QString& oldItem, const QString& newItem);

private:
    void moveBin(const QString& bin, const QString& crib, int onHand, int burn, int onOrder);
    void updateEmployeeItems(const QString& crib, const QString& emp, const QString& item, int quantity);

    CycleContext& m_context;
    bool m_lastFailed = false;
};
