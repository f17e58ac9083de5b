#pragma once

#include "db/Connection.h"

#include <map>
#include <memory>
#include <vector>

namespace db {

/// Open connections kept for reuse, keyed by connection string, so that statements which each
/// "open their own connection" do not pay one login per statement. Single-threaded use.
class ConnectionPool
{
public:
    static ConnectionPool& instance();

    /// An idle connection for `connectionString`, or a newly opened one.
    std::unique_ptr<Connection> take(const QString& connectionString, const QString& traceTarget);
    /// Returns a healthy connection for reuse.
    void give(std::unique_ptr<Connection> connection);
    /// Closes every idle connection (for example when the remote side was unreachable).
    void clear();
    /// Makes idle connections read table layouts afresh, for schema changes made elsewhere.
    void forgetLayouts();
    int idleCount() const;

private:
    std::map<QString, std::vector<std::unique_ptr<Connection>>> m_idle;
};

/// Where a statement runs: a fixed connection that its owner opens and closes (the local
/// database; a statement run while it is closed opens it again), or a connection string from
/// which every run takes a pooled connection (remote).
class Database
{
public:
    Database() = default;
    static Database fixed(Connection* connection);
    static Database pooled(const QString& connectionString, const QString& traceTarget = QStringLiteral("remote"));

    bool isPooled() const { return m_connection == nullptr; }
    /// The fixed connection, or nullptr for a pooled database.
    Connection* fixedConnection() const { return m_connection; }
    QString connectionString() const;
    /// The name its statements are traced and counted under (Connection::traffic).
    QString traceTarget() const { return m_traceTarget; }

    /// Runs `work` on a connection; a pooled connection that failed is not reused.
    template <typename Work> auto run(Work&& work) const -> decltype(work(std::declval<Connection&>()));

private:
    Connection* m_connection = nullptr;
    QString m_connectionString;
    QString m_traceTarget;
};

template <typename Work> auto Database::run(Work&& work) const -> decltype(work(std::declval<Connection&>()))
{
    if (m_connection) {
        // Like a client that opens its connection on demand: a closed local connection with a
        // connection string reconnects for the statement that needs it.
        if (!m_connection->isOpen() && !m_connection->connectionString().isEmpty())
            m_connection->open();
        return work(*m_connection);
    }
    ConnectionPool& pool = ConnectionPool::instance();
    std::unique_ptr<Connection> connection = pool.take(m_connectionString, m_traceTarget);
    struct Return
    {
        ConnectionPool& pool;
        std::unique_ptr<Connection>& connection;
        bool healthy = false;
        ~Return()
        {
            if (healthy)
                pool.give(std::move(connection));
        }
    } giveBack{pool, connection};
    if constexpr (std::is_void_v<decltype(work(*connection))>) {
        work(*connection);
        giveBack.healthy = true;
    } else {
        auto result = work(*connection);
        giveBack.healthy = true;
        return result;
    }
}

} // namespace db
