#include "cycle/StatusReport.h"

#include "clock/Clock.h"
#include "config/ConfigStore.h"
#include "config/Credential.h"
#include "config/MachineName.h"
#include "crib/CribConnectionStrings.h"
#include "cycle/Agent.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "model/TableRules.h"
#include "schema/LocalSchema.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <algorithm>

namespace {

/// A cycle older than this many intervals is one the agent should long have followed.
constexpr int kStaleIntervals = 3;

QString messageOf(const std::exception& e)
{
    if (const auto* dbError = dynamic_cast<const db::DbError*>(&e))
        return dbError->message();
    return QString::fromLocal8Bit(e.what());
}

/// The first row's value of `column` (found ignoring case), as text.
QString firstRowText(const db::ResultSet& rows, const QString& column)
{
    for (qsizetype i = 0; i < rows.columns.size(); ++i) {
        if (rows.columns[i].name.compare(column, Qt::CaseInsensitive) == 0)
            return rows.rows.isEmpty() ? QString() : rows.rows.first().value(i).toString();
    }
    return {};
}

QJsonObject tableCounts(const QList<QPair<QString, qint64>>& counts)
{
    QJsonObject object;
    for (const auto& [table, rows] : counts)
        object.insert(table, rows);
    return object;
}

qint64 total(const QList<QPair<QString, qint64>>& counts)
{
    qint64 sum = 0;
    for (const auto& count : counts)
        sum += count.second;
    return sum;
}

QString plural(qint64 count, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

} // namespace

StatusReport::StatusReport(ConfigStore& config, const Clock& clock, const QString& machineName)
    : m_clock(clock)
    , m_now(clock.currentUtc())
    , m_machineName(machineName.isEmpty() ? systemMachineName() : machineName)
{
    readStatusFile(config);
    readDatabases(config);
}

void StatusReport::readStatusFile(const ConfigStore& config)
{
    // The agent keeps its log, and the status beside it, in the settings folder, or in the user's
    // data folder when that one cannot be written: the newer of the two is the agent's.
    QFileInfo newest;
    for (const QString& folder :
        {config.folder(), QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)}) {
        const QFileInfo file(CycleStatus::pathBesideLog(QDir(folder).filePath(QStringLiteral("cribsync.log"))));
        if (file.exists() && (!newest.exists() || file.lastModified() > newest.lastModified()))
            newest = file;
    }
    if (!newest.exists())
        return;
    m_statusFile = newest.absoluteFilePath();
    const CycleStatus status(m_statusFile);
    m_statusError = status.readError();
    m_refusals = status.refusals();
    m_unlisted = status.unlisted();
    m_lastCompleted = status.lastCompletedCycle();
}

