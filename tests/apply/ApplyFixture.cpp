#include "ApplyFixture.h"

int ApplyFixture::order(const QString& table, const QString& type, const QString& id, const QString& key1,
    const QString& key2, const QString& key3, const QString& computer)
{
    return insertRemote(QStringLiteral("Outbox"),
        QStringLiteral("INSERT INTO Outbox (ComputerName, TableName, Type, ID, Key1, Key2, Key3, Processed) "
                       "VALUES (%1, %2, %3, %4, %5, %6, %7, 0)")
            .arg(q(computer), q(table), q(type), q(id), q(key1), q(key2), q(key3)));
}

void ApplyFixture::openSource(const QString& table, int recordId)
{
    statements.qryASPFindRec.close();
    statements.qryASPFindRec.setSql(QStringLiteral("Select * from %1 where RecordID = %2").arg(table).arg(recordId));
    statements.qryASPFindRec.open();
}

bool ApplyFixture::entryProcessed(int recordId)
{
    return remoteValue(QStringLiteral("SELECT Processed FROM Outbox WHERE RecordID = %1").arg(recordId)).toInt() == 1;
}
