#include "support/CribFixture.h"

#include "config/Credential.h"
#include "db/ConnectionPool.h"
#include "db/SqlTokenizer.h"
#include "db/SqlTrace.h"
#include "demo/DemoDatabases.h"
#include "support/RawConnection.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

QVariant CribRows::value(db::Connection& connection, const QString& sql, const db::NamedValues& values)
{
    return connection.query(sql, values).rows.value(0).value(0);
}

qint64 CribRows::count(db::Connection& connection, const QString& table, const QString& where)
{
    QString sql = QStringLiteral("SELECT count(*) FROM [%1]").arg(table);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    return value(connection, sql).toLongLong();
}

qint64 CribRows::insert(db::Connection& connection, const QString& table, const QVariantMap& values)
{
    QList<QPair<QString, QVariant>> columns;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        columns.append({it.key(), it.value()});
    connection.insertRow(table, columns);
    return value(connection, QStringLiteral("SELECT last_insert_rowid()")).toLongLong();
}

QString CribRows::q(const QString& text)
{
    return db::quotedLiteral(text);
}

db::NamedValues bind(const QVariantList& values)
{
    db::NamedValues named;
    for (int i = 0; i < values.size(); ++i)
        named.set(i == 0 ? QStringLiteral("v") : QStringLiteral("v%1").arg(i), values[i]);
    return named;
}

QString itemLine(const QString& item, const QVariant& quantity, const QString& note)
{
    return QStringList{item, QStringLiteral("EA"), QStringLiteral("1"), QStringLiteral("0"), quantity.toString(), note}
        .join(QLatin1Char('\t'));
}

namespace {

QString ownName(const CribFixture::Options& options, const QString& side)
{
    return options.ownTraceName.isEmpty() ? side : options.ownTraceName;
}

} // namespace

CribFixture::CribFixture(const Options& options)
    : options(options)
    , machineName(options.machineName)
    , local(ownName(options, QStringLiteral("local")))
    , remote(ownName(options, QStringLiteral("remote")))
{
    tracePath = dir.filePath(QStringLiteral("trace.log"));
    if (options.trace) {
        qputenv("CRIBSYNC_SQL_TRACE", tracePath.toLocal8Bit());
        db::SqlTrace::reload();
    }
    const bool demo = options.databases == Databases::Demo;
    localName = demo ? DemoDatabases::localName() : QStringLiteral("L");
    remoteName = demo ? DemoDatabases::remoteName() : QStringLiteral("R");
    if (demo) {
        DemoDatabases::create(dir.path(), machineName, EncodeCredential(remoteName),
            EncodeCredential(QStringLiteral("crib")), EncodeCredential(QStringLiteral("secret")));
    }
    localConnectionString = QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(dir.path(), localName);
    remoteConnectionString = QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(dir.path(), remoteName);
    local.setConnectionString(localConnectionString);
    local.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    remote.setConnectionString(remoteConnectionString);
    remote.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    if (options.databases == Databases::Schema) {
        CribSchema::create(local, CribSchema::Side::Local, options.localSchema.value_or(options.schema));
        CribSchema::create(remote, CribSchema::Side::Remote, options.schema);
    }
}

CribFixture::~CribFixture()
{
    db::ConnectionPool::instance().clear();
    if (options.trace) {
        qunsetenv("CRIBSYNC_SQL_TRACE");
        db::SqlTrace::reload();
    }
}

int CribFixture::localCount(const QString& table, const QString& where)
{
    return localValue(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(table, where)).toInt();
}

int CribFixture::remoteCount(const QString& table, const QString& where)
{
    return remoteValue(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(table, where)).toInt();
}

int CribFixture::insertRemote(const QString& table, const QString& sql, const db::NamedValues& values)
{
    remote.execute(sql, values);
    return remoteValue(QStringLiteral("SELECT max(RecordID) FROM ") + table).toInt();
}

void CribFixture::executeRaw(const QString& file, const QString& sql)
{
    QVERIFY2(RawConnection(file).exec(sql), qPrintable(sql));
}

void CribFixture::clearTrace()
{
    QFile::remove(tracePath);
}

QStringList CribFixture::traced(const QString& target) const
{
    QFile file(tracePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression head(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* (\\w+): "),
        QRegularExpression::MultilineOption);
    QStringList statements;
    QRegularExpressionMatch current;
    const auto keep = [&](qsizetype end) {
        if (!current.hasMatch())
            return;
        const QString name = current.captured(1);
        const QString statement = text.mid(current.capturedEnd(), end - current.capturedEnd() - 2);
        if (!target.isEmpty() && name == target)
            statements << statement;
        else if (target.isEmpty() && name != options.ownTraceName)
            statements << name + QStringLiteral(": ") + statement;
    };
    QRegularExpressionMatchIterator it = head.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch next = it.next();
        keep(next.capturedStart());
        current = next;
    }
    keep(text.size());
    return statements;
}
