#pragma once

#include "db/Types.h"

#include <QHash>
#include <QStringList>

namespace db {

enum class SqlDialect { TSql, Sqlite };

/// Identifies one row of a table for an update or delete: the key columns with their values as
/// the row was read. When `unique` is false the columns are all comparable columns of a table
/// without a key, and the engine must touch at most one matching row.
struct RowKey
{
    QList<QPair<QString, QVariant>> columns;
    bool unique = true;
};

/// One database engine behind the client layer. All texts handed to an engine are T-SQL as the
/// agent writes them, with ":name" placeholders; an engine adapts them as it needs to.
class Engine
{
public:
    virtual ~Engine() = default;

    /// The rows of a query; with `maxRows` above 0 at most that many, the rest not read.
    virtual ResultSet query(const QString& sql, const NamedValues& values, qsizetype maxRows) = 0;
    /// Runs a statement that returns no rows; returns the number of rows it changed (or -1).
    virtual qint64 execute(const QString& sql, const NamedValues& values) = 0;
    /// Runs `command`, then `query`, as one exchange with a server where it takes batches
    /// (runsBatches), else as two: the rows `command` changed (or -1) and the rows of `query`.
    virtual std::pair<qint64, ResultSet> executeThenQuery(
        const QString& command, const NamedValues& commandValues, const QString& query, const NamedValues& queryValues)
        = 0;
    virtual bool runsBatches() = 0;

    /// Tables and views, without system tables, in the order the database lists them.
    virtual QStringList tables() = 0;
    /// Procedure names, each with its ";1" group suffix.
    virtual QStringList procedures() = 0;
    /// The columns of a table in order; throws when the table does not exist.
    virtual QList<ColumnInfo> columns(const QString& table) = 0;
    /// "@RETURN_VALUE" first, then the declared parameters in order; throws for an unknown procedure.
    virtual QList<ProcParameter> procedureParameters(const QString& procedure) = 0;
    /// Runs a procedure with the given parameter values (names with '@'); returns "@RETURN_VALUE".
    virtual QVariant callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values) = 0;

    /// Which form of generated statements this engine takes.
    virtual SqlDialect dialect() const = 0;

    /// Forgets cached table layouts, after a schema change made outside this engine.
    virtual void forgetLayouts() = 0;
    /// Takes table layouts (by table in lower case) that an earlier connection read under the same
    /// schema stamp, so that they are not read again.
    virtual void adoptLayouts(const QHash<QString, QList<ColumnInfo>>& layouts) = 0;
    /// A text that changes whenever a table of the database is created, altered or dropped, by
    /// any program; empty when the engine cannot tell.
    virtual QString schemaStamp() = 0;
    /// Why the database the engine opened is no longer the one its connection string names (an
    /// embedded file deleted or replaced under its name); empty while it is.
    virtual QString targetLost() { return {}; }

    /// Groups the following statements until commit() or rollback(); throws when refused.
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
};

} // namespace db
