#include "db/embedded/ProcedureInterpreter.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/embedded/SqliteAdapter.h"

#include <QRegularExpression>

namespace db {

namespace {

/// Position of the first top-level THEN of an "IF cond THEN statement" line, outside CASE ... END.
int thenPosition(const QString& statement)
{
    int caseDepth = 0;
    int parenDepth = 0;
    int offset = 0;
    for (const SqlToken& t : tokenizeSql(statement)) {
        if (t.isPunct('('))
            ++parenDepth;
        else if (t.isPunct(')'))
            --parenDepth;
        else if (t.isWord("case"))
            ++caseDepth;
        else if (t.isWord("end") && caseDepth > 0)
            --caseDepth;
        else if (t.isWord("then") && caseDepth == 0 && parenDepth == 0)
            return offset;
        offset += t.text.size();
    }
    return -1;
}

/// Whether an expression calls only functions whose result its arguments fix (a subquery may
/// still read a table).
bool callsOnlyKnownFunctions(const QString& expression)
{
    static const QStringList allowed = {QStringLiteral("abs"), QStringLiteral("upper"), QStringLiteral("lower"),
        QStringLiteral("coalesce"), QStringLiteral("ifnull"), QStringLiteral("nullif"), QStringLiteral("length"),
        QStringLiteral("trim"), QStringLiteral("ltrim"), QStringLiteral("rtrim"), QStringLiteral("substr"),
        QStringLiteral("round"), QStringLiteral("cast"), QStringLiteral("iif"), QStringLiteral("in"),
        QStringLiteral("and"), QStringLiteral("or"), QStringLiteral("not"), QStringLiteral("case"),
        QStringLiteral("when"), QStringLiteral("then"), QStringLiteral("else"), QStringLiteral("is"),
        QStringLiteral("like"), QStringLiteral("between"), QStringLiteral("exists"), QStringLiteral("select"),
        QStringLiteral("from"), QStringLiteral("where")};
    const QList<SqlToken> tokens = tokenizeSql(expression);
    for (int i = 0; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.type != SqlToken::Type::Word)
            continue;
        int next = i + 1;
        while (next < tokens.size() && tokens[next].type == SqlToken::Type::Space)
            ++next;
        if (next < tokens.size() && tokens[next].isPunct('(') && !allowed.contains(t.text.toLower()))
            return false;
    }
    return true;
}

/// Whether an expression reads no table and calls only functions whose result its arguments fix.
bool isPure(const QString& expression)
{
    for (const SqlToken& t : tokenizeSql(expression)) {
        if (t.isWord("select"))
            return false;
    }
    return callsOnlyKnownFunctions(expression);
}

/// Values as a key: their type and their text.
QString valuesKey(const QString& prefix, const QVariantList& values)
{
    QString key = prefix;
    for (const QVariant& v : values) {
        key += QChar(0x1f);
        if (v.isNull())
            key += QLatin1Char('N');
        else
            key += QString::number(v.typeId()) + QLatin1Char(':') + v.toString();
    }
    return key;
}

/// Bounds the caches of texts: a caller that sends ever new texts cannot grow them.
template <typename Value> void keepBounded(QHash<QString, Value>& cache, qsizetype limit = 512)
{
    if (cache.size() >= limit)
        cache.clear();
}

} // namespace

ProcedureInterpreter::ProcedureInterpreter(Host& host)
    : m_host(host)
{ }

QList<ProcParameter> ProcedureInterpreter::declared(const EmbeddedProcedure& procedure)
{
    return procedureForm(procedure)->declared;
}

void ProcedureInterpreter::exec(const QString& name, const QStringList& arguments, const NamedValues& placeholders)
{
    const Compiled args
        = compile(QStringLiteral("A\x1f") + arguments.join(QChar(0x1f)), QStringLiteral("SELECT "), arguments, true);
    callPositionally(name, evaluate(args, {}, placeholders));
}

