#pragma once

#include "db/Engine.h"

namespace db {

/// A generated statement with ":p<n>" placeholders and their values.
struct GeneratedStatement
{
    QString sql;
    NamedValues values;
};

/// Builds the SELECT, INSERT, UPDATE and DELETE statements that post or delete a row of a row query.
/// Key columns are compared with "=" or "IS NULL"; for a table without a key the statement is
/// limited to the first matching row.
class Dml
{
public:
    static GeneratedStatement insert(
        SqlDialect dialect, const QString& table, const QList<QPair<QString, QVariant>>& values);
    static GeneratedStatement update(
        SqlDialect dialect, const QString& table, const RowKey& key, const QList<QPair<QString, QVariant>>& values);
    /// Reads `columns` of the rows the key matches.
    static GeneratedStatement select(const QString& table, const QStringList& columns, const RowKey& key);
    static GeneratedStatement remove(SqlDialect dialect, const QString& table, const RowKey& key);
};

} // namespace db
