#include "db/Connection.h"

#include "db/ConnectionString.h"
#include "db/DbError.h"
#include "db/Dml.h"
#include "db/OdbcEngine.h"
#include "db/SqlTrace.h"
#include "db/SqliteEngine.h"

#include <QAtomicInt>
#include <QMutex>
#include <QMutexLocker>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace db {

namespace {

QAtomicInt g_opened;

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

QString defaultOdbcDriver()
{
#ifdef Q_OS_WIN
    // The newest of Microsoft's drivers that is installed; Windows' own "SQL Server" driver is
    // always there but old.
    static const QString driver = [] {
        const QSettings installed(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"),
            QSettings::Registry64Format);
        for (const QString& name :
            {QStringLiteral("ODBC Driver 18 for SQL Server"), QStringLiteral("ODBC Driver 17 for SQL Server")}) {
            if (installed.value(name).toString() == QLatin1String("Installed"))
                return name;
        }
        return QStringLiteral("ODBC Driver 17 for SQL Server");
    }();
    return driver;
#else
    return QStringLiteral("FreeTDS");
#endif
}

} // namespace

Connection::Connection(const QString& traceTarget)
    : m_traceTarget(traceTarget)
{ }

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
        const int login = loginTimeout();
        const int statement = statementTimeout();
        m_engine = std::make_unique<OdbcEngine>(
            target.odbcString + ConnectionTarget::timeoutKeywords(driver, login, statement), login, statement);
        m_embedded = false;
    }
    g_opened.fetchAndAddRelaxed(1);
}

void Connection::close()
{
    m_engine.reset();
}

bool Connection::isEmbedded() const
{
    return m_engine && m_embedded;
}

Engine& Connection::engine()
{
    if (!m_engine)
        throw DbError(QStringLiteral("Operation is not allowed when the %1 connection is closed").arg(m_traceTarget));
    return *m_engine;
}

ResultSet Connection::query(const QString& sql, const NamedValues& values)
{
    SqlTrace::record(m_traceTarget, sql);
    return engine().query(sql, values);
}

qint64 Connection::execute(const QString& sql, const NamedValues& values)
{
    SqlTrace::record(m_traceTarget, sql);
    return engine().execute(sql, values);
}

QStringList Connection::tables()
{
    return engine().tables();
}

QStringList Connection::procedures()
{
    return engine().procedures();
}

QList<ColumnInfo> Connection::columns(const QString& table)
{
    return engine().columns(table);
}

QList<ProcParameter> Connection::procedureParameters(const QString& procedure)
{
    return engine().procedureParameters(procedure);
}

QVariant Connection::callProcedure(const QString& procedure, const QList<QPair<QString, QVariant>>& values)
{
    QStringList names;
    for (const auto& v : values)
        names << v.first;
    SqlTrace::record(m_traceTarget, QStringLiteral("EXEC %1 %2").arg(procedure, names.join(QStringLiteral(", "))));
    return engine().callProcedure(procedure, values);
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

qint64 Connection::deleteRow(const QString& table, const RowKey& key)
{
    const GeneratedStatement st = Dml::remove(engine().dialect(), table, key);
    return execute(st.sql, st.values);
}

void Connection::forgetLayouts()
{
    if (m_engine)
        m_engine->forgetLayouts();
}

SqlDialect Connection::dialect()
{
    return engine().dialect();
}

void Connection::beginTransaction()
{
    SqlTrace::record(m_traceTarget, QStringLiteral("BEGIN TRANSACTION"));
    engine().beginTransaction();
}

void Connection::commit()
{
    SqlTrace::record(m_traceTarget, QStringLiteral("COMMIT"));
    engine().commit();
}

void Connection::rollback()
{
    if (!m_engine)
        return;
    SqlTrace::record(m_traceTarget, QStringLiteral("ROLLBACK"));
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
