#include "db/embedded/WhereLiterals.h"

#include "db/SqlTokenizer.h"

namespace db::sqlite {

namespace {

/// Marks a literal lifted out of a text; no placeholder of the agent starts with '#'.
const QString kLiteralMark = QStringLiteral(":#");

/// Whether the text may hold a literal in a WHERE clause (a quick test before reading its
/// tokens): a quote or a number after the first "where" in any letter case. A digit within a
/// name or a placeholder (CurOnHand2, :p0) starts no number.
bool mayHoldWhereLiteral(const QString& text)
{
    const QChar* c = text.constData();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i + 5 <= n
        && !((c[i] == QLatin1Char('w') || c[i] == QLatin1Char('W'))
            && SqlTokenView::isKeyword(QStringView(c + i, 5), "where")))
        ++i;
    if (i + 5 > n)
        return false;
    const auto asciiWordChar = [](char16_t u) {
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_'
            || u == u'#' || u == u'$' || u == u'@';
    };
    for (i += 5; i < n; ++i) {
        const char16_t u = c[i].unicode();
        if (u == u'\'' || u >= 0x80)
            return true;
        if (u >= u'0' && u <= u'9' && !asciiWordChar(c[i - 1].unicode()))
            return true;
    }
    return false;
}

} // namespace

QString literalShape(const QString& tsql, QVariantList* literals)
{
    if (!mayHoldWhereLiteral(tsql))
        return tsql;
    SqlLexer lexer(tsql);
    SqlTokenView t;
    while (lexer.next(t) && t.type == SqlToken::Type::Space) { }
    if (!(t.isWord("select") || t.isWord("update") || t.isWord("delete") || t.isWord("insert")))
        return tsql;
    QString shape;
    shape.reserve(tsql.size());
    qsizetype copied = 0; // text before this position is in `shape`
    bool inWhere = false;
    SqlTokenView adjacent; // the token just before, blanks included
    SqlTokenView previous; // the last token that is not a blank
    SqlTokenView beforePrevious;
    do {
        if (t.type == SqlToken::Type::Word) {
            if (t.isWord("where"))
                inWhere = true;
            else if (t.isWord("order") || t.isWord("group") || t.isWord("having") || t.isWord("limit")
                || t.isWord("union") || t.isWord("except") || t.isWord("intersect"))
                inWhere = false;
        }
        if (inWhere && (t.type == SqlToken::Type::String || t.type == SqlToken::Type::Number)) {
            const bool afterTop = previous.isWord("top") || (previous.isPunct('(') && beforePrevious.isWord("top"));
            // A number SQLite reads on with what follows (0.5e1, 0x7) or a type's length
            // (varchar(10), decimal(9, 2)) is no value to bind.
            SqlLexer ahead = lexer;
            SqlTokenView following;
            const bool joined = t.type == SqlToken::Type::Number && ahead.next(following)
                && (following.type == SqlToken::Type::Word || following.type == SqlToken::Type::Number);
            const bool typeLength = t.type == SqlToken::Type::Number
                && ((previous.isPunct('(') && beforePrevious.type == SqlToken::Type::Word) || previous.isPunct(','));
            const bool blob = t.type == SqlToken::Type::String && adjacent.isWord("x");
            QVariant value;
            if (t.type == SqlToken::Type::String) {
                value = SqlToken{t.type, t.text.toString()}.stringValue();
            } else if (!t.text.contains(QLatin1Char('.'))) {
                bool ok = false;
                const qlonglong number = t.text.toLongLong(&ok);
                if (ok)
                    value = number;
            } else {
                bool ok = false;
                const double number = t.text.toDouble(&ok);
                if (ok && t.text.count(QLatin1Char('.')) == 1)
                    value = number;
            }
            if (!afterTop && !blob && !joined && !typeLength && value.isValid()) {
                const qsizetype start = t.text.data() - tsql.constData();
                // N'' marks a Unicode literal: the value is the same text.
                const qsizetype end = adjacent.isWord("N") ? start - adjacent.text.size() : start;
                shape += QStringView(tsql).sliced(copied, end - copied);
                shape += kLiteralMark;
                shape += QString::number(literals->size());
                literals->append(value);
                copied = start + t.text.size();
                // 'A2'AND is two tokens; the placeholder must not take the keyword into its name.
                if (copied < tsql.size()
                    && (tsql[copied].isLetterOrNumber() || tsql[copied] == QLatin1Char('_')
                        || tsql[copied] == QLatin1Char('@') || tsql[copied] == QLatin1Char('#')
                        || tsql[copied] == QLatin1Char('$')))
                    shape += QLatin1Char(' ');
            }
        }
        adjacent = t;
        if (t.type != SqlToken::Type::Space) {
            beforePrevious = previous;
            previous = t;
        }
    } while (lexer.next(t));
    if (copied == 0)
        return tsql;
    shape += QStringView(tsql).sliced(copied);
    return shape;
}

} // namespace db::sqlite
