#include "db/Statement.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/Types.h"

#include <QDateTime>
#include <cmath>
#include <limits>

namespace db {

namespace {

bool outsideIntRange(const QVariant& value)
{
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        return !std::isfinite(number) || std::round(number) < lowest || std::round(number) > highest;
    }
    case QMetaType::ULongLong:
        return value.toULongLong() > quint64(highest);
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::UInt:
    case QMetaType::QString: {
        bool isNumber = false;
        const qlonglong number = value.toString().trimmed().toLongLong(&isNumber);
        // Text beyond even 64 bits is no number for the conversion either, which refuses it.
        return isNumber && (number < lowest || number > highest);
    }
    default:
        return false;
    }
}

/// Placeholder names match without regard to case; most are given as written.
bool sameName(const QString& a, const QString& b)
{
    return a.size() == b.size() && (a == b || a.compare(b, Qt::CaseInsensitive) == 0);
}

/// A date-time parameter carries a wall clock (see wallClock()): a local reading of a text could
/// fall into a gap of the computer's zone and be lost.
QVariant dateTimeParameter(const QVariant& value)
{
    if (value.isNull())
        return QVariant(QMetaType::fromType<QDateTime>());
    const QDateTime result = wallClockOf(value);
    if (!result.isValid())
        throw DbError(QStringLiteral("The value \"%1\" cannot be converted to the parameter's date-time type")
                          .arg(value.toString()),
            QStringLiteral("22007"));
    return result;
}

} // namespace

QVariant convertToParamType(const QVariant& value, ParamType type)
{
    QMetaType target;
    switch (type) {
    case ParamType::String:
    case ParamType::LongText:
        target = QMetaType::fromType<QString>();
        break;
    case ParamType::Integer:
        target = QMetaType::fromType<int>();
        break;
    case ParamType::Money:
        target = QMetaType::fromType<double>();
        break;
    case ParamType::DateTime:
        return dateTimeParameter(value);
    case ParamType::Boolean:
        target = QMetaType::fromType<bool>();
        break;
    case ParamType::Variant:
        return value;
    }
    if (value.isNull())
        return QVariant(target);
    if (value.metaType() == target)
        return value;
    // QVariant wraps a number outside the int range and turns infinity and NaN into 0: a
    // quantity must never arrive as another number than the one stored.
    if (type == ParamType::Integer && outsideIntRange(value))
        throw DbError(QStringLiteral("The value \"%1\" is out of the range of the parameter's integer type")
                          .arg(value.toString()));
    QVariant converted = value;
    if (!converted.convert(target))
        throw DbError(
            QStringLiteral("The value \"%1\" cannot be converted to the parameter's type").arg(value.toString()));
    return converted;
}

Statement::Statement(const QString& name)
    : m_name(name)
{ }

void Statement::setSql(const QString& sql)
{
    // A statement set to the same text for every row keeps the placeholders it has.
    if (sql == m_sql)
        return;
    m_sql = sql;
    m_placeholders.clear();
    for (const QString& n : placeholderNames(sql)) {
        bool seen = false;
        for (const QString& p : m_placeholders)
            seen = seen || sameName(p, n);
        if (!seen)
            m_placeholders << n;
    }
}

Statement::Declared* Statement::find(const QString& name)
{
    for (Declared& d : m_parameters) {
        if (sameName(d.name, name))
            return &d;
    }
    return nullptr;
}

const Statement::Declared* Statement::find(const QString& name) const
{
    for (const Declared& d : m_parameters) {
        if (sameName(d.name, name))
            return &d;
    }
    return nullptr;
}

void Statement::declareParameter(const QString& name, ParamType type, int size)
{
    if (Declared* d = find(name)) {
        d->type = type;
        d->size = size;
        return;
    }
    m_parameters.append({name, type, size, QVariant(), false});
}

void Statement::setParameter(const QString& name, const QVariant& value)
{
    bool used = false;
    for (const QString& p : m_placeholders)
        used = used || sameName(p, name);
    if (!used)
        throw DbError(QStringLiteral("%1: the statement has no parameter named %2")
                          .arg(m_name.isEmpty() ? QStringLiteral("Statement") : m_name, name));
    Declared* d = find(name);
    if (!d) {
        m_parameters.append({name, ParamType::Variant, 0, QVariant(), false});
        d = &m_parameters.last();
    }
    d->value = convertToParamType(value, d->type);
    d->set = true;
}

QVariant Statement::parameter(const QString& name) const
{
    const Declared* d = find(name);
    return d ? d->value : QVariant();
}

NamedValues Statement::boundValues() const
{
    NamedValues values;
    for (const QString& p : m_placeholders) {
        const Declared* d = find(p);
        if (!d || !d->set)
            throw DbError(QStringLiteral("%1: no value was given for the parameter %2")
                              .arg(m_name.isEmpty() ? QStringLiteral("Statement") : m_name, p));
        // The placeholders are listed once each.
        values.add(p, d->value);
    }
    return values;
}

qint64 Command::execute()
{
    const NamedValues values = boundValues();
    const QString text = sql();
    return database().run([&](Connection& c) { return c.execute(text, values); });
}

} // namespace db
