#include "support/TableSnapshot.h"

#include "db/Connection.h"
#include "support/FlagAudit.h"

#include <QSet>

namespace {

QString shown(const QVariant& value)
{
    return value.isNull() ? QStringLiteral("NULL") : QLatin1Char('\'') + value.toString() + QLatin1Char('\'');
}

QString listed(const QVariantMap& row)
{
    QStringList values;
    for (auto c = row.constBegin(); c != row.constEnd(); ++c)
        values << c.key() + QLatin1Char('=') + shown(c.value());
    return values.join(QStringLiteral(", "));
}

} // namespace

TableSnapshot TableSnapshot::take(db::Connection& connection, const QStringList& ignoredColumns, Scope scope)
{
    QSet<QString> ignored;
    for (const QString& column : ignoredColumns)
        ignored.insert(column.toLower());

    TableSnapshot snapshot;
    const db::ResultSet objects = connection.query(
        QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE name NOT LIKE 'sqlite%' ORDER BY type, name"));
    QStringList tables;
    for (const QVariantList& object : objects.rows) {
        const QString name = object.value(1).toString();
        snapshot.m_schema << QStringList{object.value(0).toString(), name, object.value(2).toString()}.join(' ');
        if (object.value(0).toString() == QLatin1String("table")
            && (scope == Scope::Everything
                || (name != QLatin1String("cribsync_procedures") && name != FlagAudit::logTable())))
            tables << name;
    }
    for (const QString& table : tables) {
        const db::ResultSet result
            = connection.query(QStringLiteral("SELECT rowid AS snapshot_rowid, * FROM [%1] ORDER BY rowid").arg(table));
        Rows rows;
        for (const QVariantList& r : result.rows) {
            QVariantMap row;
            for (int i = 1; i < result.columns.size(); ++i) {
                const QString column = result.columns[i].name;
                if (!ignored.contains(table.toLower() + QLatin1Char('.') + column.toLower()))
                    row.insert(column, r[i]);
            }
            rows.insert(r.first().toLongLong(), row);
        }
        snapshot.m_tables.insert(table, rows);
    }
    return snapshot;
}

TableSnapshot::Diff TableSnapshot::diff(const TableSnapshot& later) const
{
    Diff d;
    QStringList tables = m_tables.keys();
    for (const QString& t : later.m_tables.keys()) {
        if (!tables.contains(t))
            tables << t;
    }
    for (const QString& table : tables) {
        if (!m_tables.contains(table) || !later.m_tables.contains(table)) {
            d.m_lines << (m_tables.contains(table) ? QStringLiteral("-") : QStringLiteral("+")) + table;
            d.m_details << d.m_lines.last();
            continue;
        }
        const Rows& before = m_tables[table];
        const Rows& after = later.m_tables[table];
        for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
            const QString row = QStringLiteral("%1#%2").arg(table).arg(it.key());
            if (!after.contains(it.key())) {
                d.m_lines << QLatin1Char('-') + row;
                d.m_details << d.m_lines.last() + QStringLiteral(": ") + listed(it.value());
                d.m_removed[table] << it.value();
                continue;
            }
            const QVariantMap& now = after[it.key()];
            for (auto c = it.value().constBegin(); c != it.value().constEnd(); ++c) {
                const QVariant value = now.value(c.key());
                // Both read back through the same column kind, so equal values compare equal.
                if (value.isNull() == c.value().isNull() && value == c.value())
                    continue;
                d.m_lines << row + QLatin1Char('.') + c.key();
                d.m_details << d.m_lines.last() + QStringLiteral(": ") + shown(c.value()) + QStringLiteral(" -> ")
                        + shown(value);
            }
        }
        for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
            if (before.contains(it.key()))
                continue;
            d.m_lines << QStringLiteral("+%1#%2").arg(table).arg(it.key());
            d.m_details << d.m_lines.last() + QStringLiteral(": ") + listed(it.value());
            d.m_inserted[table] << it.value();
        }
    }
    d.m_lines.sort();
    d.m_details.sort();
    d.m_schemaChanged = m_schema != later.m_schema;
    return d;
}

QStringList TableSnapshot::Diff::lines() const
{
    return m_lines;
}

QString TableSnapshot::Diff::details() const
{
    return m_details.join(QLatin1Char('\n'));
}

QStringList TableSnapshot::Diff::disturbed(const QStringList& skip) const
{
    QStringList disturbed;
    if (m_schemaChanged)
        disturbed << QStringLiteral("the schema changed");
    for (const QString& detail : m_details) {
        if (detail.startsWith(QLatin1Char('+')))
            continue;
        const QString table = detail.mid(detail.startsWith(QLatin1Char('-')) ? 1 : 0).section(QLatin1Char('#'), 0, 0);
        if (!skip.contains(table, Qt::CaseInsensitive))
            disturbed << detail;
    }
    return disturbed;
}
