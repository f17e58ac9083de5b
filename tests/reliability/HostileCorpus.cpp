#include "HostileCorpus.h"

#include "db/SqlTokenizer.h"

QList<HostileValue> hostileCorpus()
{
    QString longText;
    while (longText.size() < 10000)
        longText += QStringLiteral("x'y]z;--");
    longText.truncate(10000);
    return {
        {QStringLiteral("single quote"), QStringLiteral("O'Brien")},
        {QStringLiteral("two quotes"), QStringLiteral("''")},
        {QStringLiteral("drop table"), QStringLiteral("'; DROP TABLE Bin; --")},
        {QStringLiteral("tautology"), QStringLiteral("' OR '1'='1")},
        {QStringLiteral("closing bracket"), QStringLiteral("x]; DROP TABLE Item; --")},
        {QStringLiteral("brackets"), QStringLiteral("[Bin]")},
        {QStringLiteral("semicolon"), QStringLiteral("a;b")},
        {QStringLiteral("comment"), QStringLiteral("-- note")},
        {QStringLiteral("block comment"), QStringLiteral("/* x */")},
        {QStringLiteral("double quotes"), QStringLiteral("\" OR \"\"=\"")},
        {QStringLiteral("placeholder"), QStringLiteral(":Station")},
        {QStringLiteral("variable"), QStringLiteral("@@version")},
        {QStringLiteral("question mark"), QStringLiteral("?")},
        {QStringLiteral("backslash"), QStringLiteral("C:\\crib\\'")},
        {QStringLiteral("unicode"), QStringLiteral("Ärger € 日本 🔧 שלום")},
        {QStringLiteral("control characters"), QStringLiteral("tab\there\r\nline\x01\x1b[31m")},
        {QStringLiteral("10000 characters"), longText},
        {QStringLiteral("empty"), QStringLiteral("")},
        {QStringLiteral("blanks"), QStringLiteral("   ")},
        {QStringLiteral("huge number"), QStringLiteral("99999999999999999999")},
        {QStringLiteral("below int range"), QStringLiteral("-2147483649")},
        {QStringLiteral("float overflow"), QStringLiteral("1e309")},
        {QStringLiteral("not a number"), QStringLiteral("NaN")},
        {QStringLiteral("NULL"), QVariant()},
    };
}

QStringList statementsBeyondIntent(const QStringList& traced)
{
    QStringList beyond;
    for (const QString& statement : traced) {
        const QString text = statement.section(QStringLiteral(": "), 1);
        bool extra = false;
        bool afterSemicolon = false;
        for (const db::SqlToken& t : db::tokenizeSql(text)) {
            if (t.type == db::SqlToken::Type::Space) {
                extra = extra || t.text.startsWith(QLatin1String("--")) || t.text.startsWith(QLatin1String("/*"));
                continue;
            }
            // A procedure's group number ("BinChange;1") is the one semicolon the agent writes.
            if (afterSemicolon && t.type != db::SqlToken::Type::Number)
                extra = true;
            afterSemicolon = t.isPunct(';');
            if (t.type == db::SqlToken::Type::Word) {
                for (const char* word : {"drop", "attach", "pragma", "alter", "create", "detach", "vacuum"})
                    extra = extra || t.isWord(word);
            }
        }
        if (extra)
            beyond << statement;
    }
    return beyond;
}
