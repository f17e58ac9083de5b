#pragma once

#include "support/CycleFixture.h"

/// The cycle fixture with the outbox orders and source lookups the apply steps read.
class ApplyFixture : public CycleFixture
{
public:
    explicit ApplyFixture(const CribSchema::Options& schema = {}, const Options& options = {})
        : CycleFixture(withSchema(options, schema))
    { }

    /// Adds a pending outbox order and returns its RecordID.
    int order(const QString& table, const QString& type, const QString& id, const QString& key1 = {},
        const QString& key2 = {}, const QString& key3 = {}, const QString& computer = QStringLiteral("CRIB-01"));
    /// Opens the cycle's source lookup on the remote row `recordId` of `table`.
    void openSource(const QString& table, int recordId);
    bool entryProcessed(int recordId);

private:
    static Options withSchema(Options options, const CribSchema::Options& schema)
    {
        options.schema = schema;
        return options;
    }
};
