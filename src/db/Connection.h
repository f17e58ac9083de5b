#pragma once

#include "db/Engine.h"

#include <QHash>
#include <memory>

namespace db {

struct EmbeddedProcedure;

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
    /// Why the open connection no longer reaches the database its string names (see
    /// Engine::targetLost()); empty while it does.
    QString targetLost() const;

    /// With `maxRows` above 0, at most that many rows are read.
    ResultSet query(const QString& sql, const NamedValues& values = {}, qsizetype maxRows = 0);
    qint64 execute(const QString& sql, const NamedValues& values = {});

    QStringList tables();
    QStringList procedures();
    /// A table's columns, kept across connections with the same connection string (a local
    /// connection opens every cycle) until a statement fails or changes objects.
    QList<ColumnInfo> columns(const QString& table);
    /// Fetched once per connection; a failed call of the procedure fetches it again.
    QList<ProcParameter> procedureParameters(const QString& procedure);
    QVariant callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values);

    qint64 insertRow(const QString& table, const QList<QPair<QString, QVariant>>& values);
    qint64 updateRow(const QString& table, const RowKey& key, const QList<QPair<QString, QVariant>>& values);
    /// The update, then the query, in one round trip: the rows the update changed and the rows read.
    std::pair<qint64, ResultSet> updateRowThenQuery(const QString& table, const RowKey& key,
        const QList<QPair<QString, QVariant>>& values, const QString& query, const NamedValues& queryValues);
    qint64 deleteRow(const QString& table, const RowKey& key);

    void forgetLayouts();
    /// Forgets the table layouts kept for every connection string.
    static void forgetAllLayouts();

    /// The form of generated statements the connected engine takes.
    SqlDialect dialect();

    /// A database transaction on this connection; rollback() does nothing when it is closed
    /// (closing rolls back what was not committed).
    void beginTransaction();
    void commit();
    void rollback();

    /// Stores a procedure definition in an embedded database; throws for any other engine.
    void installEmbeddedProcedure(const EmbeddedProcedure& procedure);

    /// The ODBC driver used for data sources other than "sqlite:<folder>": the one set, else on
    /// Windows the newest of Microsoft's drivers installed (none: opening says so), else FreeTDS.
    static void setOdbcDriver(const QString& driver);
    static QString odbcDriver();
    /// How long an ODBC login, and each ODBC statement, may wait for the server (seconds).
    static void setOdbcTimeouts(int loginSeconds, int statementSeconds);
    static int loginTimeout();
    static int statementTimeout();
    /// Physical connections opened by this process so far.
    static int physicalConnectionsOpened();

    /// What connections of one trace target sent since the program started: statements
    /// (queries, commands, procedure calls, transaction control) and catalogue calls (tables,
    /// procedures, and the column and parameter lists not served from what was kept).
    struct Traffic
    {
        qint64 statements = 0;
        qint64 catalogueCalls = 0;
    };
    static Traffic traffic(const QString& traceTarget);
    /// Waits `milliseconds` before every statement and catalogue call of a trace target, as a
    /// wide-area link would: for benchmarks of the round trips against an embedded database.
    static void setStatementDelay(const QString& traceTarget, int milliseconds);
    struct TrafficCounter;

private:
    Engine& engine();
    /// After a statement that changed objects, or a failure that may come from a changed table:
    /// the column and parameter lists kept are read again.
    void forgetKept();
    template <typename Work> auto sent(const QString& sql, Work&& work) -> decltype(work());
    /// Counts one round trip (a statement, or else a catalogue call) to this connection's side.
    void roundTrip(bool statement);
    /// After a statement: closes the connection and throws a connection failure when the
    /// statement reached a database no longer in place, so that nothing counts as written there.
    void checkTarget();

    QString m_traceTarget;
    QString m_connectionString;
    std::unique_ptr<Engine> m_engine;
    bool m_embedded = false;
    TrafficCounter* m_traffic;
    // A procedure's parameter list, fetched once per connection: a call per pushed transaction
    // would otherwise cost a round trip for the list.
    QHash<QString, QList<ProcParameter>> m_procedureParameters;
};

} // namespace db
