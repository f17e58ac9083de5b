#pragma once

#include "db/Failpoint.h"

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

namespace db {
class RowQuery;
}

/// An employee's item list: the text of an `Emp.Items` column, one item a line, fields separated
/// by tabs (item number, three carried fields, running quantity, further carried fields), lines
/// in ascending order of the item number. Holds the state of the last search, which the quantity
/// update and the rename act on.
class EmployeeItems
{
public:
    EmployeeItems() = default;
    explicit EmployeeItems(const QString& text) { load(text); }

    /// Splits `text` at line breaks (CR LF, LF or CR); a final line break adds no empty line.
    /// Forgets the last search.
    void load(const QString& text);
    /// The lines joined by CR LF.
    QString text() const { return m_lines.join(QStringLiteral("\r\n")); }
    QStringList lines() const { return m_lines; }

    /// Whether a list line can hold `item` as its item number: not with a tab or a line break.
    static bool holdsItemNumber(const QString& item);

    /// Binary search for `item`, ignoring letter case. Sets FoundItemIndex and FoundItemQuantity;
    /// throws std::runtime_error when the found line's quantity is not an integer. An item number
    /// that no line can hold is not found.
    bool FindEmployeeItem(const QString& item);
    /// Writes `value` as the running quantity of the found line; nothing without one.
    void SetFoundItemQuantity(int value);
    /// Gives the found line the item number `newItem` and moves it to its place in the order,
    /// comparing with letter case; nothing without a found line. Throws std::runtime_error when
    /// no line can hold `newItem`.
    void RenameFoundItem(const QString& newItem);

    /// Renames `oldItem` to `newItem` in the item list of every employee row that `employees`
    /// reads (it is reopened), posting each changed row at once; with `markProcessed` a changed
    /// row is also marked as sent; `afterEachRow` is reached after every posted row. A list with a
    /// malformed line is left as it is and handed to `malformed` with the error, and the others
    /// are still renamed. Database failures reach the caller, which cancels the open edit.
    static void RenameInEveryList(db::RowQuery& employees, const QString& oldItem, const QString& newItem,
        bool markProcessed, Failpoint::Point afterEachRow,
        const std::function<void(const QString& employee, const std::exception& error)>& malformed);

    int FoundItemIndex() const { return m_foundItemIndex; }
    int FoundItemQuantity() const { return m_foundItemQuantity; }

private:
    QStringList m_lines;
    int m_foundItemIndex = -1;
    int m_foundItemQuantity = 0;
};
