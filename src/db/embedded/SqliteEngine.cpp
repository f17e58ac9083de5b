#include "db/embedded/SqliteEngine.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/embedded/SqliteValues.h"
#include "db/embedded/WhereLiterals.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlDriver>
#include <QSqlError>
#include <functional>
#include <sqlite3.h>

namespace db {

namespace {

const QString kProcedureTable = QStringLiteral("cribsync_procedures");
const QString kTriggerTable = QStringLiteral("cribsync_triggers");

/// The table that holds the rows a statement deleted while the trigger of that name runs.
QString captureTable(const QString& trigger)
{
    return QStringLiteral("cribsync_deleted_") + trigger;
}

/// The table a DELETE (`keyword` "delete") or an UPDATE ("update") statement changes; empty
/// for any other statement.
QString changedTable(const QString& sql, const char* keyword)
{
    const QList<SqlToken> tokens = tokenizeSql(sql);
    qsizetype i = 0;
    const auto skipSpace = [&] {
        while (i < tokens.size() && tokens[i].type == SqlToken::Type::Space)
            ++i;
    };
    skipSpace();
    if (i >= tokens.size() || !tokens[i].isWord(keyword))
        return {};
    ++i;
    skipSpace();
    if (i < tokens.size() && tokens[i].isWord("from")) {
        ++i;
        skipSpace();
    }
    QString name;
    while (i < tokens.size()
        && (tokens[i].type == SqlToken::Type::Word || tokens[i].type == SqlToken::Type::Bracketed
            || tokens[i].type == SqlToken::Type::Quoted)) {
        name = tokens[i].identifier();
        if (i + 1 < tokens.size() && tokens[i + 1].isPunct('.'))
            i += 2;
        else
            break;
    }
    return name;
}

/// The text with every value compared with an integer or date-time column (":name" after
/// "column =", "<>", "<", ...) converted as SQL Server converts a text there: '' is 0 or
/// 1900-01-01, and a text that is no number is refused.
QString typedComparisons(const QString& sql, const std::function<ColumnKind(const QString&)>& kindOf)
{
    if (!sql.contains(QLatin1Char(':')))
        return sql;
    const QList<SqlToken> tokens = tokenizeSql(sql);
    QString out;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.type != SqlToken::Type::Placeholder) {
            out += t.text;
            continue;
        }
        qsizetype j = i - 1;
        const auto skipSpace = [&] {
            while (j >= 0 && tokens[j].type == SqlToken::Type::Space)
                --j;
        };
        skipSpace();
        int operators = 0;
        while (j >= 0 && operators < 2
            && (tokens[j].isPunct('=') || tokens[j].isPunct('<') || tokens[j].isPunct('>') || tokens[j].isPunct('!'))) {
            --j;
            ++operators;
        }
        skipSpace();
        const bool column = operators > 0 && j >= 0
            && (tokens[j].type == SqlToken::Type::Word || tokens[j].type == SqlToken::Type::Bracketed
                || tokens[j].type == SqlToken::Type::Quoted);
        const ColumnKind kind = column ? kindOf(tokens[j].identifier()) : ColumnKind::Other;
        if (kind == ColumnKind::Integer || kind == ColumnKind::AutoIncrement)
            out += QStringLiteral("cribsync_int(") + t.text + QLatin1Char(')');
        else if (kind == ColumnKind::DateTime)
            out += QStringLiteral("cribsync_datetime(") + t.text + QLatin1Char(')');
        else
            out += t.text;
    }
    return out;
}

/// SQL Server's conversion of a text compared with an integer column.
void convertToInteger(sqlite3_context* context, int, sqlite3_value** arguments)
{
    sqlite3_value* value = arguments[0];
    if (sqlite3_value_type(value) != SQLITE_TEXT) {
        sqlite3_result_value(context, value);
        return;
    }
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(value))).trimmed();
    bool ok = text.isEmpty();
    const qlonglong number = ok ? 0 : text.toLongLong(&ok);
    if (ok) {
        sqlite3_result_int64(context, number);
        return;
    }
    const QByteArray message
        = QStringLiteral("Conversion failed when converting the nvarchar value '%1' to data type int.")
              .arg(text)
              .toUtf8();
    sqlite3_result_error(context, message.constData(), int(message.size()));
}

/// SQL Server's conversion of '' compared with a date-time column.
void convertToDateTime(sqlite3_context* context, int, sqlite3_value** arguments)
{
    sqlite3_value* value = arguments[0];
    if (sqlite3_value_type(value) == SQLITE_TEXT && sqlite3_value_bytes(value) == 0)
        sqlite3_result_text(context, "1900-01-01T00:00:00", -1, SQLITE_STATIC);
    else
        sqlite3_result_value(context, value);
}

