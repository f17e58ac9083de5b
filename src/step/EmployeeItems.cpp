#include "step/EmployeeItems.h"

#include "db/RowQuery.h"

#include <stdexcept>

namespace {

constexpr QChar kTab = QLatin1Char('\t');
constexpr int kCarriedFields = 4;

/// Position just after the tab that ends field `fields` of `line`, or -1 when it has fewer tabs.
int afterFields(const QString& line, int fields)
{
    int position = 0;
    for (int i = 0; i < fields; ++i) {
        const int tab = line.indexOf(kTab, position);
        if (tab < 0)
            return -1;
        position = tab + 1;
    }
    return position;
}

} // namespace

void EmployeeItems::load(const QString& text)
{
    m_lines.clear();
    m_foundItemIndex = -1;
    m_foundItemQuantity = 0;
    int start = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('\r') && text[i] != QLatin1Char('\n'))
            continue;
        m_lines << text.mid(start, i - start);
        if (text[i] == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        m_lines << text.mid(start);
}

bool EmployeeItems::FindEmployeeItem(const QString& item)
{
    m_foundItemIndex = -1;
    m_foundItemQuantity = 0;
    // A tab would end the item number early and match another item's line by its next field.
    if (!holdsItemNumber(item))
        return false;
    // The prefix has as many characters as the item number and its tab before upper-casing, which
    // may lengthen both ("ß" becomes "SS").
    const int length = int(item.size()) + 1;
    const QString key = (item + kTab).toUpper();
    const auto prefix = [&](int i) { return m_lines[i].left(length).toUpper(); };
    const int n = int(m_lines.size());
    int lo = 0;
    int hi = n - 1;
    int a = n / 2;
    bool found = false;
    while (!found && a != 0 && a != n - 1 && hi != lo + 1) {
        const int order = key.compare(prefix(a), Qt::CaseSensitive);
        if (order > 0)
            lo = a;
        if (order == 0) {
            found = true;
            m_foundItemIndex = a;
        }
        if (order < 0)
            hi = a;
        a = lo + (hi - lo) / 2;
    }
    if (hi == lo + 1) {
        if (key == prefix(lo)) {
            found = true;
            m_foundItemIndex = lo;
        } else if (key == prefix(hi)) {
            found = true;
            m_foundItemIndex = hi;
        }
    }
    if (n == 1 && key == prefix(0)) {
        found = true;
        m_foundItemIndex = 0;
    }
    if (!found) {
        m_foundItemQuantity = 0;
        return false;
    }
    const QString& line = m_lines[m_foundItemIndex];
    const int start = afterFields(line, kCarriedFields);
    bool ok = false;
    if (start >= 0)
        m_foundItemQuantity = line.mid(start).section(kTab, 0, 0).trimmed().toInt(&ok);
    if (!ok) {
        m_foundItemIndex = -1;
        m_foundItemQuantity = 0;
        throw std::runtime_error(
            QStringLiteral("The item list line of %1 has no integer quantity: '%2'").arg(item, line).toStdString());
    }
    return true;
}

void EmployeeItems::SetFoundItemQuantity(int value)
{
    if (m_foundItemIndex < 0)
        return;
    const QString& line = m_lines[m_foundItemIndex];
    const int start = afterFields(line, kCarriedFields);
    const int end = line.indexOf(kTab, start);
    const QString rest = end < 0 ? QString() : line.mid(end + 1);
    m_lines[m_foundItemIndex] = line.left(start) + QString::number(value) + kTab + rest;
}

bool EmployeeItems::holdsItemNumber(const QString& item)
{
    return !item.contains(kTab) && !item.contains(QLatin1Char('\r')) && !item.contains(QLatin1Char('\n'));
}

void EmployeeItems::RenameFoundItem(const QString& newItem)
{
    if (m_foundItemIndex < 0)
        return;
    if (!holdsItemNumber(newItem))
        throw std::runtime_error(
            QStringLiteral("An item list line cannot hold the item number '%1', which has a tab or a line break")
                .arg(newItem)
                .toStdString());
    const QString line = m_lines.takeAt(m_foundItemIndex);
    const QString key = newItem + kTab;
    const QString renamed = key + line.mid(line.indexOf(kTab) + 1);
    int at = 0;
    while (at < m_lines.size() && !(key < m_lines[at]))
        ++at;
    m_lines.insert(at, renamed);
    m_foundItemIndex = at;
}

void EmployeeItems::RenameInEveryList(db::RowQuery& employees, const QString& oldItem, const QString& newItem,
    bool markProcessed, Failpoint::Point afterEachRow,
    const std::function<void(const QString& employee, const std::exception& error)>& malformed)
{
    employees.close();
    employees.open();
    for (employees.first(); !employees.eof(); employees.next()) {
        EmployeeItems items(employees.asString(QStringLiteral("Items")));
        // One employee's broken list must not hold the rename back for good.
        try {
            if (!items.FindEmployeeItem(oldItem))
                continue;
            items.RenameFoundItem(newItem);
        } catch (const std::runtime_error& e) {
            malformed(employees.asString(QStringLiteral("MyNo")), e);
            continue;
        }
        employees.edit();
        employees.setValue(QStringLiteral("Items"), items.text());
        if (markProcessed)
            employees.setValue(QStringLiteral("ASPProcessed"), true);
        employees.post();
        Failpoint::reach(afterEachRow);
    }
}
