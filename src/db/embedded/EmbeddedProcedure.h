#pragma once

#include "db/Types.h"

#include <optional>

namespace db {

/// A stored procedure of the embedded engine, kept in the database itself in the table
/// `cribsync_procedures` (name, parameters, body). See docs/database-engines.md for the format.
struct EmbeddedProcedure
{
    QString name;
    QString parametersText; // "@Station varchar(50), @Change bit = NULL"
    QString body; // statements separated by ';'

    /// The declared parameters in order, with their defaults; throws DbError on a malformed list.
    QList<ProcParameter> parameters() const;
    /// The default value text of a parameter ("NULL", "0", "'x'"), empty when it has none.
    QString defaultOf(const QString& parameter) const;
    /// The body split into statements at top-level semicolons.
    QStringList statements() const;
};

/// The embedded engine's stand-in for an object the agent creates on SQL Server: when the agent
/// sends "CREATE PROCEDURE [dbo].[x] ..." or "CREATE TRIGGER [x] ON t FOR DELETE ..." to the
/// embedded engine, the equivalent registered under that name is installed instead. A trigger
/// fires as on SQL Server: once for each DELETE statement on its table, after it, with `deleted`
/// holding every row the statement deleted; when it fails, the statement is undone.
struct EmbeddedEquivalent
{
    enum class Kind { Procedure, Trigger };
    Kind kind = Kind::Procedure;
    QString name;
    QString parametersText; // Procedure
    QString body; // statements in the procedure format; a trigger's read the table `deleted`
};

class EmbeddedEquivalents
{
public:
    static void add(const EmbeddedEquivalent& equivalent);
    static std::optional<EmbeddedEquivalent> find(const QString& name);
};

/// The parameter type a T-SQL type name stands for, and its size ("varchar(50)" is String, 50).
ParamType paramTypeFromTypeName(const QString& typeName, int* size = nullptr);

} // namespace db
