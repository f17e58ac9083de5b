#pragma once

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <optional>

namespace db::sqlite {

/// Bounds the per-engine caches of texts: a caller that sends ever new texts cannot grow them.
template <typename Value> void keepBounded(QHash<QString, Value>& cache, qsizetype limit = 512)
{
    if (cache.size() >= limit)
        cache.clear();
}

/// What every connection of the process can share, since it depends on the text alone or on the
/// text and the file's schema: each cycle's fresh local connection would otherwise adapt and
/// describe its statements again.
template <typename Value> struct Shared
{
    QMutex mutex;
    QHash<QString, Value> values;

    std::optional<Value> find(const QString& key)
    {
        QMutexLocker lock(&mutex);
        const auto it = values.constFind(key);
        return it == values.constEnd() ? std::nullopt : std::optional<Value>(*it);
    }
    void keep(const QString& key, const Value& value)
    {
        QMutexLocker lock(&mutex);
        keepBounded(values, 1024);
        values.insert(key, value);
    }
};

} // namespace db::sqlite
