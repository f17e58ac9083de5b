#include "db/odbc/OdbcEngine.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/odbc/CatalogStatement.h"
#include "db/odbc/OdbcDiagnostics.h"

#include <QAtomicInt>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

namespace db {

namespace {

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("cribsync-odbc-%1").arg(counter.fetchAndAddRelaxed(1));
}

QString errorText(const QSqlError& error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.trimmed();
}

SQLHANDLE handleOf(const QVariant& v)
{
    if (!v.isValid() || v.metaType().sizeOf() != sizeof(SQLHANDLE))
        return nullptr;
    return *static_cast<const SQLHANDLE*>(v.constData());
}

/// A failure of a statement that Qt ran: Qt's text, and the state from the statement's records.
DbError statementError(const QSqlQuery& q)
{
    return DbError(errorText(q.lastError()), odbc::diagnostics(SQL_HANDLE_STMT, handleOf(q.result()->handle())).state);
}

std::u16string wide(const QString& s)
{
    return s.toStdU16String();
}

SQLWCHAR* w(std::u16string& s)
{
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

bool isSystemTable(const QString& schema, const QString& name)
{
    // SQLite's ODBC driver reports its internal tables as ordinary ones.
    return name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive)
        || schema.compare(QLatin1String("sys"), Qt::CaseInsensitive) == 0
        || schema.compare(QLatin1String("INFORMATION_SCHEMA"), Qt::CaseInsensitive) == 0;
}

bool isSystemSchema(const QString& schema)
{
    return schema.compare(QLatin1String("sys"), Qt::CaseInsensitive) == 0
        || schema.compare(QLatin1String("INFORMATION_SCHEMA"), Qt::CaseInsensitive) == 0;
}

ParamDirection directionOf(int columnType)
{
    switch (columnType) {
    case SQL_PARAM_INPUT_OUTPUT:
        return ParamDirection::InputOutput;
    case SQL_PARAM_OUTPUT:
        return ParamDirection::Output;
    case SQL_RETURN_VALUE:
        return ParamDirection::ReturnValue;
    default:
        return ParamDirection::Input;
    }
}

QString columnTypeName(SQLHANDLE statement, int column)
{
    if (!statement)
        return {};
    SQLWCHAR buffer[128];
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLColAttributeW(
            statement, SQLUSMALLINT(column + 1), SQL_DESC_TYPE_NAME, buffer, sizeof(buffer), &length, nullptr)))
        return {};
    return QString::fromUtf16(
        reinterpret_cast<const char16_t*>(buffer), qMin<qsizetype>(length / qsizetype(sizeof(SQLWCHAR)), 127));
}

bool columnIsAutoIncrement(SQLHANDLE statement, int column)
{
    if (!statement)
        return false;
    SQLLEN value = 0;
    if (!SQL_SUCCEEDED(SQLColAttributeW(
            statement, SQLUSMALLINT(column + 1), SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &value)))
        return false;
    return value == SQL_TRUE;
}

/// Connection strings that have logged in once in this run. Their later connections (every cycle's)
/// go straight to Qt's driver, so that a login is not made twice over a slow network; the direct
/// login runs again only to name the cause when such a connection fails.
QSet<QString>& provenConnectionStrings()
{
    static QSet<QString> strings;
    return strings;
}

QVariant typedNull(const QVariant& value)
{
    // A NULL without a type makes some drivers refuse the binding; text is accepted everywhere.
    if (value.isNull() && !value.metaType().isValid())
        return QVariant(QMetaType::fromType<QString>());
    return value;
}

} // namespace

OdbcEngine::OdbcEngine(const QString& odbcConnectionString, int loginTimeoutSeconds, int statementTimeoutSeconds)
    : m_connectionName(nextConnectionName())
    , m_statementTimeout(statementTimeoutSeconds)
{
    const bool proven = provenConnectionStrings().contains(odbcConnectionString);
    if (!proven)
        odbc::checkLogin(odbcConnectionString, loginTimeoutSeconds);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_connectionName);
    db.setDatabaseName(odbcConnectionString);
    db.setConnectOptions(
        QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1").arg(loginTimeoutSeconds));
    if (!db.open()) {
        const QString message = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        if (proven) {
            provenConnectionStrings().remove(odbcConnectionString);
            odbc::checkLogin(odbcConnectionString, loginTimeoutSeconds);
        }
        throw DbError(message);
    }
    provenConnectionStrings().insert(odbcConnectionString);
}

