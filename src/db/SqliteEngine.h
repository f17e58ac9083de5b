#pragma once

#include "db/EmbeddedProcedure.h"
#include "db/Engine.h"
#include "db/SqliteAdapter.h"

#include <QHash>
#include <QSqlDatabase>

namespace db {

/// The embedded engine: a SQLite file reached through Qt's QSQLITE driver. T-SQL texts pass
/// through SqliteAdapter; stored procedures are EmbeddedProcedure definitions kept in the file.
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
    void forgetLayouts() override { m_layouts.clear(); }
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

    QSqlDatabase database() const;
    StepResult run(const QString& tsql, const NamedValues& values, bool wantRows);
    StepResult runStep(const AdaptedStep& step, const NamedValues& values, bool wantRows);
    StepResult runSql(const QString& sql, const QVariantList& positional, bool wantRows);
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
    };
    /// What a procedure body statement is, read once per text.
    struct BodyForm
    {
        enum class Kind { Set, Return, Raise, If, IfWithoutThen, Exec, Plain };
        Kind kind = Kind::Plain;
        QString variable; // Set, in lower case
        QStringList expressions; // Set, Return, Raise, If (the condition as a CASE), Exec (arguments)
        QString inner; // If: the statement after THEN
        QString name; // Exec: the procedure
        Compiled plain; // Plain
    };

    QVariantList evaluate(
        const QStringList& expressions, const QHash<QString, QVariant>& variables, const NamedValues& placeholders);
    /// `parts` tokenized and joined after `prefix` with ", " between them; placeholders become '?'
    /// only when `bindPlaceholders`. Kept by `key`.
    Compiled compile(const QString& key, const QString& prefix, const QStringList& parts, bool bindPlaceholders);
    QVariantList bind(
        const Compiled& compiled, const QHash<QString, QVariant>& variables, const NamedValues& placeholders) const;
    BodyForm bodyForm(const QString& statement);
    std::optional<QVariant> runBodyStatement(
        const EmbeddedProcedure& procedure, const QString& statement, QHash<QString, QVariant>& variables);
    QList<ColumnInfo> layout(const QString& table);

    QString m_connectionName;
    QString m_file;
    QHash<QString, QList<ColumnInfo>> m_layouts;
    qint64 m_schemaVersion = -1;
    // Procedures run the same texts for every call: their forms are read once, by text.
    QHash<QString, Compiled> m_compiled;
    QHash<QString, BodyForm> m_bodyForms;
    int m_procedureDepth = 0; // procedure calls running, the outermost holding the transaction
    bool m_transactionOpen = false; // between beginTransaction() and commit() or rollback()
};

} // namespace db
