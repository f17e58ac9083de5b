#include "db/embedded/SqliteEngine.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <cmath>
#include <sqlite3.h>

namespace db {

namespace {

const QString kProcedureTable = QStringLiteral("cribsync_procedures");

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

QVariant toSqlite(const QVariant& value)
{
    if (value.isNull())
        return QVariant();
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return isoDateTimeText(value.toDateTime());
    case QMetaType::QDate:
        return isoDateTimeText(value.toDate().startOfDay());
    case QMetaType::QTime:
        return isoDateTimeText(QDateTime(QDate(1899, 12, 30), value.toTime()));
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    default:
        return value;
    }
}

QVariant fromSqlite(const QVariant& value, ColumnKind kind)
{
    if (value.isNull())
        return value;
    switch (kind) {
    case ColumnKind::Boolean:
        return value.toLongLong() != 0;
    case ColumnKind::Text:
        return value.toString();
    case ColumnKind::Floating:
        return value.toDouble();
    case ColumnKind::Integer:
    case ColumnKind::AutoIncrement: {
        if (value.typeId() == QMetaType::QString)
            return value;
        // SQLite keeps a number too large for 64 bits as a real: read as an integer it would wrap.
        if (value.typeId() == QMetaType::Double) {
            const double number = value.toDouble();
            if (!std::isfinite(number) || std::trunc(number) != number || std::abs(number) >= 9.2e18)
                return value;
        }
        return QVariant(value.toLongLong());
    }
    default:
        return value;
    }
}

/// The digits of `text` from `at` as a number; -1 when one of them is not a digit.
int digitsAt(QStringView text, qsizetype at, int count)
{
    int number = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        number = number * 10 + (c - u'0');
    }
    return number;
}

