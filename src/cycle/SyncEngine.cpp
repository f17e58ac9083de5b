#include "cycle/SyncEngine.h"

#include "apply/OutboxApply.h"
#include "clock/Clock.h"
#include "clock/GmtMinus8.h"
#include "config/Credential.h"
#include "crib/CribConnectionStrings.h"
#include "cycle/AgentHost.h"
#include "cycle/CycleLog.h"
#include "db/ConnectionPool.h"
#include "db/DbError.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "model/TransactionProcedure.h"
#include "push/PendingChangeScan.h"
#include "schema/LocalSchema.h"

namespace {

const QString kLabel1 = QStringLiteral("Quellora to ASP Processing Table:");
const QString kWaiting = QStringLiteral("waiting...");


QString messageOf(const std::exception& e)
{
    if (const auto* dbError = dynamic_cast<const db::DbError*>(&e))
        return dbError->message();
    return QString::fromLocal8Bit(e.what());
}

/// The failure in an operator's words: what could not be done and why, from the SQL state, then
/// the database's own text. `database` names the database and its server.
QString describeFailure(const std::exception& e, const QString& database, const QString& login)
{
    const auto* dbError = dynamic_cast<const db::DbError*>(&e);
    if (!dbError)
        return messageOf(e);
    const QString state = dbError->sqlState();
    switch (dbError->cause()) {
    case db::DbError::Cause::Unreachable:
        return QStringLiteral("%1 cannot be reached (%2): %3").arg(database, state, dbError->message());
    case db::DbError::Cause::LoginRefused:
        return QStringLiteral("%1 refused the login %2 (%3): %4").arg(database, login, state, dbError->message());
    case db::DbError::Cause::Corrupt:
        return QStringLiteral("%1 is damaged or is not a database (%2): %3").arg(database, state, dbError->message());
    case db::DbError::Cause::Other:
        break;
    }
    return dbError->message();
}

db::DbError::Cause causeOf(const std::exception& e)
{
    if (const auto* dbError = dynamic_cast<const db::DbError*>(&e))
        return dbError->cause();
    return db::DbError::Cause::Other;
}

/// A date-time as text in the form every server reads the same way.
QString dateTimeText(const QDateTime& wallClock)
{
    return wallClock.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

} // namespace

SyncEngine::SyncEngine(AgentHost* host, const Clock* clock, const TimeZoneList* zones, CycleLog* log, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_clock(clock)
    , m_zones(zones)
    , m_log(log)
{
    // The embedded engine creates these objects in place of their T-SQL definitions.
    LocalSchema::registerEmbeddedEquivalents();
    TransactionProcedure::registerEmbeddedEquivalent();
    m_context.dm = &m_dm;
    m_context.statements = &m_cycle;
    m_context.events = this;
    m_context.progress.setReporter([this](CycleProgress& progress) { reportProgress(progress); });
}

SyncEngine::~SyncEngine() = default;

void SyncEngine::setTimerControl(std::function<void()> stop, std::function<void()> restart)
{
    m_stopTimer = std::move(stop);
    m_restartTimer = std::move(restart);
}

SyncEngine::StartupOutcome SyncEngine::connectDatabases(AgentSettings& s, UnreachableRemote unreachableRemote)
{
    m_context.settings = s;
    m_context.settings.localLogin.clear();
    m_context.settings.localPassword.clear();
    m_web.close();
    m_local.close();
    db::ConnectionPool::instance().clear();

    const QString local = s.useWindowsAuth
        ? db::CribConnectionStrings::localWindowsAuth(s.localDatabase, s.localServer, s.machineName)
        : db::CribConnectionStrings::localSqlAuth(
            s.localPassword, s.localLogin, s.localDatabase, s.localServer, s.machineName);
    const QString localLogin = s.localLogin;
    s.localLogin.clear();
    s.localPassword.clear();
    m_local.setConnectionString(local);
    try {
        m_local.open();
        m_startup.tbCompany.open();
    } catch (const std::exception& e) {
        const QString text
            = describeFailure(e, QStringLiteral("The local database %1 on %2").arg(s.localDatabase, s.localServer),
                s.useWindowsAuth ? QStringLiteral("of this Windows user") : localLogin);
        m_log->startupStep(
            QStringLiteral("cannot open the local database %1 on %2: %3").arg(s.localDatabase, s.localServer, text));
        m_host->showMessage(text);
        m_local.close();
        m_host->endProgram(ExitStatus::StartupIncomplete);
        return StartupOutcome::Ending;
    }
    m_log->startupStep(QStringLiteral("connected to the local database %1 on %2").arg(s.localDatabase, s.localServer));

    // Without a row the credentials have nowhere to be kept: the values typed serve this run.
    const bool companyRow = !m_startup.tbCompany.eof();
    std::optional<NetLoginValues> typed;
    if (!companyRow) {
        m_log->startupStep(QStringLiteral("the local Company table has no row: asking for the remote credentials"));
        m_host->showMessage(QStringLiteral("The local Company table has no row: the remote catalog, login and "
                                           "password cannot be stored there, so they are asked for at every start."));
    }
    if (!companyRow || m_startup.tbCompany.asString(QStringLiteral("ASPPassword")).isEmpty()
        || m_startup.tbCompany.asString(QStringLiteral("ASPLoginName")).isEmpty()
        || m_startup.tbCompany.asString(QStringLiteral("ASPDataBaseName")).isEmpty()) {
        if (companyRow)
            m_log->startupStep(QStringLiteral("the remote credentials are missing: asking for them"));
        typed = m_host->askRemoteLogin();
        if (!typed) {
            m_host->endProgram(ExitStatus::StartupIncomplete);
            return StartupOutcome::Ending;
        }
        if (companyRow) {
            storeRemoteCredentials(typed->database, typed->login, typed->password);
            m_startup.tbCompany.close();
            m_startup.tbCompany.open();
        }
    }

    LocalSchema::checkLocalSchema(m_startup);
    m_log->startupStep(QStringLiteral("local schema checked"));

    m_remoteConnectionString = companyRow ? remoteStringFromCompany() : remoteString(*typed);
    const QString remoteLogin
        = companyRow ? DecodeCredential(m_startup.tbCompany.asString(QStringLiteral("ASPLoginName"))) : typed->login;
    m_startup.tbCompany.close();
    const QString remoteName = QStringLiteral("%1,%2").arg(s.remoteAddress, s.remotePort);
    if (const std::optional<db::DbError::Cause> cause = connectRemote(m_remoteConnectionString, remoteLogin)) {
        const bool credentialsAtFault
            = *cause == db::DbError::Cause::LoginRefused || *cause == db::DbError::Cause::Other;
        if (!credentialsAtFault && unreachableRemote != UnreachableRemote::AskForLogin) {
            // No credentials typed in would mend this.
            if (unreachableRemote == UnreachableRemote::Wait && *cause == db::DbError::Cause::Unreachable) {
                m_local.close();
                return StartupOutcome::RemoteUnreachable;
            }
            m_host->endProgram(ExitStatus::StartupIncomplete);
            return StartupOutcome::Ending;
        }
        const std::optional<NetLoginValues> login = m_host->askRemoteLogin();
        if (!login) {
            m_host->endProgram(ExitStatus::StartupIncomplete);
            return StartupOutcome::Ending;
        }
        if (companyRow)
            storeRemoteCredentials(login->database, login->login, login->password);
        m_remoteConnectionString = db::CribConnectionStrings::remote(
            login->password, login->login, login->database, s.remoteAddress, s.remotePort, s.machineName);
        if (connectRemote(m_remoteConnectionString, login->login)) {
            m_host->endProgram(ExitStatus::StartupIncomplete);
            return StartupOutcome::Ending;
        }
    }
    if (!m_web.isOpen())
        return StartupOutcome::NotConnected;
    m_log->startupStep(QStringLiteral("connected to the remote database at %1").arg(remoteName));

    db::RegisterComputer(m_startup.qryControl, s.machineName);
    m_log->startupStep(QStringLiteral("%1 registered in Control").arg(s.machineName));

    m_context.remoteTables = m_web.tables();
    m_remoteProcedures = m_web.procedures();
    m_context.localTables = m_local.tables();
    const bool createProcedure = !m_remoteProcedures.contains(QStringLiteral("sp_CorvaneTran;1"), Qt::CaseInsensitive);
    LocalSchema::PrepareTableLists(m_context.localTables, m_remoteProcedures, m_startup);
    if (createProcedure) {
        m_remoteProcedures = m_web.procedures();
        m_log->startupStep(QStringLiteral("created the transaction procedure on the remote database"));
    }
    Q_EMIT tableListsChanged(m_context.remoteTables, m_context.localTables, m_remoteProcedures);
    m_log->startupStep(QStringLiteral("%1 remote and %2 local tables listed")
                           .arg(m_context.remoteTables.size())
                           .arg(m_context.localTables.size()));
    Q_EMIT trayIconShown();
    m_web.close();
    return StartupOutcome::Connected;
}

std::optional<db::DbError::Cause> SyncEngine::connectRemote(const QString& connectionString, const QString& login)
{
    m_web.setConnectionString(connectionString);
    try {
        m_web.open();
        return std::nullopt;
    } catch (const std::exception& e) {
        const QString text = describeFailure(e,
            QStringLiteral("The remote database at %1,%2").arg(settings().remoteAddress, settings().remotePort), login);
        m_log->startupStep(QStringLiteral("cannot connect to the remote database: ") + text);
        m_host->showMessage(text);
        m_web.close();
        return causeOf(e);
    }
}

QString SyncEngine::remoteStringFromCompany()
{
    const db::RowQuery& company = m_startup.tbCompany;
    return db::CribConnectionStrings::remote(DecodeCredential(company.asString(QStringLiteral("ASPPassword"))),
        DecodeCredential(company.asString(QStringLiteral("ASPLoginName"))),
        DecodeCredential(company.asString(QStringLiteral("ASPDataBaseName"))), settings().remoteAddress,
        settings().remotePort, settings().machineName);
}

QString SyncEngine::remoteString(const NetLoginValues& typed) const
{
    return db::CribConnectionStrings::remote(typed.password, typed.login, typed.database, settings().remoteAddress,
        settings().remotePort, settings().machineName);
}

void SyncEngine::storeRemoteCredentials(const QString& database, const QString& login, const QString& password)
{
    m_startup.qryUpdCompany.setParameter(QStringLiteral("ASPDataBaseName"), EncodeCredential(database));
    m_startup.qryUpdCompany.setParameter(QStringLiteral("ASPLoginName"), EncodeCredential(login));
    m_startup.qryUpdCompany.setParameter(QStringLiteral("ASPPassword"), EncodeCredential(password));
    m_startup.qryUpdCompany.execute();
    m_log->startupStep(QStringLiteral("remote credentials stored in Company"));
}

void SyncEngine::DataModuleCreate()
{
    m_dm.DataModuleCreate(m_remoteConnectionString, m_flags);
    m_context.flags = m_flags;
}

bool SyncEngine::runCycle(bool& firstTick)
{
    if (m_running)
        return false;
    m_running = true;
    struct Running
    {
        bool& flag;
        ~Running() { flag = false; }
    } running{m_running};

    if (m_stopTimer)
        m_stopTimer();
    Q_EMIT changeEnabledChanged(false);
    m_log->cycleStarted();
    m_caughtFailure = false;
    m_context.progress.cycleStarted();

    if (firstTick) {
        // Cleared only once the probe has run, so that a failed first tick is repeated whole.
        DataModuleCreate();
        firstTick = false;
        Q_EMIT entriesHidden();
    }

    // The probe: while the remote outbox cannot be read, nothing else is tried.
    try {
        db::RowQuery probe(QStringLiteral("testConnection"));
        probe.setDatabase(m_dm.testConnection.database());
        probe.setSql(m_dm.testConnection.sql());
        // It proves the outbox can be read; every other computer's backlog stays on the server.
        probe.setRowLimit(1);
        probe.open();
    } catch (const std::exception& e) {
        failureCaught({QStringLiteral("probe"), QStringLiteral("Outbox"), QString(), messageOf(e)});
        RecoverFromCycleError();
        db::ConnectionPool::instance().clear();
        m_log->cycleFinished(false, QStringLiteral("remote database unreachable"));
        return false;
    }

    m_local.open();
    if (m_local.isOpen()) {
        try {
            m_cycle.PrepareCycleStatements(m_dm, settings().machineName);
            m_context.flags = m_flags;
            PendingChangeScan scan(m_context);
            scan.PushPendingChanges();
            OutboxApply apply(m_context);
            apply.ApplyRemoteOutbox();
            writeTimeStamps();
            m_local.close();
            Q_EMIT progressCaptionChanged(kLabel1);
            Q_EMIT progressTextChanged(kWaiting);
        } catch (const std::exception& e) {
            failureCaught({QStringLiteral("cycle"), QString(), QString(), messageOf(e)});
            RecoverFromCycleError();
            m_log->cycleFinished(false, QStringLiteral("stopped by a failure"));
            return false;
        }
    }
    if (m_restartTimer)
        m_restartTimer();
    Q_EMIT changeEnabledChanged(true);
    m_log->cycleFinished(true);
    return !m_caughtFailure;
}

void SyncEngine::writeTimeStamps()
{
    const QDateTime local = m_clock->currentLocal();
    bool zonesListed = true;
    const QDateTime gmtMinus8 = GmtMinus8Now(*m_clock, *m_zones, &zonesListed);
    // Said once each time the list goes missing, not in every cycle.
    if (!zonesListed && m_zonesListed)
        m_log->note(QStringLiteral("the platform lists no time zone: the remote time stamp is UTC-8 with the US "
                                   "daylight-saving rules (second Sunday of March to first Sunday of November)"));
    m_zonesListed = zonesListed;
    m_cycle.stamp.setSql(
        QStringLiteral("Update Company SET LastSyncTime = :LastSyncTime , ClientSyncTime = :ClientSyncTime"));
    m_cycle.stamp.setParameter(QStringLiteral("LastSyncTime"), dateTimeText(gmtMinus8));
    m_cycle.stamp.setParameter(QStringLiteral("ClientSyncTime"), dateTimeText(local));
    m_cycle.stamp.execute();
    m_cycle.stamp.setSql(
        QStringLiteral("Update Control SET LastSyncTime = getdate() where ComputerName = :ComputerName"));
    m_cycle.stamp.setParameter(QStringLiteral("ComputerName"), settings().machineName);
    m_cycle.stamp.execute();
    if (m_flags.ProcHasDiscrepantQty) {
        m_dm.toTable.close();
        db::Command localStamp(QStringLiteral("toTable"));
        localStamp.setDatabase(m_dm.toTable.database());
        localStamp.setSql(QStringLiteral("Update Company Set  LastSyncTime = :LastSyncTime"));
        localStamp.setParameter(QStringLiteral("LastSyncTime"), dateTimeText(local));
        localStamp.execute();
    }
}

void SyncEngine::reportProgress(CycleProgress& progress)
{
    const CycleProgress::Step* step = progress.current();
    Q_EMIT progressReported(step ? progress.currentText() : progress.summaryText(), step ? progress.percent() : -1);
    if (progress.logDue())
        m_log->note(QStringLiteral("cycle %1 running for %2: %3")
                        .arg(m_log->cycleNumber())
                        .arg(CycleProgress::span(progress.cycleElapsedMs()), progress.summaryText()));
}

void SyncEngine::setProgressText(const QString& text)
{
    Q_EMIT progressTextChanged(text);
}

void SyncEngine::setProgress(int position, int maximum)
{
    Q_EMIT progressChanged(position, maximum);
}

void SyncEngine::pumpEvents()
{
    Q_EMIT eventsDue();
}

void SyncEngine::RecoverFromCycleError()
{
    if (m_restartTimer)
        m_restartTimer();
    m_local.close();
}

void SyncEngine::failureCaught(const CycleFailure& failure)
{
    m_caughtFailure = true;
    m_log->failureCaught(failure);
}

void SyncEngine::workDone(const QString& what, const QString& table)
{
    m_log->workDone(what, table);
}