void StatusReport::readDatabases(ConfigStore& config)
{
    m_intervalSeconds = std::clamp(config.syncTime(), Agent::MinimumInterval, Agent::MaximumInterval);
    try {
        config.openForReading();
    } catch (const std::exception& e) {
        m_settingsError = QStringLiteral("the settings cannot be read: ") + messageOf(e);
        return;
    }
    const QString server = config.read(StoreKey::Server);
    const QString database = config.read(StoreKey::DatabaseName);
    if (server.isEmpty() || (config.form() == ConfigStore::Form::Ini && server == QLatin1String("ERROR"))) {
        m_settingsError = QStringLiteral("the settings name no local server");
        return;
    }
    db::Connection::setOdbcDriver(config.odbcDriver());
    db::Connection::setOdbcTimeouts(config.loginTimeout(), config.statementTimeout());

    m_local.name = QStringLiteral("local database %1 on %2").arg(database, server);
    db::Connection local(QStringLiteral("local"));
    local.setConnectionString(config.read(StoreKey::WinAuth) == QLatin1String("1")
            ? db::CribConnectionStrings::localWindowsAuth(database, server, m_machineName)
            : db::CribConnectionStrings::localSqlAuth(DecodeCredential(config.read(StoreKey::Password)),
                config.read(StoreKey::Login), database, server, m_machineName));
    QStringList localTables;
    db::ResultSet company;
    try {
        local.open();
        localTables = local.tables();
        company = local.query(QStringLiteral("Select * from [Company]"));
    } catch (const std::exception& e) {
        m_local.error = messageOf(e);
        return;
    }

    const QString address = config.read(StoreKey::IpAddress);
    const QString port = config.read(StoreKey::PortNo);
    const QString catalog = DecodeCredential(firstRowText(company, QStringLiteral("ASPDataBaseName")));
    m_remote.name = QStringLiteral("remote database %1 at %2,%3").arg(catalog, address, port);
    QStringList remoteTables;
    if (address.isEmpty() || port.isEmpty()) {
        m_remote.error = QStringLiteral("the settings name no remote address and port");
    } else if (catalog.isEmpty()) {
        m_remote.error = QStringLiteral("the local Company table holds no remote credentials");
    } else {
        db::Connection remote(QStringLiteral("remote"));
        remote.setConnectionString(
            db::CribConnectionStrings::remote(DecodeCredential(firstRowText(company, QStringLiteral("ASPPassword"))),
                DecodeCredential(firstRowText(company, QStringLiteral("ASPLoginName"))), catalog, address, port,
                m_machineName));
        try {
            remote.open();
            remoteTables = remote.tables();
            db::NamedValues machine;
            machine.set(QStringLiteral("ComputerName"), m_machineName);
            const db::ResultSet outbox
                = remote.query(QStringLiteral("Select TableName, count(*) as Orders from Outbox where (Processed = 0) "
                                              "and (ComputerName = :ComputerName) Group By TableName Order By "
                                              "TableName"),
                    machine);
            for (const QVariantList& row : outbox.rows)
                m_remote.pending.append({row.value(0).toString(), row.value(1).toLongLong()});
            m_remote.read = true;
        } catch (const std::exception& e) {
            m_remote.error = messageOf(e);
        }
    }

    // The tables the push takes: in both databases (when the remote one could be read), not
    // among those never synchronised, and with the unsent-row flag.
    try {
        for (const QString& table : std::as_const(localTables)) {
            // The delete history is replayed rather than pushed; a table whose rows the push never
            // marks (LastPoll) would always be "pending".
            const TableRule& rule = TableRules::of(table);
            const bool history = table.compare(QLatin1String("DeleteHst"), Qt::CaseInsensitive) == 0;
            if (LocalSchema::ExcludedLocalTables().contains(table, Qt::CaseInsensitive)
                || (TableRules::isNeverPushed(table) && !history) || (rule.pushLeavesUnmarked && !rule.transactions)
                || (m_remote.read && !remoteTables.contains(table, Qt::CaseInsensitive)))
                continue;
            bool flagged = false;
            for (const db::ColumnInfo& column : local.columns(table))
                flagged = flagged || column.name.compare(QLatin1String("ASPProcessed"), Qt::CaseInsensitive) == 0;
            if (!flagged)
                continue;
            const qint64 rows
                = local.query(QStringLiteral("Select count(*) from [%1] where ASPProcessed = 0").arg(table))
                      .rows.value(0)
                      .value(0)
                      .toLongLong();
            if (rows > 0)
                m_local.pending.append({table, rows});
        }
        m_local.read = true;
    } catch (const std::exception& e) {
        m_local.error = messageOf(e);
    }
}

QStringList StatusReport::reasons() const
{
    QStringList reasons;
    const auto stuck = std::count_if(m_refusals.cbegin(), m_refusals.cend(), [](const auto& r) { return r.stuck(); });
    if (stuck > 0)
        reasons << QStringLiteral("%1 stuck").arg(stuck);
    if (!m_lastCompleted.isValid())
        reasons << QStringLiteral("no cycle has completed");
    else if (m_lastCompleted.secsTo(m_now) > qint64(kStaleIntervals) * m_intervalSeconds)
        reasons << QStringLiteral("the last completed cycle is older than %1 intervals").arg(kStaleIntervals);
    return reasons;
}

StatusReport::Health StatusReport::health() const
{
    // Something stuck is known whatever else is not; a cycle long past may be for want of the
    // databases that cannot be read here either.
    const bool stuck = std::any_of(m_refusals.cbegin(), m_refusals.cend(), [](const auto& r) { return r.stuck(); });
    if (stuck)
        return Health::NeedsAttention;
    if (!m_settingsError.isEmpty() || !m_local.read || !m_remote.read || !m_statusError.isEmpty())
        return Health::Unknown;
    return reasons().isEmpty() ? Health::Healthy : Health::NeedsAttention;
}

