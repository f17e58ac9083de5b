#pragma once

#include <QString>
#include <stdexcept>

namespace db {

/// A failure of the database client layer. The message is the engine's own text, prefixed by what
/// the layer was doing when it failed, so an operator can tell which statement or object broke.
class DbError : public std::runtime_error
{
public:
    explicit DbError(const QString& message, const QString& sqlState = {});

    QString message() const { return m_message; }
    QString sqlState() const { return m_sqlState; }

private:
    QString m_message;
    QString m_sqlState;
};

} // namespace db