/// Reads "yyyy-MM-ddTHH:mm:ss" and "yyyy-MM-ddTHH:mm:ss.zzz" as QDateTime::fromString does with
/// Qt::ISODateWithMs, without its general parser; any other text goes to that parser.
QDateTime parseDateTime(const QString& text)
{
    const QStringView t(text);
    const auto is = [&](qsizetype at, char c) { return t[at] == QLatin1Char(c); };
    if ((t.size() == 19 || (t.size() == 23 && is(19, '.'))) && is(4, '-') && is(7, '-') && is(10, 'T') && is(13, ':')
        && is(16, ':')) {
        const int year = digitsAt(t, 0, 4);
        const QDate date(year, digitsAt(t, 5, 2), digitsAt(t, 8, 2));
        const int hour = digitsAt(t, 11, 2);
        const QTime time(hour, digitsAt(t, 14, 2), digitsAt(t, 17, 2), t.size() == 23 ? digitsAt(t, 20, 3) : 0);
        // Hour 24 (the end of a day) is left to Qt.
        if (year > 0 && date.isValid() && time.isValid() && hour < 24)
            return QDateTime(date, time);
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QString stripGroupNumber(const QString& procedure)
{
    const int semicolon = procedure.indexOf(QLatin1Char(';'));
    const QString name = semicolon >= 0 ? procedure.left(semicolon) : procedure;
    return name.trimmed().remove(QLatin1Char('[')).remove(QLatin1Char(']')).section(QLatin1Char('.'), -1);
}

/// Binds as Qt's SQLite driver does, so that the values stored are the same.
int bindValue(sqlite3_stmt* statement, int index, const QVariant& given)
{
    const QVariant value = toSqlite(given);
    if (value.isNull())
        return sqlite3_bind_null(statement, index);
    switch (value.typeId()) {
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob(statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::Int:
    case QMetaType::Bool:
        return sqlite3_bind_int(statement, index, value.toInt());
    case QMetaType::Double:
        return sqlite3_bind_double(statement, index, value.toDouble());
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(statement, index, value.toLongLong());
    default: {
        const QString text = value.toString();
        // The database keeps UTF-8: Qt's conversion is quicker than SQLite's and gives the same
        // bytes for valid UTF-16, which is all that is left to SQLite.
        if (QStringView(text).isValidUtf16()) {
            const QByteArray utf8 = text.toUtf8();
            return sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        return sqlite3_bind_text16(statement, index, text.utf16(), int(text.size() * sizeof(QChar)), SQLITE_TRANSIENT);
    }
    }
}

/// A column's value as Qt's SQLite driver gives it.
QVariant readValue(sqlite3_stmt* statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(statement, column));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB:
        return QByteArray(
            static_cast<const char*>(sqlite3_column_blob(statement, column)), sqlite3_column_bytes(statement, column));
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
            sqlite3_column_bytes(statement, column));
    }
}

/// The value type Qt's SQLite driver reports for a column: by its declared type, else by the
/// first row's value.
QMetaType declaredMetaType(const QString& declared, int valueType)
{
    if (!declared.isEmpty()) {
        const QString t = declared.toLower();
        if (t == QLatin1String("integer") || t == QLatin1String("int"))
            return QMetaType::fromType<int>();
        if (t == QLatin1String("double") || t == QLatin1String("float") || t == QLatin1String("real")
            || t.startsWith(QLatin1String("numeric")))
            return QMetaType::fromType<double>();
        if (t == QLatin1String("blob"))
            return QMetaType::fromType<QByteArray>();
        if (t == QLatin1String("boolean") || t == QLatin1String("bool"))
            return QMetaType::fromType<bool>();
        return QMetaType::fromType<QString>();
    }
    switch (valueType) {
    case SQLITE_INTEGER:
        return QMetaType::fromType<int>();
    case SQLITE_FLOAT:
        return QMetaType::fromType<double>();
    case SQLITE_BLOB:
        return QMetaType::fromType<QByteArray>();
    case SQLITE_TEXT:
        return QMetaType::fromType<QString>();
    default:
        return QMetaType();
    }
}

/// Marks a literal lifted out of a text; no placeholder of the agent starts with '#'.
const QString kLiteralMark = QStringLiteral(":#");

/// The text with the literals of its WHERE clauses turned into placeholders, their values in
/// `literals`: the per-row probes and lookups of a table then share one form. Only plain
/// statements are touched; a literal that the adapter reads (TOP n) or that SQLite needs as
/// written (x'..', ORDER BY n) stays.
/// Whether the text may hold a literal in a WHERE clause (a quick test before reading its
/// tokens): a quote or a number after the first "where" in any letter case. A digit within a
/// name or a placeholder (CurOnHand2, :p0) starts no number.
bool mayHoldWhereLiteral(const QString& text)
{
    const QChar* c = text.constData();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i + 5 <= n
        && !((c[i] == QLatin1Char('w') || c[i] == QLatin1Char('W'))
            && SqlTokenView::isKeyword(QStringView(c + i, 5), "where")))
        ++i;
    if (i + 5 > n)
        return false;
    const auto asciiWordChar = [](char16_t u) {
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_'
            || u == u'#' || u == u'$' || u == u'@';
    };
    for (i += 5; i < n; ++i) {
        const char16_t u = c[i].unicode();
        if (u == u'\'' || u >= 0x80)
            return true;
        if (u >= u'0' && u <= u'9' && !asciiWordChar(c[i - 1].unicode()))
            return true;
    }
    return false;
}

