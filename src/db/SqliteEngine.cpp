#include "db/SqliteEngine.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>

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

QString dateTimeText(const QDateTime& value)
{
    return value.toString(
        value.time().msec() ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz") : QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QVariant toSqlite(const QVariant& value)
{
    if (value.isNull())
        return QVariant();
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return dateTimeText(value.toDateTime());
    case QMetaType::QDate:
        return dateTimeText(value.toDate().startOfDay());
    case QMetaType::QTime:
        return dateTimeText(QDateTime(QDate(1899, 12, 30), value.toTime()));
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
    case ColumnKind::DateTime: {
        if (value.typeId() != QMetaType::QString)
            return value;
        QString text = value.toString().trimmed();
        if (text.size() == 10)
            text += QStringLiteral("T00:00:00");
        if (text.size() > 10 && text[10] == QLatin1Char(' '))
            text[10] = QLatin1Char('T');
        const QDateTime dt = QDateTime::fromString(text, Qt::ISODateWithMs);
        return dt.isValid() ? QVariant(dt) : value;
    }
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

QString stripGroupNumber(const QString& procedure)
{
    const int semicolon = procedure.indexOf(QLatin1Char(';'));
    const QString name = semicolon >= 0 ? procedure.left(semicolon) : procedure;
    return name.trimmed().remove(QLatin1Char('[')).remove(QLatin1Char(']')).section(QLatin1Char('.'), -1);
}

/// Position of the first top-level THEN of an "IF cond THEN statement" line, outside CASE ... END.
int thenPosition(const QString& statement)
{
    int caseDepth = 0;
    int parenDepth = 0;
    int offset = 0;
    for (const SqlToken& t : tokenizeSql(statement)) {
        if (t.isPunct('('))
            ++parenDepth;
        else if (t.isPunct(')'))
            --parenDepth;
        else if (t.isWord("case"))
            ++caseDepth;
        else if (t.isWord("end") && caseDepth > 0)
            --caseDepth;
        else if (t.isWord("then") && caseDepth == 0 && parenDepth == 0)
            return offset;
        offset += t.text.size();
    }
    return -1;
}

} // namespace

SqliteEngine::SqliteEngine(const QString& file, OpenMode mode)
    : m_connectionName(nextConnectionName())
    , m_file(file)
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
    QSqlQuery pragma(db);
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    // A file that is not a database fails only at its first read.
    if (!pragma.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        const QString message = errorText(pragma.lastError());
        const QString state = stateOf(pragma.lastError());
        pragma = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw DbError(QStringLiteral("Cannot open database file %1: %2").arg(file, message), state);
    }
}

SqliteEngine::~SqliteEngine()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase SqliteEngine::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
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
    StepResult last;
    for (const AdaptedStep& step : SqliteAdapter::adapt(tsql)) {
        if (!guardHolds(step))
            continue;
        last = runStep(step, values, wantRows);
    }
    if (wantRows && !last.rows.hasResult)
        last.rows.baseTable = baseTableOf(tsql);
    return last;
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
        bool found = false;
        for (const ColumnInfo& c : layout(step.guardObject))
            found = found || c.name.compare(step.guardColumn, Qt::CaseInsensitive) == 0;
        return step.guard == AdaptedStep::Guard::ColumnExists ? found : !found;
    }
    }
    return true;
}

