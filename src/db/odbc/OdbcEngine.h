#pragma once

#include "db/Engine.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <optional>

namespace db {

/// SQL Server (or any ODBC data source) through Qt's QODBC driver. Texts are sent as written;
/// the catalogue comes from the driver's own catalogue functions.
class OdbcEngine : public Engine
{
public:
    /// Connects with an ODBC connection string; throws DbError with the driver's text and SQL
    /// state on failure. The login may wait `loginTimeoutSeconds` for the server, and every
    /// statement `statementTimeoutSeconds` (0: without limit).
    OdbcEngine(const QString& odbcConnectionString, int loginTimeoutSeconds = 15, int statementTimeoutSeconds = 300);
    ~OdbcEngine() override;

    ResultSet query(const QString& sql, const NamedValues& values, qsizetype maxRows) override;
    qint64 execute(const QString& sql, const NamedValues& values) override;
    std::pair<qint64, ResultSet> executeThenQuery(const QString& command, const NamedValues& commandValues,
        const QString& query, const NamedValues& queryValues) override;
    /// Whether the driver takes a statement and a query in one text and returns the count and
    /// the rows one after the other (SQL Server does; SQLite's ODBC driver does not).
    bool runsBatches() override;
    QStringList tables() override;
    QStringList procedures() override;
    QList<ColumnInfo> columns(const QString& table) override;
    QList<ProcParameter> procedureParameters(const QString& procedure) override;
    QVariant callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values) override;
    SqlDialect dialect() const override { return SqlDialect::TSql; }
    void forgetLayouts() override { m_layouts.clear(); }
    void adoptLayouts(const QHash<QString, QList<ColumnInfo>>& layouts) override { m_layouts.insert(layouts); }
    QString schemaStamp() override;
    void beginTransaction() override;
    void commit() override;
    void rollback() override;

    /// The batch that calls `procedure` (without its ";n" group number) with the parameters
    /// `names` bound by name, one "?" each, and selects its return value as RETURN_VALUE.
    static QString callBatch(const QString& procedure, const QStringList& names);
    /// The text that reads a schema stamp from SQL Server.
    static QString serverSchemaStampText();
    /// The one batch that runs `command` and then `query` (both with "?" markers).
    static QString commandThenQueryBatch(const QString& command, const QString& query);

private:
    QSqlDatabase database() const;
    /// Prepares `sql` with its placeholders bound by position and executes it.
    QSqlQuery run(const QString& sql, const NamedValues& values);
    /// Runs a text with '?' placeholders and their values in order.
    QSqlQuery runPositional(const QString& text, const QVariantList& bound);
    /// The rows of the first result set of `q`, which ran `sql`.
    ResultSet rowsOf(QSqlQuery& q, const QString& sql, qsizetype maxRows);
    void* connectionHandle() const;
    QList<ColumnInfo> layout(const QString& table);

    QString m_connectionName;
    int m_statementTimeout;
    QHash<QString, QList<ColumnInfo>> m_layouts;
    std::optional<bool> m_batches;
};

} // namespace db
