#include "db/embedded/EmbeddedProcedure.h"

#include "db/DbError.h"
#include "db/SqlTokenizer.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

namespace db {

namespace {

/// Splits at top-level occurrences of `separator`, outside literals, brackets and parentheses.
QStringList splitTopLevel(const QString& text, char separator)
{
    QStringList parts;
    QString current;
    int depth = 0;
    for (const SqlToken& t : tokenizeSql(text)) {
        if (t.isPunct('('))
            ++depth;
        else if (t.isPunct(')'))
            --depth;
        if (depth == 0 && t.isPunct(separator)) {
            parts << current;
            current.clear();
            continue;
        }
        current += t.text;
    }
    parts << current;
    return parts;
}

/// Parsed declarations and bodies by their text. A procedure runs once per transaction pushed,
/// and parsing its text again each time cost more than running its statements.
template <typename Parsed> class ParseCache
{
public:
    std::optional<Parsed> find(const QString& text)
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_items.constFind(text);
        return it == m_items.constEnd() ? std::nullopt : std::optional<Parsed>(*it);
    }
    void insert(const QString& text, const Parsed& parsed)
    {
        QMutexLocker lock(&m_mutex);
        if (m_items.size() >= kLimit)
            m_items.clear();
        m_items.insert(text, parsed);
    }

private:
    static constexpr qsizetype kLimit = 64;
    QMutex m_mutex;
    QHash<QString, Parsed> m_items;
};

ParseCache<QList<ProcParameter>>& parsedParameters()
{
    static ParseCache<QList<ProcParameter>> cache;
    return cache;
}

ParseCache<QStringList>& parsedStatements()
{
    static ParseCache<QStringList> cache;
    return cache;
}

struct Registry
{
    QMutex mutex;
    QList<EmbeddedEquivalent> items;
};

Registry& registry()
{
    static Registry r;
    return r;
}

} // namespace

ParamType paramTypeFromTypeName(const QString& typeName, int* size)
{
    const QString t = typeName.trimmed().toLower();
    static const QRegularExpression sized(QStringLiteral(R"(\(\s*(\d+)\s*\))"));
    if (size) {
        const auto m = sized.match(t);
        *size = m.hasMatch() ? m.captured(1).toInt() : 0;
    }
    const QString base = t.section(QLatin1Char('('), 0, 0).trimmed();
    if (base == QLatin1String("int") || base == QLatin1String("integer") || base == QLatin1String("smallint")
        || base == QLatin1String("tinyint") || base == QLatin1String("bigint"))
        return ParamType::Integer;
    if (base == QLatin1String("money") || base == QLatin1String("smallmoney") || base == QLatin1String("decimal")
        || base == QLatin1String("numeric") || base == QLatin1String("float") || base == QLatin1String("real"))
        return ParamType::Money;
    if (base.contains(QLatin1String("date")) || base == QLatin1String("time"))
        return ParamType::DateTime;
    if (base == QLatin1String("bit"))
        return ParamType::Boolean;
    if (base == QLatin1String("text") || base == QLatin1String("ntext") || t.contains(QLatin1String("(max)")))
        return ParamType::LongText;
    if (base.contains(QLatin1String("char")))
        return ParamType::String;
    return ParamType::Variant;
}

QList<ProcParameter> EmbeddedProcedure::parameters() const
{
    QList<ProcParameter> result;
    if (parametersText.trimmed().isEmpty())
        return result;
    if (std::optional<QList<ProcParameter>> parsed = parsedParameters().find(parametersText))
        return *parsed;
    static const QRegularExpression decl(QStringLiteral(R"(^\s*(@\w+)\s+([^=]+?)\s*(?:=\s*(.+?))?\s*$)"),
        QRegularExpression::DotMatchesEverythingOption);
    for (const QString& part : splitTopLevel(parametersText, ',')) {
        const auto m = decl.match(part);
        if (!m.hasMatch()) {
            throw DbError(
                QStringLiteral("Procedure %1: malformed parameter declaration \"%2\"").arg(name, part.trimmed()));
        }
        ProcParameter p;
        p.name = m.captured(1);
        p.typeName = m.captured(2);
        p.type = paramTypeFromTypeName(p.typeName, &p.size);
        p.hasDefault = m.hasCaptured(3) && !m.captured(3).isEmpty();
        result << p;
    }
    parsedParameters().insert(parametersText, result);
    return result;
}

QString EmbeddedProcedure::defaultOf(const QString& parameter) const
{
    static const QRegularExpression decl(
        QStringLiteral(R"(^\s*(@\w+)\s+[^=]+?\s*=\s*(.+?)\s*$)"), QRegularExpression::DotMatchesEverythingOption);
    for (const QString& part : splitTopLevel(parametersText, ',')) {
        const auto m = decl.match(part);
        if (m.hasMatch() && m.captured(1).compare(parameter, Qt::CaseInsensitive) == 0)
            return m.captured(2);
    }
    return {};
}

QStringList EmbeddedProcedure::statements() const
{
    if (std::optional<QStringList> parsed = parsedStatements().find(body))
        return *parsed;
    QStringList result;
    for (const QString& s : splitTopLevel(body, ';')) {
        if (!s.trimmed().isEmpty())
            result << s.trimmed();
    }
    parsedStatements().insert(body, result);
    return result;
}

void EmbeddedEquivalents::add(const EmbeddedEquivalent& equivalent)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    for (auto& item : r.items) {
        if (item.name.compare(equivalent.name, Qt::CaseInsensitive) == 0) {
            item = equivalent;
            return;
        }
    }
    r.items.append(equivalent);
}

std::optional<EmbeddedEquivalent> EmbeddedEquivalents::find(const QString& name)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    for (const auto& item : r.items) {
        if (item.name.compare(name, Qt::CaseInsensitive) == 0)
            return item;
    }
    return std::nullopt;
}

} // namespace db