SqliteEngine::StepResult SqliteEngine::runStep(const AdaptedStep& step, const NamedValues& values, bool wantRows)
{
    StepResult result;
    switch (step.kind) {
    case AdaptedStep::Kind::Sql: {
        QStringList names;
        const QString sql = positionalPlaceholders(step.sql, &names);
        QVariantList positional;
        for (const QString& name : names) {
            if (!values.contains(name))
                throw DbError(QStringLiteral("No value was given for the parameter :%1").arg(name));
            positional << values.value(name);
        }
        result = runSql(sql, positional, wantRows);
        if (result.rows.hasResult)
            result.rows.baseTable = baseTableOf(step.sql);
        if (!wantRows || !result.rows.hasResult) {
            const QString keyword = step.sql.trimmed().section(QLatin1Char(' '), 0, 0).toLower();
            if (keyword == QLatin1String("alter") || keyword == QLatin1String("create")
                || keyword == QLatin1String("drop"))
                m_layouts.clear();
        }
        return result;
    }
    case AdaptedStep::Kind::Exec: {
        callPositionally(step.name, evaluate(step.args, {}, values));
        return result;
    }
    case AdaptedStep::Kind::NameProbe: {
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

SqliteEngine::StepResult SqliteEngine::runSql(const QString& sql, const QVariantList& positional, bool wantRows)
{
    StepResult result;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    for (const QVariant& v : positional)
        q.addBindValue(toSqlite(v));
    if (!q.exec())
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    result.affected = q.numRowsAffected();
    if (!wantRows || !q.isSelect())
        return result;

    const QString base = baseTableOf(sql);
    QHash<QString, ColumnInfo> known;
    if (!base.isEmpty()) {
        for (const ColumnInfo& c : layout(base))
            known.insert(c.name.toLower(), c);
    }
    const QSqlRecord record = q.record();
    result.rows.hasResult = true;
    QList<ColumnKind> kinds;
    for (int i = 0; i < record.count(); ++i) {
        const QSqlField field = record.field(i);
        ColumnInfo info;
        info.name = field.name();
        if (const auto it = known.constFind(info.name.toLower()); it != known.constEnd()) {
            info.kind = it->kind;
            info.primaryKey = it->primaryKey;
            info.typeName = it->typeName;
            kinds << info.kind;
        } else {
            // An expression has no declared type: keep the value as SQLite stored it.
            info.kind = columnKindFromMetaType(field.metaType());
            kinds << ColumnKind::Other;
        }
        result.rows.columns << info;
    }
    while (q.next()) {
        QVariantList row;
        row.reserve(record.count());
        for (int i = 0; i < record.count(); ++i)
            row << fromSqlite(q.value(i), kinds[i]);
        result.rows.rows << row;
    }
    if (q.lastError().isValid())
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    return result;
}

QList<ColumnInfo> SqliteEngine::layout(const QString& table)
{
    // Another connection may have changed the schema since the layouts were read.
    QSqlQuery version(database());
    if (version.exec(QStringLiteral("PRAGMA schema_version")) && version.next()) {
        const qint64 current = version.value(0).toLongLong();
        if (current != m_schemaVersion) {
            m_layouts.clear();
            m_schemaVersion = current;
        }
    }
    const QString key = table.toLower();
    if (const auto it = m_layouts.constFind(key); it != m_layouts.constEnd())
        return *it;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(bracketed(table))))
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    QList<ColumnInfo> columns;
    int keyCount = 0;
    while (q.next()) {
        ColumnInfo c;
        c.name = q.value(1).toString();
        c.typeName = q.value(2).toString();
        c.primaryKey = q.value(5).toInt() > 0;
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
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type IN ('table','view') "
                               "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND name <> '%1' "
                               "ORDER BY name COLLATE NOCASE")
                    .arg(kProcedureTable)))
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    QStringList names;
    while (q.next())
        names << q.value(0).toString();
    return names;
}

QStringList SqliteEngine::procedures()
{
    QStringList names;
    if (!objectExists(kProcedureTable, QStringLiteral("usertable")))
        return names;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SELECT name FROM %1 ORDER BY name COLLATE NOCASE").arg(kProcedureTable)))
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    while (q.next())
        names << q.value(0).toString() + QStringLiteral(";1");
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
    return QList<ProcParameter>{returnValue} + definition->parameters();
}

QVariant SqliteEngine::callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values)
{
    const auto definition = findProcedure(stripGroupNumber(procedure));
    if (!definition)
        throw DbError(QStringLiteral("Could not find stored procedure '%1'.").arg(stripGroupNumber(procedure)));
    return runProcedure(*definition, values);
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
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE"));
    q.addBindValue(kind);
    q.addBindValue(name);
    if (!q.exec())
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    return q.next();
}

std::optional<EmbeddedProcedure> SqliteEngine::findProcedure(const QString& name)
{
    QSqlQuery q(database());
    q.prepare(
        QStringLiteral("SELECT name, parameters, body FROM %1 WHERE name = ? COLLATE NOCASE").arg(kProcedureTable));
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return EmbeddedProcedure{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
}

void SqliteEngine::installProcedure(const EmbeddedProcedure& procedure)
{
    procedure.parameters(); // refuse a malformed declaration before storing it
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY COLLATE NOCASE, "
                               "parameters TEXT NOT NULL DEFAULT '', body TEXT NOT NULL)")
                    .arg(kProcedureTable)))
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
    q.prepare(
        QStringLiteral("INSERT OR REPLACE INTO %1 (name, parameters, body) VALUES (?, ?, ?)").arg(kProcedureTable));
    q.addBindValue(procedure.name);
    q.addBindValue(procedure.parametersText);
    q.addBindValue(procedure.body);
    if (!q.exec())
        throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
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
        QSqlQuery q(database());
        q.prepare(QStringLiteral("DELETE FROM %1 WHERE name = ? COLLATE NOCASE").arg(kProcedureTable));
        q.addBindValue(name);
        if (!q.exec())
            throw DbError(errorText(q.lastError()), stateOf(q.lastError()));
        return;
    }
    runSql(QStringLiteral("DROP %1 %2").arg(type.toUpper(), bracketed(name)), {}, false);
    m_layouts.clear();
}