OdbcEngine::~OdbcEngine()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase OdbcEngine::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

void* OdbcEngine::connectionHandle() const
{
    return handleOf(database().driver()->handle());
}

namespace {

/// `sql` with '?' for its placeholders, and their values in that order.
QString positional(const QString& sql, const NamedValues& values, QVariantList& bound)
{
    QStringList names;
    const QString text = positionalPlaceholders(sql, &names);
    for (const QString& name : names) {
        if (!values.contains(name))
            throw DbError(QStringLiteral("No value was given for the parameter :%1").arg(name));
        bound << typedNull(values.value(name));
    }
    return text;
}

} // namespace

QSqlQuery OdbcEngine::run(const QString& sql, const NamedValues& values)
{
    QVariantList bound;
    const QString text = positional(sql, values, bound);
    return runPositional(text, bound);
}

QSqlQuery OdbcEngine::runPositional(const QString& text, const QVariantList& bound)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.prepare(text))
        throw statementError(q);
    odbc::setQueryTimeout(handleOf(q.result()->handle()), m_statementTimeout);
    for (const QVariant& value : bound)
        q.addBindValue(value);
    if (!q.exec())
        throw statementError(q);
    return q;
}

ResultSet OdbcEngine::query(const QString& sql, const NamedValues& values, qsizetype maxRows)
{
    QSqlQuery q = run(sql, values);
    return rowsOf(q, sql, maxRows);
}

std::pair<qint64, ResultSet> OdbcEngine::executeThenQuery(
    const QString& command, const NamedValues& commandValues, const QString& query, const NamedValues& queryValues)
{
    if (!runsBatches()) {
        const qint64 changed = execute(command, commandValues);
        return {changed, this->query(query, queryValues, 0)};
    }
    // One batch: the server runs both and sends the count and then the rows.
    QVariantList bound;
    const QString first = positional(command, commandValues, bound);
    const QString second = positional(query, queryValues, bound);
    QSqlQuery q = runPositional(commandThenQueryBatch(first, second), bound);
    const qint64 changed = q.isSelect() ? -1 : q.numRowsAffected();
    return {changed, rowsOf(q, query, 0)};
}

bool OdbcEngine::runsBatches()
{
    if (!m_batches) {
        SQLUINTEGER support = 0;
        const bool known
            = SQL_SUCCEEDED(SQLGetInfo(connectionHandle(), SQL_BATCH_SUPPORT, &support, sizeof support, nullptr));
        m_batches = known && (support & SQL_BS_ROW_COUNT_EXPLICIT) && (support & SQL_BS_SELECT_EXPLICIT);
    }
    return *m_batches;
}

ResultSet OdbcEngine::rowsOf(QSqlQuery& q, const QString& sql, qsizetype maxRows)
{
    ResultSet result;
    result.baseTable = baseTableOf(sql);
    // Statements that run a batch may give row counts before their rows: move to the first rows.
    while (!q.isSelect() && q.nextResult()) { }
    if (!q.isSelect())
        return result;
    result.hasResult = true;
    const QSqlRecord record = q.record();
    const SQLHANDLE statement = handleOf(q.result()->handle());
    for (int i = 0; i < record.count(); ++i) {
        ColumnInfo info;
        info.name = record.fieldName(i);
        info.typeName = columnTypeName(statement, i);
        info.kind = info.typeName.isEmpty() ? columnKindFromMetaType(record.field(i).metaType())
                                            : columnKindFromTypeName(info.typeName);
        if (info.kind == ColumnKind::Other)
            info.kind = columnKindFromMetaType(record.field(i).metaType());
        if (columnIsAutoIncrement(statement, i) || record.field(i).isAutoValue())
            info.kind = ColumnKind::AutoIncrement;
        result.columns << info;
    }
    // Rows past `maxRows` are not fetched: the statement is closed with them unread.
    while ((maxRows <= 0 || result.rows.size() < maxRows) && q.next()) {
        QVariantList row;
        row.reserve(record.count());
        for (int i = 0; i < record.count(); ++i) {
            QVariant v = q.value(i);
            if (result.columns[i].kind == ColumnKind::Boolean && !v.isNull())
                v = v.toInt() != 0;
            // The driver makes a local time of the server's zone-less value.
            else if (v.typeId() == QMetaType::QDateTime && !v.isNull())
                v = wallClock(v.toDateTime());
            row << v;
        }
        result.rows << row;
    }
    if (q.lastError().isValid())
        throw statementError(q);
    return result;
}

