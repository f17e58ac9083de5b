#include "apply/OutboxEntry.h"

#include "db/RowQuery.h"

OutboxEntry OutboxEntry::fromRow(const db::RowQuery& outbox)
{
    const auto text = [&](const char* column) { return outbox.asString(QLatin1String(column)); };
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
