#pragma once

#include "model/TableRules.h"
#include "push/TransactionPush.h"
#include "step/PagedRows.h"

#include <QList>
#include <QString>

struct CycleContext;

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

    /// Pushes the rows of `pending` (open on the table's unsent rows, a page at a time) to the
    /// remote table `remoteTable`, named as the remote database lists it; progress and the cycle
    /// log show the name in upper case. The cycle's RemoteProbe must be open on that table.
    /// A row the database refuses for what it holds (see db::DbError::refusesStatementOnly()) stays
    /// pending and is reported by the key values the remote table knows it by; the push goes on
    /// with the next row, but for transactions, which keep their order. Other failures are
    /// reported and end the push of this table; the failed row and the rows after it stay pending. At the cycle's time
    /// budget the push stops and notes where, for the next cycle to go on from there.
    void PushTableRows(PagedRows& pending, const QString& remoteTable);

private:
    enum class Write { Insert, Update };

    /// Reads the next page; false at the end, or after a failure it reported.
    bool nextPage(PagedRows& pending, const QString& tableName);
    /// Handles the current row; false when the table's push must end without a failure to report.
    bool pushRow(db::RowQuery& rows, const QString& table, const QString& k1, const QString& k2);
    /// Fills RemoteProbe's current row; returns the date-time columns written with a value.
    QList<int> fillRemoteRow(const db::RowQuery& rows, const TableRule& rule, Write write);
    void postRemoteRow(const QList<int>& dateTimeColumns);
    bool isExcluded(const TableRule& rule, const QString& column, Write write) const;

    CycleContext& m_context;
    TransactionPush m_transactions;
    /// The current row's probe, whose key values name a row the remote side refused.
    RenderedStatement m_probe;
};
