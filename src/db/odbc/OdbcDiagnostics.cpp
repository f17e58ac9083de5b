#include "db/odbc/OdbcDiagnostics.h"

#include "db/DbError.h"

#include <QStringList>

namespace db::odbc {

namespace {

/// The ODBC 3 form of a state: Qt's driver works in ODBC 2, whose "S1" class is ODBC 3's "HY".
/// FreeTDS reports SQL Server's refusals of a login as syntax or access errors (42000); the
/// server's own message numbers tell them, and they get the state Microsoft's driver gives.
QString normalState(const QString& state, SQLINTEGER serverMessage)
{
    switch (serverMessage) {
    case 4060: // cannot open the database requested by the login
    case 18452: // login from an untrusted domain
    case 18456: // login failed
    case 18486: // account locked
    case 18487: // password expired
    case 18488: // password must be changed
        return QStringLiteral("28000");
    default:
        break;
    }
    if (state.startsWith(QLatin1String("S1")))
        return QStringLiteral("HY") + state.mid(2);
    return state;
}

} // namespace

Diagnostics diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    Diagnostics result;
    QString firstState;
    QStringList messages;
    for (SQLSMALLINT i = 1; handle; ++i) {
        SQLWCHAR state[6];
        SQLWCHAR text[1024];
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN r = SQLGetDiagRecW(type, handle, i, state, &native, text, 1024, &length);
        if (!SQL_SUCCEEDED(r))
            break;
        messages << QString::fromUtf16(reinterpret_cast<const char16_t*>(text), qMin<int>(length, 1023));
        const QString code = normalState(QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5), native);
        if (firstState.isEmpty())
            firstState = code;
        const bool general = code == QLatin1String("HY000");
        if (result.state.isEmpty() && !general && !code.startsWith(QLatin1String("01")))
            result.state = code;
    }
    if (result.state.isEmpty())
        result.state = firstState;
    result.text = messages.join(QLatin1Char(' '));
    return result;
}

void setQueryTimeout(SQLHANDLE statement, int seconds)
{
    if (statement && seconds > 0)
        SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(seconds)), 0);
}

void checkLogin(const QString& odbcConnectionString, int loginTimeoutSeconds)
{
    SQLHANDLE environment = nullptr;
    SQLHANDLE connection = nullptr;
    struct Handles
    {
        SQLHANDLE& environment;
        SQLHANDLE& connection;
        ~Handles()
        {
            if (connection)
                SQLFreeHandle(SQL_HANDLE_DBC, connection);
            if (environment)
                SQLFreeHandle(SQL_HANDLE_ENV, environment);
        }
    } handles{environment, connection};
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))
        || !SQL_SUCCEEDED(
            SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))
        || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection)))
        throw DbError(QStringLiteral("The ODBC driver manager cannot be used"));
    const auto timeout = reinterpret_cast<SQLPOINTER>(SQLULEN(loginTimeoutSeconds));
    SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT, timeout, 0);
    SQLSetConnectAttr(connection, SQL_ATTR_CONNECTION_TIMEOUT, timeout, 0);
    std::u16string text = odbcConnectionString.toStdU16String();
    const SQLRETURN r = SQLDriverConnectW(connection, nullptr, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS,
        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) {
        const Diagnostics d = diagnostics(SQL_HANDLE_DBC, connection);
        throw DbError(d.text.trimmed(), d.state);
    }
    SQLDisconnect(connection);
}

} // namespace db::odbc
