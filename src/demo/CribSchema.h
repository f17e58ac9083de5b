#pragma once

#include <QString>

namespace db {
class Connection;
}

/// Creates the tables, indexes and procedures of an embedded crib database: the local database
/// of a crib computer, or the hosted remote copy. Text columns compare without regard to case,
/// every table but the local Schedules starts with its identity column RecordID, and each table's
/// key columns stand where the sync rules look for them by position.
class CribSchema
{
public:
    enum class Side { Local, Remote };

    struct Options
    {
        /// Local: create DeleteHst without Key3, as an older crib database has it.
        bool deleteHstWithoutKey3 = false;
        /// Remote: the newer Issue table with a ComputerName column.
        bool issueHasComputerName = true;
        /// Remote: install the hosted transaction procedure (with @DiscrepantQty, @OGTranNo,
        /// @ComputerName and @ExternalPO).
        bool withTransactionProcedure = true;
    };

    /// Creates every object in `connection`'s database, which must be embedded and empty.
    static void create(db::Connection& connection, Side side, const Options& options);
    static void create(db::Connection& connection, Side side) { create(connection, side, Options{}); }

    /// Names of the tables the schema creates on a side.
    static QStringList tableNames(Side side, const Options& options);
};
