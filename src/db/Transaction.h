#pragma once

namespace db {

class Connection;

/// A database transaction on one connection, begun when constructed and rolled back when it goes
/// out of scope uncommitted: a step that fails half-way, by an exception or an early return,
/// leaves nothing of its writes behind.
class Transaction
{
public:
    /// Begins the transaction; throws DbError when the engine refuses.
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    /// Commits; throws DbError when refused, and the transaction is then rolled back on scope exit.
    void commit();

private:
    Connection& m_connection;
    bool m_open = true;
};

} // namespace db
