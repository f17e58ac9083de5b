#include "db/embedded/SqliteValues.h"

#include "db/Types.h"

#include <cmath>
#include <sqlite3.h>

namespace db::sqlite {

namespace {

QVariant toSqlite(const QVariant& value)
{
    if (value.isNull())
        return QVariant();
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return isoDateTimeText(value.toDateTime());
    case QMetaType::QDate:
        return isoDateTimeText(wallClock(value.toDate()));
    case QMetaType::QTime:
        return isoDateTimeText(wallClock(QDate(1899, 12, 30), value.toTime()));
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    default:
        return value;
    }
}

} // namespace

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

QVariant DateTimeTexts::read(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return value;
    // Rows of a backlog repeat their values (the row that reveals a table's columns, a source row
    // read back after its mark): each text is read once.
    const QString text = value.toString();
    if (m_values.size() >= 1024)
        m_values.clear();
    auto it = m_values.constFind(text);
    if (it == m_values.constEnd())
        it = m_values.insert(text, wallClockFromText(text));
    return it->isValid() ? QVariant(*it) : value;
}

} // namespace db::sqlite
