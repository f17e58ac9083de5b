#include "db/Transaction.h"

#include "db/Connection.h"

namespace db {

Transaction::Transaction(Connection& connection)
    : m_connection(connection)
{
    m_connection.beginTransaction();
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    // Runs while an exception unwinds: a refused rollback must not end the program, and the
    // engine drops what was not committed when the connection closes.
    try {
        m_connection.rollback();
    } catch (...) { }
}

void Transaction::commit()
{
    m_connection.commit();
    m_open = false;
}

} // namespace db
