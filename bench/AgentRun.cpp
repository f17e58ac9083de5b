#include "AgentRun.h"

#include "BenchSite.h"
#include "RawLoop.h"
#include "clock/SystemClock.h"
#include "clock/SystemTimeZoneList.h"
#include "cycle/CycleLog.h"
#include "cycle/NullHost.h"
#include "cycle/SyncEngine.h"
#include "db/Connection.h"
#include "db/ConnectionPool.h"
#include "db/RowQuery.h"
#include "db/SqlTrace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <malloc.h>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

/// Statements the agent sent, as its SQL trace records them, by target.
struct Traced
{
    int local = 0;
    int remote = 0;
};

Traced countTrace(const QString& path)
{
    QFile file(path);
    Traced traced;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return traced;
    static const QRegularExpression head(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\S+ (local|remote): "), QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator it = head.globalMatch(QString::fromUtf8(file.readAll()));
    while (it.hasNext())
        (it.next().captured(1) == QLatin1String("local") ? traced.local : traced.remote)++;
    return traced;
}

/// Runs `work` with the SQL trace on, into a fresh file, and counts what it sent.
template <typename Work> Traced traced(const QString& folder, Work&& work)
{
    const QString path = QDir(folder).filePath(QStringLiteral("trace.log"));
    QFile::remove(path);
    qputenv("CRIBSYNC_SQL_TRACE", path.toLocal8Bit());
    db::SqlTrace::reload();
    work();
    qunsetenv("CRIBSYNC_SQL_TRACE");
    db::SqlTrace::reload();
    return countTrace(path);
}

/// The local side of idle cycles through the SQLite ODBC driver: per cycle a fresh local
/// connection and the column lookup of every synchronised table, as the pending-change scan makes
/// them (the agent's other local texts are T-SQL, which that driver does not take).
RunReport runIdleOdbc(const QString& folder)
{
    RunReport report;
    db::Connection::setOdbcDriver(QStringLiteral("SQLite3"));
    db::Connection local(QStringLiteral("local"));
    local.setConnectionString(QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;"
                                             "Password=bench;Initial Catalog=%1;Data Source=localhost")
                                  .arg(QDir(folder).filePath(BenchSite::localName() + QStringLiteral(".db"))));
    const QStringList tables = BenchSite::synchronisedTables(folder);
    const auto cycle = [&] {
        local.open();
        for (const QString& table : tables)
            local.columns(table);
        local.close();
    };
    db::Connection::Traffic before = db::Connection::traffic(QStringLiteral("local"));
    cycle();
    db::Connection::Traffic after = db::Connection::traffic(QStringLiteral("local"));
    report.set(QStringLiteral("first_local_catalogue_calls"), double(after.catalogueCalls - before.catalogueCalls));
    constexpr int kCycles = 20;
    before = after;
    for (int i = 0; i < kCycles; ++i)
        cycle();
    after = db::Connection::traffic(QStringLiteral("local"));
    report.set(QStringLiteral("cycles"), double(kCycles));
    report.set(
        QStringLiteral("local_catalogue_per_cycle"), double(after.catalogueCalls - before.catalogueCalls) / kCycles);
    report.set(QStringLiteral("tables"), double(tables.size()));
    return report;
}

/// The engine as the program runs it, with the cycle's time and remote round trips shared out
/// among the kinds of work: the time from one unit of work to the next (from the start for the
/// first) belongs to the kind of the later one, so a kind's share includes what the agent does
/// around it (reading the pending rows, opening the outbox).
class KindTimedEngine : public SyncEngine
{
public:
    using SyncEngine::SyncEngine;

    struct Share
    {
        double seconds = 0;
        qint64 roundTrips = 0;
        qint64 units = 0;
    };