void SqliteEngine::callPositionally(const QString& name, const QVariantList& args)
{
    const auto procedure = findProcedure(name);
    if (!procedure)
        throw DbError(QStringLiteral("Could not find stored procedure '%1'.").arg(name));
    const QList<ProcParameter> declared = procedure->parameters();
    if (args.size() > declared.size())
        throw DbError(QStringLiteral("Procedure or function %1 has too many arguments specified.").arg(name));
    QList<QPair<QString, QVariant>> named;
    for (int i = 0; i < args.size(); ++i)
        named.append({declared[i].name, args[i]});
    runProcedure(*procedure, named);
}

namespace {

/// Bounds the per-engine caches of texts: a caller that sends ever new texts cannot grow them.
template <typename Value> void keepBounded(QHash<QString, Value>& cache)
{
    if (cache.size() >= 512)
        cache.clear();
}

} // namespace

SqliteEngine::Compiled SqliteEngine::compile(
    const QString& key, const QString& prefix, const QStringList& parts, bool bindPlaceholders)
{
    if (const auto it = m_compiled.constFind(key); it != m_compiled.constEnd())
        return *it;
    Compiled compiled;
    compiled.sql = prefix;
    for (int i = 0; i < parts.size(); ++i) {
        if (i)
            compiled.sql += QStringLiteral(", ");
        for (const SqlToken& t : tokenizeSql(parts[i])) {
            if (t.type == SqlToken::Type::Variable) {
                compiled.sql += QLatin1Char('?');
                compiled.references.append({true, t.text.toLower(), t.text});
            } else if (t.type == SqlToken::Type::Placeholder && bindPlaceholders) {
                compiled.sql += QLatin1Char('?');
                compiled.references.append({false, t.text.mid(1), t.text});
            } else {
                compiled.sql += t.text;
            }
        }
    }
    keepBounded(m_compiled);
    m_compiled.insert(key, compiled);
    return compiled;
}

QVariantList SqliteEngine::bind(
    const Compiled& compiled, const QHash<QString, QVariant>& variables, const NamedValues& placeholders) const
{
    QVariantList positional;
    positional.reserve(compiled.references.size());
    for (const Compiled::Reference& r : compiled.references) {
        if (r.variable) {
            const auto it = variables.constFind(r.name);
            if (it == variables.constEnd())
                throw DbError(QStringLiteral("Must declare the scalar variable \"%1\".").arg(r.text));
            positional << *it;
        } else {
            if (!placeholders.contains(r.name))
                throw DbError(QStringLiteral("No value was given for the parameter :%1").arg(r.name));
            positional << placeholders.value(r.name);
        }
    }
    return positional;
}

QVariantList SqliteEngine::evaluate(
    const QStringList& expressions, const QHash<QString, QVariant>& variables, const NamedValues& placeholders)
{
    if (expressions.isEmpty())
        return {};
    const Compiled compiled = compile(
        QStringLiteral("E\x1f") + expressions.join(QChar(0x1f)), QStringLiteral("SELECT "), expressions, true);
    const ResultSet rows = runSql(compiled.sql, bind(compiled, variables, placeholders), true).rows;
    return rows.rows.isEmpty() ? QVariantList() : rows.rows.first();
}

