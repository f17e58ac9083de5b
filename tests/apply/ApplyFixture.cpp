#include "ApplyFixture.h"

#include "db/ConnectionPool.h"
#include "db/SqlTokenizer.h"

ApplyFixture::ApplyFixture(const CribSchema::Options& options)
{
    local.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=L").arg(dir.path()));
    local.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    remoteConnectionString = QStringLiteral("Data Source=sqlite:%1;Initial Catalog=R").arg(dir.path());
    remote.setConnectionString(remoteConnectionString);
    remote.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    CribSchema::create(local, CribSchema::Side::Local, options);
    CribSchema::create(remote, CribSchema::Side::Remote, options);
    context.dm = &dm;
    context.statements = &statements;
    context.events = &events;
    context.settings.machineName = QStringLiteral("CRIB-01");
    prepare();
}

ApplyFixture::~ApplyFixture()
{
    db::ConnectionPool::instance().clear();
}

void ApplyFixture::prepare()
{
    dm.DataModuleCreate(remoteConnectionString, context.flags);
    statements.PrepareCycleStatements(dm, context.settings.machineName);
}

int ApplyFixture::insertRemote(const QString& table, const QString& sql)
{
    remote.execute(sql);
    return remoteValue(QStringLiteral("SELECT max(RecordID) FROM ") + table).toInt();
}

int ApplyFixture::order(const QString& table, const QString& type, const QString& id, const QString& key1,
    const QString& key2, const QString& key3, const QString& computer)
{
    const auto q = [](const QString& v) { return db::quotedLiteral(v); };
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

int ApplyFixture::localCount(const QString& table, const QString& where)
{
    return localValue(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(table, where)).toInt();
}

bool ApplyFixture::entryProcessed(int recordId)
{
    return remoteValue(QStringLiteral("SELECT Processed FROM Outbox WHERE RecordID = %1").arg(recordId)).toInt() == 1;
}
