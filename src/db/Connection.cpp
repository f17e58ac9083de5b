#include "db/Connection.h"

#include "db/ConnectionString.h"
#include "db/DbError.h"
#include "db/Dml.h"
#include "db/SqlTrace.h"
#include "db/embedded/SqliteEngine.h"
#include "db/odbc/OdbcEngine.h"

#include <QAtomicInt>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <map>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace db {

namespace {

QAtomicInt g_opened;

/// Table layouts by connection string, then by table in lower case.
struct KeptLayouts
{
    QMutex mutex;
    QHash<QString, QHash<QString, QList<ColumnInfo>>> byConnection;
    /// The schema stamp each connection string's layouts were read under.
    QHash<QString, QString> stamps;
};

KeptLayouts& keptLayouts()
{
    static KeptLayouts kept;
    return kept;
}

void forgetLayoutsOf(const QString& connectionString)
{
    KeptLayouts& kept = keptLayouts();
    QMutexLocker lock(&kept.mutex);
    kept.byConnection.remove(connectionString);
}

/// Texts that may change tables or procedures (the agent's schema scripts start with IF).
bool changesObjects(const QString& sql)
{
    const QStringView text = QStringView(sql).trimmed();
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    const QStringView keyword = space < 0 ? text : text.first(space);
    const auto is = [&](const char* word) { return keyword.compare(QLatin1String(word), Qt::CaseInsensitive) == 0; };
    return is("alter") || is("create") || is("drop") || is("if");
}

struct DriverSetting
{
    QMutex mutex;
    QString driver;
    int loginTimeout = 15;
    int statementTimeout = 300;
};

DriverSetting& driverSetting()
{
    static DriverSetting s;
    return s;
}

#ifdef Q_OS_WIN
/// Microsoft's drivers, newest first; Windows' own "SQL Server" driver is always there but old.
const QStringList& microsoftDrivers()
{
    static const QStringList drivers{
        QStringLiteral("ODBC Driver 18 for SQL Server"), QStringLiteral("ODBC Driver 17 for SQL Server")};
    return drivers;
}

/// Instead of the driver manager's "cannot load" for a driver that was never installed.
DbError noSqlServerDriver()
{
    QStringList quoted;
    for (const QString& name : microsoftDrivers())
        quoted << QLatin1Char('"') + name + QLatin1Char('"');
    // IM002: the driver manager's state for a driver it does not know.
    return DbError(QStringLiteral("No ODBC driver for SQL Server is installed on this computer (looked for %1): "
                                  "install Microsoft's ODBC Driver 18 for SQL Server (%2), or name an installed "
                                  "driver as OdbcDriver in section [Cribsync] of paths.ini")
                       .arg(quoted.join(QStringLiteral(" and ")),
                           sizeof(void*) == 8 ? QStringLiteral("x64") : QStringLiteral("x86")),
        QStringLiteral("IM002"));
}
#endif

/// The newest of Microsoft's drivers that is installed on Windows (empty when there is none),
/// FreeTDS elsewhere.
QString defaultOdbcDriver()
{
#ifdef Q_OS_WIN
    static const QString driver = [] {
        // The driver loads into this process, so the view is the build's own (32 or 64 bits).
        const QSettings installed(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"), QSettings::NativeFormat);
        for (const QString& name : microsoftDrivers()) {
            if (installed.value(name).toString() == QLatin1String("Installed"))
                return name;
        }
        return QString();
    }();
    return driver;
#else
    return QStringLiteral("FreeTDS");
#endif
}

} // namespace

struct Connection::TrafficCounter
{
    QAtomicInteger<qint64> statements;
    QAtomicInteger<qint64> catalogueCalls;
    QAtomicInt delayMs;
};

namespace {

Connection::TrafficCounter* trafficCounter(const QString& traceTarget)
{
    static QMutex mutex;
    static std::map<QString, std::unique_ptr<Connection::TrafficCounter>> counters;
    QMutexLocker lock(&mutex);
    std::unique_ptr<Connection::TrafficCounter>& counter = counters[traceTarget];
    if (!counter)
        counter = std::make_unique<Connection::TrafficCounter>();
    return counter.get();
}

} // namespace

Connection::Connection(const QString& traceTarget)
    : m_traceTarget(traceTarget)
    , m_traffic(trafficCounter(traceTarget))
{ }

Connection::Traffic Connection::traffic(const QString& traceTarget)
{
    const TrafficCounter* counter = trafficCounter(traceTarget);
    return {counter->statements.loadRelaxed(), counter->catalogueCalls.loadRelaxed()};
}

void Connection::setStatementDelay(const QString& traceTarget, int milliseconds)
{
    trafficCounter(traceTarget)->delayMs.storeRelaxed(milliseconds);
}

void Connection::roundTrip(bool statement)
{
    (statement ? m_traffic->statements : m_traffic->catalogueCalls).fetchAndAddRelaxed(1);
    if (const int delay = m_traffic->delayMs.loadRelaxed(); delay > 0)
        QThread::msleep(delay);
}

template <typename Work> auto Connection::sent(const QString& sql, Work&& work) -> decltype(work())
{
    roundTrip(true);
    try {
        if (changesObjects(sql))
            forgetKept();
        auto result = work();
        checkTarget();
        return result;
    } catch (const DbError&) {
        forgetKept();
        throw;
    }
}

void Connection::forgetKept()
{
    m_procedureParameters.clear();
    forgetLayoutsOf(m_connectionString);
}

Connection::~Connection() = default;

void Connection::setOdbcDriver(const QString& driver)
{
    DriverSetting& s = driverSetting();
    QMutexLocker lock(&s.mutex);
    s.driver = driver;
}

QString Connection::odbcDriver()
{
    DriverSetting& s = driverSetting();
    QMutexLocker lock(&s.mutex);
    return s.driver.isEmpty() ? defaultOdbcDriver() : s.driver;
}

void Connection::setOdbcTimeouts(int loginSeconds, int statementSeconds)
{
    DriverSetting& s = driverSetting();
    QMutexLocker lock(&s.mutex);
    s.loginTimeout = loginSeconds;
    s.statementTimeout = statementSeconds;
}

int Connection::loginTimeout()
{
    DriverSetting& s = driverSetting();
    QMutexLocker lock(&s.mutex);
    return s.loginTimeout;
}

int Connection::statementTimeout()
{
    DriverSetting& s = driverSetting();
    QMutexLocker lock(&s.mutex);
    return s.statementTimeout;
}

int Connection::physicalConnectionsOpened()
{
    return g_opened.loadRelaxed();
}

void Connection::open(OpenMode mode)
{
    close();
    const QString driver = odbcDriver();
    const ConnectionTarget target = ConnectionTarget::fromConnectionString(m_connectionString, driver);
    if (target.engine == ConnectionTarget::Engine::Sqlite) {
        m_engine = std::make_unique<SqliteEngine>(target.sqliteFile,
            mode == OpenMode::CreateEmbeddedIfMissing ? SqliteEngine::OpenMode::CreateIfMissing
                                                      : SqliteEngine::OpenMode::ExistingFile);
        m_embedded = true;
    } else {
#ifdef Q_OS_WIN
        if (driver.isEmpty())
            throw noSqlServerDriver();
#endif
        const int login = loginTimeout();
        const int statement = statementTimeout();
        m_engine = std::make_unique<OdbcEngine>(
            target.odbcString + ConnectionTarget::timeoutKeywords(driver, login, statement), login, statement);
        m_embedded = false;
    }
    g_opened.fetchAndAddRelaxed(1);
    // Another program (the crib application's upgrade) may have changed a table since the
    // layouts were kept: a local connection opens every cycle, so the next cycle sees it.
    roundTrip(true);
    QString stamp;
    try {
        stamp = m_engine->schemaStamp();
    } catch (const DbError&) {
        // Without a stamp the layouts are read again, which is always right.
    }
    KeptLayouts& kept = keptLayouts();
    QMutexLocker lock(&kept.mutex);
    QString& keptStamp = kept.stamps[m_connectionString];
    if (stamp.isEmpty() || stamp != keptStamp) {
        kept.byConnection.remove(m_connectionString);
        keptStamp = stamp;
    } else if (const auto layouts = kept.byConnection.constFind(m_connectionString);
               layouts != kept.byConnection.constEnd()) {
        // The engine describes its results from them too: every cycle's fresh local connection
        // would otherwise read each table's layout again.
        m_engine->adoptLayouts(*layouts);
    }
}

void Connection::close()
{
    m_engine.reset();
    m_procedureParameters.clear();
}

bool Connection::isEmbedded() const
{
    return m_engine && m_embedded;
}

QString Connection::targetLost() const
{
    return m_engine ? m_engine->targetLost() : QString();
}

void Connection::checkTarget()
{
    const QString lost = targetLost();
    if (lost.isEmpty())
        return;
    close();
    throw DbError(lost, QStringLiteral("08S01"));
}

Engine& Connection::engine()
{
    if (!m_engine)
        throw DbError(QStringLiteral("Operation is not allowed when the %1 connection is closed").arg(m_traceTarget));
    return *m_engine;
}

ResultSet Connection::query(const QString& sql, const NamedValues& values, qsizetype maxRows)
{
    SqlTrace::record(m_traceTarget, sql);
    Engine& e = engine();
    return sent(sql, [&] { return e.query(sql, values, maxRows); });
}

qint64 Connection::execute(const QString& sql, const NamedValues& values)
{
    SqlTrace::record(m_traceTarget, sql);
    Engine& e = engine();
    return sent(sql, [&] { return e.execute(sql, values); });
}

QStringList Connection::tables()
{
    Engine& e = engine();
    roundTrip(false);
    return e.tables();
}

QStringList Connection::procedures()
{
    Engine& e = engine();
    roundTrip(false);
    return e.procedures();
}

QList<ColumnInfo> Connection::columns(const QString& table)
{
    Engine& e = engine();
    const QString key = table.toLower();
    KeptLayouts& kept = keptLayouts();
    {
        QMutexLocker lock(&kept.mutex);
        const auto connection = kept.byConnection.constFind(m_connectionString);
        if (connection != kept.byConnection.constEnd()) {
            if (const auto it = connection->constFind(key); it != connection->constEnd())
                return *it;
        }
    }
    roundTrip(false);
    const QList<ColumnInfo> result = e.columns(table);
    QMutexLocker lock(&kept.mutex);
    kept.byConnection[m_connectionString].insert(key, result);
    return result;
}

QList<ProcParameter> Connection::procedureParameters(const QString& procedure)
{
    Engine& e = engine();
    const QString key = procedure.toLower();
    if (const auto it = m_procedureParameters.constFind(key); it != m_procedureParameters.constEnd())
        return *it;
    roundTrip(false);
    const QList<ProcParameter> result = e.procedureParameters(procedure);
    m_procedureParameters.insert(key, result);
    return result;
}

QVariant Connection::callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values)
{
    QStringList names;
    for (const auto& v : values)
        names << v.first;
    SqlTrace::record(m_traceTarget, QStringLiteral("EXEC %1 %2").arg(procedure, names.join(QStringLiteral(", "))));
    Engine& e = engine();
    roundTrip(true);
    try {
        QVariant result = e.callProcedure(procedure, values);
        checkTarget();
        return result;
    } catch (const DbError&) {
        // The definition may have changed: its parameter list is fetched again.
        m_procedureParameters.remove(procedure.toLower());
        throw;
    }
}

