#pragma once

#include "push/RecordPush.h"

#include <QString>
#include <functional>

struct CycleContext;

/// Finds the local rows not yet sent, table by table, and hands them to the record push: every
/// remote table that also exists locally and tracks unsent rows in an ASPProcessed column, in
/// the order of the remote table list.
class PendingChangeScan
{
public:
    explicit PendingChangeScan(CycleContext& context)
        : m_context(context)
        , m_records(context)
    { }

    /// The delete propagation that every scan runs first; none is run while it is unset.
    void setPropagateDeletes(std::function<void()> propagateDeletes)
    {
        m_propagateDeletes = std::move(propagateDeletes);
    }

    /// One scan over the table lists of the context. Failures are reported through the
    /// context's events; whatever was not sent stays pending for a later cycle.
    void PushPendingChanges();

private:
    void pushTable(const QString& remoteTable);
    bool tracksUnsentRows(const QString& localTable);
    void openRemoteProbe(const QString& remoteTable);
    static bool isNeverPushed(const QString& remoteTable);

    CycleContext& m_context;
    RecordPush m_records;
    std::function<void()> m_propagateDeletes;
};
