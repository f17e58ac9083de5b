#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace db {
class Connection;
}

/// Every row of every table of an embedded database at one moment, keyed by row id, so that a
/// test can tell exactly what a run changed: not only the rows it meant to change, but that
/// nothing else moved. Unless the whole database is asked for, the engine's procedure table and
/// the flag audit's log are left out.
class TableSnapshot
{
public:
    using Rows = QMap<qint64, QVariantMap>;
    enum class Scope { CribTables, Everything };

    /// What changed between two snapshots of one database.
    class Diff
    {
    public:
        /// One line per change, sorted: "Table#id.Column" for a changed value, "+Table#id" for a
        /// new row, "-Table#id" for a removed row, "+Table" or "-Table" for a whole table.
        QStringList lines() const;
        /// The lines with the values before and after, for failure messages.
        QString details() const;
        bool isEmpty() const { return m_lines.isEmpty(); }
        QList<QVariantMap> inserted(const QString& table) const { return m_inserted.value(table); }
        QList<QVariantMap> removed(const QString& table) const { return m_removed.value(table); }
        /// The details of rows removed or changed and tables gone, outside the tables named in
        /// `skip`, and "the schema changed" when it did: what a run must not disturb.
        QStringList disturbed(const QStringList& skip = {}) const;

    private:
        friend class TableSnapshot;
        bool m_schemaChanged = false;
        QStringList m_lines;
        QStringList m_details;
        QMap<QString, QList<QVariantMap>> m_inserted;
        QMap<QString, QList<QVariantMap>> m_removed;
    };

    /// `ignoredColumns` ("Table.Column", table names compared without regard to case) are not
    /// recorded, for values every run rewrites such as the cycle's time stamps.
    static TableSnapshot take(
        db::Connection& connection, const QStringList& ignoredColumns = {}, Scope scope = Scope::CribTables);

    QStringList tables() const { return m_tables.keys(); }
    /// The definitions of the tables, views, indexes and triggers.
    QStringList schema() const { return m_schema; }
    Rows rows(const QString& table) const { return m_tables.value(table); }
    /// What changed from this snapshot to `later`.
    Diff diff(const TableSnapshot& later) const;

private:
    QMap<QString, Rows> m_tables;
    QStringList m_schema;
};