qint64 OdbcEngine::execute(const QString& sql, const NamedValues& values)
{
    QSqlQuery q = run(sql, values);
    const QString keyword = sql.trimmed().section(QLatin1Char(' '), 0, 0).toLower();
    if (keyword == QLatin1String("alter") || keyword == QLatin1String("create") || keyword == QLatin1String("drop")
        || keyword == QLatin1String("if"))
        m_layouts.clear();
    return q.numRowsAffected();
}

QStringList OdbcEngine::tables()
{
    odbc::CatalogStatement st(connectionHandle(), m_statementTimeout);
    std::u16string types = wide(QStringLiteral("TABLE,VIEW"));
    st.check(
        SQLTablesW(st.handle(), nullptr, 0, nullptr, 0, nullptr, 0, w(types), SQL_NTS), QStringLiteral("SQLTables"));
    QStringList names;
    while (st.next()) {
        const QString name = st.text(3);
        if (!isSystemTable(st.text(2), name))
            names << name;
    }
    return names;
}

QStringList OdbcEngine::procedures()
{
    odbc::CatalogStatement st(connectionHandle(), m_statementTimeout);
    st.check(SQLProceduresW(st.handle(), nullptr, 0, nullptr, 0, nullptr, 0), QStringLiteral("SQLProcedures"));
    QStringList names;
    while (st.next()) {
        if (isSystemSchema(st.text(2)))
            continue;
        QString name = st.text(3);
        // SQL Server reports "name;1"; other sources report the bare name.
        if (!name.contains(QLatin1Char(';')))
            name += QStringLiteral(";1");
        names << name;
    }
    return names;
}

QList<ColumnInfo> OdbcEngine::layout(const QString& table)
{
    const QString key = table.toLower();
    if (const auto it = m_layouts.constFind(key); it != m_layouts.constEnd())
        return *it;
    QList<ColumnInfo> columns;
    {
        odbc::CatalogStatement st(connectionHandle(), m_statementTimeout);
        std::u16string name = wide(table);
        st.check(SQLColumnsW(st.handle(), nullptr, 0, nullptr, 0, w(name), SQL_NTS, nullptr, 0),
            QStringLiteral("SQLColumns"));
        while (st.next()) {
            ColumnInfo c;
            c.name = st.text(4);
            c.typeName = st.text(6);
            c.kind = columnKindFromTypeName(c.typeName);
            columns << c;
        }
    }
    if (!columns.isEmpty()) {
        odbc::CatalogStatement st(connectionHandle(), m_statementTimeout);
        std::u16string name = wide(table);
        if (SQL_SUCCEEDED(SQLPrimaryKeysW(st.handle(), nullptr, 0, nullptr, 0, w(name), SQL_NTS))) {
            while (st.next()) {
                const QString keyColumn = st.text(4);
                for (ColumnInfo& c : columns) {
                    if (c.name.compare(keyColumn, Qt::CaseInsensitive) == 0)
                        c.primaryKey = true;
                }
            }
        }
        m_layouts.insert(key, columns);
    }
    return columns;
}

QList<ColumnInfo> OdbcEngine::columns(const QString& table)
{
    const QList<ColumnInfo> result = layout(table);
    if (result.isEmpty())
        throw DbError(QStringLiteral("Invalid object name '%1': no such table").arg(table));
    return result;
}