/// The SQL state SQL Server gives the failures the embedded engine reports as it does.
QString stateOfMessage(const QString& message, const QString& fallback)
{
    if (message.startsWith(QLatin1String("Conversion failed")))
        return QStringLiteral("22018");
    if (message.contains(QLatin1String("String or binary data would be truncated")))
        return QStringLiteral("22001");
    return fallback;
}

/// A trigger's body with its `deleted` read from the trigger's capture table.
QString readingCapture(const QString& body, const QString& trigger)
{
    QString out;
    for (const SqlToken& t : tokenizeSql(body))
        out += t.isWord("deleted") ? bracketed(captureTable(trigger)) : t.text;
    return out;
}

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("cribsync-sqlite-%1").arg(counter.fetchAndAddRelaxed(1));
}

QString errorText(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

QString stateOf(const QSqlError& error)
{
    return DbError::sqliteState(error.nativeErrorCode().toInt());
}

QString stripGroupNumber(const QString& procedure)
{
    const int semicolon = procedure.indexOf(QLatin1Char(';'));
    const QString name = semicolon >= 0 ? procedure.left(semicolon) : procedure;
    return name.trimmed().remove(QLatin1Char('[')).remove(QLatin1Char(']')).section(QLatin1Char('.'), -1);
}

/// Bounds the per-engine caches of texts: a caller that sends ever new texts cannot grow them.
template <typename Value> void keepBounded(QHash<QString, Value>& cache, qsizetype limit = 512)
{
    if (cache.size() >= limit)
        cache.clear();
}

QString firstWord(const QString& sql)
{
    return sql.trimmed().section(QLatin1Char(' '), 0, 0).toLower();
}

} // namespace

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

/// What every connection of the process can share, since it depends on the text alone or on the
/// text and the file's schema: each cycle's fresh local connection would otherwise adapt and
/// describe its statements again.
template <typename Value> struct Shared
{
    QMutex mutex;
    QHash<QString, Value> values;

    std::optional<Value> find(const QString& key)
    {
        QMutexLocker lock(&mutex);
        const auto it = values.constFind(key);
        return it == values.constEnd() ? std::nullopt : std::optional<Value>(*it);
    }
    void keep(const QString& key, const Value& value)
    {
        QMutexLocker lock(&mutex);
        keepBounded(values, 1024);
        values.insert(key, value);
    }
};

/// A result's description, as a file's schema gives it for a text.
struct Description
{
    QList<ColumnInfo> columns;
    QList<ColumnKind> kinds;
    QList<bool> typedByValue;
};

Shared<Description>& sharedDescriptions()
{
    static Shared<Description> shared;
    return shared;
}

/// A text with its WHERE literals lifted out.
struct Shape
{
    QString text;
    QVariantList literals;
};

/// The shape of a text, lexed once for all connections: the fixed texts of every cycle (the
/// pending-rows queries) come again and again.
Shape shapeOf(const QString& tsql)
{
    static Shared<Shape> shapes;
    if (std::optional<Shape> known = shapes.find(tsql))
        return *std::move(known);
    Shape shape;
    shape.text = sqlite::literalShape(tsql, &shape.literals);
    shapes.keep(tsql, shape);
    return shape;
}

} // namespace

SqliteEngine::SqliteEngine(const QString& file, OpenMode mode)
    : m_connectionName(nextConnectionName())
    , m_file(file)
    , m_procedures(*this)
{
    const QFileInfo info(file);
    if (mode == OpenMode::ExistingFile && !info.exists())
        throw DbError(QStringLiteral("Cannot open database \"%1\": the file %2 does not exist")
                          .arg(info.completeBaseName(), QDir::toNativeSeparators(info.absoluteFilePath())),
            QStringLiteral("08001"));
    sqlite::mendSideFiles(file);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(file);
    // Several agents may share one embedded remote database: wait for each other's writes.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open()) {
        const QString message = errorText(db.lastError());
        const QString state = stateOf(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw DbError(QStringLiteral("Cannot open database file %1: %2").arg(file, message), state);
    }
    const QVariant handle = db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") == 0)
        m_handle = *static_cast<sqlite3* const*>(handle.constData());
    try {
        if (!m_handle)
            throw DbError(QStringLiteral("the SQLite driver gave no connection handle"));
        for (const auto& [name, function] :
            {std::pair{"cribsync_int", &convertToInteger}, std::pair{"cribsync_datetime", &convertToDateTime}}) {
            sqlite3_create_function_v2(
                m_handle, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, function, nullptr, nullptr, nullptr);
        }
        runSql(QStringLiteral("PRAGMA journal_mode=WAL"), {}, false);
        runSql(QStringLiteral("PRAGMA synchronous=NORMAL"), {}, false);
        // A file that is not a database fails only at its first read: the schema stamp's.
        schemaStamp();
        m_identity = sqlite::FileIdentity::of(file);
    } catch (const DbError& e) {
        m_plans.clear();
        m_statements.clear();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw DbError(QStringLiteral("Cannot open database file %1: %2").arg(file, e.message()), e.sqlState());
    }
}

