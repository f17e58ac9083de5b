#pragma once

#include "push/TransactionPush.h"

#include <QList>
#include <QString>

struct CycleContext;
struct TableRule;

namespace db {
class RowQuery;
}

/// Writes the pending rows of one local table to the remote table of the same name: each row is
/// looked for by its table's key rules, then updated or inserted column by column, and marked
/// sent locally only after its remote write. Transactions go through TransactionPush instead.
class RecordPush
{
public:
    explicit RecordPush(CycleContext& context)
        : m_context(context)
        , m_transactions(context)
    { }

    /// Pushes the rows of `pendingRows` (open on the table's unsent rows) to the remote table
    /// `remoteTable`, named as the remote database lists it; progress and the cycle log show the
    /// name in upper case. The cycle's RemoteProbe must be open on that table. Failures are reported and end the push
    /// of this table; the failed row and the rows after it stay pending.
    void PushTableRows(db::RowQuery& pendingRows, const QString& remoteTable);

private:
    enum class Write { Insert, Update };

    /// Handles the current row; false when the table's push must end without a failure to report.
    bool pushRow(db::RowQuery& rows, const QString& table, const QString& k1, const QString& k2);
    /// Fills RemoteProbe's current row; returns the date-time columns written with a value.
    QList<int> fillRemoteRow(const db::RowQuery& rows, const TableRule& rule, Write write);
    void postRemoteRow(const QList<int>& dateTimeColumns);
    bool isExcluded(const TableRule& rule, const QString& column, Write write) const;

    CycleContext& m_context;
    TransactionPush m_transactions;
};
