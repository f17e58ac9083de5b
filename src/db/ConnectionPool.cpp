#include "db/ConnectionPool.h"

#include "db/DbError.h"

#include <QCoreApplication>
#include <QPointer>

namespace db {

ConnectionPool& ConnectionPool::instance()
{
    static ConnectionPool pool;
    // Qt SQL's own registry is gone by the time statics are destroyed: close the pooled
    // connections while the application object still exists.
    static const bool cleared = [] {
        qAddPostRoutine([] { pool.clear(); });
        return true;
    }();
    Q_UNUSED(cleared);
    // By the time the application object runs its clean-up routines, Qt SQL may already have
    // dropped its connections, and an embedded database could no longer be closed: close the
    // pooled ones when the event loop ends, as the program finishes.
    static QPointer<QCoreApplication> watched;
    if (QCoreApplication* app = QCoreApplication::instance(); app && watched != app) {
        watched = app;
        QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { pool.clear(); });
    }
    return pool;
}

std::unique_ptr<Connection> ConnectionPool::take(const QString& connectionString, const QString& traceTarget)
{
    if (connectionString.isEmpty())
        throw DbError(QStringLiteral("The %1 statement has no connection string").arg(traceTarget));
    auto it = m_idle.find(connectionString);
    while (it != m_idle.end() && !it->second.empty()) {
        std::unique_ptr<Connection> connection = std::move(it->second.back());
        it->second.pop_back();
        // One whose database file was deleted or replaced since is closed: a new connection
        // opens the file now in place, or fails as the file is missing.
        if (connection->targetLost().isEmpty())
            return connection;
    }
    auto connection = std::make_unique<Connection>(traceTarget);
    connection->setConnectionString(connectionString);
    connection->open();
    return connection;
}

void ConnectionPool::give(std::unique_ptr<Connection> connection)
{
    if (!connection || !connection->isOpen())
        return;
    m_idle[connection->connectionString()].push_back(std::move(connection));
}

void ConnectionPool::clear()
{
    m_idle.clear();
}

void ConnectionPool::forgetLayouts()
{
    Connection::forgetAllLayouts();
    for (auto& entry : m_idle) {
        for (auto& connection : entry.second)
            connection->forgetLayouts();
    }
}

int ConnectionPool::idleCount() const
{
    int n = 0;
    for (const auto& entry : m_idle)
        n += int(entry.second.size());
    return n;
}

Database Database::fixed(Connection* connection)
{
    Database d;
    d.m_connection = connection;
    d.m_traceTarget = connection ? connection->traceTarget() : QString();
    return d;
}

Database Database::pooled(const QString& connectionString, const QString& traceTarget)
{
    Database d;
    d.m_connectionString = connectionString;
    d.m_traceTarget = traceTarget;
    return d;
}

QString Database::connectionString() const
{
    return m_connection ? m_connection->connectionString() : m_connectionString;
}

} // namespace db
