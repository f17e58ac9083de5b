#include "db/Statement.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"

#include <QDateTime>

namespace db {

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
        target = QMetaType::fromType<QDateTime>();
        break;
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
    m_sql = sql;
    m_placeholders.clear();
    QStringList names;
    positionalPlaceholders(sql, &names);
    for (const QString& n : names) {
        bool seen = false;
        for (const QString& p : m_placeholders)
            seen = seen || p.compare(n, Qt::CaseInsensitive) == 0;
        if (!seen)
            m_placeholders << n;
    }
}

Statement::Declared* Statement::find(const QString& name)
{
    for (Declared& d : m_parameters) {
        if (d.name.compare(name, Qt::CaseInsensitive) == 0)
            return &d;
    }
    return nullptr;
}

const Statement::Declared* Statement::find(const QString& name) const
{
    for (const Declared& d : m_parameters) {
        if (d.name.compare(name, Qt::CaseInsensitive) == 0)
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
        used = used || p.compare(name, Qt::CaseInsensitive) == 0;
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
        values.set(p, d->value);
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
