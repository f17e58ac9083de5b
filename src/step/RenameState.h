#pragma once

#include "db/ConnectionPool.h"

#include <QString>

/// Tells a rename that has already been carried out on a database, so that an order repeated
/// after its marking was lost (a power cut between the rename and the mark) finishes what is left
/// instead of failing at every cycle on an old number that no longer exists. A lookup that fails
/// answers false: the rename's own failure then stands.
class RenameState
{
public:
    /// True when no bin `oldBin` is left at `station` and a bin `newBin` is there.
    static bool binRenamed(
        const db::Database& database, const QString& station, const QString& oldBin, const QString& newBin);
    /// True when no item `oldItem` is left and an item `newItem` exists.
    static bool itemRenamed(const db::Database& database, const QString& oldItem, const QString& newItem);
};