    void startClock()
    {
        m_timer.start();
        m_lastNs = 0;
        m_lastTrips = remoteTrips();
    }
    void workDone(const QString& what, const QString& table) override
    {
        SyncEngine::workDone(what, table);
        // Anything else (a push stopped at its time budget) is time of the next unit.
        if (what != QLatin1String("row pushed") && what != QLatin1String("transaction sent")
            && what != QLatin1String("entry applied"))
            return;
        const qint64 now = m_timer.nsecsElapsed();
        const qint64 trips = remoteTrips();
        Share& share = m_shares[kindOf(what, table)];
        share.seconds += (now - m_lastNs) / 1e9;
        share.roundTrips += trips - m_lastTrips;
        ++share.units;
        m_lastNs = now;
        m_lastTrips = trips;
    }
    const Share share(FirstSyncKind kind) const { return m_shares.value(int(kind)); }

private:
    static qint64 remoteTrips()
    {
        const db::Connection::Traffic t = db::Connection::traffic(QStringLiteral("remote"));
        return t.statements + t.catalogueCalls;
    }
    static int kindOf(const QString& what, const QString& table)
    {
        if (what == QLatin1String("entry applied"))
            return int(FirstSyncKind::Orders);
        if (table.compare(QLatin1String("MyTran"), Qt::CaseInsensitive) == 0)
            return int(FirstSyncKind::Transactions);
        if (table.compare(QLatin1String("Bin"), Qt::CaseInsensitive) == 0)
            return int(FirstSyncKind::Bins);
        return int(FirstSyncKind::Items);
    }

    QElapsedTimer m_timer;
    qint64 m_lastNs = 0;
    qint64 m_lastTrips = 0;
    QHash<int, Share> m_shares;
};

/// Samples the resident size of this process every `periodMs` on a thread of its own, so that a
/// long cycle that never returns to an event loop is still seen.
class MemorySampler
{
public:
    explicit MemorySampler(int periodMs)
    {
        m_timer.start();
        m_thread = std::thread([this, periodMs] {
            while (!m_stop.load()) {
                sample();
                std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
            }
        });
    }
    ~MemorySampler() { stop(); }
    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_stop.store(true);
        m_thread.join();
        sample();
    }
    /// "ms:kB" pairs joined by commas.
    QString text() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_samples.join(QLatin1Char(','));
    }

private:
    void sample()
    {
        const QString pair = QStringLiteral("%1:%2").arg(m_timer.elapsed()).arg(ProcessMemory::residentKb());
        std::lock_guard<std::mutex> lock(m_mutex);
        m_samples << pair;
    }

    QElapsedTimer m_timer;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QStringList m_samples;
    std::thread m_thread;
};

/// A crib's first synchronisation: cycles back to back, as many as the backlog takes, without the
/// interval between them (the operator's wait adds that), with the memory sampled throughout.
RunReport runFirstSync(const QString& folder, int rows)
{
    RunReport report;
    SystemClock clock;
    SystemTimeZoneList zones;
    CycleLog log(QDir(folder).filePath(QStringLiteral("cribsync.log")), &clock);
    NullHost host;
    KindTimedEngine engine(&host, &clock, &zones, &log);
    AgentSettings settings;
    settings.useWindowsAuth = true;
    settings.localServer = QStringLiteral("sqlite:") + folder;
    settings.localDatabase = BenchSite::localName();
    settings.remoteAddress = QStringLiteral("sqlite:") + folder;
    settings.remotePort = QStringLiteral("1433");
    settings.machineName = BenchSite::machineName();
    if (engine.connectDatabases(settings) != SyncEngine::StartupOutcome::Connected)
        throw std::runtime_error(
            ("the agent's start-up did not connect: " + host.messages.join(QStringLiteral("; "))).toStdString());
    engine.DataModuleCreate();
    malloc_trim(0);
    report.set(QStringLiteral("base_kb"), double(ProcessMemory::residentKb()));
    ProcessMemory::resetPeak();

    const FirstSyncBacklog backlog = FirstSyncBacklog::of(rows);
    const qint64 units = qint64(backlog.transactions) + backlog.items + backlog.bins + backlog.orders;
    MemorySampler sampler(250);
    bool firstTick = true;
    int cycles = 0;
    bool completed = true;
    QElapsedTimer timer;
    timer.start();
    engine.startClock();
    qint64 done = 0;
    // A cycle that moves nothing more ends the run; the check then says what is left.
    for (qint64 before = -1; done != before && done < units;) {
        before = done;
        completed = engine.runCycle(firstTick) && completed;
        ++cycles;
        done = 0;
        for (FirstSyncKind kind : firstSyncKinds())
            done += engine.share(kind).units;
    }
    report.set(QStringLiteral("seconds"), timer.nsecsElapsed() / 1e9);
    sampler.stop();
    report.set(QStringLiteral("peak_kb"), double(ProcessMemory::peakKb()));
    report.set(QStringLiteral("cycles"), double(cycles));
    report.set(QStringLiteral("completed"), completed ? 1.0 : 0.0);
    report.set(QStringLiteral("memory_samples"), sampler.text());
    for (FirstSyncKind kind : firstSyncKinds()) {
        const KindTimedEngine::Share share = engine.share(kind);
        report.set(kindName(kind) + QStringLiteral("_seconds"), share.seconds);
        report.set(kindName(kind) + QStringLiteral("_round_trips"), double(share.roundTrips));
        report.set(kindName(kind) + QStringLiteral("_units"), double(share.units));
    }
    return report;
}

} // namespace