QString StatusReport::text() const
{
    const QTimeZone zone = m_clock.localZone();
    QStringList lines;
    QString verdict;
    switch (health()) {
    case Health::Healthy:
        verdict = QStringLiteral("healthy");
        break;
    case Health::NeedsAttention:
        verdict = QStringLiteral("needs attention: ") + reasons().join(QStringLiteral(", "));
        break;
    case Health::Unknown:
        verdict = QStringLiteral("cannot tell")
            + (reasons().isEmpty() ? QString() : QStringLiteral(" (") + reasons().join(QStringLiteral(", ")) + ')');
        break;
    }
    lines << QStringLiteral("cribsync on %1: %2").arg(m_machineName, verdict);
    lines << QStringLiteral("Last completed cycle: %1 (cycle interval %2 s)")
                 .arg(m_lastCompleted.isValid()
                         ? m_lastCompleted.toTimeZone(zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                         : QStringLiteral("none"))
                 .arg(m_intervalSeconds);
    if (!m_statusError.isEmpty())
        lines << QStringLiteral("Status file: ") + m_statusError;
    if (!m_settingsError.isEmpty())
        lines << QStringLiteral("Settings: ") + m_settingsError;
    const auto side = [&](const Side& s, const QString& what) {
        if (s.name.isEmpty())
            return;
        if (!s.read) {
            lines << QStringLiteral("The %1 cannot be read: %2").arg(s.name, s.error);
            return;
        }
        lines << QStringLiteral("The %1: %2").arg(s.name, what);
        for (const auto& [table, rows] : s.pending)
            lines << QStringLiteral("  %1 %2").arg(table).arg(rows);
    };
    side(m_local,
        plural(total(m_local.pending), QStringLiteral("row not yet sent"), QStringLiteral("rows not yet sent")));
    side(m_remote,
        plural(total(m_remote.pending), QStringLiteral("outbox order"), QStringLiteral("outbox orders"))
            + QStringLiteral(" for ") + m_machineName + QStringLiteral(" not yet applied"));
    if (m_refusals.isEmpty()) {
        lines << QStringLiteral("Nothing refused in the last cycles.");
    } else {
        lines << QStringLiteral("Refused in the last cycles (stuck after %1 in a row):")
                     .arg(CycleStatus::StuckAfterCycles);
        for (const CycleStatus::Refusal& r : m_refusals) {
            lines << QStringLiteral("  %1 %2: refused in %3 from %4 to %5: %6")
                         .arg(r.stuck() ? QStringLiteral("stuck  ") : QStringLiteral("refused"), r.what(),
                             plural(r.cycles, QStringLiteral("cycle"), QStringLiteral("cycles")),
                             CycleStatus::timeText(r.first, zone, m_now), CycleStatus::timeText(r.last, zone, m_now),
                             r.message);
        }
        if (m_unlisted > 0)
            lines << QStringLiteral("  and %1 more").arg(m_unlisted);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray StatusReport::json() const
{
    QJsonArray refusals;
    for (const CycleStatus::Refusal& r : m_refusals) {
        refusals.append(QJsonObject{{QStringLiteral("what"), r.what()}, {QStringLiteral("step"), r.step},
            {QStringLiteral("table"), r.table}, {QStringLiteral("key"), r.key}, {QStringLiteral("reason"), r.message},
            {QStringLiteral("firstRefused"), r.first.toString(Qt::ISODate)},
            {QStringLiteral("lastRefused"), r.last.toString(Qt::ISODate)}, {QStringLiteral("cycles"), r.cycles},
            {QStringLiteral("stuck"), r.stuck()}});
    }
    const auto side = [](const Side& s, const QString& counts) {
        return QJsonObject{{QStringLiteral("database"), s.name}, {QStringLiteral("read"), s.read},
            {QStringLiteral("error"), s.error}, {counts, tableCounts(s.pending)}};
    };
    const Health h = health();
    const QJsonObject root{{QStringLiteral("machineName"), m_machineName},
        {QStringLiteral("health"),
            h == Health::Healthy              ? QStringLiteral("healthy")
                : h == Health::NeedsAttention ? QStringLiteral("needs attention")
                                              : QStringLiteral("cannot tell")},
        {QStringLiteral("exitStatus"), int(h)}, {QStringLiteral("reasons"), QJsonArray::fromStringList(reasons())},
        {QStringLiteral("settingsError"), m_settingsError}, {QStringLiteral("statusFile"), m_statusFile},
        {QStringLiteral("statusFileError"), m_statusError},
        {QStringLiteral("lastCompletedCycle"),
            m_lastCompleted.isValid() ? QJsonValue(m_lastCompleted.toString(Qt::ISODate)) : QJsonValue()},
        {QStringLiteral("intervalSeconds"), m_intervalSeconds},
        {QStringLiteral("local"), side(m_local, QStringLiteral("pending"))},
        {QStringLiteral("remote"), side(m_remote, QStringLiteral("outbox"))}, {QStringLiteral("refusals"), refusals},
        {QStringLiteral("unlisted"), m_unlisted}};
    return QJsonDocument(root).toJson();
}
