#include "db/embedded/SqliteAdapter.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "db/embedded/EmbeddedProcedure.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>

namespace db {

namespace {

const QString kNow = QStringLiteral("strftime('%Y-%m-%dT%H:%M:%f','now','localtime')");

QString collapse(const QString& text)
{
    return text.simplified();
}

/// "[dbo].[DelRoboMinMax]", "dbo.X", "N'[dbo].[X]'" contents and the like, to a bare name.
QString bareName(QString name)
{
    name = name.trimmed();
    const QList<SqlToken> tokens = tokenizeSql(name);
    QString last;
    for (const SqlToken& t : tokens) {
        if (t.type == SqlToken::Type::Word || t.type == SqlToken::Type::Bracketed || t.type == SqlToken::Type::Quoted)
            last = t.identifier();
    }
    return last;
}

QString firstLine(const QString& text)
{
    const QString line = text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    return line.size() > 100 ? line.left(100) + QLatin1String("...") : line;
}

/// SQL Server's reserved keywords: a name spelt as one of them must be bracketed.
bool isReserved(const QString& word)
{
    static const QSet<QString> reserved = [] {
        QSet<QString> set;
        for (const char* w :
            {"ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "BACKUP", "BEGIN", "BETWEEN", "BREAK",
                "BROWSE", "BULK", "BY", "CASCADE", "CASE", "CHECK", "CHECKPOINT", "CLOSE", "CLUSTERED", "COALESCE",
                "COLLATE", "COLUMN", "COMMIT", "COMPUTE", "CONSTRAINT", "CONTAINS", "CONTAINSTABLE", "CONTINUE",
                "CONVERT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP",
                "CURRENT_USER", "CURSOR", "DATABASE", "DBCC", "DEALLOCATE", "DECLARE", "DEFAULT", "DELETE", "DENY",
                "DESC", "DISK", "DISTINCT", "DISTRIBUTED", "DOUBLE", "DROP", "DUMP", "ELSE", "END", "ERRLVL", "ESCAPE",
                "EXCEPT", "EXEC", "EXECUTE", "EXISTS", "EXIT", "EXTERNAL", "FETCH", "FILE", "FILLFACTOR", "FOR",
                "FOREIGN", "FREETEXT", "FREETEXTTABLE", "FROM", "FULL", "FUNCTION", "GOTO", "GRANT", "GROUP", "HAVING",
                "HOLDLOCK", "IDENTITY", "IDENTITY_INSERT", "IDENTITYCOL", "IF", "IN", "INDEX", "INNER", "INSERT",
                "INTERSECT", "INTO", "IS", "JOIN", "KEY", "KILL", "LEFT", "LIKE", "LINENO", "LOAD", "MERGE", "NATIONAL",
                "NOCHECK", "NONCLUSTERED", "NOT", "NULL", "NULLIF", "OF", "OFF", "OFFSETS", "ON", "OPEN",
                "OPENDATASOURCE", "OPENQUERY", "OPENROWSET", "OPENXML", "OPTION", "OR", "ORDER", "OUTER", "OVER",
                "PERCENT", "PIVOT", "PLAN", "PRECISION", "PRIMARY", "PRINT", "PROC", "PROCEDURE", "PUBLIC", "RAISERROR",
                "READ", "READTEXT", "RECONFIGURE", "REFERENCES", "REPLICATION", "RESTORE", "RESTRICT", "RETURN",
                "REVERT", "REVOKE", "RIGHT", "ROLLBACK", "ROWCOUNT", "ROWGUIDCOL", "RULE", "SAVE", "SCHEMA",
                "SECURITYAUDIT", "SELECT", "SESSION_USER", "SET", "SETUSER", "SHUTDOWN", "SOME", "STATISTICS",
                "SYSTEM_USER", "TABLE", "TABLESAMPLE", "TEXTSIZE", "THEN", "TO", "TOP", "TRAN", "TRANSACTION",
                "TRIGGER", "TRUNCATE", "TRY_CONVERT", "TSEQUAL", "UNION", "UNIQUE", "UNPIVOT", "UPDATE", "UPDATETEXT",
                "USE", "USER", "VALUES", "VARYING", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH", "WRITETEXT"})
            set.insert(QLatin1String(w));
        return set;
    }();
    return reserved.contains(word.toUpper());
}

[[noreturn]] void refuseKeyword(const QString& word)
{
    throw DbError(QStringLiteral("Incorrect syntax near the keyword '%1'.").arg(word), QStringLiteral("42000"));
}

/// Refuses a reserved word written without brackets where a name stands: after FROM, JOIN,
/// UPDATE, INTO, TABLE or BY, beside a "." or a comparison, before IS, IN, LIKE or BETWEEN, or as
/// an item of a select or column list, as SQL Server does.
void refuseReservedNames(const QString& tsql)
{
    // Reserved words that are values where a name could stand; a word before "(" is a function.
    static const QStringList valueWords = {"null", "default", "current_timestamp", "current_user", "session_user",
        "system_user", "user", "current_date", "current_time"};
    // Reserved words that may follow a comparison or come before IS, IN, LIKE and BETWEEN.
    static const QStringList operandWords = {"case", "all", "any", "some", "not", "exists", "end"};
    QList<SqlToken> tokens;
    for (const SqlToken& t : tokenizeSql(tsql)) {
        if (t.type != SqlToken::Type::Space)
            tokens << t;
    }
    const auto isComparison
        = [](const SqlToken& t) { return t.isPunct('=') || t.isPunct('<') || t.isPunct('>') || t.isPunct('!'); };
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.type != SqlToken::Type::Word || !isReserved(t.text))
            continue;
        const SqlToken* before = i > 0 ? &tokens[i - 1] : nullptr;
        const SqlToken* after = i + 1 < tokens.size() ? &tokens[i + 1] : nullptr;
        const QString lower = t.text.toLower();
        const bool value = valueWords.contains(lower) || (after && after->isPunct('('));
        const bool operand = value || operandWords.contains(lower);
        const bool qualified = (before && before->isPunct('.')) || (after && after->isPunct('.'));
        const bool tableName = before
            && (before->isWord("from") || before->isWord("join") || before->isWord("update") || before->isWord("into")
                || (before->isWord("by") && !operand) || (before->isWord("table") && !t.isWord("if")));
        const bool compared = !operand
            && ((after && isComparison(*after)) || (before && isComparison(*before))
                || (after
                    && (after->isWord("is") || after->isWord("in") || after->isWord("like")
                        || after->isWord("between"))));
        const bool listed = !value && before && after
            && (before->isWord("select") || before->isWord("distinct") || before->isPunct(',') || before->isPunct('('))
            && (after->isPunct(',') || after->isPunct(')') || after->isWord("from") || after->isWord("as"));
        if (qualified || tableName || compared || listed)
            refuseKeyword(t.text);
    }
}

/// A name as SQLite reads it whatever it holds: SQLite's brackets know no doubled "]".
QString quotedName(const QString& name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

/// A column refuses what its SQL Server type cannot hold, as the server does: a varchar(n),
/// nvarchar(n), char(n) or nchar(n) a longer value ("String or binary data would be truncated"),
/// an int a whole number beyond 32 bits ("Arithmetic overflow"). The definition gains a named check.
QString withServerLimits(const QString& columnName, const QString& definition)
{
    static const QRegularExpression sized(
        QStringLiteral(R"(^\s*\[?n?(?:var)?char\]?\s*\(\s*(\d+)\s*\))"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression whole(
        QStringLiteral(R"(^\s*\[?int\]?(?![\w(]))"), QRegularExpression::CaseInsensitiveOption);
    if (const auto m = sized.match(definition); m.hasMatch()) {
        return definition
            + QStringLiteral(" CONSTRAINT %1 CHECK (length(%2) <= %3)")
                  .arg(quotedName(QStringLiteral("cribsync_length_") + columnName), quotedName(columnName),
                      m.captured(1));
    }
    if (whole.match(definition).hasMatch()) {
        // A text or a fraction is the server's conversion to refuse or round, not an overflow.
        return definition
            + QStringLiteral(" CONSTRAINT %1 CHECK (typeof(%2) <> 'integer' OR %2 BETWEEN -2147483648 AND 2147483647)")
                  .arg(quotedName(QStringLiteral("cribsync_range_") + columnName), quotedName(columnName));
    }
    return definition;
}

/// "CREATE TABLE t (...)" with the checks of its text columns' lengths and its int columns' range;
/// a reserved word as a column name is refused.
QString adaptCreateTable(const QString& sql)
{
    const QList<SqlToken> tokens = tokenizeSql(sql);
    QString out;
    qsizetype i = 0;
    for (; i < tokens.size() && !tokens[i].isPunct('('); ++i)
        out += tokens[i].text;
    if (i >= tokens.size())
        return sql;
    out += tokens[i++].text;
    // Each column definition up to the ',' or ')' that ends it at this depth.
    int depth = 0;
    QString part;
    const auto finish = [&] {
        const QList<SqlToken> words = tokenizeSql(part);
        qsizetype first = 0;
        while (first < words.size() && words[first].type == SqlToken::Type::Space)
            ++first;
        if (first < words.size()) {
            const SqlToken& name = words[first];
            static const QStringList constraints = {"constraint", "primary", "unique", "check", "foreign"};
            const bool column = name.type != SqlToken::Type::Word || !constraints.contains(name.text.toLower());
            if (column && name.type == SqlToken::Type::Word && isReserved(name.text))
                refuseKeyword(name.text);
            if (column) {
                QString head;
                QString rest;
                for (qsizetype k = 0; k < words.size(); ++k)
                    (k <= first ? head : rest) += words[k].text;
                part = head + withServerLimits(name.identifier(), rest);
            }
        }
        out += part;
        part.clear();
    };
    for (; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.isPunct('('))
            ++depth;
        if (depth == 0 && (t.isPunct(',') || t.isPunct(')'))) {
            finish();
            out += t.text;
            if (t.isPunct(')')) {
                for (++i; i < tokens.size(); ++i)
                    out += tokens[i].text;
                return out;
            }
            continue;
        }
        if (t.isPunct(')'))
            --depth;
        part += t.text;
    }
    return sql;
}

[[noreturn]] void refuse(const QString& tsql)
{
    throw DbError(QStringLiteral("The embedded engine cannot adapt this statement: %1").arg(firstLine(tsql)));
}

QString sqlKeyword(const QString& tsql)
{
    for (const SqlToken& t : tokenizeSql(tsql)) {
        if (t.type == SqlToken::Type::Space)
            continue;
        return t.type == SqlToken::Type::Word ? t.text.toLower() : QString();
    }
    return {};
}

/// "ALTER TABLE [dbo].[T] ADD [Key3]  [varchar] (50)  NULL" to SQLite's form, text columns
/// compared without regard to case as under the server's default collation.
QString adaptAlterTable(const QString& tsql)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*alter\s+table\s+(.+?)\s+add\s+(?:column\s+)?(\[[^\]]+\]|\w+)\s+(.*?)\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const auto m = re.match(tsql);
    if (!m.hasMatch())
        refuse(tsql);
    QString type = m.captured(3);
    type.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    type = type.simplified();
    type.replace(QRegularExpression(QStringLiteral(R"(\s*\(\s*)")), QStringLiteral("("));
    type.replace(QRegularExpression(QStringLiteral(R"(\s*\)\s*)")), QStringLiteral(") "));
    type = type.trimmed();
    const bool isText
        = QRegularExpression(QStringLiteral(R"(^n?(var)?char|^n?text)"), QRegularExpression::CaseInsensitiveOption)
              .match(type)
              .hasMatch();
    if (isText && !type.contains(QLatin1String("collate"), Qt::CaseInsensitive)) {
        const int paren = type.indexOf(QLatin1Char(')'));
        const int at = paren >= 0                ? paren + 1
            : type.indexOf(QLatin1Char(' ')) < 0 ? type.size()
                                                 : type.indexOf(QLatin1Char(' '));
        type.insert(at, QStringLiteral(" COLLATE NOCASE"));
    }
    for (const QString& name : {m.captured(1), m.captured(2)}) {
        if (isReserved(name))
            refuseKeyword(name);
    }
    const QString column = bareName(m.captured(2));
    return QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
        .arg(bracketed(bareName(m.captured(1))), bracketed(column), withServerLimits(column, type.simplified()));
}

QList<AdaptedStep> adaptIfScript(const QString& tsql)
{
    const QString text = collapse(tsql);
    static const QString objectId = QStringLiteral(R"(object_id\s*\(\s*N?'([^']+)'\s*\))");

    // The version probe: the parameters of a procedure or the columns of a table.
    static const QRegularExpression probe(
        QStringLiteral(
            R"(^if exists \(\s*select \* from (?:dbo\.)?syscolumns where id = %1\s*\)\s*begin\s+select\s+name\s+from (?:dbo\.)?syscolumns where id = %1\s*end$)")
            .arg(objectId),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = probe.match(text); m.hasMatch()) {
        if (bareName(m.captured(1)).compare(bareName(m.captured(2)), Qt::CaseInsensitive) != 0)
            refuse(tsql);
        AdaptedStep step;
        step.kind = AdaptedStep::Kind::NameProbe;
        step.name = bareName(m.captured(1));
        return {step};
    }

    static const QRegularExpression columnGuard(
        QStringLiteral(
            R"(^if not exists \(\s*select \* from (?:dbo\.)?syscolumns where id = %1 and name = '([^']+)'\s*\)\s*(alter table .*)$)")
            .arg(objectId),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = columnGuard.match(text); m.hasMatch()) {
        AdaptedStep step;
        step.kind = AdaptedStep::Kind::Sql;
        step.sql = adaptAlterTable(m.captured(3));
        step.guard = AdaptedStep::Guard::ColumnMissing;
        step.guardObject = bareName(m.captured(1));
        step.guardColumn = m.captured(2);
        return {step};
    }

    // A sequence of "if exists (<object of a kind>) drop <kind> <name>".
    static const QRegularExpression dropGuard(
        QStringLiteral(
            R"(if exists \(\s*select \* from (?:dbo\.)?sysobjects where id = %1 and OBJECTPROPERTY\s*\(\s*id\s*,\s*N?'Is(\w+)'\s*\)\s*=\s*1\s*\)\s*drop (trigger|procedure|proc|view|table) ((?:\[[^\]]+\]|\w+)(?:\.(?:\[[^\]]+\]|\w+))?)\s*)")
            .arg(objectId),
        QRegularExpression::CaseInsensitiveOption);
    QList<AdaptedStep> steps;
    int at = 0;
    while (at < text.size()) {
        const auto m
            = dropGuard.match(text, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch())
            refuse(tsql);
        AdaptedStep step;
        step.kind = AdaptedStep::Kind::Drop;
        step.objectType
            = m.captured(3).toLower() == QLatin1String("proc") ? QStringLiteral("procedure") : m.captured(3).toLower();
        step.name = bareName(m.captured(4));
        step.guard = AdaptedStep::Guard::ObjectExists;
        step.guardObject = bareName(m.captured(1));
        step.guardType = m.captured(2).toLower();
        steps.append(step);
        at = m.capturedEnd(0);
    }
    if (steps.isEmpty())
        refuse(tsql);
    return steps;
}

AdaptedStep adaptExec(const QString& tsql)
{
    const QList<SqlToken> tokens = tokenizeSql(tsql);
    int i = 0;
    auto skipSpace = [&] {
        while (i < tokens.size() && tokens[i].type == SqlToken::Type::Space)
            ++i;
    };
    skipSpace();
    ++i; // EXEC / EXECUTE
    skipSpace();
    QString name;
    while (i < tokens.size()) {
        const SqlToken& t = tokens[i];
        if (t.type != SqlToken::Type::Word && t.type != SqlToken::Type::Bracketed)
            break;
        name = t.identifier();
        ++i;
        if (i < tokens.size() && tokens[i].isPunct('.')) {
            ++i;
            continue;
        }
        break;
    }
    if (name.isEmpty())
        refuse(tsql);
    if (i < tokens.size() && tokens[i].isPunct(';')) {
        i += 2; // ";1" group number
    }
    AdaptedStep step;
    step.kind = AdaptedStep::Kind::Exec;
    step.name = name;
    QString current;
    int depth = 0;
    for (; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        if (t.isPunct('('))
            ++depth;
        else if (t.isPunct(')'))
            --depth;
        if (depth == 0 && t.isPunct(',')) {
            step.args << current.trimmed();
            current.clear();
            continue;
        }
        if (t.type == SqlToken::Type::Variable && t.text.startsWith(QLatin1String("@")) && depth == 0) {
            // Named arguments ("@p = value") are not part of the agent's texts.
            refuse(tsql);
        }
        current += t.text;
    }
    if (!current.trimmed().isEmpty())
        step.args << current.trimmed();
    else if (!step.args.isEmpty())
        refuse(tsql);
    for (QString& arg : step.args)
        arg = SqliteAdapter::translate(arg);
    return step;
}

} // namespace

QString SqliteAdapter::translate(const QString& tsql)
{
    const QList<SqlToken> tokens = tokenizeSql(tsql);
    QString out;
    QMap<int, QString> pendingLimit; // by parenthesis depth
    int depth = 0;
    for (int i = 0; i < tokens.size(); ++i) {
        const SqlToken& t = tokens[i];
        auto nextIndex = [&](int from) {
            int j = from;
            while (j < tokens.size() && tokens[j].type == SqlToken::Type::Space)
                ++j;
            return j;
        };
        if (t.isPunct('(')) {
            ++depth;
        } else if (t.isPunct(')')) {
            if (pendingLimit.contains(depth))
                out += QStringLiteral(" LIMIT ") + pendingLimit.take(depth) + QLatin1Char(' ');
            --depth;
        }
        if ((t.isWord("dbo")
                || (t.type == SqlToken::Type::Bracketed
                    && t.identifier().compare(QLatin1String("dbo"), Qt::CaseInsensitive) == 0))
            && i + 1 < tokens.size() && tokens[i + 1].isPunct('.')) {
            ++i;
            continue;
        }
        if (t.isWord("N") && i + 1 < tokens.size() && tokens[i + 1].type == SqlToken::Type::String)
            continue;
        if (t.isWord("getdate")) {
            const int open = nextIndex(i + 1);
            const int close = nextIndex(open + 1);
            if (open < tokens.size() && tokens[open].isPunct('(') && close < tokens.size()
                && tokens[close].isPunct(')')) {
                out += kNow;
                i = close;
                continue;
            }
        }
        if (t.isWord("top")) {
            int j = nextIndex(i + 1);
            QString count;
            int last = -1;
            if (j < tokens.size() && tokens[j].type == SqlToken::Type::Number) {
                count = tokens[j].text;
                last = j;
            } else if (j < tokens.size() && tokens[j].isPunct('(')) {
                const int num = nextIndex(j + 1);
                const int close = nextIndex(num + 1);
                if (num < tokens.size() && tokens[num].type == SqlToken::Type::Number && close < tokens.size()
                    && tokens[close].isPunct(')')) {
                    count = tokens[num].text;
                    last = close;
                }
            }
            if (last < 0)
                throw DbError(
                    QStringLiteral("The embedded engine cannot adapt this TOP clause: %1").arg(firstLine(tsql)));
            pendingLimit.insert(depth, count);
            i = last;
            continue;
        }
        out += t.text;
    }
    if (pendingLimit.contains(0)) {
        // Keep trailing blanks and a final semicolon after the LIMIT clause.
        int end = out.size();
        while (end > 0 && (out[end - 1].isSpace() || out[end - 1] == QLatin1Char(';')))
            --end;
        out.insert(end, QStringLiteral(" LIMIT ") + pendingLimit.value(0));
    }
    return out;
}

QList<AdaptedStep> SqliteAdapter::adapt(const QString& tsql)
{
    const QString keyword = sqlKeyword(tsql);
    if (keyword == QLatin1String("if"))
        return adaptIfScript(tsql);
    if (keyword == QLatin1String("exec") || keyword == QLatin1String("execute"))
        return {adaptExec(tsql)};

    static const QRegularExpression create(
        QStringLiteral(R"(^\s*create\s+(procedure|proc|trigger)\s+((?:\[[^\]]+\]|\w+)(?:\.(?:\[[^\]]+\]|\w+))?))"
                       R"((?:\s+on\s+((?:\[[^\]]+\]|\w+)(?:\.(?:\[[^\]]+\]|\w+))?))?)"),
        QRegularExpression::CaseInsensitiveOption);
    if (keyword == QLatin1String("create")) {
        const auto m = create.match(tsql);
        // SQLite has triggers of its own ("CREATE TRIGGER x AFTER DELETE ON t"): only the agent's,
        // in the server's form "CREATE TRIGGER x ON t", are replaced by their equivalents.
        const bool agentObject = m.hasMatch()
            && (!m.captured(1).startsWith(QLatin1String("trigger"), Qt::CaseInsensitive)
                || (!m.captured(3).isEmpty() && EmbeddedEquivalents::find(bareName(m.captured(2))).has_value()));
        if (agentObject) {
            AdaptedStep step;
            step.kind = AdaptedStep::Kind::Install;
            step.name = bareName(m.captured(2));
            step.onTable = bareName(m.captured(3));
            return {step};
        }
    }
    static const QRegularExpression drop(
        QStringLiteral(
            R"(^\s*drop\s+(procedure|proc|trigger)\s+((?:\[[^\]]+\]|\w+)(?:\.(?:\[[^\]]+\]|\w+))?)\s*;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    if (keyword == QLatin1String("drop")) {
        if (const auto m = drop.match(tsql); m.hasMatch()) {
            AdaptedStep step;
            step.kind = AdaptedStep::Kind::Drop;
            step.objectType = m.captured(1).toLower() == QLatin1String("trigger") ? QStringLiteral("trigger")
                                                                                  : QStringLiteral("procedure");
            step.name = bareName(m.captured(2));
            return {step};
        }
    }
    if (keyword == QLatin1String("alter")) {
        if (tsql.contains(QRegularExpression(QStringLiteral(R"(^\s*alter\s+table\s+.+\s+add\s)"),
                QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption))) {
            AdaptedStep step;
            step.sql = adaptAlterTable(collapse(tsql));
            return {step};
        }
        refuse(tsql);
    }
    static const QStringList tsqlOnly = {"begin", "declare", "set", "while", "print", "raiserror", "use", "go"};
    if (tsqlOnly.contains(keyword))
        refuse(tsql);

    // SQLite's own CREATE TRIGGER and CREATE INDEX are no T-SQL; a table's column names are
    // checked with its definition.
    if (keyword != QLatin1String("create"))
        refuseReservedNames(tsql);
    AdaptedStep step;
    step.sql = translate(tsql);
    static const QRegularExpression createTable(
        QStringLiteral(R"(^\s*create\s+table\s)"), QRegularExpression::CaseInsensitiveOption);
    if (keyword == QLatin1String("create") && createTable.match(step.sql).hasMatch())
        step.sql = adaptCreateTable(step.sql);
    return {step};
}

} // namespace db
