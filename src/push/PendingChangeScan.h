#pragma once

#include "push/DeletePropagation.h"
#include "push/RecordPush.h"

#include <QString>

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
    bool tracksUnsentRows(const QString& localTable);
    void openRemoteProbe(const QString& remoteTable);

    CycleContext& m_context;
    DeletePropagation m_deletes;
    RecordPush m_records;
};
