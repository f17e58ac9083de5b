#pragma once

#include "doubles/LocalZone.h"
#include "push/PendingChangeScan.h"
#include "support/CycleFixture.h"

/// The cycle fixture with every statement traced and a scan over it.
class PushFixture : public CycleFixture
{
public:
    using Databases = CribFixture::Databases;

    explicit PushFixture(const CribSchema::Options& schema = {}, Databases databases = Databases::Schema)
        : CycleFixture({.databases = databases, .schema = schema, .trace = true})
    { }

    /// Runs the scan with `tables` in both table lists.
    void push(const QStringList& tables)
    {
        context.remoteTables = tables;
        context.localTables = tables;
        scan.PushPendingChanges();
    }
    int pendingCount(const QString& table) { return localCount(table, QStringLiteral("ASPProcessed = 0")); }

    PendingChangeScan scan{context};
};