qint64 Connection::insertRow(const QString& table, const QList<QPair<QString, QVariant>>& values)
{
    const GeneratedStatement st = Dml::insert(engine().dialect(), table, values);
    return execute(st.sql, st.values);
}

qint64 Connection::updateRow(const QString& table, const RowKey& key, const QList<QPair<QString, QVariant>>& values)
{
    const GeneratedStatement st = Dml::update(engine().dialect(), table, key, values);
    return execute(st.sql, st.values);
}

std::pair<qint64, ResultSet> Connection::updateRowThenQuery(const QString& table, const RowKey& key,
    const QList<QPair<QString, QVariant>>& values, const QString& query, const NamedValues& queryValues)
{
    const GeneratedStatement st = Dml::update(engine().dialect(), table, key, values);
    SqlTrace::record(m_traceTarget, st.sql);
    SqlTrace::record(m_traceTarget, query);
    Engine& e = engine();
    if (!e.runsBatches())
        roundTrip(true);
    return sent(st.sql, [&] { return e.executeThenQuery(st.sql, st.values, query, queryValues); });
}

qint64 Connection::deleteRow(const QString& table, const RowKey& key)
{
    const GeneratedStatement st = Dml::remove(engine().dialect(), table, key);
    return execute(st.sql, st.values);
}

