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

    static const std::pair<QLatin1String, ColumnKind> kinds[]
        = {{QLatin1String("int"), ColumnKind::Integer}, {QLatin1String("integer"), ColumnKind::Integer},
            {QLatin1String("smallint"), ColumnKind::Integer}, {QLatin1String("tinyint"), ColumnKind::Integer},
            {QLatin1String("bigint"), ColumnKind::Integer}, {QLatin1String("mediumint"), ColumnKind::Integer},
            {QLatin1String("int2"), ColumnKind::Integer}, {QLatin1String("int4"), ColumnKind::Integer},
            {QLatin1String("int8"), ColumnKind::Integer}, {QLatin1String("float"), ColumnKind::Floating},
            {QLatin1String("real"), ColumnKind::Floating}, {QLatin1String("double"), ColumnKind::Floating},
            {QLatin1String("money"), ColumnKind::Floating}, {QLatin1String("smallmoney"), ColumnKind::Floating},
            {QLatin1String("currency"), ColumnKind::Floating}, {QLatin1String("char"), ColumnKind::Text},
            {QLatin1String("varchar"), ColumnKind::Text}, {QLatin1String("nchar"), ColumnKind::Text},
            {QLatin1String("nvarchar"), ColumnKind::Text}, {QLatin1String("text"), ColumnKind::Text},
            {QLatin1String("ntext"), ColumnKind::Text}, {QLatin1String("clob"), ColumnKind::Text},
            {QLatin1String("character"), ColumnKind::Text}, {QLatin1String("sysname"), ColumnKind::Text},
            {QLatin1String("string"), ColumnKind::Text}, {QLatin1String("uniqueidentifier"), ColumnKind::Text},
            {QLatin1String("datetime"), ColumnKind::DateTime}, {QLatin1String("smalldatetime"), ColumnKind::DateTime},
            {QLatin1String("datetime2"), ColumnKind::DateTime}, {QLatin1String("date"), ColumnKind::DateTime},
            {QLatin1String("time"), ColumnKind::DateTime}, {QLatin1String("timestamp"), ColumnKind::DateTime},
            {QLatin1String("datetimeoffset"), ColumnKind::DateTime}, {QLatin1String("bit"), ColumnKind::Boolean},
            {QLatin1String("bool"), ColumnKind::Boolean}, {QLatin1String("boolean"), ColumnKind::Boolean},
            {QLatin1String("binary"), ColumnKind::Binary}, {QLatin1String("varbinary"), ColumnKind::Binary},
            {QLatin1String("image"), ColumnKind::Binary}, {QLatin1String("blob"), ColumnKind::Binary},
            {QLatin1String("bytea"), ColumnKind::Binary}, {QLatin1String("decimal"), ColumnKind::Decimal},
            {QLatin1String("numeric"), ColumnKind::Decimal}, {QLatin1String("number"), ColumnKind::Decimal}};
    for (const auto& [name, kind] : kinds) {
        if (t == name)
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
