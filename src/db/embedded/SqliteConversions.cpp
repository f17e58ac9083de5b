#include "db/embedded/SqliteConversions.h"

#include "db/SqlTokenizer.h"

#include <sqlite3.h>

namespace db::sqlite {

namespace {

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

} // namespace

void addConversions(sqlite3* handle)
{
    for (const auto& [name, function] :
        {std::pair{"cribsync_int", &convertToInteger}, std::pair{"cribsync_datetime", &convertToDateTime}}) {
        sqlite3_create_function_v2(
            handle, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, function, nullptr, nullptr, nullptr);
    }
}

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

QString serverMessage(const QString& message)
{
    static const QString lengthCheck = QStringLiteral("CHECK constraint failed: cribsync_length_");
    static const QString rangeCheck = QStringLiteral("CHECK constraint failed: cribsync_range_");
    if (message.startsWith(lengthCheck)) {
        return QStringLiteral("String or binary data would be truncated in column '%1'.")
            .arg(message.mid(lengthCheck.size()));
    }
    if (message.startsWith(rangeCheck)) {
        return QStringLiteral("Arithmetic overflow error converting expression to data type int in column '%1'.")
            .arg(message.mid(rangeCheck.size()));
    }
    return message;
}

QString stateOfMessage(const QString& message, const QString& fallback)
{
    if (message.startsWith(QLatin1String("Conversion failed")))
        return QStringLiteral("22018");
    if (message.contains(QLatin1String("String or binary data would be truncated")))
        return QStringLiteral("22001");
    if (message.startsWith(QLatin1String("Arithmetic overflow")))
        return QStringLiteral("22003");
    return fallback;
}

} // namespace db::sqlite
