#include "db/DbError.h"

namespace db {

DbError::DbError(const QString& message, const QString& sqlState)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_sqlState(sqlState)
{ }

} // namespace db
