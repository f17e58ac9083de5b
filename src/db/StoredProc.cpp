#include "db/StoredProc.h"

#include "db/DbError.h"
#include "db/Statement.h"

namespace db {

StoredProc::StoredProc(const QString& name)
    : m_name(name)
{ }

void StoredProc::setProcedureName(const QString& procedure)
{
    m_procedure = procedure;
    setParameterList({});
}

void StoredProc::refreshParameters()
{
    const QString procedure = m_procedure;
    setParameterList(m_database.run([&](Connection& c) { return c.procedureParameters(procedure); }));
}

void StoredProc::setParameterList(const QList<ProcParameter>& parameters)
{
    m_parameters = parameters;
    m_values = QVariantList(parameters.size());
    m_set = QList<bool>(parameters.size(), false);
    m_returnValue = QVariant();
    // Every call names its procedure, which forgets the list, then fetches the list the
    // connection keeps: the index of those names is kept for it.
    if (parameters.isEmpty()) {
        m_indexCurrent = false;
        return;
    }
    bool sameNames = parameters.size() == m_indexed.size();
    if (sameNames && parameters.constData() != m_indexed.constData()) {
        for (qsizetype i = 0; sameNames && i < parameters.size(); ++i)
            sameNames = parameters[i].name == m_indexed[i].name;
    }
    m_indexCurrent = true;
    if (sameNames)
        return;
    m_indexed = parameters;
    m_index.clear();
    for (int i = 0; i < parameters.size(); ++i) {
        const QString lower = parameters[i].name.toLower();
        if (m_index.contains(lower))
            continue;
        m_index.insert(lower, i);
        m_index.insert(parameters[i].name, i);
    }
}

int StoredProc::indexOf(const QString& parameter) const
{
    if (!m_indexCurrent)
        return -1;
    if (const auto it = m_index.constFind(parameter); it != m_index.constEnd())
        return *it;
    return m_index.value(parameter.toLower(), -1);
}

void StoredProc::setValue(const QString& parameter, const QVariant& value)
{
    const int index = indexOf(parameter);
    if (index < 0)
        throw DbError(QStringLiteral("%1: procedure %2 has no parameter named %3").arg(m_name, m_procedure, parameter));
    m_values[index] = convertToParamType(value, m_parameters[index].type);
    m_set[index] = true;
}

QVariant StoredProc::value(const QString& parameter) const
{
    const int index = indexOf(parameter);
    return index < 0 ? QVariant() : m_values[index];
}

void StoredProc::clearValues()
{
    for (int i = 0; i < m_values.size(); ++i) {
        m_values[i] = QVariant();
        m_set[i] = false;
    }
}

void StoredProc::execute()
{
    QList<QPair<QString, QVariant>> values;
    for (int i = 0; i < m_parameters.size(); ++i) {
        const ProcParameter& p = m_parameters[i];
        if (p.direction == ParamDirection::ReturnValue || !m_set[i])
            continue;
        values.append({p.name, m_values[i]});
    }
    const QString procedure = m_procedure;
    m_returnValue = m_database.run([&](Connection& c) { return c.callProcedure(procedure, values); });
    const int rv = indexOf(QStringLiteral("@RETURN_VALUE"));
    if (rv >= 0)
        m_values[rv] = m_returnValue;
}

} // namespace db