QString literalShape(const QString& tsql, QVariantList* literals)
{
    if (!mayHoldWhereLiteral(tsql))
        return tsql;
    SqlLexer lexer(tsql);
    SqlTokenView t;
    while (lexer.next(t) && t.type == SqlToken::Type::Space) { }
    if (!(t.isWord("select") || t.isWord("update") || t.isWord("delete") || t.isWord("insert")))
        return tsql;
    QString shape;
    shape.reserve(tsql.size());
    qsizetype copied = 0; // text before this position is in `shape`
    bool inWhere = false;
    SqlTokenView adjacent; // the token just before, blanks included
    SqlTokenView previous; // the last token that is not a blank
    SqlTokenView beforePrevious;
    do {
        if (t.type == SqlToken::Type::Word) {
            if (t.isWord("where"))
                inWhere = true;
            else if (t.isWord("order") || t.isWord("group") || t.isWord("having") || t.isWord("limit")
                || t.isWord("union") || t.isWord("except") || t.isWord("intersect"))
                inWhere = false;
        }
        if (inWhere && (t.type == SqlToken::Type::String || t.type == SqlToken::Type::Number)) {
            const bool afterTop = previous.isWord("top") || (previous.isPunct('(') && beforePrevious.isWord("top"));
            // A number SQLite reads on with what follows (0.5e1, 0x7) or a type's length
            // (varchar(10), decimal(9, 2)) is no value to bind.
            SqlLexer ahead = lexer;
            SqlTokenView following;
            const bool joined = t.type == SqlToken::Type::Number && ahead.next(following)
                && (following.type == SqlToken::Type::Word || following.type == SqlToken::Type::Number);
            const bool typeLength = t.type == SqlToken::Type::Number
                && ((previous.isPunct('(') && beforePrevious.type == SqlToken::Type::Word) || previous.isPunct(','));
            const bool blob = t.type == SqlToken::Type::String && adjacent.isWord("x");
            QVariant value;
            if (t.type == SqlToken::Type::String) {
                value = SqlToken{t.type, t.text.toString()}.stringValue();
            } else if (!t.text.contains(QLatin1Char('.'))) {
                bool ok = false;
                const qlonglong number = t.text.toLongLong(&ok);
                if (ok)
                    value = number;
            } else {
                bool ok = false;
                const double number = t.text.toDouble(&ok);
                if (ok && t.text.count(QLatin1Char('.')) == 1)
                    value = number;
            }
            if (!afterTop && !blob && !joined && !typeLength && value.isValid()) {
                const qsizetype start = t.text.data() - tsql.constData();
                // N'' marks a Unicode literal: the value is the same text.
                const qsizetype end = adjacent.isWord("N") ? start - adjacent.text.size() : start;
                shape += QStringView(tsql).sliced(copied, end - copied);
                shape += kLiteralMark;
                shape += QString::number(literals->size());
                literals->append(value);
                copied = start + t.text.size();
                // 'A2'AND is two tokens; the placeholder must not take the keyword into its name.
                if (copied < tsql.size()
                    && (tsql[copied].isLetterOrNumber() || tsql[copied] == QLatin1Char('_')
                        || tsql[copied] == QLatin1Char('@') || tsql[copied] == QLatin1Char('#')
                        || tsql[copied] == QLatin1Char('$')))
                    shape += QLatin1Char(' ');
            }
        }
        adjacent = t;
        if (t.type != SqlToken::Type::Space) {
            beforePrevious = previous;
            previous = t;
        }
    } while (lexer.next(t));
    if (copied == 0)
        return tsql;
    shape += QStringView(tsql).sliced(copied);
    return shape;
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
    sqlite3_stmt* handle = nullptr;
    int reprepares = 0;
    QString baseTable;
    bool described = false;
    quint64 layoutGeneration = 0; // of `columns`
    QList<ColumnInfo> columns;
    QList<ColumnKind> kinds; // Other keeps the value as stored
    QList<bool> typedByValue; // neither in the layout nor declared: typed by the first row's value

    ~Prepared() { sqlite3_finalize(handle); }
};

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
        runSql(QStringLiteral("PRAGMA journal_mode=WAL"), {}, false);
        runSql(QStringLiteral("PRAGMA synchronous=NORMAL"), {}, false);
        // A file that is not a database fails only at its first read.
        runSql(QStringLiteral("SELECT count(*) FROM sqlite_master"), {}, true);
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

ResultSet SqliteEngine::query(const QString& sql, const NamedValues& values)
{
    return run(sql, values, true).rows;
}

qint64 SqliteEngine::execute(const QString& sql, const NamedValues& values)
{
    return run(sql, values, false).affected;
}

SqliteEngine::StepResult SqliteEngine::run(const QString& tsql, const NamedValues& values, bool wantRows)
{
    QVariantList literals;
    const QString shape = literalShape(tsql, &literals);
    // Held while it runs: a procedure it calls may clear the plans kept.
    const std::shared_ptr<Plan> planned = plan(shape, tsql);
    StepResult last;
    for (PlannedStep& step : planned->steps) {
        if (!guardHolds(step.step))
            continue;
        last = runStep(step, values, literals, wantRows);
    }
    if (wantRows && !last.rows.hasResult)
        last.rows.baseTable = planned->baseTable;
    return last;
}

