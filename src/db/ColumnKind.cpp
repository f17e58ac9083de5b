#include "db/ColumnKind.h"

#include <QStringList>

namespace db {

ColumnKind columnKindFromTypeName(const QString& typeName)
{
    QString t = typeName.trimmed().toLower();
    if (t.contains(QLatin1String("identity")) || t.contains(QLatin1String("autoincrement")))
        return ColumnKind::AutoIncrement;
    // Strip length, precision and modifiers: "varchar (50)", "decimal(19,4)", "nvarchar(max)".
    t = t.section(QLatin1Char('('), 0, 0).trimmed();
    t = t.section(QLatin1Char(' '), 0, 0);
    t.remove(QLatin1Char('[')).remove(QLatin1Char(']'));

    static const QStringList integers
        = {"int", "integer", "smallint", "tinyint", "bigint", "mediumint", "int2", "int4", "int8"};
    static const QStringList floats = {"float", "real", "double", "money", "smallmoney", "currency"};
    static const QStringList texts = {"char", "varchar", "nchar", "nvarchar", "text", "ntext", "clob", "character",
        "sysname", "string", "uniqueidentifier"};
    static const QStringList dates
        = {"datetime", "smalldatetime", "datetime2", "date", "time", "timestamp", "datetimeoffset"};
    static const QStringList booleans = {"bit", "bool", "boolean"};
    static const QStringList binaries = {"binary", "varbinary", "image", "blob", "bytea"};
    static const QStringList decimals = {"decimal", "numeric", "number"};

    if (integers.contains(t))
        return ColumnKind::Integer;
    if (floats.contains(t) || t == QLatin1String("double precision"))
        return ColumnKind::Floating;
    if (texts.contains(t))
        return ColumnKind::Text;
    if (dates.contains(t))
        return ColumnKind::DateTime;
    if (booleans.contains(t))
        return ColumnKind::Boolean;
    if (binaries.contains(t))
        return ColumnKind::Binary;
    if (decimals.contains(t))
        return ColumnKind::Decimal;
    return ColumnKind::Other;
}

ColumnKind columnKindFromMetaType(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return ColumnKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return ColumnKind::Floating;
    case QMetaType::QString:
        return ColumnKind::Text;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime:
        return ColumnKind::DateTime;
    case QMetaType::Bool:
        return ColumnKind::Boolean;
    case QMetaType::QByteArray:
        return ColumnKind::Binary;
    default:
        return ColumnKind::Other;
    }
}

QString columnKindName(ColumnKind kind)
{
    switch (kind) {
    case ColumnKind::AutoIncrement:
        return QStringLiteral("auto-increment");
    case ColumnKind::DateTime:
        return QStringLiteral("date-time");
    case ColumnKind::Integer:
        return QStringLiteral("integer");
    case ColumnKind::Floating:
        return QStringLiteral("floating");
    case ColumnKind::Text:
        return QStringLiteral("text");
    case ColumnKind::Boolean:
        return QStringLiteral("boolean");
    case ColumnKind::Binary:
        return QStringLiteral("binary");
    case ColumnKind::Decimal:
        return QStringLiteral("decimal");
    case ColumnKind::Other:
        break;
    }
    return QStringLiteral("other");
}

} // namespace db
