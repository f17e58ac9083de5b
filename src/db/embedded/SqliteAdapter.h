#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace db {

/// One step of what the embedded engine does for a T-SQL text.
struct AdaptedStep
{
    enum class Kind {
        Sql, // run `sql` (already SQLite)
        Exec, // call procedure `name` with the argument expressions `args`
        NameProbe, // result set of one column "name": the parameters or columns of object `name`
        Install, // create the embedded equivalent of the agent's object `name` (a trigger's on `onTable`)
        Drop, // drop object `name` of type `objectType`
    };
    enum class Guard { None, ColumnExists, ColumnMissing, ObjectExists };

    Kind kind = Kind::Sql;
    QString sql;
    QString name;
    QString objectType; // "trigger", "procedure", "view", "table"
    QString onTable; // Install of a trigger
    QStringList args;
    Guard guard = Guard::None;
    QString guardObject;
    QString guardColumn;
    QString guardType;
};

/// Adapts the T-SQL forms the agent sends to what the embedded SQLite engine runs: TOP n and
/// top(n), getdate(), dbo-qualified and N'' names, the catalogue probes on syscolumns and
/// sysobjects, EXEC of a procedure, and CREATE and DROP of the agent's own objects. Everything
/// T-SQL-only that is not listed here is refused with a message naming the statement.
class SqliteAdapter
{
public:
    static QList<AdaptedStep> adapt(const QString& tsql);

    /// Rewrites TOP, getdate(), dbo. and N'' in a plain statement (placeholders are kept).
    static QString translate(const QString& tsql);
};

} // namespace db
