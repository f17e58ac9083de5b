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

    /// Moves the local bin of the transaction `row` as its type says. Returns false after a
    /// failure, reported with `entryKey`; the caller's database transaction then undoes what moved.
    bool ApplyTransactionEffects(const db::RowQuery& row, const QString& entryKey = QString());
    /// Takes the write lock on the transaction's local bin row, changing nothing, so that the
    /// caller's database transaction holds it until it ends.
    void HoldBin(const db::RowQuery& row);
    /// For an issue at a limited-access station, moves the employee's running quantity of the
    /// item. A failure (a malformed list line) is reported with `entryKey` and leaves the list as
    /// it was: the transaction it follows stands.
    void UpdateEmployeeItems(const db::RowQuery& row, const QString& entryKey = QString());
    /// Renames `oldItem` to `newItem` in the item list of every local employee. Returns false
    /// when a step failed; employees already updated keep their new lists.
    bool RenameItemInLocalEmployees(const QString& oldItem, const QString& newItem);

private:
    void moveBin(const QString& bin, const QString& crib, int onHand, int burn, int onOrder);

    CycleContext& m_context;
};
