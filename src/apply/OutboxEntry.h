#pragma once

#include <QString>

namespace db {
class RowQuery;
}

/// The columns of one remote `Outbox` row that the apply reads, each as text (NULL as "").
struct OutboxEntry
{
    QString RecordID;
    QString ComputerName;
    QString TableName;
    QString Type;
    QString ID;
    QString Key1;
    QString Key2;
    QString Key3;
    QString Processed;

    /// The current row of `outbox`; throws db::DbError when a column is missing.
    static OutboxEntry fromRow(const db::RowQuery& outbox);
};