void ProcedureInterpreter::callPositionally(const QString& name, const QVariantList& args)
{
    const auto procedure = m_host.storedProcedure(name);
    if (!procedure)
        throw DbError(QStringLiteral("Could not find stored procedure '%1'.").arg(name));
    const QList<ProcParameter>& parameters = procedureForm(*procedure)->declared;
    if (args.size() > parameters.size())
        throw DbError(QStringLiteral("Procedure or function %1 has too many arguments specified.").arg(name));
    QList<QPair<QString, QVariant>> named;
    for (int i = 0; i < args.size(); ++i)
        named.append({parameters[i].name, args[i]});
    call(*procedure, named);
}

ProcedureInterpreter::Compiled ProcedureInterpreter::compile(
    const QString& key, const QString& prefix, const QStringList& parts, bool bindPlaceholders)
{
    if (const auto it = m_compiled.constFind(key); it != m_compiled.constEnd())
        return *it;
    Compiled compiled;
    compiled.pure = true;
    if (parts.isEmpty())
        return compiled;
    compiled.sql = prefix;
    for (int i = 0; i < parts.size(); ++i) {
        if (i)
            compiled.sql += QStringLiteral(", ");
        compiled.pure = compiled.pure && isPure(parts[i]);
        for (const SqlToken& t : tokenizeSql(parts[i])) {
            if (t.type == SqlToken::Type::Variable) {
                compiled.sql += QLatin1Char('?');
                compiled.references.append({true, t.text.toLower(), t.text});
            } else if (t.type == SqlToken::Type::Placeholder && bindPlaceholders) {
                compiled.sql += QLatin1Char('?');
                compiled.references.append({false, t.text.mid(1), t.text});
            } else {
                compiled.sql += t.text;
            }
        }
    }
    keepBounded(m_compiled);
    m_compiled.insert(key, compiled);
    return compiled;
}

QVariantList ProcedureInterpreter::bind(
    const Compiled& compiled, const QHash<QString, QVariant>& variables, const NamedValues& placeholders) const
{
    QVariantList positional;
    positional.reserve(compiled.references.size());
    for (const Compiled::Reference& r : compiled.references) {
        if (r.variable) {
            const auto it = variables.constFind(r.name);
            if (it == variables.constEnd())
                throw DbError(QStringLiteral("Must declare the scalar variable \"%1\".").arg(r.text));
            positional << *it;
        } else {
            if (!placeholders.contains(r.name))
                throw DbError(QStringLiteral("No value was given for the parameter :%1").arg(r.name));
            positional << placeholders.value(r.name);
        }
    }
    return positional;
}

QVariantList ProcedureInterpreter::evaluate(
    const Compiled& compiled, const QHash<QString, QVariant>& variables, const NamedValues& placeholders)
{
    if (compiled.sql.isEmpty())
        return {};
    const QVariantList values = bind(compiled, variables, placeholders);
    QString key;
    if (compiled.pure) {
        key = valuesKey(compiled.sql, values);
        if (const auto it = m_pureResults.constFind(key); it != m_pureResults.constEnd())
            return *it;
    }
    const ResultSet rows = m_host.runStatement(compiled.sql, values, true);
    const QVariantList result = rows.rows.isEmpty() ? QVariantList() : rows.rows.first();
    if (compiled.pure) {
        keepBounded(m_pureResults, 1024);
        m_pureResults.insert(key, result);
    }
    return result;
}

std::shared_ptr<const ProcedureInterpreter::ProcedureForm> ProcedureInterpreter::procedureForm(
    const EmbeddedProcedure& procedure)
{
    const QString key = procedure.parametersText + QChar(0x1f) + procedure.body;
    if (const auto it = m_procedureForms.constFind(key); it != m_procedureForms.constEnd())
        return *it;
    auto form = std::make_shared<ProcedureForm>();
    form->declared = procedure.parameters();
    for (int i = 0; i < form->declared.size(); ++i) {
        form->lowerNames << form->declared[i].name.toLower();
        form->byName.insert(form->lowerNames.last(), i);
        form->byDeclaredName.insert(form->declared[i].name, i);
    }
    for (const QString& statement : procedure.statements())
        form->statements << bodyForm(statement);
    keepBounded(m_procedureForms, 64);
    m_procedureForms.insert(key, form);
    return form;
}

