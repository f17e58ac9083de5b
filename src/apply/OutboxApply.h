#pragma once

#include "apply/RecordApply.h"
#include "apply/RemoteDelete.h"
#include "apply/TransactionEffects.h"

#include <QStringList>
#include <optional>

struct CycleContext;
struct OutboxEntry;

namespace db {
class RowQuery;
}

/// Carries out the remote outbox orders addressed to this computer, in RecordID order: record
/// copies, deletes, bin and item renames and employee item list copies. An order is marked done
/// in the remote outbox once its work is written; any other order stays pending for a later cycle.
class OutboxApply
{
public:
    explicit OutboxApply(CycleContext& context);

    /// One pass over the outbox; failures are reported through the context's events.
    void ApplyRemoteOutbox();

    /// The outbox rows as the last pass read them, positioned on the entry being worked on: what
    /// the window's grid shows.
    const db::RowQuery& outbox() const;

private:
    enum class Outcome { Done, Pending };

    Outcome applyEntry(const OutboxEntry& entry);
    /// Opens the source lookup; returns the entry's outcome when there is no source row to use.
    std::optional<Outcome> openSource(
        const OutboxEntry& entry, const QString& sql, const QList<QPair<QString, QVariant>>& values);
    Outcome copyEmployeeItems(const OutboxEntry& entry);
    /// `sourceTable` is the entry's table as the remote database names it.
    Outcome rename(const OutboxEntry& entry, const QString& sourceTable);
    /// The local table of that name, spelt as the local database spells it; empty when there is none.
    QString localTable(const QString& tableName);
    /// The remote table of that name, spelt as the remote database spells it; the name itself
    /// when the remote table list does not hold it.
    QString remoteTable(const QString& tableName) const;
    void markSourceDone();
    void markEntryDone(const OutboxEntry& entry);

    CycleContext& m_context;
    RecordApply m_records;
    RemoteDelete m_deletes;
    TransactionEffects m_effects;
    QStringList m_localTables;
    bool m_localTablesRead = false;
};
