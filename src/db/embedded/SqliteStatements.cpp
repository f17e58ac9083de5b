#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/embedded/SharedCache.h"
#include "db/embedded/SqliteConversions.h"
#include "db/embedded/SqliteEngine.h"
#include "db/embedded/SqliteValues.h"

#include <sqlite3.h>

// SQLite's own interface: statements prepared once per text, their values bound, their rows read
// and typed as the client layer gives them.

namespace db {

/// A prepared statement with what its result looks like.
struct SqliteEngine::Prepared
{
    QString sql;
    sqlite3_stmt* handle = nullptr;
    int reprepares = 0;
    bool described = false;
    quint64 layoutGeneration = 0; // of `columns`
    QList<ColumnInfo> columns;
    QList<ColumnKind> kinds; // Other keeps the value as stored
    QList<bool> typedByValue; // neither in the layout nor declared: typed by the first row's value

    ~Prepared() { sqlite3_finalize(handle); }
};

namespace {

/// A result's description, as a file's schema gives it for a text.
struct Description
{
    QList<ColumnInfo> columns;
    QList<ColumnKind> kinds;
    QList<bool> typedByValue;
};

sqlite::Shared<Description>& sharedDescriptions()
{
    static sqlite::Shared<Description> shared;
    return shared;
}

} // namespace

QString SqliteEngine::handleState() const
{
    return DbError::sqliteState(sqlite3_extended_errcode(m_handle));
}

std::shared_ptr<SqliteEngine::Prepared> SqliteEngine::prepare(const QString& sql)
{
    if (const auto it = m_statements.constFind(sql); it != m_statements.constEnd())
        return *it;
    auto prepared = std::make_shared<Prepared>();
    const int rc = sqlite3_prepare16_v3(
        m_handle, sql.utf16(), int(sql.size() * sizeof(QChar)), SQLITE_PREPARE_PERSISTENT, &prepared->handle, nullptr);
    if (rc != SQLITE_OK)
        throw DbError(QString::fromUtf8(sqlite3_errmsg(m_handle)), handleState());
    if (!prepared->handle)
        return prepared; // only blanks or a comment: nothing to run, nothing to keep
    prepared->sql = sql;
    // A statement in use stays alive through its shared pointer when the cache is cleared.
    sqlite::keepBounded(m_statements, 256);
    m_statements.insert(sql, prepared);
    return prepared;
}

void SqliteEngine::describe(Prepared& prepared)
{
    const QString key = m_schemaStamp.isEmpty()
        ? QString()
        : m_file + QLatin1Char('\n') + m_schemaStamp + QLatin1Char('\n') + prepared.sql;
    if (!key.isEmpty()) {
        if (const std::optional<Description> known = sharedDescriptions().find(key)) {
            prepared.columns = known->columns;
            prepared.kinds = known->kinds;
            prepared.typedByValue = known->typedByValue;
            prepared.described = true;
            prepared.layoutGeneration = m_layoutGeneration;
            return;
        }
    }
    QHash<QString, ColumnInfo> known;
    if (const QString baseTable = baseTableOf(prepared.sql); !baseTable.isEmpty()) {
        for (const ColumnInfo& c : layout(baseTable))
            known.insert(c.name.toLower(), c);
    }
    prepared.columns.clear();
    prepared.kinds.clear();
    prepared.typedByValue.clear();
    const int count = sqlite3_column_count(prepared.handle);
    for (int i = 0; i < count; ++i) {
        ColumnInfo info;
        info.name = QString::fromUtf8(sqlite3_column_name(prepared.handle, i)).remove(QLatin1Char('"'));
        const QString declared = QString::fromUtf8(sqlite3_column_decltype(prepared.handle, i));
        bool byValue = false;
        if (const auto it = known.constFind(info.name.toLower()); it != known.constEnd()) {
            info.kind = it->kind;
            info.primaryKey = it->primaryKey;
            info.typeName = it->typeName;
            prepared.kinds << info.kind;
        } else {
            // An expression has no declared type: keep the value as SQLite stored it.
            byValue = declared.isEmpty();
            info.kind = columnKindFromMetaType(sqlite::declaredMetaType(declared, -1));
            prepared.kinds << ColumnKind::Other;
        }
        prepared.columns << info;
        prepared.typedByValue << byValue;
    }
    prepared.described = true;
    prepared.layoutGeneration = m_layoutGeneration;
    if (!key.isEmpty())
        sharedDescriptions().keep(key, {prepared.columns, prepared.kinds, prepared.typedByValue});
}

SqliteEngine::StepResult SqliteEngine::runSql(const QString& sql, const QVariantList& positional, bool wantRows)
{
    return runPrepared(prepare(sql), sql, positional, wantRows);
}

SqliteEngine::StepResult SqliteEngine::runPrepared(const std::shared_ptr<Prepared>& prepared, const QString& sql,
    const QVariantList& positional, bool wantRows, qsizetype maxRows)
{
    StepResult result;
    sqlite3_stmt* statement = prepared->handle;
    if (!statement)
        return result;
    struct Reset
    {
        sqlite3_stmt* statement;
        ~Reset() { sqlite3_reset(statement); }
    } reset{statement};
    const auto fail = [&] {
        const QString message = sqlite::explained(m_file, sqlite3_extended_errcode(m_handle),
            sqlite::serverMessage(QString::fromUtf8(sqlite3_errmsg(m_handle))));
        const QString state = sqlite::stateOfMessage(message, handleState());
        // The statement may have failed because a table changed under the layouts kept.
        forgetSchema();
        throw DbError(message, state);
    };
    const int parameters = sqlite3_bind_parameter_count(statement);
    if (positional.size() != parameters) {
        throw DbError(QStringLiteral("%1 values were given for the %2 parameters of: %3")
                          .arg(positional.size())
                          .arg(parameters)
                          .arg(sql));
    }
    for (int i = 0; i < parameters; ++i) {
        if (sqlite::bindValue(statement, i + 1, positional[i]) != SQLITE_OK)
            fail();
    }
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail();
    // SQLite prepares a statement again when the schema changed since: then the layouts kept
    // may be stale too. This replaces asking for the schema version before every statement.
    const int reprepares = sqlite3_stmt_status(statement, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (reprepares != prepared->reprepares) {
        prepared->reprepares = reprepares;
        forgetSchema();
    }
    const int columnCount = sqlite3_column_count(statement);
    result.affected = sqlite3_changes(m_handle);
    if (!wantRows || columnCount == 0)
        return result;

    if (!prepared->described || prepared->layoutGeneration != m_layoutGeneration)
        describe(*prepared);
    result.rows.hasResult = true;
    result.rows.columns = prepared->columns;
    for (int i = 0; i < columnCount; ++i) {
        if (prepared->typedByValue[i])
            result.rows.columns[i].kind = columnKindFromMetaType(
                sqlite::declaredMetaType(QString(), rc == SQLITE_ROW ? sqlite3_column_type(statement, i) : -1));
    }
    const QList<ColumnKind>& kinds = prepared->kinds;
    while (rc == SQLITE_ROW) {
        // The rest is left unread: the reset ends the statement.
        if (maxRows > 0 && result.rows.rows.size() >= maxRows)
            return result;
        QVariantList row;
        row.reserve(columnCount);
        for (int i = 0; i < columnCount; ++i)
            row << (kinds[i] == ColumnKind::DateTime ? m_dateTimes.read(sqlite::readValue(statement, i))
                                                     : sqlite::fromSqlite(sqlite::readValue(statement, i), kinds[i]));
        result.rows.rows << row;
        rc = sqlite3_step(statement);
    }
    if (rc != SQLITE_DONE)
        fail();
    return result;
}

ResultSet SqliteEngine::runStatement(const QString& sql, const QVariantList& positional, bool wantRows)
{
    return runSql(sql, positional, wantRows).rows;
}

void SqliteEngine::runQuietly(const QString& sql)
{
    try {
        runSql(sql, {}, false);
    } catch (const DbError&) {
        // Nothing left to undo.
    }
}

} // namespace db
