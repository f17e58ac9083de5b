#include "apply/OutboxEntry.h"

#include "db/RowQuery.h"

OutboxEntry OutboxEntry::fromRow(const db::RowQuery& outbox)
{
    // NULL reads as empty text, which must reach a procedure parameter as such and not as NULL.
    const auto text = [&](const char* column) {
        const QString value = outbox.asString(QLatin1String(column));
        return value.isNull() ? QStringLiteral("") : value;
    };
    OutboxEntry entry;
    entry.RecordID = text("RecordID");
    entry.ComputerName = text("ComputerName");
    entry.TableName = text("TableName");
    entry.Type = text("Type");
    entry.ID = text("ID");
    entry.Key1 = text("Key1");
    entry.Key2 = text("Key2");
    entry.Key3 = text("Key3");
    entry.Processed = text("Processed");
    return entry;
}
