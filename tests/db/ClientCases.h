#pragma once

#include "db/Connection.h"

#include <QObject>
#include <QTemporaryDir>
#include <functional>

/// The engine-neutral cases of the client layer. Each engine's test file derives from this,
/// says how to reach a fresh database and how to create the fixture tables in its dialect.
class ClientCases : public QObject
{
    Q_OBJECT

protected:
    /// A connection string for a database in `folder` that exists and is empty.
    virtual QString freshDatabase(const QString& folder) = 0;
    /// Creates Item (identity RecordID key, Code text, Qty int, Price money, Active bit, Stamp
    /// datetime, Note nullable text), Loose (no key: Name text, Qty int) and the view ItemView.
    virtual void createFixture(db::Connection& connection) = 0;
    /// Whether generated statements may touch a table without a key on this engine.
    virtual bool supportsKeylessTables() const { return true; }
    /// Whether the engine sends a statement and a query as one batch.
    virtual bool takesBatches() const { return true; }

    QString connectionString() const { return m_connectionString; }

private Q_SLOTS:
    void init();
    void cleanup();

    void readsRowsColumnsAndKinds();
    void bindsPlaceholdersByName();
    void refusesUnknownAndMissingParameters();
    void editsAppendsAndDeletesRows();
    void dateTimesAreWallClockValues();
    void cancelDiscardsPendingEdit();
    void postFailsWhenTheRowIsGone();
    void editsRowsOfTableWithoutKey();
    void locatesRowsExactly();
    void commandReportsRowsChanged();
    void listsTablesViewsAndColumns();
    void reportsEngineErrorsWithItsText();
    void pooledStatementsShareOneConnection();

protected:
    QTemporaryDir* m_dir = nullptr;
    QString m_connectionString;
};
