#pragma once

#include "db/odbc/OdbcDiagnostics.h"

#include <QString>

namespace db::odbc {

/// A catalogue call's statement handle, freed on every way out.
class CatalogStatement
{
public:
    /// Throws DbError when the connection is not open.
    CatalogStatement(SQLHANDLE connection, int timeoutSeconds);
    ~CatalogStatement();
    CatalogStatement(const CatalogStatement&) = delete;
    CatalogStatement& operator=(const CatalogStatement&) = delete;

    SQLHANDLE handle() const { return m_handle; }

    /// Throws DbError with the statement's diagnostics when `r` is a failure of `what`.
    void check(SQLRETURN r, const QString& what) const;

    bool next() const { return SQL_SUCCEEDED(SQLFetch(m_handle)); }

    /// A column of the current row as text, however long; empty for NULL.
    QString text(int column) const;
    /// A column of the current row as an integer; 0 for NULL.
    int integer(int column) const;

private:
    SQLHANDLE m_handle = nullptr;
};

} // namespace db::odbc
