#include "db/Types.h"

namespace db {

void NamedValues::set(const QString& name, const QVariant& value)
{
    for (auto& item : m_items) {
        if (item.first.compare(name, Qt::CaseInsensitive) == 0) {
            item.second = value;
            return;
        }
    }
    m_items.append({name, value});
}

bool NamedValues::contains(const QString& name) const
{
    for (const auto& item : m_items) {
        if (item.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QVariant NamedValues::value(const QString& name) const
{
    for (const auto& item : m_items) {
        if (item.first.compare(name, Qt::CaseInsensitive) == 0)
            return item.second;
    }
    return {};
}

} // namespace db
