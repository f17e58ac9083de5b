#pragma once

#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

/// A statement prepared once through SQLite's own interface and run many times: the reference
/// that the agent's client layer is measured against.
class RawStatement
{
public:
    RawStatement(sqlite3* db, const QString& sql);
    ~RawStatement();
    RawStatement(const RawStatement&) = delete;
    RawStatement& operator=(const RawStatement&) = delete;

    /// Binds the values (1-based, in order) after resetting the statement.
    RawStatement& bind(const QVariantList& values);
    /// Steps once; returns whether a row is available. Throws on an error.
    bool step();
    /// Steps to the end, for a statement run for its effect.
    void run(const QVariantList& values = {});
    void reset();

    int columnCount() const;
    QVariant value(int column) const;
    qint64 integer(int column) const;
    QString text(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
    QString m_sql;
};

/// One SQLite connection opened as the embedded engine opens its files (WAL, 10 s busy timeout).
class RawDb
{
public:
    explicit RawDb(const QString& file);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    sqlite3* handle() const { return m_db; }
    void exec(const QString& sql);
    /// The first column of the first row, or an invalid value when there is no row.
    QVariant scalar(const QString& sql);
    qint64 lastInsertId() const;

private:
    sqlite3* m_db = nullptr;
};
