#include "step/PagedRows.h"

#include "db/RowQuery.h"

namespace {

const QString kHighest = QStringLiteral("Highest");
const QString kLast = QStringLiteral("Last");

} // namespace

PagedRows::PagedRows(db::RowQuery& query, std::optional<PageTexts> texts, int pageRows)
    : m_query(query)
    , m_texts(std::move(texts))
    , m_textsRead(true)
    , m_pageRows(pageRows)
{ }

PagedRows::PagedRows(db::RowQuery& query, TextSource texts, int pageRows)
    : m_query(query)
    , m_source(std::move(texts))
    , m_pageRows(pageRows)
{ }

const std::optional<PageTexts>& PagedRows::texts()
{
    if (!m_textsRead) {
        m_texts = m_source();
        m_textsRead = true;
    }
    return m_texts;
}

void PagedRows::open()
{
    m_query.close();
    // A full first page tells that there may be more; without texts it would be read whole.
    m_query.setRowLimit(m_textsRead && !m_texts ? 0 : m_pageRows);
    m_query.open();
    openedByOwnStatement();
}

void PagedRows::openedByOwnStatement()
{
    m_total = m_query.recordCount();
    if (m_query.rowLimit() <= 0 || m_total < m_pageRows)
        return;
    if (!texts()) {
        m_query.setRowLimit(0);
        m_query.open();
        m_total = m_query.recordCount();
        return;
    }
    m_paged = true;
    count();
    if (!m_texts->ownTextInKeyOrder)
        readPage(m_texts->first, std::nullopt);
}

void PagedRows::openAfter(const PagePoint& point)
{
    if (!texts()) {
        open();
        return;
    }
    m_paged = true;
    count();
    readPage(point.orderNull && !m_texts->afterNull.isEmpty() ? m_texts->afterNull : m_texts->after, point);
}

void PagedRows::count()
{
    db::RowQuery counter(m_query.name());
    counter.setDatabase(m_query.database());
    counter.setSql(m_texts->count);
    // The step's own parameters (the outbox's computer name) hold for the count too.
    for (const QString& name : counter.parameterNames())
        counter.setParameter(name, m_query.parameter(name));
    counter.open();
    m_total = counter.isEmpty() ? 0 : counter.value(QStringLiteral("Pending")).toLongLong();
    m_highest = counter.isEmpty() ? QVariant() : counter.value(kHighest);
}

void PagedRows::readPage(const QString& text, const std::optional<PagePoint>& after)
{
    m_query.close();
    m_query.setSql(text);
    m_query.setParameter(kHighest, m_highest);
    if (after)
        m_query.setParameter(kLast, after->key);
    m_query.setRowLimit(m_pageRows);
    m_query.open();
}

bool PagedRows::nextPage()
{
    // A short page is the last one.
    if (!m_paged || m_query.recordCount() < m_pageRows)
        return false;
    m_query.last();
    const PagePoint point = pointOf();
    readPage(point.orderNull && !m_texts->afterNull.isEmpty() ? m_texts->afterNull : m_texts->after, point);
    return !m_query.isEmpty();
}

PagePoint PagedRows::pointOf()
{
    if (!texts())
        return {};
    PagePoint point;
    point.key = m_query.value(m_texts->key);
    point.orderNull = !m_texts->orderColumn.isEmpty() && m_query.value(m_texts->orderColumn).isNull();
    return point;
}
