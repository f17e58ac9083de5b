#pragma once

#include "db/ColumnKind.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

namespace db {

/// A column of a result or of a table.
struct ColumnInfo
{
    QString name;
    ColumnKind kind = ColumnKind::Other;
    bool primaryKey = false;
    QString typeName; // as declared or as the driver names it
};

/// Rows a statement returned, held by value. `hasResult` is false when the statement produced no
/// result set at all (as opposed to an empty one).
struct ResultSet
{
    bool hasResult = false;
    QList<ColumnInfo> columns;
    QList<QVariantList> rows;
    QString baseTable; // the single table the rows come from, when the engine can tell
};

/// Parameter types of the statement catalogue.
enum class ParamType { String, Integer, Money, DateTime, Boolean, LongText, Variant };

enum class ParamDirection { Input, Output, InputOutput, ReturnValue };

/// A parameter as a stored procedure declares it.
struct ProcParameter
{
    QString name; // with its '@'
    ParamType type = ParamType::Variant;
    ParamDirection direction = ParamDirection::Input;
    int size = 0;
    QString typeName;
    bool hasDefault = false;
};

/// Named values for ":name" placeholders (names without the colon, matched case-insensitively).
class NamedValues
{
public:
    void set(const QString& name, const QVariant& value);
    /// Adds a value under a name not given yet (generated names), without looking for it.
    void add(const QString& name, const QVariant& value) { m_items.append({name, value}); }
    bool contains(const QString& name) const;
    QVariant value(const QString& name) const;
    QList<QPair<QString, QVariant>> items() const { return m_items; }

private:
    QList<QPair<QString, QVariant>> m_items;
};

/// "yyyy-MM-ddTHH:mm:ss", with ".zzz" when there are milliseconds: the form in which date-times
/// are stored in the embedded databases and compared as text.
QString isoDateTimeText(const QDateTime& value);

/// A date-time as the databases hold it: a wall-clock reading without a zone (SQL Server's
/// datetime has none). Qt::UTC carries it, so that no local zone's gap or overlap can move or void
/// it; only the agent's own clock readings are local times.
QDateTime wallClock(const QDate& date, const QTime& time = QTime(0, 0));
/// The date and time fields of `value`, whatever zone it was made in.
QDateTime wallClock(const QDateTime& value);
/// A text in ISO form ("yyyy-MM-ddTHH:mm:ss", with ".zzz", a blank for the "T", or a date alone)
/// as a wall clock; invalid when the text is no date-time.
QDateTime wallClockFromText(const QString& text);
/// A date-time, a date (at 00:00) or such a text as a wall clock; invalid for anything else.
QDateTime wallClockOf(const QVariant& value);

} // namespace db
