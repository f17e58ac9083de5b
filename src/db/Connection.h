#pragma once

#include "db/EmbeddedProcedure.h"
#include "db/Engine.h"

#include <memory>

namespace db {

/// One physical connection to a database, opened from a connection string (see ConnectionTarget
/// for how the fields select the engine). Every statement it runs is recorded by SqlTrace under
/// its trace target ("local" or "remote").
class Connection
{
public:
    enum class OpenMode { ExistingDatabase, CreateEmbeddedIfMissing };

    explicit Connection(const QString& traceTarget = QStringLiteral("local"));
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(const QString& connectionString) { m_connectionString = connectionString; }
    QString connectionString() const { return m_connectionString; }
    QString traceTarget() const { return m_traceTarget; }

    /// Connects; throws DbError with the engine's text. Opening an open connection reconnects.
    void open(OpenMode mode = OpenMode::ExistingDatabase);
    void close();
    bool isOpen() const { return m_engine != nullptr; }
    bool isEmbedded() const;

    ResultSet query(const QString& sql, const NamedValues& values = {});
    qint64 execute(const QString& sql, const NamedValues& values = {});

    QStringList tables();
    QStringList procedures();
    QList<ColumnInfo> columns(const QString& table);
    QList<ProcParameter> procedureParameters(const QString& procedure);
    QVariant callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values);

    qint64 insertRow(const QString& table, const QList<QPair<QString, QVariant>>& values);
    qint64 updateRow(const QString& table, const RowKey& key, const QList<QPair<QString, QVariant>>& values);
    qint64 deleteRow(const QString& table, const RowKey& key);

    void forgetLayouts();

    /// The form of generated statements the connected engine takes.
    SqlDialect dialect();

    /// A database transaction on this connection; rollback() does nothing when it is closed
    /// (closing rolls back what was not committed).
    void beginTransaction();
    void commit();
    void rollback();

    /// Stores a procedure definition in an embedded database; throws for any other engine.
    void installEmbeddedProcedure(const EmbeddedProcedure& procedure);

    /// The ODBC driver used for data sources other than "sqlite:<folder>".
    static void setOdbcDriver(const QString& driver);
    static QString odbcDriver();
    /// How long an ODBC login, and each ODBC statement, may wait for the server (seconds).
    static void setOdbcTimeouts(int loginSeconds, int statementSeconds);
    static int loginTimeout();
    static int statementTimeout();
    /// Physical connections opened by this process so far.
    static int physicalConnectionsOpened();

private:
    Engine& engine();

    QString m_traceTarget;
    QString m_connectionString;
    std::unique_ptr<Engine> m_engine;
    bool m_embedded = false;
};

} // namespace db
