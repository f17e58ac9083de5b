#pragma once

#include "model/TableRules.h"

#include <QString>

struct CycleContext;

namespace db {
class RowQuery;
}

/// The statement that looks for the remote counterpart of a pending local row, by the key rules
/// of its table.
class ProbeStatement
{
public:
    /// `table` is the remote table's name as the remote database lists it, `k1` and `k2` the names of the remote
    /// table's second and third columns, `row` the pending rows positioned on the row to send.
    /// Throws db::DbError when a key column is missing locally, or when a key that must be a whole
    /// number is not.
    static RenderedStatement text(const QString& table, const db::RowQuery& row, const QString& k1, const QString& k2,
        const CycleContext& context);
    /// The key values `probe` looks for, named as the remote table names them ("MyNo=AAA-0",
    /// "Station=01 MyNo=A03", "TranNo=NULL"); empty for a probe by no key.
    static QString keyText(const RenderedStatement& probe);

    /// Why the probe of `table` cannot take the key values of `rows` by position: which local
    /// column stands where the probe expects another (the remote table's, or the one its rules
    /// name). Empty when every key position holds the column it is compared with: a table
    /// re-created with its columns in another order would otherwise be probed by the wrong
    /// values, and every row inserted again.
    static QString keyMismatch(const QString& table, const db::RowQuery& rows, const QString& k1, const QString& k2);
};