std::shared_ptr<SqliteEngine::Plan> SqliteEngine::plan(const QString& shape, const QString& tsql)
{
    if (const auto it = m_plans.constFind(shape); it != m_plans.constEnd())
        return *it;
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
            planned.sql = positionalPlaceholders(step.sql, &names);
            for (const QString& name : names) {
                Source source;
                if (name.startsWith(QLatin1Char('#')))
                    source.literal = name.mid(1).toInt();
                else
                    source.placeholder = name;
                planned.sources << source;
            }
            planned.baseTable = baseTableOf(step.sql);
            const QString keyword = firstWord(step.sql);
            planned.changesSchema = keyword == QLatin1String("alter") || keyword == QLatin1String("create")
                || keyword == QLatin1String("drop");
        }
        plan->steps << planned;
    }
    plan->baseTable = baseTableOf(shape);
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
    PlannedStep& planned, const NamedValues& values, const QVariantList& literals, bool wantRows)
{
    const AdaptedStep& step = planned.step;
    StepResult result;
    switch (step.kind) {
    case AdaptedStep::Kind::Sql: {
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
        result = runPrepared(planned.prepared, planned.sql, positional, wantRows);
        if (result.rows.hasResult)
            result.rows.baseTable = planned.baseTable;
        if (planned.changesSchema && (!wantRows || !result.rows.hasResult))
            forgetSchema();
        return result;
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
        install(step.name);
        return result;
    case AdaptedStep::Kind::Drop:
        drop(step.name, step.objectType);
        return result;
    }
    return result;
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
    prepared->baseTable = baseTableOf(sql);
    // A statement in use stays alive through its shared pointer when the cache is cleared.
    keepBounded(m_statements, 256);
    m_statements.insert(sql, prepared);
    return prepared;
}

void SqliteEngine::describe(Prepared& prepared)
{
    QHash<QString, ColumnInfo> known;
    if (!prepared.baseTable.isEmpty()) {
        for (const ColumnInfo& c : layout(prepared.baseTable))
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
            info.kind = columnKindFromMetaType(declaredMetaType(declared, -1));
            prepared.kinds << ColumnKind::Other;
        }
        prepared.columns << info;
        prepared.typedByValue << byValue;
    }
    prepared.described = true;
    prepared.layoutGeneration = m_layoutGeneration;
}

SqliteEngine::StepResult SqliteEngine::runSql(const QString& sql, const QVariantList& positional, bool wantRows)
{
    return runPrepared(prepare(sql), sql, positional, wantRows);
}

SqliteEngine::StepResult SqliteEngine::runPrepared(
    const std::shared_ptr<Prepared>& prepared, const QString& sql, const QVariantList& positional, bool wantRows)
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
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_handle));
        const QString state = handleState();
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
        if (bindValue(statement, i + 1, positional[i]) != SQLITE_OK)
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
                declaredMetaType(QString(), rc == SQLITE_ROW ? sqlite3_column_type(statement, i) : -1));
    }
    const QList<ColumnKind>& kinds = prepared->kinds;
    while (rc == SQLITE_ROW) {
        QVariantList row;
        row.reserve(columnCount);
        for (int i = 0; i < columnCount; ++i)
            row << (kinds[i] == ColumnKind::DateTime ? dateTimeOf(readValue(statement, i))
                                                     : fromSqlite(readValue(statement, i), kinds[i]));
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

QVariant SqliteEngine::dateTimeOf(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return value;
    QString text = value.toString().trimmed();
    if (text.size() == 10)
        text += QStringLiteral("T00:00:00");
    if (text.size() > 10 && text[10] == QLatin1Char(' '))
        text[10] = QLatin1Char('T');
    // Making a local date-time asks the system for the time zone (on Linux, a look at
    // /etc/localtime per value). Rows of a backlog repeat their values (the row that reveals a
    // table's columns, a source row read back after its mark): each text is converted once.
    // The values are kept a minute at most, so that a change of zone is followed.
    constexpr qint64 kLifetimeMs = 60 * 1000;
    if (m_dateTimes.size() >= 1024 || !m_dateTimesRead.isValid() || m_dateTimesRead.hasExpired(kLifetimeMs)) {
        m_dateTimes.clear();
        m_dateTimesRead.start();
    }
    auto it = m_dateTimes.constFind(text);
    if (it == m_dateTimes.constEnd())
        it = m_dateTimes.insert(text, parseDateTime(text));
    return it->isValid() ? QVariant(*it) : value;
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
    m_layouts.clear();
    ++m_layoutGeneration;
    m_schemaVersion = -1;
}

QString SqliteEngine::schemaStamp()
{
    const ResultSet version = runSql(QStringLiteral("PRAGMA schema_version"), {}, true).rows;
    return version.rows.isEmpty() ? QString() : version.rows.first().value(0).toString();
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
                                                   "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND name <> '%1' "
                                                   "ORDER BY name COLLATE NOCASE")
                                        .arg(kProcedureTable),
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

void SqliteEngine::install(const QString& name)
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
    if (objectExists(equivalent->name, QStringLiteral("trigger")))
        throw DbError(QStringLiteral("There is already an object named '%1' in the database.").arg(equivalent->name));
    runSql(equivalent->body, {}, false);
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
