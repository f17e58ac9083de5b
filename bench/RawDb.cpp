#include "RawDb.h"

#include <sqlite3.h>
#include <stdexcept>

namespace {

[[noreturn]] void fail(sqlite3* db, const QString& what)
{
    throw std::runtime_error(QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(db))).toStdString());
}

} // namespace

RawStatement::RawStatement(sqlite3* db, const QString& sql)
    : m_db(db)
    , m_sql(sql)
{
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_statement, nullptr) != SQLITE_OK)
        fail(db, QStringLiteral("prepare \"%1\"").arg(sql));
}

RawStatement::~RawStatement()
{
    sqlite3_finalize(m_statement);
}

void RawStatement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

RawStatement& RawStatement::bind(const QVariantList& values)
{
    reset();
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        int rc = SQLITE_OK;
        if (v.isNull()) {
            rc = sqlite3_bind_null(m_statement, i + 1);
        } else {
            switch (v.typeId()) {
            case QMetaType::Int:
            case QMetaType::LongLong:
            case QMetaType::Bool:
                rc = sqlite3_bind_int64(m_statement, i + 1, v.toLongLong());
                break;
            case QMetaType::Double:
                rc = sqlite3_bind_double(m_statement, i + 1, v.toDouble());
                break;
            default: {
                const QByteArray text = v.toString().toUtf8();
                rc = sqlite3_bind_text(m_statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            }
            }
        }
        if (rc != SQLITE_OK)
            fail(m_db, QStringLiteral("bind %1 of \"%2\"").arg(i + 1).arg(m_sql));
    }
    return *this;
}

bool RawStatement::step()
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(m_db, QStringLiteral("step \"%1\"").arg(m_sql));
}

void RawStatement::run(const QVariantList& values)
{
    bind(values);
    while (step()) { }
    sqlite3_reset(m_statement);
}

int RawStatement::columnCount() const
{
    return sqlite3_column_count(m_statement);
}

QVariant RawStatement::value(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_column_int64(m_statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_statement, column);
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_statement, column)),
            sqlite3_column_bytes(m_statement, column));
    default:
        return text(column);
    }
}

qint64 RawStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString RawStatement::text(int column) const
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
        sqlite3_column_bytes(m_statement, column));
}

RawDb::RawDb(const QString& file)
{
    if (sqlite3_open_v2(file.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_close(m_db);
        throw std::runtime_error(QStringLiteral("open %1: %2").arg(file, message).toStdString());
    }
    sqlite3_busy_timeout(m_db, 10000);
    exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
}

RawDb::~RawDb()
{
    sqlite3_close(m_db);
}

void RawDb::exec(const QString& sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString text = QString::fromUtf8(message);
        sqlite3_free(message);
        throw std::runtime_error(QStringLiteral("\"%1\": %2").arg(sql.left(200), text).toStdString());
    }
}

QVariant RawDb::scalar(const QString& sql)
{
    RawStatement statement(m_db, sql);
    statement.bind({});
    return statement.step() ? statement.value(0) : QVariant();
}

qint64 RawDb::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}
