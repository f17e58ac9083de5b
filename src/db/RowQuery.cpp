#include "db/RowQuery.h"

#include "db/DbError.h"
#include "db/Dml.h"
#include "db/Transaction.h"

#include <QDateTime>
#include <optional>

namespace db {

QString valueText(const QVariant& value)
{
    if (value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return isoDateTimeText(value.toDateTime());
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', 15);
    default:
        return value.toString();
    }
}

void RowQuery::open()
{
    close();
    const NamedValues values = boundValues();
    const QString text = sql();
    const int limit = m_rowLimit;
    m_result = database().run([&](Connection& c) { return c.query(text, values, limit); });
    m_indexStale = true;
    m_open = true;
    m_position = 0;
}

void RowQuery::indexColumns() const
{
    m_indexStale = false;
    // A query opened again for the next row reads the same columns: the index stays.
    bool same = m_result.columns.size() == m_lowerNames.size();
    for (qsizetype i = 0; same && i < m_result.columns.size(); ++i)
        same = m_result.columns[i].name == m_indexedNames[i];
    if (same)
        return;
    m_columnIndex.clear();
    m_indexedNames.clear();
    m_lowerNames.clear();
    for (int i = 0; i < m_result.columns.size(); ++i) {
        const QString& name = m_result.columns[i].name;
        const QString lower = name.toLower();
        m_indexedNames << name;
        m_lowerNames << lower;
        if (m_columnIndex.contains(lower))
            continue;
        m_columnIndex.insert(lower, i);
        m_columnIndex.insert(name, i);
    }
}

void RowQuery::close()
{
    m_open = false;
    m_result = ResultSet();
    m_position = 0;
    m_state = State::Browse;
    m_buffer.clear();
    m_changed.clear();
}

void RowQuery::requireOpen() const
{
    if (!m_open)
        throw DbError(QStringLiteral("%1: operation is not allowed when the query is closed").arg(name()));
}

void RowQuery::requireRow() const
{
    requireOpen();
    if (m_position < 0 || m_position >= m_result.rows.size())
        throw DbError(QStringLiteral("%1: there is no current row").arg(name()));
}

int RowQuery::requireColumn(const QString& column) const
{
    const int index = columnIndex(column);
    if (index < 0)
        throw DbError(QStringLiteral("%1: field '%2' not found").arg(name(), column));
    return index;
}

int RowQuery::recordCount() const
{
    requireOpen();
    return int(m_result.rows.size());
}

void RowQuery::first()
{
    requireOpen();
    m_position = 0;
}

void RowQuery::last()
{
    requireOpen();
    m_position = m_result.rows.isEmpty() ? 0 : int(m_result.rows.size()) - 1;
}

void RowQuery::next()
{
    requireOpen();
    if (m_position < m_result.rows.size())
        ++m_position;
}

bool RowQuery::eof() const
{
    requireOpen();
    return m_position >= m_result.rows.size();
}

int RowQuery::columnCount() const
{
    requireOpen();
    return int(m_result.columns.size());
}

QString RowQuery::columnName(int index) const
{
    requireOpen();
    if (index < 0 || index >= m_result.columns.size())
        throw DbError(QStringLiteral("%1: there is no column at position %2").arg(name()).arg(index));
    return m_result.columns[index].name;
}

ColumnKind RowQuery::columnKind(int index) const
{
    columnName(index);
    return m_result.columns[index].kind;
}

ColumnKind RowQuery::kindOf(const QString& name) const
{
    const int index = columnIndex(name);
    return index >= 0 ? m_result.columns[index].kind : ColumnKind::Other;
}

int RowQuery::columnIndex(const QString& column) const
{
    requireOpen();
    if (m_indexStale)
        indexColumns();
    if (const auto it = m_columnIndex.constFind(column); it != m_columnIndex.constEnd())
        return *it;
    return m_columnIndex.value(column.toLower(), -1);
}

QStringList RowQuery::columnNames() const
{
    requireOpen();
    QStringList names;
    for (const ColumnInfo& c : m_result.columns)
        names << c.name;
    return names;
}

QVariant RowQuery::value(int index) const
{
    columnName(index);
    if (m_state != State::Browse)
        return m_buffer[index];
    requireRow();
    return m_result.rows[m_position][index];
}

QVariant RowQuery::value(const QString& column) const
{
    return value(requireColumn(column));
}

QString RowQuery::asString(const QString& column) const
{
    return valueText(value(column));
}

int RowQuery::asInt(const QString& column) const
{
    const QVariant v = value(column);
    if (v.isNull())
        return 0;
    bool ok = false;
    int result = 0;
    if (v.typeId() == QMetaType::Double) {
        // A number the database keeps as real (text too long for its integers, or infinity)
        // has no int to round to.
        const double d = v.toDouble();
        ok = d > -2147483648.5 && d < 2147483647.5;
        result = ok ? qRound(d) : 0;
    } else {
        result = v.toString().trimmed().toInt(&ok);
    }
    if (!ok)
        throw DbError(
            QStringLiteral("%1: '%2' is not a valid integer value of field %3").arg(name(), v.toString(), column));
    return result;
}

bool RowQuery::asBool(const QString& column) const
{
    const QVariant v = value(column);
    if (v.isNull())
        return false;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        return s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || (s.toLongLong() != 0);
    }
    return v.toBool();
}

