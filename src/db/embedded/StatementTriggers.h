#pragma once

#include "db/Types.h"
#include "db/embedded/ProcedureInterpreter.h"

#include <QList>
#include <QString>

namespace db::sqlite {

/// SQL Server fires a trigger once per statement, its `deleted` holding every row the statement
/// deleted; SQLite fires one per row. An agent's trigger is kept as SQLite's row trigger that only
/// copies each deleted row into the trigger's capture table, and its body, run once after the
/// statement, reads `deleted` from there.
class StatementTriggers
{
public:
    /// An agent's trigger: its body, run once for each DELETE statement on its table.
    struct Trigger
    {
        QString name;
        QString table;
        QString body; // reads the rows the statement deleted from the trigger's capture table
    };

    /// Creates the trigger `name` on `table` (whose columns are `columns`) running `body`.
    static void install(ProcedureInterpreter::Host& host, const QString& name, const QString& table,
        const QList<ColumnInfo>& columns, const QString& body);
    /// Forgets what was kept for the trigger `name` once SQLite's trigger was dropped.
    static void dropped(ProcedureInterpreter::Host& host, const QString& name);
    /// Empties the rows the trigger `name` collected.
    static void emptyCapture(ProcedureInterpreter::Host& host, const QString& name);

    /// The triggers on `table`, read again whenever `generation` (of the layouts) has changed.
    QList<Trigger> on(ProcedureInterpreter::Host& host, const QString& table, quint64 generation);

private:
    QList<Trigger> m_triggers;
    quint64 m_generation = ~quint64(0); // of the layouts `m_triggers` was read with
};

} // namespace db::sqlite
