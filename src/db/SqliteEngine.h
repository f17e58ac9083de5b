#pragma once

#include "db/EmbeddedProcedure.h"
#include "db/Engine.h"
#include "db/SqliteAdapter.h"

#include <QHash>
#include <QSqlDatabase>
#include <memory>

struct sqlite3;

namespace db {

/// The embedded engine: a SQLite file reached through Qt's QSQLITE driver. T-SQL texts pass
/// through SqliteAdapter; stored procedures are EmbeddedProcedure definitions kept in the file.
/// Statements run through SQLite's own interface on the connection Qt opened: each text is
/// adapted and prepared once, and literals of WHERE clauses are bound, so that the per-row probes
/// and lookups of a backlog share one prepared statement.
class SqliteEngine : public Engine
{
public:
    enum class OpenMode { ExistingFile, CreateIfMissing };

    /// Opens `file`; throws DbError naming the file when it is missing (ExistingFile) or unreadable.
    SqliteEngine(const QString& file, OpenMode mode = OpenMode::ExistingFile);
    ~SqliteEngine() override;

    ResultSet query(const QString& sql, const NamedValues& values) override;
    qint64 execute(const QString& sql, const NamedValues& values) override;
    QStringList tables() override;
    QStringList procedures() override;
    QList<ColumnInfo> columns(const QString& table) override;
    QList<ProcParameter> procedureParameters(const QString& procedure) override;
    QVariant callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values) override;
    SqlDialect dialect() const override { return SqlDialect::Sqlite; }
    void forgetLayouts() override { forgetSchema(); }
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
    };
    /// What a text (its literals lifted out) becomes, adapted and tokenized once.
    struct Plan
    {
        QList<PlannedStep> steps;
        QString baseTable;
    };

    StepResult run(const QString& tsql, const NamedValues& values, bool wantRows);
    Plan plan(const QString& shape, const QString& tsql);
    StepResult runStep(const PlannedStep& step, const NamedValues& values, const QVariantList& literals, bool wantRows);
    StepResult runSql(const QString& sql, const QVariantList& positional, bool wantRows);
    /// Runs `sql`, ignoring a failure (undoing after a failure that may already have undone).
    void runQuietly(const QString& sql);
    std::shared_ptr<Prepared> prepare(const QString& sql);
    void describe(Prepared& prepared);
    /// Compares the schema cookie with the one the layouts were read under.
    void checkSchemaVersion();
    void forgetSchema();
    /// The SQL state of the connection's last failure.
    QString handleState() const;
    bool guardHolds(const AdaptedStep& step);
    bool objectExists(const QString& name, const QString& type);
    void install(const QString& name);
    void drop(const QString& name, const QString& type);
    /// EXEC with positional arguments: the values go to the declared parameters in order.
    void callPositionally(const QString& name, const QVariantList& args);
    QVariant runProcedure(const EmbeddedProcedure& procedure, const QList<QPair<QString, QVariant>>& values);
    /// SQL text with the interpreter's variables and placeholders turned into '?', and what each
    /// '?' takes, in order.
    struct Compiled
    {
        struct Reference
        {
            bool variable = true; // else a ":name" placeholder
            QString name; // variable in lower case, placeholder without ':'
            QString text; // as written, for messages
        };
        QString sql;
        QList<Reference> references;
        /// Reads no table and calls nothing that changes: the same values give the same result.
        bool pure = false;
    };
    /// What a procedure body statement is, read once per text.
    struct BodyForm
    {
        enum class Kind { Set, Return, Raise, If, IfWithoutThen, Exec, Plain };
        Kind kind = Kind::Plain;
        QString variable; // Set, and If whose statement is a Set, in lower case
        Compiled expressions; // Set, Return, Raise, If (the condition as a CASE), Exec (arguments)
        QString inner; // If: the statement after THEN
        std::shared_ptr<const BodyForm> then; // If: the form of `inner`
        /// If whose statement sets a variable from an expression that reads without writing: the
        /// condition and the value come from one SELECT.
        bool fusedSet = false;
        QString name; // Exec: the procedure
        Compiled plain; // Plain
    };
    /// A procedure's declarations and body, read once per definition.
    struct ProcedureForm
    {
        QList<ProcParameter> declared;
        QHash<QString, int> byName; // lower-case name to its place in `declared`
        QList<std::shared_ptr<const BodyForm>> statements;
    };

    QVariantList evaluate(
        const Compiled& compiled, const QHash<QString, QVariant>& variables, const NamedValues& placeholders);
    /// `parts` tokenized and joined after `prefix` with ", " between them; placeholders become '?'
    /// only when `bindPlaceholders`. Kept by `key`.
    Compiled compile(const QString& key, const QString& prefix, const QStringList& parts, bool bindPlaceholders);
    QVariantList bind(
        const Compiled& compiled, const QHash<QString, QVariant>& variables, const NamedValues& placeholders) const;
    std::shared_ptr<const BodyForm> bodyForm(const QString& statement);
    std::shared_ptr<const ProcedureForm> procedureForm(const EmbeddedProcedure& procedure);
    std::optional<QVariant> runBodyStatement(
        const EmbeddedProcedure& procedure, const BodyForm& form, QHash<QString, QVariant>& variables);
    QList<ColumnInfo> layout(const QString& table);

    QString m_connectionName;
    QString m_file;
    sqlite3* m_handle = nullptr;
    // Statements are prepared once per text and reset after each use.
    QHash<QString, std::shared_ptr<Prepared>> m_statements;
    QHash<QString, Plan> m_plans;
    QHash<QString, QList<ColumnInfo>> m_layouts;
    quint64 m_layoutGeneration = 0; // counts the times the layouts were forgotten
    qint64 m_schemaVersion = -1;
    // Procedures run the same texts for every call: their forms are read once, by text.
    QHash<QString, Compiled> m_compiled;
    QHash<QString, std::shared_ptr<const BodyForm>> m_bodyForms;
    QHash<QString, std::shared_ptr<const ProcedureForm>> m_procedureForms;
    // Results of pure expressions by their text and values: a condition such as "@MovesStock = 1"
    // needs no statement once seen with the same values.
    QHash<QString, QVariantList> m_pureResults;
    int m_procedureDepth = 0; // procedure calls running, the outermost holding the transaction
    bool m_transactionOpen = false; // between beginTransaction() and commit() or rollback()
};

} // namespace db