QVariant ProcedureInterpreter::call(const EmbeddedProcedure& procedure, const QList<QPair<QString, QVariant>>& values)
{
    const std::shared_ptr<const ProcedureForm> form = procedureForm(procedure);
    QHash<QString, QVariant> variables;
    variables.reserve(form->declared.size() + 4);
    for (const auto& value : values) {
        // Callers pass the names as declared: their lower case is known without converting.
        const int declared = form->byDeclaredName.value(value.first, -1);
        const QString name = declared >= 0 ? form->lowerNames[declared] : value.first.toLower();
        if (declared < 0 && !form->byName.contains(name) && name != QLatin1String("@return_value"))
            throw DbError(QStringLiteral("%1 is not a parameter for procedure %2.").arg(value.first, procedure.name));
        variables.insert(name, value.second);
    }
    for (qsizetype i = 0; i < form->declared.size(); ++i) {
        const ProcParameter& p = form->declared[i];
        if (variables.contains(form->lowerNames[i]))
            continue;
        if (!p.hasDefault)
            throw DbError(QStringLiteral("Procedure or function '%1' expects parameter '%2', which was not supplied.")
                              .arg(procedure.name, p.name));
        const QString text = procedure.defaultOf(p.name);
        const Compiled value = compile(QStringLiteral("E\x1f") + text, QStringLiteral("SELECT "), {text}, true);
        variables.insert(form->lowerNames[i], evaluate(value, {}, {}).value(0));
    }

    // A body reads before it writes. In a deferred transaction the read pins a snapshot, and
    // once another connection commits, SQLite refuses the later write at once (SQLITE_BUSY, no
    // busy wait): agents sharing one remote file failed each other's transactions. So the
    // outermost call takes the write lock first, waiting its turn as a single statement does;
    // a procedure it calls, or one called inside a transaction, runs as a savepoint.
    const bool outermost = m_depth == 0 && !m_host.transactionOpen();
    const QString savepoint = QStringLiteral("cribsync_procedure");
    m_host.runStatement(
        outermost ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("SAVEPOINT ") + savepoint, {}, false);
    struct Depth
    {
        int& depth;
        explicit Depth(int& d)
            : depth(d)
        {
            ++depth;
        }
        ~Depth() { --depth; }
    } depth(m_depth);
    try {
        QVariant returnValue = 0;
        for (const std::shared_ptr<const BodyForm>& statement : form->statements) {
            if (const auto returned = runBodyStatement(procedure, *statement, variables)) {
                returnValue = *returned;
                break;
            }
        }
        m_host.runStatement(outermost ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE ") + savepoint, {}, false);
        return returnValue;
    } catch (...) {
        if (outermost) {
            m_host.runStatementQuietly(QStringLiteral("ROLLBACK"));
        } else {
            m_host.runStatementQuietly(QStringLiteral("ROLLBACK TO ") + savepoint);
            m_host.runStatementQuietly(QStringLiteral("RELEASE ") + savepoint);
        }
        throw;
    }
}

std::shared_ptr<const ProcedureInterpreter::BodyForm> ProcedureInterpreter::bodyForm(const QString& statement)
{
    if (const auto it = m_bodyForms.constFind(statement); it != m_bodyForms.constEnd())
        return *it;
    static const QRegularExpression setRe(QStringLiteral(R"(^set\s+(@\w+)\s*=\s*(.+)$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression returnRe(QStringLiteral(R"(^return(?:\s+(.+))?$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression raiseRe(QStringLiteral(R"(^raiserror\s+(.+)$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression ifRe(QStringLiteral(R"(^if\s)"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression execRe(
        QStringLiteral(R"(^exec(ute)?\s)"), QRegularExpression::CaseInsensitiveOption);

    const auto expressions = [this](const QStringList& parts) {
        return compile(QStringLiteral("E\x1f") + parts.join(QChar(0x1f)), QStringLiteral("SELECT "), parts, true);
    };
    auto form = std::make_shared<BodyForm>();
    const QString s = statement.trimmed();
    if (const auto m = setRe.match(s); m.hasMatch()) {
        form->kind = BodyForm::Kind::Set;
        form->variable = m.captured(1).toLower();
        form->expressions = expressions({SqliteAdapter::translate(m.captured(2))});
    } else if (const auto m = returnRe.match(s); m.hasMatch()) {
        form->kind = BodyForm::Kind::Return;
        if (!m.captured(1).trimmed().isEmpty())
            form->expressions = expressions({m.captured(1)});
    } else if (const auto m = raiseRe.match(s); m.hasMatch()) {
        form->kind = BodyForm::Kind::Raise;
        form->expressions = expressions({m.captured(1)});
    } else if (ifRe.match(s).hasMatch()) {
        const int then = thenPosition(s);
        if (then < 0) {
            form->kind = BodyForm::Kind::IfWithoutThen;
            form->inner = s;
        } else {
            form->kind = BodyForm::Kind::If;
            const QString condition
                = QStringLiteral("CASE WHEN (%1) THEN 1 ELSE 0 END").arg(s.mid(2, then - 2).trimmed());
            form->inner = s.mid(then + 4).trimmed();
            form->then = bodyForm(form->inner);
            const BodyForm& inner = *form->then;
            const QString value = inner.kind == BodyForm::Kind::Set ? setRe.match(form->inner).captured(2) : QString();
            // "IF EXISTS (SELECT ...) THEN SET @v = (SELECT ...)": a condition that reads a table
            // takes a statement anyway; the value, which changes nothing, comes with it and is
            // used only when the condition holds.
            if (inner.kind == BodyForm::Kind::Set && !isPure(condition) && callsOnlyKnownFunctions(value)) {
                form->fusedSet = true;
                form->variable = inner.variable;
                form->expressions = expressions({condition, SqliteAdapter::translate(value)});
            } else {
                form->expressions = expressions({condition});
            }
        }
    } else if (execRe.match(s).hasMatch()) {
        const AdaptedStep step = SqliteAdapter::adapt(s).constFirst();
        form->kind = BodyForm::Kind::Exec;
        form->name = step.name;
        form->expressions = expressions(step.args);
    } else {
        form->plain = compile(QStringLiteral("S\x1f") + s, QString(), {SqliteAdapter::translate(s)}, false);
    }
    keepBounded(m_bodyForms);
    m_bodyForms.insert(statement, form);
    return form;
}

std::optional<QVariant> ProcedureInterpreter::runBodyStatement(
    const EmbeddedProcedure& procedure, const BodyForm& form, QHash<QString, QVariant>& variables)
{
    switch (form.kind) {
    case BodyForm::Kind::Set:
        variables.insert(form.variable, evaluate(form.expressions, variables, {}).value(0));
        return std::nullopt;
    case BodyForm::Kind::Return:
        if (form.expressions.sql.isEmpty())
            return QVariant(0);
        return evaluate(form.expressions, variables, {}).value(0);
    case BodyForm::Kind::Raise:
        throw DbError(evaluate(form.expressions, variables, {}).value(0).toString());
    case BodyForm::Kind::IfWithoutThen:
        throw DbError(QStringLiteral("Procedure %1: IF without THEN in \"%2\"").arg(procedure.name, form.inner));
    case BodyForm::Kind::If: {
        const QVariantList values = evaluate(form.expressions, variables, {});
        if (values.value(0).toInt() != 1)
            return std::nullopt;
        if (form.fusedSet) {
            variables.insert(form.variable, values.value(1));
            return std::nullopt;
        }
        return runBodyStatement(procedure, *form.then, variables);
    }
    case BodyForm::Kind::Exec:
        callPositionally(form.name, evaluate(form.expressions, variables, {}));
        return std::nullopt;
    case BodyForm::Kind::Plain:
        m_host.runStatement(form.plain.sql, bind(form.plain, variables, {}), false);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace db