RunReport runAgent(const QString& folder, BenchCase benchCase, int rows)
{
    if (benchCase == BenchCase::IdleOdbc)
        return runIdleOdbc(folder);
    if (benchCase == BenchCase::FirstSync)
        return runFirstSync(folder, rows);
    RunReport report;
    SystemClock clock;
    SystemTimeZoneList zones;
    CycleLog log(QDir(folder).filePath(QStringLiteral("cribsync.log")), &clock);
    NullHost host;
    SyncEngine engine(&host, &clock, &zones, &log);

    AgentSettings settings;
    settings.useWindowsAuth = true;
    settings.localServer = QStringLiteral("sqlite:") + folder;
    settings.localDatabase = BenchSite::localName();
    settings.remoteAddress = QStringLiteral("sqlite:") + folder;
    settings.remotePort = QStringLiteral("1433");
    settings.machineName = BenchSite::machineName();
    if (engine.connectDatabases(settings) != SyncEngine::StartupOutcome::Connected)
        throw std::runtime_error(
            ("the agent's start-up did not connect: " + host.messages.join(QStringLiteral("; "))).toStdString());
    engine.DataModuleCreate();
    bool firstTick = true;

    const auto cycle = [&](const QString& prefix) {
        const db::Connection::Traffic remoteBefore = db::Connection::traffic(QStringLiteral("remote"));
        const db::Connection::Traffic localBefore = db::Connection::traffic(QStringLiteral("local"));
        const SqliteCounter::Counts before = SqliteCounter::counts();
        const int physicalBefore = db::Connection::physicalConnectionsOpened();
        QElapsedTimer timer;
        timer.start();
        const bool completed = engine.runCycle(firstTick);
        const double seconds = timer.nsecsElapsed() / 1e9;
        report.setCounts(prefix, before, SqliteCounter::counts());
        report.set(prefix + QStringLiteral("physical_opens"),
            double(db::Connection::physicalConnectionsOpened() - physicalBefore));
        report.set(prefix + QStringLiteral("completed"), completed ? 1.0 : 0.0);
        report.set(prefix + QStringLiteral("pooled_after"), double(db::ConnectionPool::instance().idleCount()));
        const db::Connection::Traffic remoteAfter = db::Connection::traffic(QStringLiteral("remote"));
        const db::Connection::Traffic localAfter = db::Connection::traffic(QStringLiteral("local"));
        report.set(prefix + QStringLiteral("remote_round_trips"),
            double(remoteAfter.statements + remoteAfter.catalogueCalls - remoteBefore.statements
                - remoteBefore.catalogueCalls));
        report.set(prefix + QStringLiteral("local_catalogue_calls"),
            double(localAfter.catalogueCalls - localBefore.catalogueCalls));
        return seconds;
    };

    if (benchCase == BenchCase::Idle) {
        cycle(QStringLiteral("warm_"));
        constexpr int kCycles = 200;
        report.set(QStringLiteral("cycles"), double(kCycles));
        report.set(QStringLiteral("rss_before_kb"), double(ProcessMemory::residentKb()));
        // In rounds against the raw loop's statements on the same files, so that both meet the
        // same load of the machine: the ratio holds where the times do not.
        constexpr int kRounds = 20;
        double agentSeconds = 0;
        double rawSeconds = 0;
        // Counted around the agent's cycles only: the raw loop lists the tables through the
        // client layer.
        qint64 remoteTrips = 0;
        QElapsedTimer timer;
        for (int round = 0; round < kRounds; ++round) {
            const db::Connection::Traffic remoteBefore = db::Connection::traffic(QStringLiteral("remote"));
            timer.start();
            for (int i = 0; i < kCycles / kRounds; ++i)
                cycle(QString());
            agentSeconds += timer.nsecsElapsed() / 1e9;
            const db::Connection::Traffic remoteAfter = db::Connection::traffic(QStringLiteral("remote"));
            remoteTrips += remoteAfter.statements + remoteAfter.catalogueCalls - remoteBefore.statements
                - remoteBefore.catalogueCalls;
            rawSeconds += rawIdleCycles(folder, kCycles / kRounds) * (kCycles / kRounds);
        }
        report.set(QStringLiteral("seconds"), agentSeconds / kCycles);
        report.set(QStringLiteral("raw_seconds"), rawSeconds / kCycles);
        report.set(QStringLiteral("remote_round_trips_per_cycle"), double(remoteTrips) / kCycles);
        report.set(QStringLiteral("rss_after_kb"), double(ProcessMemory::residentKb()));
        const Traced sent = traced(folder, [&] { cycle(QStringLiteral("traced_")); });
        report.set(QStringLiteral("sent_local"), double(sent.local));
        report.set(QStringLiteral("sent_remote"), double(sent.remote));

        // The cycle that does nothing but the probe: the same statement through the same pool.
        const auto probe = [&] {
            db::RowQuery query(QStringLiteral("testConnection"));
            query.setDatabase(engine.dm().testConnection.database());
            query.setSql(engine.dm().testConnection.sql());
            query.setRowLimit(1);
            query.open();
        };
        const SqliteCounter::Counts before = SqliteCounter::counts();
        const int physicalBefore = db::Connection::physicalConnectionsOpened();
        timer.restart();
        for (int i = 0; i < kCycles; ++i)
            probe();
        report.set(QStringLiteral("probe_seconds"), timer.nsecsElapsed() / 1e9 / kCycles);
        SqliteCounter::Counts after = SqliteCounter::counts();
        after.localStatements = before.localStatements + (after.localStatements - before.localStatements) / kCycles;
        after.remoteStatements = before.remoteStatements + (after.remoteStatements - before.remoteStatements) / kCycles;
        report.setCounts(QStringLiteral("probe_"), before, after);
        report.set(QStringLiteral("probe_physical_opens"),
            double(db::Connection::physicalConnectionsOpened() - physicalBefore) / kCycles);
        const Traced probeSent = traced(folder, probe);
        report.set(QStringLiteral("probe_sent_local"), double(probeSent.local));
        report.set(QStringLiteral("probe_sent_remote"), double(probeSent.remote));
        report.set(QStringLiteral("tables"), double(BenchSite::synchronisedTables(folder).size()));
        return report;
    }

    if (benchCase == BenchCase::Wan)
        db::Connection::setStatementDelay(QStringLiteral("remote"), kWanDelayMs);
    ProcessMemory::resetPeak();
    report.set(QStringLiteral("base_kb"), double(ProcessMemory::residentKb()));
    report.set(QStringLiteral("seconds"), cycle(QString()));
    report.set(QStringLiteral("peak_kb"), double(ProcessMemory::peakKb()));
    // The next cycle finds nothing to do; what stays resident after it is what the backlog left behind.
    cycle(QStringLiteral("next_"));
    malloc_trim(0);
    report.set(QStringLiteral("next_rss_kb"), double(ProcessMemory::residentKb()));
    Q_UNUSED(rows);
    return report;
}
