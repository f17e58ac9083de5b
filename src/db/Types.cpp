#include "db/Types.h"

namespace db {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

void NamedValues::set(const QString& name, const QVariant& value)
{
    for (auto& item : m_items) {
        if (sameName(item.first, name)) {
            item.second = value;
            return;
        }
    }
    m_items.append({name, value});
}

bool NamedValues::contains(const QString& name) const
{
    for (const auto& item : m_items) {
        if (sameName(item.first, name))
            return true;
    }
    return false;
}

QVariant NamedValues::value(const QString& name) const
{
    for (const auto& item : m_items) {
        if (sameName(item.first, name))
            return item.second;
    }
    return {};
}

} // namespace db
