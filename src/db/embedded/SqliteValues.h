#pragma once

#include "db/ColumnKind.h"

#include <QDateTime>
#include <QHash>
#include <QVariant>

struct sqlite3_stmt;

/// Values between SQLite's interface and the client layer, as Qt's SQLite driver would pass them.
namespace db::sqlite {

/// Binds as Qt's SQLite driver does, so that the values stored are the same.
int bindValue(sqlite3_stmt* statement, int index, const QVariant& given);
/// A column's value as Qt's SQLite driver gives it.
QVariant readValue(sqlite3_stmt* statement, int column);
/// A value read, as the client layer gives a column of that kind.
QVariant fromSqlite(const QVariant& value, ColumnKind kind);
/// The value type Qt's SQLite driver reports for a column: by its declared type, else by the
/// first row's value.
QMetaType declaredMetaType(const QString& declared, int valueType);

/// A date-time column's values as read: each text as a wall clock (see wallClock()), or as
/// stored when it is no date-time.
class DateTimeTexts
{
public:
    QVariant read(const QVariant& value);

private:
    QHash<QString, QDateTime> m_values; // by their text
};

} // namespace db::sqlite
