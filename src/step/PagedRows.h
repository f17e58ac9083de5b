#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

namespace db {
class RowQuery;
}

/// Rows a step holds at a time: a page of transactions takes about 2 MB.
constexpr int kDefaultPageRows = 1000;

/// The statements that read a step's rows a page at a time, in the order of a key.
struct PageTexts
{
    /// One row: Pending, the rows of all pages, and Highest, the key of the last row that belongs
    /// to them (rows added later wait for the next cycle).
    QString count;
    /// The first page in key order, up to :Highest.
    QString first;
    /// The page after the row whose key is :Last.
    QString after;
    /// The page after a row whose `orderColumn` is NULL; empty when the key alone orders the rows.
    QString afterNull;
    /// The key, unique, and the column the rows are ordered by before it (empty: the key alone).
    QString key;
    QString orderColumn;
    /// The step's own statement reads its rows in key order already: its first page is kept.
    bool ownTextInKeyOrder = false;
};

/// Where a pass over a step's rows stopped: the key of the last row it handled.
struct PagePoint
{
    QVariant key;
    /// That row's order column was NULL.
    bool orderNull = false;
};

/// A step's rows held one page at a time, so that a backlog of any size costs the memory of one
/// page. The step's own statement reads the first page; only when that page is full are the rows
/// counted and read again in key order, page after page, each after the last row of the one
/// before: a row left pending is not met again in the same pass, and rows added after the count
/// wait for the next cycle. Without texts (a table without a usable key) the rows are read whole,
/// as one page. Failures are db::DbError from the query.
class PagedRows
{
public:
    /// Gives the texts, or none for rows read whole; asked only once the rows come in pages.
    using TextSource = std::function<std::optional<PageTexts>()>;

    /// `query` holds the step's own statement.
    PagedRows(db::RowQuery& query, std::optional<PageTexts> texts, int pageRows);
    PagedRows(db::RowQuery& query, TextSource texts, int pageRows);

    /// Reads the first page with the step's own statement.
    void open();
    /// The same for a query already opened on its own statement with a row limit of a page.
    void openedByOwnStatement();
    /// Reads in key order after `point`, where an earlier pass stopped.
    void openAfter(const PagePoint& point);

    db::RowQuery& rows() { return m_query; }
    /// The rows of all pages as counted when the first page was full, else those of the one page.
    qint64 total() const { return m_total; }
    /// Whether the rows come in pages (the first page was full).
    bool paged() const { return m_paged; }
    /// Once the current page is done: reads the next one. False when there is none.
    bool nextPage();
    /// The point of the current row, for a later pass to go on after it.
    PagePoint pointOf();

private:
    /// The texts, from the source on first use.
    const std::optional<PageTexts>& texts();
    void count();
    void readPage(const QString& text, const std::optional<PagePoint>& after);

    db::RowQuery& m_query;
    TextSource m_source;
    std::optional<PageTexts> m_texts;
    bool m_textsRead = false;
    int m_pageRows;
    bool m_paged = false;
    qint64 m_total = 0;
    QVariant m_highest;
};