QVariant SqliteEngine::runProcedure(const EmbeddedProcedure& procedure, const QList<QPair<QString, QVariant>>& values)
{
    const QList<ProcParameter> declared = procedure.parameters();
    QHash<QString, QVariant> variables;
    for (const auto& value : values) {
        bool known = false;
        for (const ProcParameter& p : declared)
            known = known || p.name.compare(value.first, Qt::CaseInsensitive) == 0;
        if (!known && value.first.compare(QLatin1String("@RETURN_VALUE"), Qt::CaseInsensitive) != 0)
            throw DbError(QStringLiteral("%1 is not a parameter for procedure %2.").arg(value.first, procedure.name));
        variables.insert(value.first.toLower(), value.second);
    }
    for (const ProcParameter& p : declared) {
        if (variables.contains(p.name.toLower()))
            continue;
        if (!p.hasDefault)
            throw DbError(QStringLiteral("Procedure or function '%1' expects parameter '%2', which was not supplied.")
                              .arg(procedure.name, p.name));
        variables.insert(p.name.toLower(), evaluate({procedure.defaultOf(p.name)}, {}, {}).value(0));
    }

    // A body reads before it writes. In a deferred transaction the read pins a snapshot, and
    // once another connection commits, SQLite refuses the later write at once (SQLITE_BUSY, no
    // busy wait): agents sharing one remote file failed each other's transactions. So the
    // outermost call takes the write lock first, waiting its turn as a single statement does;
    // a procedure it calls, or one called inside a transaction, runs as a savepoint.
    const bool outermost = m_procedureDepth == 0 && !m_transactionOpen;
    const QString savepoint = QStringLiteral("cribsync_procedure");
    runSql(outermost ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("SAVEPOINT ") + savepoint, {}, false);
    struct Depth
    {
        int& depth;
        explicit Depth(int& d)
            : depth(d)
        {
            ++depth;
        }
        ~Depth() { --depth; }
    } depth(m_procedureDepth);
    try {
        QVariant returnValue = 0;
        for (const QString& statement : procedure.statements()) {
            if (const auto returned = runBodyStatement(procedure, statement, variables)) {
                returnValue = *returned;
                break;
            }
        }
        runSql(outermost ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE ") + savepoint, {}, false);
        return returnValue;
    } catch (...) {
        QSqlQuery rollback(database());
        if (outermost) {
            rollback.exec(QStringLiteral("ROLLBACK"));
        } else {
            rollback.exec(QStringLiteral("ROLLBACK TO ") + savepoint);
            rollback.exec(QStringLiteral("RELEASE ") + savepoint);
        }
        throw;
    }
}

SqliteEngine::BodyForm SqliteEngine::bodyForm(const QString& statement)
{
    if (const auto it = m_bodyForms.constFind(statement); it != m_bodyForms.constEnd())
        return *it;
    static const QRegularExpression setRe(QStringLiteral(R"(^set\s+(@\w+)\s*=\s*(.+)$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression returnRe(QStringLiteral(R"(^return(?:\s+(.+))?$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression raiseRe(QStringLiteral(R"(^raiserror\s+(.+)$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression ifRe(QStringLiteral(R"(^if\s)"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression execRe(
        QStringLiteral(R"(^exec(ute)?\s)"), QRegularExpression::CaseInsensitiveOption);

    BodyForm form;
    const QString s = statement.trimmed();
    if (const auto m = setRe.match(s); m.hasMatch()) {
        form.kind = BodyForm::Kind::Set;
        form.variable = m.captured(1).toLower();
        form.expressions = {SqliteAdapter::translate(m.captured(2))};
    } else if (const auto m = returnRe.match(s); m.hasMatch()) {
        form.kind = BodyForm::Kind::Return;
        if (!m.captured(1).trimmed().isEmpty())
            form.expressions = {m.captured(1)};
    } else if (const auto m = raiseRe.match(s); m.hasMatch()) {
        form.kind = BodyForm::Kind::Raise;
        form.expressions = {m.captured(1)};
    } else if (ifRe.match(s).hasMatch()) {
        const int then = thenPosition(s);
        if (then < 0) {
            form.kind = BodyForm::Kind::IfWithoutThen;
            form.inner = s;
        } else {
            form.kind = BodyForm::Kind::If;
            form.expressions = {QStringLiteral("CASE WHEN (%1) THEN 1 ELSE 0 END").arg(s.mid(2, then - 2).trimmed())};
            form.inner = s.mid(then + 4).trimmed();
        }
    } else if (execRe.match(s).hasMatch()) {
        const AdaptedStep step = SqliteAdapter::adapt(s).constFirst();
        form.kind = BodyForm::Kind::Exec;
        form.name = step.name;
        form.expressions = step.args;
    } else {
        form.plain = compile(QStringLiteral("S\x1f") + s, QString(), {SqliteAdapter::translate(s)}, false);
    }
    keepBounded(m_bodyForms);
    m_bodyForms.insert(statement, form);
    return form;
}

std::optional<QVariant> SqliteEngine::runBodyStatement(
    const EmbeddedProcedure& procedure, const QString& statement, QHash<QString, QVariant>& variables)
{
    const BodyForm form = bodyForm(statement);
    switch (form.kind) {
    case BodyForm::Kind::Set:
        variables.insert(form.variable, evaluate(form.expressions, variables, {}).value(0));
        return std::nullopt;
    case BodyForm::Kind::Return:
        if (form.expressions.isEmpty())
            return QVariant(0);
        return evaluate(form.expressions, variables, {}).value(0);
    case BodyForm::Kind::Raise:
        throw DbError(evaluate(form.expressions, variables, {}).value(0).toString());
    case BodyForm::Kind::IfWithoutThen:
        throw DbError(QStringLiteral("Procedure %1: IF without THEN in \"%2\"").arg(procedure.name, form.inner));
    case BodyForm::Kind::If:
        if (evaluate(form.expressions, variables, {}).value(0).toInt() == 1)
            return runBodyStatement(procedure, form.inner, variables);
        return std::nullopt;
    case BodyForm::Kind::Exec:
        callPositionally(form.name, evaluate(form.expressions, variables, {}));
        return std::nullopt;
    case BodyForm::Kind::Plain:
        runSql(form.plain.sql, bind(form.plain, variables, {}), false);
        return std::nullopt;
    }
    return std::nullopt;
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
    QSqlQuery rollback(database());
    rollback.exec(QStringLiteral("ROLLBACK"));
    m_transactionOpen = false;
}

} // namespace db
