#pragma once

#include "db/ConnectionPool.h"
#include "db/Types.h"

#include <QHash>

namespace db {

/// A stored-procedure call: the procedure's parameter list is fetched from the server, values are
/// set by name, and "@RETURN_VALUE" is read after execution.
class StoredProc
{
public:
    explicit StoredProc(const QString& name = {});

    QString name() const { return m_name; }
    void setDatabase(const Database& database) { m_database = database; }
    Database database() const { return m_database; }

    /// "BinChange;1" or "sp_CorvaneTran"; forgets the parameter list.
    void setProcedureName(const QString& procedure);
    QString procedureName() const { return m_procedure; }

    /// Fetches the parameter list (names, types, directions) from the server.
    void refreshParameters();
    /// Declares the parameter list without asking the server (a catalogue of fixed calls).
    void setParameterList(const QList<ProcParameter>& parameters);
    QList<ProcParameter> parameters() const { return m_parameters; }

    /// Throws DbError when the procedure has no parameter of that name.
    void setValue(const QString& parameter, const QVariant& value);
    QVariant value(const QString& parameter) const;
    /// Clears every value, as closing the call does.
    void clearValues();

    void execute();
    QVariant returnValue() const { return m_returnValue; }

private:
    int indexOf(const QString& parameter) const;

    QString m_name;
    Database m_database;
    QString m_procedure;
    QList<ProcParameter> m_parameters;
    QHash<QString, int> m_index; // parameter name, as declared and in lower case, to its position
    QList<ProcParameter> m_indexed; // the list `m_index` was built for
    bool m_indexCurrent = false; // whether `m_index` is that of `m_parameters`
    QVariantList m_values;
    QList<bool> m_set;
    QVariant m_returnValue;
};

} // namespace db
