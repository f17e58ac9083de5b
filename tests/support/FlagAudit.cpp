#include "support/FlagAudit.h"

#include "db/Connection.h"

void FlagAudit::install(db::Connection& connection, const QString& flagColumn)
{
    connection.execute(QStringLiteral("CREATE TABLE IF NOT EXISTS [%1] (Seq INTEGER PRIMARY KEY AUTOINCREMENT, "
                                      "TableName TEXT, RowNo INTEGER, OldValue, NewValue)")
                           .arg(logTable()));
    for (const QString& table : connection.tables()) {
        if (table == logTable())
            continue;
        bool flagged = false;
        const auto columns = connection.columns(table);
        for (const auto& c : columns)
            flagged = flagged || c.name.compare(flagColumn, Qt::CaseInsensitive) == 0;
        // Views have columns too, but no triggers of this kind.
        if (!flagged
            || connection
                   .query(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '%1'").arg(table))
                   .rows.isEmpty())
            continue;
        connection.execute(QStringLiteral("CREATE TRIGGER IF NOT EXISTS [TestFlag_%1] AFTER UPDATE OF [%2] ON [%1] "
                                          "FOR EACH ROW WHEN old.[%2] IS NOT new.[%2] BEGIN "
                                          "INSERT INTO [%3] (TableName, RowNo, OldValue, NewValue) "
                                          "VALUES ('%1', old.rowid, old.[%2], new.[%2]); END")
                               .arg(table, flagColumn, logTable()));
    }
}

QList<FlagAudit::Mark> FlagAudit::marks(db::Connection& connection)
{
    QList<Mark> marks;
    const db::ResultSet rows = connection.query(
        QStringLiteral("SELECT TableName, RowNo, OldValue, NewValue FROM [%1] ORDER BY Seq").arg(logTable()));
    for (const QVariantList& r : rows.rows)
        marks.append({r[0].toString(), r[1].toLongLong(), r[2], r[3]});
    return marks;
}

QStringList FlagAudit::lines(db::Connection& connection)
{
    QStringList lines;
    for (const Mark& m : marks(connection)) {
        lines << QStringLiteral("%1#%2 %3->%4")
                     .arg(m.table)
                     .arg(m.id)
                     .arg(m.before.isNull() ? QStringLiteral("NULL") : m.before.toString(),
                         m.after.isNull() ? QStringLiteral("NULL") : m.after.toString());
    }
    lines.sort();
    return lines;
}

void FlagAudit::clear(db::Connection& connection)
{
    connection.execute(QStringLiteral("DELETE FROM [%1]").arg(logTable()));
}
