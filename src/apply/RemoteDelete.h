#pragma once

#include "model/TableRules.h"

#include <QString>

struct CycleContext;

/// Carries a remote delete order out on the local database: deletes the first local row that the
/// order's key values name in the table's key columns.
class RemoteDelete
{
public:
    explicit RemoteDelete(CycleContext& context)
        : m_context(context)
    { }

    /// Deletes the local row of `tableName` named by the keys. Returns true when the order is
    /// done (deleted, already gone, or an order the rules pass over); false when it must stay
    /// pending, after a failure that was reported with `entryKey`.
    bool ApplyRemoteDelete(const QString& tableName, const QString& key1, const QString& key2, const QString& key3,
        const QString& entryKey = QString());

private:
    RenderedStatement lookupStatement(
        const QString& tableName, const QString& key1, const QString& key2, const QString& key3) const;

    CycleContext& m_context;
};
