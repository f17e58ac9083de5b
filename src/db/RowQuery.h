#pragma once

#include "db/Statement.h"

#include <QHash>
#include <QSet>

namespace db {

/// A row query: opened, walked and edited like a static updatable cursor. The rows are read
/// when it opens; a post, an append or a delete is written at once with a generated statement
/// keyed by the table's primary key or identity column (or, for a table with neither, by all
/// of the row's comparable values, touching at most one row).
class RowQuery : public Statement
{
public:
    using Statement::Statement;

    void open();
    void close();
    bool isOpen() const { return m_open; }
    /// At most `rows` rows are read when the query opens (0: all of them), so that a large
    /// result is held one part at a time.
    void setRowLimit(int rows) { m_rowLimit = rows; }
    int rowLimit() const { return m_rowLimit; }

    int recordCount() const;
    bool isEmpty() const { return recordCount() == 0; }
    void first();
    /// Moves to the last row (past the end when there is none).
    void last();
    void next();
    bool eof() const;
    /// Zero-based index of the current row.
    int position() const { return m_position; }

    int columnCount() const;
    QString columnName(int index) const;
    ColumnKind columnKind(int index) const;
    /// The kind of the named column; Other when there is none.
    ColumnKind kindOf(const QString& name) const;
    int columnIndex(const QString& name) const;
    bool hasColumn(const QString& name) const { return columnIndex(name) >= 0; }
    QStringList columnNames() const;

    /// The current row's value; NULL stays NULL. Throws when there is no such column or row.
    QVariant value(const QString& name) const;
    QVariant value(int index) const;
    /// Text of the value; NULL gives "", a date-time "yyyy-mm-ddThh:mm:ss", a boolean "1" or "0".
    QString asString(const QString& name) const;
    /// NULL gives 0; a real is rounded. Throws DbError when the value is no integer or lies
    /// beyond the int range.
    int asInt(const QString& name) const;
    bool asBool(const QString& name) const;

    void edit();
    void append();
    void setValue(const QString& name, const QVariant& value);
    void setValue(int index, const QVariant& value);
    void post();
    /// How postIfUnchanged keeps a concurrent writer out between its write and its read-back.
    enum class Guard {
        /// Both run in one transaction: a cut at any point leaves the row as it was.
        Transaction,
        /// For a mark of boolean columns: they are set false again when the read-back finds the
        /// row changed, since a changed row is pending whatever it held before. Two round trips
        /// fewer than a transaction, for a mark whose loss after a cut costs no data (a remote
        /// source row, whose new change comes with an outbox order of its own).
        ClearOnChange,
    };

    /// Posts the edit of the current row only while the row in the database still holds every
    /// value it was read with, NULLs included, so that a change someone made after the read is
    /// neither overwritten nor taken as handled. False, with the edit cancelled, when the row
    /// has changed or is gone. The row is read again by its key after the write, and its values
    /// compared as read, exactly (text with its case).
    bool postIfUnchanged(Guard guard = Guard::Transaction);
    void cancel();
    void deleteRow();
    bool isEditing() const { return m_state != State::Browse; }

    /// Moves to the first row whose column equals `value` exactly; returns whether one was found.
    bool locate(const QString& column, const QVariant& value);

    /// The table the rows come from, as far as the statement tells.
    QString baseTable() const { return m_result.baseTable; }

private:
    enum class State { Browse, Edit, Insert };

    void requireOpen() const;
    void requireRow() const;
    int requireColumn(const QString& name) const;
    RowKey keyOf(Connection& connection, const QVariantList& row) const;
    /// Builds the index when a column is first looked up by name: a query that finds no rows
    /// (a table without pending rows, every cycle) never needs it.
    void indexColumns() const;
    /// The lower-case column names of a table's layout.
    const QSet<QString>& lowerColumnsOf(Connection& connection, const QString& table);

    ResultSet m_result;
    // Column names, as read and in lower case, to their first position: a row's values are
    // looked up by name for every row of a backlog.
    mutable QHash<QString, int> m_columnIndex;
    mutable QStringList m_indexedNames; // the names `m_columnIndex` was built for
    mutable QStringList m_lowerNames; // of the result's columns
    mutable bool m_indexStale = true;
    QString m_lowerLayoutTable;
    QList<ColumnInfo> m_lowerLayout;
    QSet<QString> m_lowerLayoutNames;
    bool m_open = false;
    int m_rowLimit = 0;
    int m_position = 0;
    State m_state = State::Browse;
    QVariantList m_buffer;
    QList<bool> m_changed;
};

/// Text of a value as the agent writes it into SQL text and compares it.
QString valueText(const QVariant& value);

} // namespace db
