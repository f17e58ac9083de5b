#include "EngineSite.h"

#include "config/Credential.h"
#include "db/ConnectionPool.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "db/SqlTrace.h"

#include <QFile>
#include <QRegularExpression>

QList<TimeZoneEntry> FixedZones::zonesAt(const QDateTime&) const
{
    TimeZoneEntry e;
    e.displayName = QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)");
    e.bias = 480;
    return {e};
}

db::NamedValues bind(const QVariantList& values)
{
    db::NamedValues named;
    for (int i = 0; i < values.size(); ++i)
        named.set(i == 0 ? QStringLiteral("v") : QStringLiteral("v%1").arg(i), values[i]);
    return named;
}

EngineSite::EngineSite(const QString& machine, const CribSchema::Options& options)
    : machineName(machine)
{
    tracePath = dir.filePath(QStringLiteral("trace.log"));
    qputenv("CRIBSYNC_SQL_TRACE", tracePath.toLocal8Bit());
    db::SqlTrace::reload();

    local.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=L").arg(dir.path()));
    local.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    remote.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=R").arg(dir.path()));
    remote.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
    CribSchema::create(local, CribSchema::Side::Local, options);
    CribSchema::create(remote, CribSchema::Side::Remote, options);
    local.execute(QStringLiteral("INSERT INTO Company (Name, ASPDataBaseName, ASPLoginName, ASPPassword, "
                                 "ASPProcessed) VALUES ('Works', :v, :v1, :v2, 1)"),
        bind({EncodeCredential(QStringLiteral("R")), EncodeCredential(QStringLiteral("crib")),
            EncodeCredential(QStringLiteral("pw"))}));
    remote.execute(QStringLiteral("INSERT INTO Company (Name, Processed) VALUES ('Works', 1)"));
    remote.execute(
        QStringLiteral("INSERT INTO Control (ComputerName, Synch, Port) VALUES (:v, 1, 1)"), bind({machineName}));

    log = std::make_unique<CycleLog>(dir.filePath(QStringLiteral("cribsync.log")), &clock);
    engine = std::make_unique<SyncEngine>(&host, &clock, &zones, log.get());
    engine->setTimerControl([] {}, [this] { ++restarts; });
}

EngineSite::~EngineSite()
{
    engine.reset();
    db::ConnectionPool::instance().clear();
    qunsetenv("CRIBSYNC_SQL_TRACE");
    db::SqlTrace::reload();
}

bool EngineSite::start()
{
    StartupSettings s;
    s.useWindowsAuth = true;
    s.localServer = QStringLiteral("sqlite:") + dir.path();
    s.localDatabase = QStringLiteral("L");
    s.remoteAddress = QStringLiteral("sqlite:") + dir.path();
    s.remotePort = QStringLiteral("1433");
    s.machineName = machineName;
    if (engine->connectDatabases(s) != SyncEngine::StartupOutcome::Connected)
        return false;
    engine->DataModuleCreate();
    return true;
}

bool EngineSite::cycle()
{
    return engine->runCycle(firstTick);
}

QString EngineSite::logText() const
{
    QFile file(dir.filePath(QStringLiteral("cribsync.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void EngineSite::clearTrace()
{
    QFile::remove(tracePath);
}

QStringList EngineSite::traced() const
{
    QFile file(tracePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression head(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* (\\w+): "),
        QRegularExpression::MultilineOption);
    QStringList statements;
    QRegularExpressionMatch current;
    const auto keep = [&](qsizetype end) {
        if (current.hasMatch() && current.captured(1) != QLatin1String("seed"))
            statements << current.captured(1) + QStringLiteral(": ")
                    + text.mid(current.capturedEnd(), end - current.capturedEnd() - 2);
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

QVariant EngineSite::localValue(const QString& sql, const db::NamedValues& values)
{
    return local.query(sql, values).rows.value(0).value(0);
}

QVariant EngineSite::remoteValue(const QString& sql, const db::NamedValues& values)
{
    return remote.query(sql, values).rows.value(0).value(0);
}

int EngineSite::insertRemote(const QString& table, const QString& sql, const db::NamedValues& values)
{
    remote.execute(sql, values);
    return remoteValue(QStringLiteral("SELECT max(RecordID) FROM ") + table).toInt();
}

QMap<QString, QStringList> snapshotOf(db::Connection& connection)
{
    QMap<QString, QStringList> snapshot;
    const db::ResultSet objects = connection.query(
        QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE name NOT LIKE 'sqlite%' ORDER BY type, name"));
    QStringList schema;
    QStringList tables;
    for (const QVariantList& row : objects.rows) {
        schema << row.value(0).toString() + QLatin1Char(' ') + row.value(1).toString() + QLatin1Char(' ')
                + row.value(2).toString();
        if (row.value(0).toString() == QLatin1String("table"))
            tables << row.value(1).toString();
    }
    snapshot.insert(QStringLiteral("schema"), schema);
    for (const QString& table : tables) {
        QStringList rows;
        for (const QVariantList& row : connection.query(QStringLiteral("SELECT * FROM ") + db::bracketed(table)).rows) {
            QStringList cells;
            for (const QVariant& cell : row)
                cells << (cell.isNull() ? QStringLiteral("<null>") : db::valueText(cell));
            rows << cells.join(QChar(0x1f));
        }
        rows.sort();
        snapshot.insert(table, rows);
    }
    return snapshot;
}

QStringList statementsBeyondIntent(const QStringList& traced)
{
    QStringList beyond;
    for (const QString& statement : traced) {
        const QString text = statement.section(QStringLiteral(": "), 1);
        bool extra = false;
        bool afterSemicolon = false;
        for (const db::SqlToken& t : db::tokenizeSql(text)) {
            if (t.type == db::SqlToken::Type::Space) {
                extra = extra || t.text.startsWith(QLatin1String("--")) || t.text.startsWith(QLatin1String("/*"));
                continue;
            }
            // A procedure's group number ("BinChange;1") is the one semicolon the agent writes.
            if (afterSemicolon && t.type != db::SqlToken::Type::Number)
                extra = true;
            afterSemicolon = t.isPunct(';');
            if (t.type == db::SqlToken::Type::Word) {
                for (const char* word : {"drop", "attach", "pragma", "alter", "create", "detach", "vacuum"})
                    extra = extra || t.isWord(word);
            }
        }
        if (extra)
            beyond << statement;
    }
    return beyond;
}
