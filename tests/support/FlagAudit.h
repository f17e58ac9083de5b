#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace db {
class Connection;
}

/// Records every change of a sync flag (local ASPProcessed, remote Processed) in a log table of
/// the same embedded database, through triggers, so that a test can tell that each row was
/// marked done exactly once and that no done row was reopened, whatever the agent's statements
/// look like. The log table has no sync flag, so the agent never pushes it.
class FlagAudit
{
public:
    struct Mark
    {
        QString table;
        qint64 id = 0;
        QVariant before;
        QVariant after;
    };

    static QString logTable() { return QStringLiteral("TestFlagLog"); }

    /// Creates the log and a trigger on every table that has `flagColumn`.
    static void install(db::Connection& connection, const QString& flagColumn);
    /// Flag changes in the order they happened.
    static QList<Mark> marks(db::Connection& connection);
    /// "Table#id 0->1" per change, sorted.
    static QStringList lines(db::Connection& connection);
    static void clear(db::Connection& connection);
};