void RowQuery::edit()
{
    requireRow();
    if (m_state != State::Browse)
        return;
    m_buffer = m_result.rows[m_position];
    m_changed = QList<bool>(m_buffer.size(), false);
    m_state = State::Edit;
}

void RowQuery::append()
{
    requireOpen();
    if (m_result.baseTable.isEmpty())
        throw DbError(QStringLiteral("%1: rows cannot be added: the query does not read from one table").arg(name()));
    m_buffer = QVariantList(m_result.columns.size());
    m_changed = QList<bool>(m_buffer.size(), false);
    m_state = State::Insert;
}

void RowQuery::setValue(int index, const QVariant& v)
{
    columnName(index);
    if (m_state == State::Browse)
        throw DbError(QStringLiteral("%1: the query is not in edit or insert mode").arg(name()));
    m_buffer[index] = v;
    m_changed[index] = true;
}

void RowQuery::setValue(const QString& column, const QVariant& v)
{
    setValue(requireColumn(column), v);
}

void RowQuery::cancel()
{
    m_state = State::Browse;
    m_buffer.clear();
    m_changed.clear();
}

RowKey RowQuery::keyOf(Connection& connection, const QVariantList& row) const
{
    const QString table = m_result.baseTable;
    if (table.isEmpty())
        throw DbError(
            QStringLiteral("%1: the rows cannot be changed: the query does not read from one table").arg(name()));
    const QList<ColumnInfo> layout = connection.columns(table);
    QStringList keyColumns;
    for (const ColumnInfo& c : layout) {
        if (c.primaryKey)
            keyColumns << c.name;
    }
    if (keyColumns.isEmpty()) {
        for (const ColumnInfo& c : layout) {
            if (c.kind == ColumnKind::AutoIncrement)
                keyColumns << c.name;
        }
    }
    RowKey key;
    if (!keyColumns.isEmpty()) {
        for (const QString& k : keyColumns) {
            const int index = columnIndex(k);
            if (index < 0)
                throw DbError(QStringLiteral("%1: the rows cannot be changed: the key column %2 of %3 is not read")
                                  .arg(name(), k, table));
            key.columns.append({m_result.columns[index].name, row[index]});
        }
        return key;
    }
    // No key: identify the row by every value that can be compared exactly.
    key.unique = false;
    for (int i = 0; i < m_result.columns.size(); ++i) {
        const ColumnInfo& c = m_result.columns[i];
        const QString type = c.typeName.toLower();
        if (c.kind == ColumnKind::Binary || c.kind == ColumnKind::Floating || c.kind == ColumnKind::Other
            || type == QLatin1String("text") || type == QLatin1String("ntext"))
            continue;
        key.columns.append({c.name, row[i]});
    }
    if (key.columns.isEmpty())
        throw DbError(QStringLiteral("%1: the rows of %2 cannot be told apart").arg(name(), table));
    return key;
}

void RowQuery::post()
{
    if (m_state == State::Browse)
        return;
    QList<QPair<QString, QVariant>> values;
    for (int i = 0; i < m_buffer.size(); ++i) {
        if (m_changed[i] && m_result.columns[i].kind != ColumnKind::AutoIncrement)
            values.append({m_result.columns[i].name, m_buffer[i]});
    }
    const QString table = m_result.baseTable;
    if (m_state == State::Edit) {
        if (!values.isEmpty()) {
            const QVariantList original = m_result.rows[m_position];
            database().run([&](Connection& c) {
                const RowKey key = keyOf(c, original);
                if (c.updateRow(table, key, values) == 0)
                    throw DbError(QStringLiteral("%1: row cannot be located for updating; it may have been changed "
                                                 "or deleted since it was read")
                                      .arg(name()));
            });
            m_result.rows[m_position] = m_buffer;
        }
    } else {
        database().run([&](Connection& c) { c.insertRow(table, values); });
        m_result.rows.append(m_buffer);
        m_position = int(m_result.rows.size()) - 1;
    }
    cancel();
}

namespace {

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    return a == b;
}

} // namespace

