#pragma once

#include <QList>
#include <QString>

namespace db {

/// One lexical piece of a T-SQL text. Joining the `text` of every token gives the input back.
struct SqlToken
{
    enum class Type {
        Word, // identifier or keyword
        Bracketed, // [name]
        Quoted, // "name"
        String, // 'text' (an N prefix is a separate Word token)
        Number,
        Placeholder, // :name
        Variable, // @name or @@name
        Punct,
        Space, // blanks, tabs, line breaks and comments
    };
    Type type;
    QString text;

    bool isWord(const char* word) const
    {
        return type == Type::Word && text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool isPunct(char c) const { return type == Type::Punct && text.size() == 1 && text[0] == QLatin1Char(c); }
    /// The name a Word, Bracketed or Quoted token stands for, without its brackets or quotes.
    QString identifier() const;
    /// The contents of a String token with its doubled quotes undone.
    QString stringValue() const;
};

QList<SqlToken> tokenizeSql(const QString& text);

/// A token as a view into the text it was read from.
struct SqlTokenView
{
    SqlToken::Type type = SqlToken::Type::Space;
    QStringView text;

    /// `word` is a keyword in ASCII letters.
    bool isWord(const char* word) const { return type == SqlToken::Type::Word && isKeyword(text, word); }
    bool isPunct(char c) const
    {
        return type == SqlToken::Type::Punct && text.size() == 1 && text[0] == QLatin1Char(c);
    }
    /// Whether `text` is the keyword `word` (ASCII letters), letter case ignored.
    static bool isKeyword(QStringView text, const char* word)
    {
        qsizetype i = 0;
        for (; word[i]; ++i) {
            if (i >= text.size())
                return false;
            const char16_t c = text[i].unicode();
            const char16_t folded = c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
            const char w = word[i] >= 'A' && word[i] <= 'Z' ? char(word[i] + ('a' - 'A')) : word[i];
            if (folded != char16_t(w))
                return false;
        }
        return i == text.size();
    }
};

/// Reads a text token by token without copying it: the same pieces as tokenizeSql, each a view
/// into the text, which must outlive the lexer.
class SqlLexer
{
public:
    explicit SqlLexer(QStringView text)
        : m_text(text)
    { }
    /// The next token; false at the end of the text.
    bool next(SqlTokenView& token);

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

/// Converts ":name" placeholders outside literals and brackets to "?" and lists the names in order,
/// so that both engines bind by position and a name used twice is bound twice.
QString positionalPlaceholders(const QString& text, QStringList* names);

/// The ":name" placeholders of a text in order (names without ':'), as positionalPlaceholders lists them.
QStringList placeholderNames(const QString& text);

/// A value quoted as an SQL text literal: single quotes, inner quotes doubled.
QString quotedLiteral(const QString& value);

} // namespace db

namespace db {

/// The table a single-table SELECT reads from ("Select * from [dbo].[Bin] as T where ..." gives
/// "Bin"); empty when the statement joins tables or reads from no table.
QString baseTableOf(const QString& sql);

/// A table or column name in square brackets, inner closing brackets doubled.
QString bracketed(const QString& name);

/// Whether two names are the same as the databases compare identifiers: letter case ignored for
/// A to Z only, so that a name that matches only under Unicode case folding (a Kelvin sign for K)
/// is another name.
bool sameIdentifier(const QString& a, const QString& b);
/// The name with a to z in capitals and every other character as it is, so that it still names
/// the same object where the database ignores letter case (Unicode upper-casing turns "ß" into
/// "SS").
QString asciiUpper(const QString& name);

} // namespace db
