#pragma once

#include <QMetaType>
#include <QString>

namespace db {

/// What kind of value a column holds, as the sync rules need to tell them apart.
enum class ColumnKind {
    AutoIncrement,
    DateTime,
    Integer,
    Floating, // float, real and currency
    Text,
    Boolean,
    Binary,
    Decimal,
    Other,
};

/// Classifies a declared SQL type name ("varchar(50)", "money", "int identity", "datetime", ...).
ColumnKind columnKindFromTypeName(const QString& typeName);

/// Classifies by the value type a driver reports, for columns without a declared type.
ColumnKind columnKindFromMetaType(QMetaType type);

QString columnKindName(ColumnKind kind);

} // namespace db