const QSet<QString>& RowQuery::lowerColumnsOf(Connection& connection, const QString& table)
{
    const QList<ColumnInfo> layout = connection.columns(table);
    // The connection keeps each table's layout: the same list needs no new lower-case names.
    if (table != m_lowerLayoutTable || layout.constData() != m_lowerLayout.constData()
        || layout.size() != m_lowerLayout.size()) {
        m_lowerLayoutTable = table;
        m_lowerLayout = layout;
        m_lowerLayoutNames.clear();
        for (const ColumnInfo& column : layout)
            m_lowerLayoutNames.insert(column.name.toLower());
    }
    return m_lowerLayoutNames;
}

bool RowQuery::postIfUnchanged(Guard guard)
{
    if (m_state != State::Edit)
        throw DbError(QStringLiteral("%1: the query is not in edit mode").arg(name()));
    QList<QPair<QString, QVariant>> values;
    for (int i = 0; i < m_buffer.size(); ++i) {
        if (m_changed[i] && m_result.columns[i].kind != ColumnKind::AutoIncrement)
            values.append({m_result.columns[i].name, m_buffer[i]});
    }
    if (values.isEmpty()) {
        cancel();
        return true;
    }
    const QVariantList original = m_result.rows[m_position];
    QList<QPair<QString, QVariant>> cleared;
    if (guard == Guard::ClearOnChange) {
        for (const auto& v : std::as_const(values))
            cleared.append({v.first, false});
    }
    const QString table = m_result.baseTable;
    bool unchanged = false;
    database().run([&](Connection& c) {
        const RowKey key = keyOf(c, original);
        // The row is compared in C++ as read back, not by SQL: the database would compare a
        // value's stored form (a date kept in another text form, a boolean kept as -1) against
        // the form read, and text without regard to case.
        const QSet<QString>& tableColumns = lowerColumnsOf(c, table);
        if (m_indexStale)
            indexColumns();
        QStringList compared;
        QList<int> positions;
        for (int i = 0; i < m_result.columns.size(); ++i) {
            if (!m_changed[i] && tableColumns.contains(m_lowerNames[i])) {
                compared << m_result.columns[i].name;
                positions << i;
            }
        }
        // The row is marked first, so that no one writes it until the transaction ends; a
        // keyless row is then found again by its marked values.
        RowKey marked = key;
        for (auto& k : marked.columns) {
            for (const auto& v : std::as_const(values)) {
                if (k.first.compare(v.first, Qt::CaseInsensitive) == 0)
                    k.second = v.second;
            }
        }
        std::optional<Transaction> transaction;
        if (guard == Guard::Transaction)
            transaction.emplace(c);
        ResultSet now;
        if (!compared.isEmpty()) {
            const GeneratedStatement read = Dml::select(table, compared, marked);
            // Without a transaction between them, the mark and its read-back go in one round trip.
            if (transaction) {
                if (c.updateRow(table, key, values) == 0)
                    return;
                now = c.query(read.sql, read.values);
            } else {
                qint64 changed = 0;
                std::tie(changed, now) = c.updateRowThenQuery(table, key, values, read.sql, read.values);
                if (changed == 0)
                    return;
            }
        } else if (c.updateRow(table, key, values) == 0) {
            return;
        }
        if (!compared.isEmpty()) {
            for (const QVariantList& row : now.rows) {
                bool same = true;
                for (int j = 0; j < positions.size() && same; ++j)
                    same = sameValue(row.value(j), original[positions[j]]);
                unchanged = unchanged || same;
            }
            if (!unchanged) {
                if (!transaction)
                    c.updateRow(table, marked, cleared);
                return;
            }
        }
        unchanged = true;
        if (transaction)
            transaction->commit();
    });
    if (!unchanged) {
        cancel();
        return false;
    }
    m_result.rows[m_position] = m_buffer;
    cancel();
    return true;
}

void RowQuery::deleteRow()
{
    requireRow();
    cancel();
    const QVariantList original = m_result.rows[m_position];
    const QString table = m_result.baseTable;
    database().run([&](Connection& c) {
        if (c.deleteRow(table, keyOf(c, original)) == 0)
            throw DbError(QStringLiteral("%1: row cannot be located for deleting; it may have been changed or "
                                         "deleted since it was read")
                              .arg(name()));
    });
    m_result.rows.removeAt(m_position);
}

bool RowQuery::locate(const QString& column, const QVariant& v)
{
    const int index = requireColumn(column);
    for (int i = 0; i < m_result.rows.size(); ++i) {
        const QVariant& cell = m_result.rows[i][index];
        if (cell.isNull() != v.isNull())
            continue;
        if (cell == v || (!cell.isNull() && valueText(cell) == valueText(v))) {
            m_position = i;
            return true;
        }
    }
    return false;
}

} // namespace db
