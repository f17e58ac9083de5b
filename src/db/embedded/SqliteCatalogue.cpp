#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/embedded/SqliteEngine.h"
#include "db/embedded/StatementTriggers.h"

// What the file holds: its tables and their layouts, and the agent's procedures and triggers.

namespace db {

namespace {

const QString kProcedureTable = QStringLiteral("cribsync_procedures");

QString stripGroupNumber(const QString& procedure)
{
    const int semicolon = procedure.indexOf(QLatin1Char(';'));
    const QString name = semicolon >= 0 ? procedure.left(semicolon) : procedure;
    return name.trimmed().remove(QLatin1Char('[')).remove(QLatin1Char(']')).section(QLatin1Char('.'), -1);
}

} // namespace

void SqliteEngine::forgetSchema()
{
    // Until the stamp is read again, descriptions are neither taken from nor given to others.
    m_schemaStamp.clear();
    m_layouts.clear();
    ++m_layoutGeneration;
    m_schemaVersion = -1;
}

QString SqliteEngine::schemaStamp()
{
    // Read when the connection opened, unless something has changed the schema since.
    if (!m_schemaStamp.isEmpty())
        return m_schemaStamp;
    const ResultSet version = runSql(QStringLiteral("PRAGMA schema_version"), {}, true).rows;
    m_schemaStamp = version.rows.isEmpty() ? QString() : version.rows.first().value(0).toString();
    return m_schemaStamp;
}

void SqliteEngine::checkSchemaVersion()
{
    const ResultSet version = runSql(QStringLiteral("PRAGMA schema_version"), {}, true).rows;
    const qint64 current = version.rows.isEmpty() ? -1 : version.rows.first().value(0).toLongLong();
    if (current != m_schemaVersion) {
        forgetSchema();
        m_schemaVersion = current;
    }
}

QList<ColumnInfo> SqliteEngine::layout(const QString& table)
{
    const QString key = table.toLower();
    if (const auto it = m_layouts.constFind(key); it != m_layouts.constEnd())
        return *it;
    const ResultSet info = runSql(QStringLiteral("PRAGMA table_info(%1)").arg(bracketed(table)), {}, true).rows;
    QList<ColumnInfo> columns;
    int keyCount = 0;
    for (const QVariantList& row : info.rows) {
        ColumnInfo c;
        c.name = row.value(1).toString();
        c.typeName = row.value(2).toString();
        c.primaryKey = row.value(5).toInt() > 0;
        c.kind = columnKindFromTypeName(c.typeName);
        keyCount += c.primaryKey ? 1 : 0;
        columns << c;
    }
    // A sole INTEGER PRIMARY KEY is SQLite's row id: the counterpart of an identity column.
    if (keyCount == 1) {
        for (ColumnInfo& c : columns) {
            if (c.primaryKey && c.typeName.compare(QLatin1String("integer"), Qt::CaseInsensitive) == 0)
                c.kind = ColumnKind::AutoIncrement;
        }
    }
    if (!columns.isEmpty())
        m_layouts.insert(key, columns);
    return columns;
}

QStringList SqliteEngine::tables()
{
    const ResultSet result = runSql(QStringLiteral("SELECT name FROM sqlite_master WHERE type IN ('table','view') "
                                                   "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                                   "AND name NOT LIKE 'cribsync\\_%' ESCAPE '\\' "
                                                   "ORDER BY name COLLATE NOCASE"),
        {}, true)
                                 .rows;
    QStringList names;
    for (const QVariantList& row : result.rows)
        names << row.value(0).toString();
    return names;
}

QStringList SqliteEngine::procedures()
{
    QStringList names;
    if (!objectExists(kProcedureTable, QStringLiteral("usertable")))
        return names;
    const ResultSet result
        = runSql(QStringLiteral("SELECT name FROM %1 ORDER BY name COLLATE NOCASE").arg(kProcedureTable), {}, true)
              .rows;
    for (const QVariantList& row : result.rows)
        names << row.value(0).toString() + QStringLiteral(";1");
    return names;
}

QList<ColumnInfo> SqliteEngine::columns(const QString& table)
{
    const QList<ColumnInfo> result = layout(table);
    if (result.isEmpty())
        throw DbError(QStringLiteral("Invalid object name '%1': no such table").arg(table));
    return result;
}

QList<ProcParameter> SqliteEngine::procedureParameters(const QString& procedure)
{
    const auto definition = findProcedure(stripGroupNumber(procedure));
    if (!definition)
        throw DbError(QStringLiteral("Could not find stored procedure '%1'.").arg(stripGroupNumber(procedure)));
    ProcParameter returnValue;
    returnValue.name = QStringLiteral("@RETURN_VALUE");
    returnValue.type = ParamType::Integer;
    returnValue.direction = ParamDirection::ReturnValue;
    returnValue.typeName = QStringLiteral("int");
    return QList<ProcParameter>{returnValue} + m_procedures.declared(*definition);
}

QVariant SqliteEngine::callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values)
{
    const auto definition = findProcedure(stripGroupNumber(procedure));
    if (!definition)
        throw DbError(QStringLiteral("Could not find stored procedure '%1'.").arg(stripGroupNumber(procedure)));
    return m_procedures.call(*definition, values);
}

