#pragma once

#include "db/ConnectionPool.h"
#include "db/Types.h"

namespace db {

/// What every named statement shares: its name, its database, its text and the values of the
/// ":name" placeholders in the text. Copying a statement copies all of these.
class Statement
{
public:
    explicit Statement(const QString& name = {});
    virtual ~Statement() = default;

    QString name() const { return m_name; }
    void setDatabase(const Database& database) { m_database = database; }
    Database database() const { return m_database; }

    void setSql(const QString& sql);
    QString sql() const { return m_sql; }

    /// Gives a placeholder a type, so that its NULL is sent typed and its values are converted.
    void declareParameter(const QString& name, ParamType type, int size = 0);
    /// Sets a placeholder's value; throws DbError when the text has no such placeholder.
    void setParameter(const QString& name, const QVariant& value);
    QVariant parameter(const QString& name) const;
    /// The placeholder names of the text, each once, in order of first use.
    QStringList parameterNames() const { return m_placeholders; }

protected:
    NamedValues boundValues() const;

private:
    struct Declared
    {
        QString name;
        ParamType type = ParamType::Variant;
        int size = 0;
        QVariant value;
        bool set = false;
    };
    Declared* find(const QString& name);
    const Declared* find(const QString& name) const;

    QString m_name;
    Database m_database;
    QString m_sql;
    QStringList m_placeholders;
    QList<Declared> m_parameters;
};

/// A statement executed for its effect.
class Command : public Statement
{
public:
    using Statement::Statement;
    /// Returns the number of rows changed, or -1 when the engine cannot tell.
    qint64 execute();
};

/// Converts a value to the type of a parameter; a NULL becomes a NULL of that type.
QVariant convertToParamType(const QVariant& value, ParamType type);

} // namespace db
