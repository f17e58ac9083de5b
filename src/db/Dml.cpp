#include "db/Dml.h"

#include "db/SqlTokenizer.h"

namespace db {

namespace {

class Builder
{
public:
    QString bind(const QVariant& value)
    {
        const QString name = QLatin1Char('p') + QString::number(m_count++);
        m_statement.values.add(name, value);
        return QLatin1Char(':') + name;
    }

    QString condition(const RowKey& key)
    {
        QStringList parts;
        for (const auto& column : key.columns) {
            if (column.second.isNull())
                parts << bracketed(column.first) + QStringLiteral(" IS NULL");
            else
                parts << bracketed(column.first) + QStringLiteral(" = ") + bind(column.second);
        }
        return parts.join(QStringLiteral(" AND "));
    }

    GeneratedStatement finish(const QString& sql)
    {
        m_statement.sql = sql;
        return m_statement;
    }

private:
    GeneratedStatement m_statement;
    int m_count = 0;
};

} // namespace

GeneratedStatement Dml::insert(SqlDialect, const QString& table, const QList<QPair<QString, QVariant>>& values)
{
    Builder b;
    if (values.isEmpty())
        return b.finish(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(bracketed(table)));
    QString columns;
    QString placeholders;
    columns.reserve(values.size() * 24);
    placeholders.reserve(values.size() * 6);
    for (const auto& v : values) {
        if (!columns.isEmpty()) {
            columns += QLatin1String(", ");
            placeholders += QLatin1String(", ");
        }
        columns += bracketed(v.first);
        placeholders += b.bind(v.second);
    }
    return b.finish(QStringLiteral("INSERT INTO ") + bracketed(table) + QStringLiteral(" (") + columns
        + QStringLiteral(") VALUES (") + placeholders + QLatin1Char(')'));
}

GeneratedStatement Dml::update(
    SqlDialect dialect, const QString& table, const RowKey& key, const QList<QPair<QString, QVariant>>& values)
{
    Builder b;
    QStringList assignments;
    for (const auto& v : values)
        assignments << bracketed(v.first) + QStringLiteral(" = ") + b.bind(v.second);
    const QString where = b.condition(key);
    const QString t = bracketed(table);
    const QString set = assignments.join(QStringLiteral(", "));
    if (key.unique)
        return b.finish(QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(t, set, where));
    if (dialect == SqlDialect::Sqlite) {
        return b.finish(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = (SELECT rowid FROM %1 WHERE %3 LIMIT 1)")
                            .arg(t, set, where));
    }
    return b.finish(QStringLiteral("UPDATE TOP (1) %1 SET %2 WHERE %3").arg(t, set, where));
}

GeneratedStatement Dml::select(const QString& table, const QStringList& columns, const RowKey& key)
{
    Builder b;
    QStringList names;
    for (const QString& c : columns)
        names << bracketed(c);
    const QString where = b.condition(key);
    return b.finish(
        QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(names.join(QStringLiteral(", ")), bracketed(table), where));
}

GeneratedStatement Dml::remove(SqlDialect dialect, const QString& table, const RowKey& key)
{
    Builder b;
    const QString where = b.condition(key);
    const QString t = bracketed(table);
    if (key.unique)
        return b.finish(QStringLiteral("DELETE FROM %1 WHERE %2").arg(t, where));
    if (dialect == SqlDialect::Sqlite)
        return b.finish(
            QStringLiteral("DELETE FROM %1 WHERE rowid = (SELECT rowid FROM %1 WHERE %2 LIMIT 1)").arg(t, where));
    return b.finish(QStringLiteral("DELETE TOP (1) FROM %1 WHERE %2").arg(t, where));
}

} // namespace db
