#pragma once

#include "db/Engine.h"
#include "db/embedded/EmbeddedProcedure.h"
#include "db/embedded/ProcedureInterpreter.h"
#include "db/embedded/SqliteAdapter.h"
#include "db/embedded/SqliteFile.h"
#include "db/embedded/SqliteValues.h"
#include "db/embedded/StatementTriggers.h"

#include <QHash>
#include <QSqlDatabase>
#include <memory>
#include <optional>

struct sqlite3;

namespace db {

/// The embedded engine: a SQLite file reached through Qt's QSQLITE driver. T-SQL texts pass
/// through SqliteAdapter; stored procedures are EmbeddedProcedure definitions kept in the file,
/// run by a ProcedureInterpreter.
/// Statements run through SQLite's own interface on the connection Qt opened: each text is
/// adapted and prepared once, and literals of WHERE clauses are bound, so that the per-row probes
/// and lookups of a backlog share one prepared statement.
/// SqliteEngine.cpp plans and runs texts, SqliteStatements.cpp prepares and steps them through
/// SQLite's interface, SqliteCatalogue.cpp reads and changes what the file holds (tables, layouts,
/// the agent's procedures and triggers).
class SqliteEngine : public Engine, private ProcedureInterpreter::Host
{
public:
    enum class OpenMode { ExistingFile, CreateIfMissing };

    /// Opens `file`; throws DbError naming the file when it is missing (ExistingFile) or unreadable.
    SqliteEngine(const QString& file, OpenMode mode = OpenMode::ExistingFile);
    ~SqliteEngine() override;

    ResultSet query(const QString& sql, const NamedValues& values, qsizetype maxRows) override;
    qint64 execute(const QString& sql, const NamedValues& values) override;
    /// Both in one call into the engine: there is no server between them.
    bool runsBatches() override { return true; }
    std::pair<qint64, ResultSet> executeThenQuery(const QString& command, const NamedValues& commandValues,
        const QString& query, const NamedValues& queryValues) override
    {
        const qint64 changed = execute(command, commandValues);
        return {changed, this->query(query, queryValues, 0)};
    }
    QStringList tables() override;
    QStringList procedures() override;
    QList<ColumnInfo> columns(const QString& table) override;
    QList<ProcParameter> procedureParameters(const QString& procedure) override;
    QVariant callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values) override;
    SqlDialect dialect() const override { return SqlDialect::Sqlite; }
    void forgetLayouts() override { forgetSchema(); }
    void adoptLayouts(const QHash<QString, QList<ColumnInfo>>& layouts) override { m_layouts.insert(layouts); }
    QString schemaStamp() override;
    QString targetLost() override;
    void beginTransaction() override;
    void commit() override;
    void rollback() override;

    /// Stores a procedure definition in the database, replacing one of the same name.
    void installProcedure(const EmbeddedProcedure& procedure);
    std::optional<EmbeddedProcedure> findProcedure(const QString& name);

private:
    struct StepResult
    {
        ResultSet rows;
        qint64 affected = -1;
    };
    struct Prepared;
    /// Where each '?' of an adapted statement takes its value: a literal lifted out of the text
    /// or a ":name" placeholder.
    struct Source
    {
        int literal = -1;
        QString placeholder;
    };
    struct PlannedStep
    {
        AdaptedStep step;
        QString sql; // Sql: with '?' for placeholders and lifted literals
        QList<Source> sources;
        QString baseTable;
        bool changesSchema = false;
        QString deleteTarget; // the table a DELETE deletes from

        std::shared_ptr<Prepared> prepared; // of `sql`, once it first ran
    };
    /// What a text (its literals lifted out) becomes, adapted and tokenized once.
    struct Plan
    {
        QList<PlannedStep> steps;
        QString baseTable;
    };

    /// `maxRows` above 0 limits the rows of a query that are read.
    StepResult run(const QString& tsql, const NamedValues& values, bool wantRows, qsizetype maxRows = 0);
    std::shared_ptr<Plan> plan(const QString& shape, const QString& tsql);
    StepResult runStep(
        PlannedStep& step, const NamedValues& values, const QVariantList& literals, bool wantRows, qsizetype maxRows);
    StepResult runSqlStep(
        PlannedStep& step, const NamedValues& values, const QVariantList& literals, bool wantRows, qsizetype maxRows);
    /// Runs a DELETE and then each trigger on its table, all or nothing.
    StepResult runTriggered(PlannedStep& step, const NamedValues& values, const QVariantList& literals, bool wantRows,
        qsizetype maxRows, const QList<sqlite::StatementTriggers::Trigger>& triggers);
    StepResult runSql(const QString& sql, const QVariantList& positional, bool wantRows);
    StepResult runPrepared(const std::shared_ptr<Prepared>& prepared, const QString& sql,
        const QVariantList& positional, bool wantRows, qsizetype maxRows = 0);
    /// Runs `sql`, ignoring a failure (undoing after a failure that may already have undone).
    void runQuietly(const QString& sql);
    ResultSet runStatement(const QString& sql, const QVariantList& positional, bool wantRows) override;
    void runStatementQuietly(const QString& sql) override { runQuietly(sql); }
    std::optional<EmbeddedProcedure> storedProcedure(const QString& name) override { return findProcedure(name); }
    bool transactionOpen() const override { return m_transactionOpen || m_statementOpen; }
    std::shared_ptr<Prepared> prepare(const QString& sql);
    void describe(Prepared& prepared);
    /// Compares the schema cookie with the one the layouts were read under.
    void checkSchemaVersion();
    void forgetSchema();
    /// The SQL state of the connection's last failure.
    QString handleState() const;
    bool guardHolds(const AdaptedStep& step);
    bool objectExists(const QString& name, const QString& type);
    void install(const QString& name, const QString& onTable);
    void installTrigger(const EmbeddedEquivalent& trigger, const QString& table);
    void drop(const QString& name, const QString& type);
    QList<ColumnInfo> layout(const QString& table);

    QString m_connectionName;
    QString m_file;
    sqlite::FileIdentity m_identity; // of the file opened
    sqlite3* m_handle = nullptr;
    // Statements are prepared once per text and reset after each use.
    QHash<QString, std::shared_ptr<Prepared>> m_statements;
    QHash<QString, std::shared_ptr<Plan>> m_plans;
    QHash<QString, QList<ColumnInfo>> m_layouts;
    quint64 m_layoutGeneration = 0; // counts the times the layouts were forgotten
    qint64 m_schemaVersion = -1;
    /// The schema version read when the connection opened, while nothing has changed the schema
    /// since: the descriptions of results are shared with other connections under it.
    QString m_schemaStamp;
    sqlite::DateTimeTexts m_dateTimes;
    ProcedureInterpreter m_procedures;
    bool m_transactionOpen = false; // between beginTransaction() and commit() or rollback()
    bool m_statementOpen = false; // a DELETE and its triggers running
    sqlite::StatementTriggers m_statementTriggers;
};

} // namespace db
