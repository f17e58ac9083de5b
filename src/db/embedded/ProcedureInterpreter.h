#pragma once

#include "db/Types.h"
#include "db/embedded/EmbeddedProcedure.h"

#include <QHash>
#include <memory>
#include <optional>

namespace db {

/// Runs the embedded engine's stored procedures: binds the arguments to the declared parameters,
/// then runs the body statement by statement (SET, IF ... THEN, RETURN, RAISERROR, EXEC, plain
/// SQL) through the engine that holds it. Each definition and body statement is read once, by
/// its text; conditions that read no table are answered from the values seen before.
class ProcedureInterpreter
{
public:
    /// What the interpreter asks of the engine it runs in.
    class Host
    {
    public:
        /// Runs an SQLite text with its '?' values; the rows when `wantRows`. Throws DbError.
        virtual ResultSet runStatement(const QString& sql, const QVariantList& positional, bool wantRows) = 0;
        /// Runs an SQLite text, ignoring a failure (undoing after a failure that may already have undone).
        virtual void runStatementQuietly(const QString& sql) = 0;
        virtual std::optional<EmbeddedProcedure> storedProcedure(const QString& name) = 0;
        /// Whether the caller opened a transaction of its own.
        virtual bool transactionOpen() const = 0;

    protected:
        ~Host() = default;
    };

    explicit ProcedureInterpreter(Host& host);

    /// The declared parameters in order; throws DbError on a malformed declaration.
    QList<ProcParameter> declared(const EmbeddedProcedure& procedure);
    /// Runs `procedure` with the given values (names with '@'), atomically; returns its RETURN
    /// value (0 when it returns none). Throws DbError, having undone what the call changed.
    QVariant call(const EmbeddedProcedure& procedure, const QList<QPair<QString, QVariant>>& values);
    /// "EXEC name arg, ...": each argument expression is evaluated (":name" placeholders from
    /// `placeholders`) and goes to the declared parameter in its place.
    void exec(const QString& name, const QStringList& arguments, const NamedValues& placeholders);

private:
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
        QStringList lowerNames; // of `declared`, in lower case
        QHash<QString, int> byName; // lower-case name to its place in `declared`
        QHash<QString, int> byDeclaredName; // name as declared to its place in `declared`
        QList<std::shared_ptr<const BodyForm>> statements;
    };

    void callPositionally(const QString& name, const QVariantList& args);
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

    Host& m_host;
    // Procedures run the same texts for every call: their forms are read once, by text.
    QHash<QString, Compiled> m_compiled;
    QHash<QString, std::shared_ptr<const BodyForm>> m_bodyForms;
    QHash<QString, std::shared_ptr<const ProcedureForm>> m_procedureForms;
    // Results of pure expressions by their text and values: a condition such as "@MovesStock = 1"
    // needs no statement once seen with the same values.
    QHash<QString, QVariantList> m_pureResults;
    int m_depth = 0; // procedure calls running, the outermost holding the transaction
};

} // namespace db