QList<ProcParameter> OdbcEngine::procedureParameters(const QString& procedure)
{
    const QString name = procedure.section(QLatin1Char(';'), 0, 0);
    odbc::CatalogStatement st(connectionHandle(), m_statementTimeout);
    std::u16string n = wide(name);
    st.check(SQLProcedureColumnsW(st.handle(), nullptr, 0, nullptr, 0, w(n), SQL_NTS, nullptr, 0),
        QStringLiteral("SQLProcedureColumns"));
    QList<ProcParameter> parameters;
    while (st.next()) {
        const int columnType = st.integer(5);
        if (columnType == SQL_RESULT_COL)
            continue;
        ProcParameter p;
        p.name = st.text(4);
        p.direction = directionOf(columnType);
        p.typeName = st.text(7);
        p.size = st.integer(8);
        const ColumnKind kind = columnKindFromTypeName(p.typeName);
        switch (kind) {
        case ColumnKind::Integer:
            p.type = ParamType::Integer;
            break;
        case ColumnKind::Floating:
        case ColumnKind::Decimal:
            p.type = ParamType::Money;
            break;
        case ColumnKind::DateTime:
            p.type = ParamType::DateTime;
            break;
        case ColumnKind::Boolean:
            p.type = ParamType::Boolean;
            break;
        case ColumnKind::Text:
            p.type = ParamType::String;
            break;
        default:
            p.type = ParamType::Variant;
        }
        parameters << p;
    }
    if (parameters.isEmpty())
        throw DbError(QStringLiteral("Could not find stored procedure '%1'.").arg(name));
    if (parameters.first().direction != ParamDirection::ReturnValue) {
        ProcParameter returnValue;
        returnValue.name = QStringLiteral("@RETURN_VALUE");
        returnValue.type = ParamType::Integer;
        returnValue.direction = ParamDirection::ReturnValue;
        parameters.prepend(returnValue);
    }
    return parameters;
}

QVariant OdbcEngine::callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values)
{
    QStringList names;
    QVariantList bound;
    for (const auto& value : values) {
        if (value.first.compare(QLatin1String("@RETURN_VALUE"), Qt::CaseInsensitive) == 0)
            continue;
        names << value.first;
        bound << typedNull(value.second);
    }
    const QString sql = callBatch(procedure, names);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw statementError(q);
    odbc::setQueryTimeout(handleOf(q.result()->handle()), m_statementTimeout);
    for (const QVariant& v : bound)
        q.addBindValue(v);
    if (!q.exec())
        throw statementError(q);
    // The procedure's own result sets come first; the return value is the last one.
    QVariant returnValue;
    do {
        if (q.isSelect() && q.record().indexOf(QStringLiteral("RETURN_VALUE")) >= 0 && q.next())
            returnValue = q.value(0);
    } while (q.nextResult());
    if (q.lastError().isValid())
        throw statementError(q);
    return returnValue;
}

QString OdbcEngine::callBatch(const QString& procedure, const QStringList& names)
{
    QStringList arguments;
    for (const QString& name : names)
        arguments << name + QStringLiteral(" = ?");
    // NOCOUNT is set back: the pooled connection's later updates report their row counts again,
    // which tell a row written from one that cannot be located.
    return QStringLiteral("SET NOCOUNT ON; DECLARE @cribsync_rv int; EXEC @cribsync_rv = %1 %2; "
                          "SELECT @cribsync_rv AS RETURN_VALUE; SET NOCOUNT OFF")
        .arg(procedure.section(QLatin1Char(';'), 0, 0), arguments.join(QStringLiteral(", ")));
}

QString OdbcEngine::commandThenQueryBatch(const QString& command, const QString& query)
{
    return command + QStringLiteral(";\n") + query;
}

QString OdbcEngine::serverSchemaStampText()
{
    // Altering a table moves its modify_date; creating or dropping one changes the count.
    return QStringLiteral("SELECT COUNT(*), MAX(modify_date) FROM sys.objects");
}

QString OdbcEngine::schemaStamp()
{
    char name[64] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(connectionHandle(), SQL_DBMS_NAME, name, sizeof name, &length)))
        return {};
    const QString dbms = QString::fromLatin1(name).trimmed();
    QString sql;
    if (dbms.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        sql = serverSchemaStampText();
    else if (dbms.contains(QLatin1String("SQLite"), Qt::CaseInsensitive))
        sql = QStringLiteral("PRAGMA schema_version");
    else
        return {};
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(sql) || !q.next())
        return {};
    QStringList parts;
    for (int i = 0; i < q.record().count(); ++i)
        parts << q.value(i).toString();
    return parts.join(QLatin1Char('|'));
}

void OdbcEngine::beginTransaction()
{
    QSqlDatabase db = database();
    if (!db.transaction())
        throw DbError(errorText(db.lastError()), odbc::diagnostics(SQL_HANDLE_DBC, connectionHandle()).state);
}

void OdbcEngine::commit()
{
    QSqlDatabase db = database();
    if (!db.commit())
        throw DbError(errorText(db.lastError()), odbc::diagnostics(SQL_HANDLE_DBC, connectionHandle()).state);
}

void OdbcEngine::rollback()
{
    database().rollback();
}

} // namespace db
