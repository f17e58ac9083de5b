#include "db/ColumnKind.h"

#include <QString>
#include <utility>

namespace db {

ColumnKind columnKindFromTypeName(const QString& typeName)
{
    // Every column of every table read is typed by this: the name is cut as a view, not copied.
    const QString lower = typeName.trimmed().toLower();
    if (lower.contains(QLatin1String("identity")) || lower.contains(QLatin1String("autoincrement")))
        return ColumnKind::AutoIncrement;
    // Strip length, precision and modifiers: "varchar (50)", "decimal(19,4)", "nvarchar(max)".
    QStringView t = QStringView(lower).left(lower.indexOf(QLatin1Char('('))).trimmed();
    t = t.left(t.indexOf(QLatin1Char(' ')));
    QString unbracketed;
    if (t.contains(QLatin1Char('[')) || t.contains(QLatin1Char(']'))) {
        unbracketed = t.toString().remove(QLatin1Char('[')).remove(QLatin1Char(']'));
        t = unbracketed;
    }

    static const std::pair<const char*, ColumnKind> kinds[]
        = {{"int", ColumnKind::Integer}, {"integer", ColumnKind::Integer}, {"smallint", ColumnKind::Integer},
            {"tinyint", ColumnKind::Integer}, {"bigint", ColumnKind::Integer}, {"mediumint", ColumnKind::Integer},
            {"int2", ColumnKind::Integer}, {"int4", ColumnKind::Integer}, {"int8", ColumnKind::Integer},
            {"float", ColumnKind::Floating}, {"real", ColumnKind::Floating}, {"double", ColumnKind::Floating},
            {"money", ColumnKind::Floating}, {"smallmoney", ColumnKind::Floating}, {"currency", ColumnKind::Floating},
            {"char", ColumnKind::Text}, {"varchar", ColumnKind::Text}, {"nchar", ColumnKind::Text},
            {"nvarchar", ColumnKind::Text}, {"text", ColumnKind::Text}, {"ntext", ColumnKind::Text},
            {"clob", ColumnKind::Text}, {"character", ColumnKind::Text}, {"sysname", ColumnKind::Text},
            {"string", ColumnKind::Text}, {"uniqueidentifier", ColumnKind::Text}, {"datetime", ColumnKind::DateTime},
            {"smalldatetime", ColumnKind::DateTime}, {"datetime2", ColumnKind::DateTime},
            {"date", ColumnKind::DateTime}, {"time", ColumnKind::DateTime}, {"timestamp", ColumnKind::DateTime},
            {"datetimeoffset", ColumnKind::DateTime}, {"bit", ColumnKind::Boolean}, {"bool", ColumnKind::Boolean},
            {"boolean", ColumnKind::Boolean}, {"binary", ColumnKind::Binary}, {"varbinary", ColumnKind::Binary},
            {"image", ColumnKind::Binary}, {"blob", ColumnKind::Binary}, {"bytea", ColumnKind::Binary},
            {"decimal", ColumnKind::Decimal}, {"numeric", ColumnKind::Decimal}, {"number", ColumnKind::Decimal}};
    for (const auto& [name, kind] : kinds) {
        if (t == QLatin1String(name))
            return kind;
    }
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
