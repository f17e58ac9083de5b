#pragma once

#include "push/DeletePropagation.h"
#include "push/RecordPush.h"
#include "step/PagedRows.h"

#include <QString>
#include <optional>

struct CycleContext;

/// Replays the local delete history, then finds the local rows not yet sent, table by table, and
/// hands them to the record push: every remote table that also exists locally and tracks unsent
/// rows in an ASPProcessed column, in the order of the remote table list.
class PendingChangeScan
{
public:
    explicit PendingChangeScan(CycleContext& context)
        : m_context(context)
        , m_deletes(context)
        , m_records(context)
    { }

    /// One delete propagation, then one scan over the table lists of the context. Failures are reported through the
    /// context's events; whatever was not sent stays pending for a later cycle.
    void PushPendingChanges();

private:
    void pushTable(const QString& remoteTable);
    /// Whether the local table has an ASPProcessed column; reads its columns into the scratch list.
    bool tracksUnsentRows(const QString& localTable);
    /// How the table's pending rows are paged; none for a table without a key to page by.
    std::optional<PageTexts> pagesOf(const QString& remoteTable, const QString& localTable);
    /// Opens the first page of pending rows, or the page after where the last cycle stopped.
    void openPending(PagedRows& pending, const QString& remoteTable);
    void openRemoteProbe(const QString& remoteTable);

    CycleContext& m_context;
    DeletePropagation m_deletes;
    RecordPush m_records;
};