bool SqliteEngine::objectExists(const QString& name, const QString& type)
{
    const QString t = type.toLower();
    if (t == QLatin1String("procedure")) {
        return findProcedure(name).has_value();
    }
    QString kind = QStringLiteral("table");
    if (t == QLatin1String("trigger"))
        kind = QStringLiteral("trigger");
    else if (t == QLatin1String("view"))
        kind = QStringLiteral("view");
    return !runSql(
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE"), {kind, name}, true)
                .rows.rows.isEmpty();
}

std::optional<EmbeddedProcedure> SqliteEngine::findProcedure(const QString& name)
{
    ResultSet found;
    try {
        found = runSql(
            QStringLiteral("SELECT name, parameters, body FROM %1 WHERE name = ? COLLATE NOCASE").arg(kProcedureTable),
            {name}, true)
                    .rows;
    } catch (const DbError&) {
        return std::nullopt; // no procedure stored yet
    }
    if (found.rows.isEmpty())
        return std::nullopt;
    const QVariantList& row = found.rows.first();
    return EmbeddedProcedure{row.value(0).toString(), row.value(1).toString(), row.value(2).toString()};
}

void SqliteEngine::installProcedure(const EmbeddedProcedure& procedure)
{
    procedure.parameters(); // refuse a malformed declaration before storing it
    runSql(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY COLLATE NOCASE, "
                          "parameters TEXT NOT NULL DEFAULT '', body TEXT NOT NULL)")
               .arg(kProcedureTable),
        {}, false);
    runSql(QStringLiteral("INSERT OR REPLACE INTO %1 (name, parameters, body) VALUES (?, ?, ?)").arg(kProcedureTable),
        {procedure.name, procedure.parametersText, procedure.body}, false);
}

void SqliteEngine::install(const QString& name, const QString& onTable)
{
    const auto equivalent = EmbeddedEquivalents::find(name);
    if (!equivalent)
        throw DbError(QStringLiteral("The embedded engine has no definition of the object '%1' to create").arg(name));
    if (equivalent->kind == EmbeddedEquivalent::Kind::Procedure) {
        if (findProcedure(equivalent->name))
            throw DbError(
                QStringLiteral("There is already an object named '%1' in the database.").arg(equivalent->name));
        installProcedure({equivalent->name, equivalent->parametersText, equivalent->body});
        return;
    }
    installTrigger(*equivalent, onTable);
}

void SqliteEngine::installTrigger(const EmbeddedEquivalent& trigger, const QString& table)
{
    if (objectExists(trigger.name, QStringLiteral("trigger")))
        throw DbError(QStringLiteral("There is already an object named '%1' in the database.").arg(trigger.name));
    const QList<ColumnInfo> columns = table.isEmpty() ? QList<ColumnInfo>() : layout(table);
    if (columns.isEmpty())
        throw DbError(QStringLiteral("Invalid object name '%1': the trigger %2 has no table").arg(table, trigger.name));
    sqlite::StatementTriggers::install(*this, trigger.name, table, columns, trigger.body);
    forgetSchema();
}

void SqliteEngine::drop(const QString& name, const QString& type)
{
    if (!objectExists(name, type))
        throw DbError(QStringLiteral("Cannot drop the %1 '%2', because it does not exist.").arg(type, name));
    if (type == QLatin1String("procedure")) {
        runSql(QStringLiteral("DELETE FROM %1 WHERE name = ? COLLATE NOCASE").arg(kProcedureTable), {name}, false);
        return;
    }
    runSql(QStringLiteral("DROP %1 %2").arg(type.toUpper(), bracketed(name)), {}, false);
    if (type == QLatin1String("trigger"))
        sqlite::StatementTriggers::dropped(*this, name);
    forgetSchema();
}

} // namespace db
