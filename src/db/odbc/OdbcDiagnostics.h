#pragma once

#include <QString>
#ifdef Q_OS_WIN
// Windows' ODBC headers use its base types without including them.
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

namespace db::odbc {

/// The diagnostic records of an ODBC handle: their texts, and the state that tells most about
/// the failure (the first one that is neither a warning nor a general error).
struct Diagnostics
{
    QString state;
    QString text;
};

/// The diagnostic records of `handle`, of the ODBC handle type `type`.
Diagnostics diagnostics(SQLSMALLINT type, SQLHANDLE handle);

/// How long a statement may wait for the server (0 or less: as the driver defaults).
void setQueryTimeout(SQLHANDLE statement, int seconds);

/// Logs in with the driver directly and disconnects again. Qt's driver drops the diagnostic
/// records of a refused connection with its handle, and the state tells an unreachable server
/// from a refused login.
void checkLogin(const QString& odbcConnectionString, int loginTimeoutSeconds);

} // namespace db::odbc
