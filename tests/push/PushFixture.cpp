#include "PushFixture.h"

#include "db/ConnectionPool.h"
#include "db/SqlTrace.h"
#include "demo/DemoDatabases.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

PushFixture::PushFixture(const CribSchema::Options& options, Databases databases)
{
    tracePath = dir.filePath(QStringLiteral("trace.log"));
    qputenv("CRIBSYNC_SQL_TRACE", tracePath.toLocal8Bit());
    db::SqlTrace::reload();

    QString localName = QStringLiteral("L");
    QString remoteName = QStringLiteral("R");
    if (databases == Databases::Demo) {
        DemoDatabases::create(dir.path(), QStringLiteral("CRIB-01"), QString(), QString(), QString());
        localName = DemoDatabases::localName();
        remoteName = DemoDatabases::remoteName();
    }
    local.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(dir.path(), localName));
    local.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    remoteConnectionString = QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(dir.path(), remoteName);
    remoteFile = dir.filePath(remoteName + QStringLiteral(".db"));
    remote.setConnectionString(remoteConnectionString);
    remote.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    if (databases == Databases::Empty) {
        CribSchema::create(local, CribSchema::Side::Local, options);
        CribSchema::create(remote, CribSchema::Side::Remote, options);
    }
    context.dm = &dm;
    context.statements = &statements;
    context.events = &events;
    context.settings.machineName = QStringLiteral("CRIB-01");
    prepare();
    clearTrace();
}

PushFixture::~PushFixture()
{
    db::ConnectionPool::instance().clear();
    qunsetenv("CRIBSYNC_SQL_TRACE");
    db::SqlTrace::reload();
}

void PushFixture::prepare()
{
    db::ConnectionPool::instance().forgetLayouts();
    local.forgetLayouts();
    dm.DataModuleCreate(remoteConnectionString, context.flags);
    statements.PrepareCycleStatements(dm, context.settings.machineName);
}

void PushFixture::push(const QStringList& tables)
{
    context.remoteTables = tables;
    context.localTables = tables;
    scan.PushPendingChanges();
}

void PushFixture::executeRemoteRaw(const QString& sql)
{
    const QString name = QStringLiteral("push-fixture-raw");
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        raw.setDatabaseName(remoteFile);
        QVERIFY2(raw.open(), qPrintable(raw.lastError().text()));
        QSqlQuery query(raw);
        QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
}

void PushFixture::clearTrace()
{
    QFile::remove(tracePath);
}

QStringList PushFixture::traced(const QString& target) const
{
    QFile file(tracePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression head(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* (local|remote): "),
        QRegularExpression::MultilineOption);
    QStringList statements;
    QRegularExpressionMatchIterator it = head.globalMatch(text);
    QRegularExpressionMatch current;
    const auto keep = [&](qsizetype end) {
        if (current.hasMatch() && current.captured(1) == target)
            statements << text.mid(current.capturedEnd(), end - current.capturedEnd() - 2);
    };
    while (it.hasNext()) {
        const QRegularExpressionMatch next = it.next();
        keep(next.capturedStart());
        current = next;
    }
    keep(text.size());
    return statements;
}

int PushFixture::localCount(const QString& table, const QString& where)
{
    return localValue(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(table, where)).toInt();
}

int PushFixture::remoteCount(const QString& table, const QString& where)
{
    return remoteValue(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(table, where)).toInt();
}