SqliteEngine::~SqliteEngine()
{
    // Finalized before the connection closes.
    m_plans.clear();
    m_statements.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

ResultSet SqliteEngine::query(const QString& sql, const NamedValues& values, qsizetype maxRows)
{
    return run(sql, values, true, maxRows).rows;
}

qint64 SqliteEngine::execute(const QString& sql, const NamedValues& values)
{
    return run(sql, values, false).affected;
}

SqliteEngine::StepResult SqliteEngine::run(
    const QString& tsql, const NamedValues& values, bool wantRows, qsizetype maxRows)
{
    const Shape shaped = shapeOf(tsql);
    const QString& shape = shaped.text;
    const QVariantList& literals = shaped.literals;
    // Held while it runs: a procedure it calls may clear the plans kept.
    const std::shared_ptr<Plan> planned = plan(shape, tsql);
    StepResult last;
    for (PlannedStep& step : planned->steps) {
        if (!guardHolds(step.step))
            continue;
        last = runStep(step, values, literals, wantRows, maxRows);
    }
    if (wantRows && !last.rows.hasResult)
        last.rows.baseTable = planned->baseTable;
    return last;
}

std::shared_ptr<SqliteEngine::Plan> SqliteEngine::plan(const QString& shape, const QString& tsql)
{
    if (const auto it = m_plans.constFind(shape); it != m_plans.constEnd())
        return *it;
    // Adapted by an earlier connection: a copy without its prepared statements.
    static Shared<std::shared_ptr<const Plan>> adapted;
    if (const std::optional<std::shared_ptr<const Plan>> known = adapted.find(shape)) {
        auto plan = std::make_shared<Plan>(**known);
        keepBounded(m_plans);
        m_plans.insert(shape, plan);
        return plan;
    }
    QList<AdaptedStep> steps;
    try {
        steps = SqliteAdapter::adapt(shape);
    } catch (const DbError&) {
        if (shape == tsql)
            throw;
        SqliteAdapter::adapt(tsql); // refused as written, with the text as written in the message
        throw;
    }
    auto plan = std::make_shared<Plan>();
    for (const AdaptedStep& step : steps) {
        PlannedStep planned;
        planned.step = step;
        if (step.kind == AdaptedStep::Kind::Sql) {
            QStringList names;
            const QString keyword = firstWord(step.sql);
            QString table = baseTableOf(step.sql);
            if (table.isEmpty())
                table = changedTable(step.sql, keyword == QLatin1String("update") ? "update" : "delete");
            const QString typed = table.isEmpty() ? step.sql : typedComparisons(step.sql, [&](const QString& column) {
                for (const ColumnInfo& c : layout(table)) {
                    if (c.name.compare(column, Qt::CaseInsensitive) == 0)
                        return c.kind;
                }
                return ColumnKind::Other;
            });
            planned.sql = positionalPlaceholders(typed, &names);
            for (const QString& name : names) {
                Source source;
                if (name.startsWith(QLatin1Char('#')))
                    source.literal = name.mid(1).toInt();
                else
                    source.placeholder = name;
                planned.sources << source;
            }
            planned.baseTable = baseTableOf(step.sql);
            planned.changesSchema = keyword == QLatin1String("alter") || keyword == QLatin1String("create")
                || keyword == QLatin1String("drop");
            if (keyword == QLatin1String("delete"))
                planned.deleteTarget = changedTable(step.sql, "delete");
        }
        plan->steps << planned;
    }
    plan->baseTable = baseTableOf(shape);
    adapted.keep(shape, std::make_shared<const Plan>(*plan));
    keepBounded(m_plans);
    m_plans.insert(shape, plan);
    return plan;
}

bool SqliteEngine::guardHolds(const AdaptedStep& step)
{
    switch (step.guard) {
    case AdaptedStep::Guard::None:
        return true;
    case AdaptedStep::Guard::ObjectExists:
        return objectExists(step.guardObject, step.guardType);
    case AdaptedStep::Guard::ColumnExists:
    case AdaptedStep::Guard::ColumnMissing: {
        checkSchemaVersion();
        bool found = false;
        for (const ColumnInfo& c : layout(step.guardObject))
            found = found || c.name.compare(step.guardColumn, Qt::CaseInsensitive) == 0;
        return step.guard == AdaptedStep::Guard::ColumnExists ? found : !found;
    }
    }
    return true;
}

SqliteEngine::StepResult SqliteEngine::runStep(
    PlannedStep& planned, const NamedValues& values, const QVariantList& literals, bool wantRows, qsizetype maxRows)
{
    const AdaptedStep& step = planned.step;
    StepResult result;
    switch (step.kind) {
    case AdaptedStep::Kind::Sql: {
        if (!planned.deleteTarget.isEmpty()) {
            const QList<StatementTrigger> triggers = triggersOn(planned.deleteTarget);
            if (!triggers.isEmpty())
                return runTriggered(planned, values, literals, wantRows, maxRows, triggers);
        }
        return runSqlStep(planned, values, literals, wantRows, maxRows);
    }
    case AdaptedStep::Kind::Exec: {
        m_procedures.exec(step.name, step.args, values);
        return result;
    }
    case AdaptedStep::Kind::NameProbe: {
        checkSchemaVersion();
        result.rows.columns = {ColumnInfo{QStringLiteral("name"), ColumnKind::Text, false, QStringLiteral("sysname")}};
        QStringList names;
        if (const auto procedure = findProcedure(step.name)) {
            for (const ProcParameter& p : procedure->parameters())
                names << p.name;
        } else if (objectExists(step.name, QStringLiteral("usertable"))
            || objectExists(step.name, QStringLiteral("view"))) {
            for (const ColumnInfo& c : layout(step.name))
                names << c.name;
        } else {
            return result; // no such object: no result set, as the server gives none
        }
        result.rows.hasResult = true;
        for (const QString& n : names)
            result.rows.rows.append(QVariantList{n});
        return result;
    }
    case AdaptedStep::Kind::Install:
        install(step.name, step.onTable);
        return result;
    case AdaptedStep::Kind::Drop:
        drop(step.name, step.objectType);
        return result;
    }
    return result;
}

SqliteEngine::StepResult SqliteEngine::runSqlStep(
    PlannedStep& planned, const NamedValues& values, const QVariantList& literals, bool wantRows, qsizetype maxRows)
{
    StepResult result;
    QVariantList positional;
    positional.reserve(planned.sources.size());
    // Generated statements give their values in the order of their placeholders: look there first.
    const QList<QPair<QString, QVariant>> items = values.items();
    qsizetype next = 0;
    for (const Source& source : planned.sources) {
        if (source.literal >= 0) {
            positional << literals.value(source.literal);
            continue;
        }
        if (next < items.size()
            && (items[next].first == source.placeholder
                || items[next].first.compare(source.placeholder, Qt::CaseInsensitive) == 0)) {
            positional << items[next++].second;
            continue;
        }
        if (!values.contains(source.placeholder))
            throw DbError(QStringLiteral("No value was given for the parameter :%1").arg(source.placeholder));
        positional << values.value(source.placeholder);
    }
    // The step keeps its statement: the text is not looked up again for every row.
    if (!planned.prepared)
        planned.prepared = prepare(planned.sql);
    result = runPrepared(planned.prepared, planned.sql, positional, wantRows, maxRows);
    if (result.rows.hasResult)
        result.rows.baseTable = planned.baseTable;
    if (planned.changesSchema && (!wantRows || !result.rows.hasResult))
        forgetSchema();
    return result;
}

SqliteEngine::StepResult SqliteEngine::runTriggered(PlannedStep& planned, const NamedValues& values,
    const QVariantList& literals, bool wantRows, qsizetype maxRows, const QList<StatementTrigger>& triggers)
{
    // The statement and its triggers are one: a trigger that fails undoes the statement.
    const bool own = !transactionOpen();
    const QString savepoint = QStringLiteral("cribsync_statement");
    runSql(own ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("SAVEPOINT ") + savepoint, {}, false);
    const bool wasOpen = m_statementOpen;
    m_statementOpen = true;
    try {
        // Rows a procedure's own DELETE left there belong to no statement of a caller.
        for (const StatementTrigger& t : triggers)
            runSql(QStringLiteral("DELETE FROM ") + bracketed(captureTable(t.name)), {}, false);
        const StepResult result = runSqlStep(planned, values, literals, wantRows, maxRows);
        for (const StatementTrigger& t : triggers) {
            m_procedures.call({t.name, QString(), t.body}, {});
            runSql(QStringLiteral("DELETE FROM ") + bracketed(captureTable(t.name)), {}, false);
        }
        m_statementOpen = wasOpen;
        runSql(own ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE ") + savepoint, {}, false);
        return result;
    } catch (...) {
        m_statementOpen = wasOpen;
        if (own) {
            runQuietly(QStringLiteral("ROLLBACK"));
        } else {
            runQuietly(QStringLiteral("ROLLBACK TO ") + savepoint);
            runQuietly(QStringLiteral("RELEASE ") + savepoint);
        }
        throw;
    }
}

QList<SqliteEngine::StatementTrigger> SqliteEngine::triggersOn(const QString& table)
{
    checkSchemaVersion();
    if (m_triggersGeneration != m_layoutGeneration) {
        m_triggers.clear();
        if (objectExists(kTriggerTable, QStringLiteral("usertable"))) {
            // Only while SQLite still has the trigger: dropping its table drops it too.
            const ResultSet rows = runSql(QStringLiteral("SELECT t.name, t.table_name, t.body FROM %1 t JOIN "
                                                         "sqlite_master m ON m.type = 'trigger' AND m.name = t.name "
                                                         "COLLATE NOCASE")
                                              .arg(kTriggerTable),
                {}, true)
                                       .rows;
            for (const QVariantList& row : rows.rows)
                m_triggers.append({row.value(0).toString(), row.value(1).toString(), row.value(2).toString()});
        }
        m_triggersGeneration = m_layoutGeneration;
    }
    QList<StatementTrigger> on;
    for (const StatementTrigger& t : m_triggers) {
        if (t.table.compare(table, Qt::CaseInsensitive) == 0)
            on.append(t);
    }
    return on;
}

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
    keepBounded(m_statements, 256);
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
        QString message = QString::fromUtf8(sqlite3_errmsg(m_handle));
        static const QString lengthCheck = QStringLiteral("CHECK constraint failed: cribsync_length_");
        if (message.startsWith(lengthCheck))
            message = QStringLiteral("String or binary data would be truncated in column '%1'.")
                          .arg(message.mid(lengthCheck.size()));
        message = sqlite::explained(m_file, sqlite3_extended_errcode(m_handle), message);
        const QString state = stateOfMessage(message, handleState());
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
    // SQLite's row trigger only collects the deleted rows; the statement runs the body once.
    QStringList definitions;
    QStringList names;
    QStringList old;
    for (const ColumnInfo& c : columns) {
        definitions << bracketed(c.name) + QLatin1Char(' ') + c.typeName;
        names << bracketed(c.name);
        old << QStringLiteral("old.") + bracketed(c.name);
    }
    const QString capture = bracketed(captureTable(trigger.name));
    runSql(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY COLLATE NOCASE, table_name TEXT NOT "
                          "NULL, body TEXT NOT NULL)")
               .arg(kTriggerTable),
        {}, false);
    runSql(QStringLiteral("DROP TABLE IF EXISTS ") + capture, {}, false);
    runSql(QStringLiteral("CREATE TABLE %1 (%2)").arg(capture, definitions.join(QStringLiteral(", "))), {}, false);
    runSql(
        QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 FOR EACH ROW BEGIN INSERT INTO %3 (%4) VALUES (%5); END")
            .arg(bracketed(trigger.name), bracketed(table), capture, names.join(QStringLiteral(", ")),
                old.join(QStringLiteral(", "))),
        {}, false);
    runSql(QStringLiteral("INSERT OR REPLACE INTO %1 (name, table_name, body) VALUES (?, ?, ?)").arg(kTriggerTable),
        {trigger.name, table, readingCapture(trigger.body, trigger.name)}, false);
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
    if (type == QLatin1String("trigger") && objectExists(kTriggerTable, QStringLiteral("usertable"))) {
        runSql(QStringLiteral("DELETE FROM %1 WHERE name = ? COLLATE NOCASE").arg(kTriggerTable), {name}, false);
        runSql(QStringLiteral("DROP TABLE IF EXISTS ") + bracketed(captureTable(name)), {}, false);
    }
    forgetSchema();
}

void SqliteEngine::beginTransaction()
{
    // The write lock first: a deferred transaction that reads before it writes is refused at once
    // when another connection wrote in between, instead of waiting its turn.
    runSql(QStringLiteral("BEGIN IMMEDIATE"), {}, false);
    m_transactionOpen = true;
}

void SqliteEngine::commit()
{
    runSql(QStringLiteral("COMMIT"), {}, false);
    m_transactionOpen = false;
}

void SqliteEngine::rollback()
{
    runQuietly(QStringLiteral("ROLLBACK"));
    m_transactionOpen = false;
}

} // namespace db
