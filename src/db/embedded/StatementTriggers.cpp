#include "db/embedded/StatementTriggers.h"

#include "db/SqlTokenizer.h"

#include <QStringList>

namespace db::sqlite {

namespace {

const QString kTriggerTable = QStringLiteral("cribsync_triggers");

/// The table that holds the rows a statement deleted while the trigger of that name runs.
QString captureTable(const QString& trigger)
{
    return QStringLiteral("cribsync_deleted_") + trigger;
}

/// A trigger's body with its `deleted` read from the trigger's capture table.
QString readingCapture(const QString& body, const QString& trigger)
{
    QString out;
    for (const SqlToken& t : tokenizeSql(body))
        out += t.isWord("deleted") ? bracketed(captureTable(trigger)) : t.text;
    return out;
}

bool triggerTableExists(ProcedureInterpreter::Host& host)
{
    return !host.runStatement(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE"),
                    {QStringLiteral("table"), kTriggerTable}, true)
                .rows.isEmpty();
}

} // namespace

void StatementTriggers::install(ProcedureInterpreter::Host& host, const QString& name, const QString& table,
    const QList<ColumnInfo>& columns, const QString& body)
{
    QStringList definitions;
    QStringList names;
    QStringList old;
    for (const ColumnInfo& c : columns) {
        definitions << bracketed(c.name) + QLatin1Char(' ') + c.typeName;
        names << bracketed(c.name);
        old << QStringLiteral("old.") + bracketed(c.name);
    }
    const QString capture = bracketed(captureTable(name));
    host.runStatement(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY COLLATE NOCASE, "
                                     "table_name TEXT NOT NULL, body TEXT NOT NULL)")
                          .arg(kTriggerTable),
        {}, false);
    host.runStatement(QStringLiteral("DROP TABLE IF EXISTS ") + capture, {}, false);
    host.runStatement(
        QStringLiteral("CREATE TABLE %1 (%2)").arg(capture, definitions.join(QStringLiteral(", "))), {}, false);
    host.runStatement(
        QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 FOR EACH ROW BEGIN INSERT INTO %3 (%4) VALUES (%5); END")
            .arg(bracketed(name), bracketed(table), capture, names.join(QStringLiteral(", ")),
                old.join(QStringLiteral(", "))),
        {}, false);
    host.runStatement(
        QStringLiteral("INSERT OR REPLACE INTO %1 (name, table_name, body) VALUES (?, ?, ?)").arg(kTriggerTable),
        {name, table, readingCapture(body, name)}, false);
}

void StatementTriggers::dropped(ProcedureInterpreter::Host& host, const QString& name)
{
    if (!triggerTableExists(host))
        return;
    host.runStatement(QStringLiteral("DELETE FROM %1 WHERE name = ? COLLATE NOCASE").arg(kTriggerTable), {name}, false);
    host.runStatement(QStringLiteral("DROP TABLE IF EXISTS ") + bracketed(captureTable(name)), {}, false);
}

void StatementTriggers::emptyCapture(ProcedureInterpreter::Host& host, const QString& name)
{
    host.runStatement(QStringLiteral("DELETE FROM ") + bracketed(captureTable(name)), {}, false);
}

QList<StatementTriggers::Trigger> StatementTriggers::on(
    ProcedureInterpreter::Host& host, const QString& table, quint64 generation)
{
    if (m_generation != generation) {
        m_triggers.clear();
        if (triggerTableExists(host)) {
            // Only while SQLite still has the trigger: dropping its table drops it too.
            const ResultSet rows = host.runStatement(QStringLiteral("SELECT t.name, t.table_name, t.body FROM %1 t "
                                                                    "JOIN sqlite_master m ON m.type = 'trigger' AND "
                                                                    "m.name = t.name COLLATE NOCASE")
                                                         .arg(kTriggerTable),
                {}, true);
            for (const QVariantList& row : rows.rows)
                m_triggers.append({row.value(0).toString(), row.value(1).toString(), row.value(2).toString()});
        }
        m_generation = generation;
    }
    QList<Trigger> on;
    for (const Trigger& t : m_triggers) {
        if (t.table.compare(table, Qt::CaseInsensitive) == 0)
            on.append(t);
    }
    return on;
}

} // namespace db::sqlite
