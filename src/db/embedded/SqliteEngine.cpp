#include "db/embedded/SqliteEngine.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/embedded/SharedCache.h"
#include "db/embedded/SqliteConversions.h"
#include "db/embedded/SqliteValues.h"
#include "db/embedded/StatementTriggers.h"
#include "db/embedded/WhereLiterals.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>

namespace db {

namespace {

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

QString firstWord(const QString& sql)
{
    return sql.trimmed().section(QLatin1Char(' '), 0, 0).toLower();
}

} // namespace

namespace {

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
    static sqlite::Shared<Shape> shapes;
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
        sqlite::addConversions(m_handle);
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
    static sqlite::Shared<std::shared_ptr<const Plan>> adapted;
    if (const std::optional<std::shared_ptr<const Plan>> known = adapted.find(shape)) {
        auto plan = std::make_shared<Plan>(**known);
        sqlite::keepBounded(m_plans);
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
            const QString typed
                = table.isEmpty() ? step.sql : sqlite::typedComparisons(step.sql, [&](const QString& column) {
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
    sqlite::keepBounded(m_plans);
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
            checkSchemaVersion();
            const QList<sqlite::StatementTriggers::Trigger> triggers
                = m_statementTriggers.on(*this, planned.deleteTarget, m_layoutGeneration);
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
    const QVariantList& literals, bool wantRows, qsizetype maxRows,
    const QList<sqlite::StatementTriggers::Trigger>& triggers)
{
    // The statement and its triggers are one: a trigger that fails undoes the statement.
    const bool own = !transactionOpen();
    const QString savepoint = QStringLiteral("cribsync_statement");
    runSql(own ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("SAVEPOINT ") + savepoint, {}, false);
    const bool wasOpen = m_statementOpen;
    m_statementOpen = true;
    try {
        // Rows a procedure's own DELETE left there belong to no statement of a caller.
        for (const sqlite::StatementTriggers::Trigger& t : triggers)
            sqlite::StatementTriggers::emptyCapture(*this, t.name);
        const StepResult result = runSqlStep(planned, values, literals, wantRows, maxRows);
        for (const sqlite::StatementTriggers::Trigger& t : triggers) {
            m_procedures.call({t.name, QString(), t.body}, {});
            sqlite::StatementTriggers::emptyCapture(*this, t.name);
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