void Connection::forgetLayouts()
{
    forgetKept();
    if (m_engine)
        m_engine->forgetLayouts();
}

SqlDialect Connection::dialect()
{
    return engine().dialect();
}

void Connection::forgetAllLayouts()
{
    KeptLayouts& kept = keptLayouts();
    QMutexLocker lock(&kept.mutex);
    kept.byConnection.clear();
}

void Connection::beginTransaction()
{
    SqlTrace::record(m_traceTarget, QStringLiteral("BEGIN TRANSACTION"));
    Engine& e = engine();
    roundTrip(true);
    e.beginTransaction();
}

void Connection::commit()
{
    SqlTrace::record(m_traceTarget, QStringLiteral("COMMIT"));
    Engine& e = engine();
    roundTrip(true);
    e.commit();
    checkTarget();
}

void Connection::rollback()
{
    if (!m_engine)
        return;
    SqlTrace::record(m_traceTarget, QStringLiteral("ROLLBACK"));
    roundTrip(true);
    m_engine->rollback();
}

void Connection::installEmbeddedProcedure(const EmbeddedProcedure& procedure)
{
    auto* sqlite = dynamic_cast<SqliteEngine*>(&engine());
    if (!sqlite)
        throw DbError(
            QStringLiteral("Procedure %1: only an embedded database stores procedure definitions").arg(procedure.name));
    sqlite->installProcedure(procedure);
}

} // namespace db
