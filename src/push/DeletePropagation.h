#pragma once

#include "model/TableRules.h"

#include <QString>

struct CycleContext;

/// Carries the local delete history over to the remote database: each pending DeleteHst row
/// deletes its remote row or runs the remote bin or item rename, and is marked sent only after
/// its remote step succeeded, so that a failed row is tried again by a later cycle.
class DeletePropagation
{
public:
    explicit DeletePropagation(CycleContext& context)
        : m_context(context)
    { }

    /// Replays every pending history row in the order the local database returns them. Reports
    /// its failures through the context's events and never throws; a failure reading or marking
    /// the history ends the walk, rows marked so far stay marked.
    void PropagateDeletes();

    /// Carries one history row out remotely. Returns true when the row may be marked sent: done,
    /// a picture table, or a remote row already gone. False keeps it pending (an empty table
    /// name, a refused rename, a lookup or delete that failed).
    bool ReplayDeleteRecord(const QString& tableName, const QString& key1, const QString& key2, const QString& key3,
        const QString& computerName);

    /// Renames `oldItem` to `newItem` in the item list of every remote employee. Returns false
    /// when a step failed; employees already updated keep their new lists.
    bool RenameItemInRemoteEmployees(const QString& oldItem, const QString& newItem);

private:
    /// The remote table of that name as the remote database spells it, or the name itself.
    QString remoteSpelling(const QString& table) const;
    RenderedStatement lookupStatement(
        const QString& table, const QString& key1, const QString& key2, const QString& key3) const;
    /// Records the deletion of the lookup's bin in the remote history and deletes the bin.
    void deleteRemoteBin(const QString& key1, const QString& key2, const QString& key3, const QString& computerName,
        const QString& historyKey);
    void recordRemoteBinDelete(const QString& key1, const QString& key2, const QString& key3,
        const QString& computerName, const QString& historyKey);

    CycleContext& m_context;
};
