#pragma once

#include "db/ColumnKind.h"

#include <QString>
#include <functional>

struct sqlite3;

/// Where SQL Server is stricter than SQLite: values compared with typed columns are converted as
/// the server converts them, and its failures are reported with its messages and states.
namespace db::sqlite {

/// Adds the conversion functions typedComparisons() calls to the connection.
void addConversions(sqlite3* handle);

/// The text with every value compared with an integer or date-time column (":name" after
/// "column =", "<>", "<", ...) converted as SQL Server converts a text there: '' is 0 or
/// 1900-01-01, and a text that is no number is refused.
QString typedComparisons(const QString& sql, const std::function<ColumnKind(const QString&)>& kindOf);

/// SQLite's message of a failure as SQL Server words it: a refused value longer than its column
/// (a failed length check) is a truncation, a number beyond an int (a failed range check) an
/// arithmetic overflow.
QString serverMessage(const QString& message);

/// The SQL state SQL Server gives the failures the embedded engine reports as it does.
QString stateOfMessage(const QString& message, const QString& fallback);

} // namespace db::sqlite
