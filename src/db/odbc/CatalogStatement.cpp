#include "db/odbc/CatalogStatement.h"

#include "db/DbError.h"

namespace db::odbc {

CatalogStatement::CatalogStatement(SQLHANDLE connection, int timeoutSeconds)
{
    if (!connection || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &m_handle)))
        throw DbError(QStringLiteral("Cannot read the catalogue: the ODBC connection is not open"));
    setQueryTimeout(m_handle, timeoutSeconds);
}

CatalogStatement::~CatalogStatement()
{
    SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
}

void CatalogStatement::check(SQLRETURN r, const QString& what) const
{
    if (!SQL_SUCCEEDED(r)) {
        const Diagnostics d = diagnostics(SQL_HANDLE_STMT, m_handle);
        throw DbError(QStringLiteral("%1: %2").arg(what, d.text), d.state);
    }
}

QString CatalogStatement::text(int column) const
{
    QString result;
    SQLWCHAR buffer[512];
    SQLLEN indicator = 0;
    for (;;) {
        const SQLRETURN r = SQLGetData(m_handle, column, SQL_C_WCHAR, buffer, sizeof(buffer), &indicator);
        if (!SQL_SUCCEEDED(r) || indicator == SQL_NULL_DATA)
            break;
        const qsizetype available = indicator == SQL_NO_TOTAL || indicator >= SQLLEN(sizeof(buffer))
            ? qsizetype(sizeof(buffer) / sizeof(SQLWCHAR) - 1)
            : qsizetype(indicator / sizeof(SQLWCHAR));
        result += QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), available);
        if (r != SQL_SUCCESS_WITH_INFO)
            break;
    }
    return result;
}

int CatalogStatement::integer(int column) const
{
    SQLINTEGER value = 0;
    SQLLEN indicator = 0;
    SQLGetData(m_handle, column, SQL_C_SLONG, &value, 0, &indicator);
    return indicator == SQL_NULL_DATA ? 0 : value;
}

} // namespace db::odbc
