#include "db/SqlTokenizer.h"

#include <optional>

namespace db {

namespace {

bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('#');
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('#') || c == QLatin1Char('$');
}

} // namespace

QString SqlToken::identifier() const
{
    if ((type == Type::Bracketed || type == Type::Quoted) && text.size() >= 2) {
        QString inner = text.mid(1, text.size() - 2);
        if (type == Type::Bracketed)
            inner.replace(QLatin1String("]]"), QLatin1String("]"));
        else
            inner.replace(QLatin1String("\"\""), QLatin1String("\""));
        return inner;
    }
    return text;
}

QString SqlToken::stringValue() const
{
    if (type != Type::String || text.size() < 2)
        return text;
    QString inner = text.mid(1, text.size() - 2);
    inner.replace(QLatin1String("''"), QLatin1String("'"));
    return inner;
}

bool SqlLexer::next(SqlTokenView& token)
{
    const QStringView text = m_text;
    const qsizetype n = text.size();
    qsizetype i = m_pos;
    if (i >= n)
        return false;
    const qsizetype start = i;
    const QChar c = text[i];
    SqlToken::Type& type = token.type;
    if (c.isSpace()) {
        while (i < n && text[i].isSpace())
            ++i;
        type = SqlToken::Type::Space;
    } else if (c == QLatin1Char('-') && i + 1 < n && text[i + 1] == QLatin1Char('-')) {
        while (i < n && text[i] != QLatin1Char('\n'))
            ++i;
        type = SqlToken::Type::Space;
    } else if (c == QLatin1Char('/') && i + 1 < n && text[i + 1] == QLatin1Char('*')) {
        const qsizetype close = text.indexOf(QLatin1String("*/"), i + 2);
        i = close < 0 ? n : close + 2;
        type = SqlToken::Type::Space;
    } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[')) {
        const QChar closing = c == QLatin1Char('[') ? QLatin1Char(']') : c;
        ++i;
        while (i < n) {
            if (text[i] == closing) {
                if (i + 1 < n && text[i + 1] == closing) {
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            ++i;
        }
        type = c == QLatin1Char('\'') ? SqlToken::Type::String
            : c == QLatin1Char('"')   ? SqlToken::Type::Quoted
                                      : SqlToken::Type::Bracketed;
    } else if (c == QLatin1Char(':') && i + 1 < n && isWordStart(text[i + 1])) {
        ++i;
        while (i < n && isWordChar(text[i]))
            ++i;
        type = SqlToken::Type::Placeholder;
    } else if (c == QLatin1Char('@')) {
        ++i;
        while (i < n && (isWordChar(text[i]) || text[i] == QLatin1Char('@')))
            ++i;
        type = SqlToken::Type::Variable;
    } else if (isWordStart(c)) {
        while (i < n && isWordChar(text[i]))
            ++i;
        type = SqlToken::Type::Word;
    } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && text[i + 1].isDigit())) {
        while (i < n && (text[i].isDigit() || text[i] == QLatin1Char('.')))
            ++i;
        type = SqlToken::Type::Number;
    } else {
        ++i;
        type = SqlToken::Type::Punct;
    }
    token.text = text.sliced(start, i - start);
    m_pos = i;
    return true;
}

QList<SqlToken> tokenizeSql(const QString& text)
{
    QList<SqlToken> tokens;
    SqlLexer lexer(text);
    SqlTokenView token;
    while (lexer.next(token))
        tokens.append({token.type, token.text.toString()});
    return tokens;
}

QString positionalPlaceholders(const QString& text, QStringList* names)
{
    if (!text.contains(QLatin1Char(':')))
        return text;
    QString out;
    out.reserve(text.size());
    SqlLexer lexer(text);
    SqlTokenView token;
    qsizetype copied = 0; // text before this position is in `out`
    while (lexer.next(token)) {
        if (token.type != SqlToken::Type::Placeholder)
            continue;
        const qsizetype start = token.text.data() - text.constData();
        out += QStringView(text).sliced(copied, start - copied);
        names->append(token.text.sliced(1).toString());
        out += QLatin1Char('?');
        copied = start + token.text.size();
    }
    out += QStringView(text).sliced(copied);
    return out;
}

QStringList placeholderNames(const QString& text)
{
    QStringList names;
    if (!text.contains(QLatin1Char(':')))
        return names;
    SqlLexer lexer(text);
    SqlTokenView token;
    while (lexer.next(token)) {
        if (token.type == SqlToken::Type::Placeholder)
            names.append(token.text.sliced(1).toString());
    }
    return names;
}

QString quotedLiteral(const QString& value)
{
    QString inner = value;
    inner.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

} // namespace db

namespace db {

QString baseTableOf(const QString& sql)
{
    // Read once, front to back, as views into the text, up to the clause after the table: every
    // statement prepared asks for its table.
    SqlLexer lexer(sql);
    SqlTokenView t;
    const auto isWord = [](const SqlTokenView& token, QLatin1String word) {
        // Letters are compared one unit for one unit: a word of another length is never equal.
        return token.type == SqlToken::Type::Word && token.text.size() == word.size()
            && token.text.compare(word, Qt::CaseInsensitive) == 0;
    };
    int depth = 0;
    const auto nest = [&] {
        if (t.isPunct('('))
            ++depth;
        else if (t.isPunct(')'))
            --depth;
    };
    while (lexer.next(t)) {
        nest();
        if (depth != 0 || !isWord(t, QLatin1String("from")))
            continue;
        std::optional<SqlTokenView> named;
        bool more = lexer.next(t);
        // Gather a possibly qualified name: [dbo].[Bin], dbo.Bin, Bin.
        while (more) {
            while (more && t.type == SqlToken::Type::Space)
                more = lexer.next(t);
            if (!more)
                break;
            if (t.type != SqlToken::Type::Word && t.type != SqlToken::Type::Bracketed
                && t.type != SqlToken::Type::Quoted)
                break;
            named = t;
            more = lexer.next(t);
            if (more && t.isPunct('.')) {
                more = lexer.next(t);
                continue;
            }
            break;
        }
        const QString name = named ? SqlToken{named->type, named->text.toString()}.identifier() : QString();
        if (name.isEmpty())
            return {};
        // A comma or JOIN after the table and its alias means more than one table.
        for (; more; more = lexer.next(t)) {
            nest();
            if (depth == 0 && (t.isPunct(',') || isWord(t, QLatin1String("join"))))
                return {};
            if (depth == 0
                && (isWord(t, QLatin1String("where")) || isWord(t, QLatin1String("order"))
                    || isWord(t, QLatin1String("group"))))
                break;
        }
        return name;
    }
    return {};
}

QString bracketed(const QString& name)
{
    QString text;
    text.reserve(name.size() + 2);
    text += QLatin1Char('[');
    if (name.contains(QLatin1Char(']')))
        text += QString(name).replace(QLatin1String("]"), QLatin1String("]]"));
    else
        text += name;
    text += QLatin1Char(']');
    return text;
}

bool sameIdentifier(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c; };
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (upper(a[i].unicode()) != upper(b[i].unicode()))
            return false;
    }
    return true;
}

QString asciiUpper(const QString& name)
{
    QString upper = name;
    for (QChar& c : upper) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - ('a' - 'A'));
    }
    return upper;
}

} // namespace db
