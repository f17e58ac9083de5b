#include "db/DbError.h"

namespace db {

DbError::DbError(const QString& message, const QString& sqlState)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_sqlState(sqlState)
{ }

DbError::Cause DbError::cause() const
{
    if (m_sqlState == QLatin1String("08001") || m_sqlState == QLatin1String("08S01")
        || m_sqlState == QLatin1String("HYT00") || m_sqlState == QLatin1String("HYT01"))
        return Cause::Unreachable;
    if (m_sqlState == QLatin1String("28000"))
        return Cause::LoginRefused;
    if (m_sqlState == QLatin1String("XX001"))
        return Cause::Corrupt;
    return Cause::Other;
}

bool DbError::refusesStatementOnly() const
{
    if (m_sqlState.size() != 5 || m_sqlState.startsWith(QLatin1String("42S")))
        return false;
    static const QLatin1String classes[] = {QLatin1String("21"), QLatin1String("22"), QLatin1String("23"),
        QLatin1String("25"), QLatin1String("27"), QLatin1String("40"), QLatin1String("42"), QLatin1String("44")};
    for (const QLatin1String& statementClass : classes) {
        if (m_sqlState.startsWith(statementClass))
            return true;
    }
    return false;
}

QString DbError::sqliteState(int resultCode)
{
    // Result codes of sqlite3.h; an extended code carries its primary code in the low byte.
    enum {
        Busy = 5,
        Locked = 6,
        Corrupt = 11,
        CantOpen = 14,
        TooBig = 18,
        Constraint = 19,
        Mismatch = 20,
        NotADb = 26
    };
    switch (resultCode & 0xff) {
    case Constraint:
        return QStringLiteral("23000");
    case TooBig:
        return QStringLiteral("22001");
    case Mismatch:
        return QStringLiteral("22018");
    case CantOpen:
        return QStringLiteral("08001");
    case Corrupt:
    case NotADb:
        return QStringLiteral("XX001");
    case Busy:
    case Locked:
        return QStringLiteral("HYT00");
    default:
        return {};
    }
}

} // namespace db
