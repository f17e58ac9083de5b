// The benchmark harness. Run without arguments it measures the full sizes; see usage() for the
// options. Every measured run happens in a fresh child process (this program started again with
// --child), so that each reports its own peak memory.

#include "AgentRun.h"
#include "BenchSite.h"
#include "Plot.h"
#include "RawLoop.h"
#include "SqliteCounter.h"
#include "step/PagedRows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <exception>

namespace {

const char* const kUsage = R"(usage: cribsync_bench [--sizes N,N,...] [--reduced | --tiny] [--connections N,N]
                      [--wan N] [--first-sync N,N,...] [--first-sync-only] [--plot FILE]
                      [--memory-plot FILE] [--work DIR] [--check]

Measures the agent's push and apply on the embedded engines against raw SQLite loops issuing
the same per-row statements, an idle cycle against a probe-only cycle, the connections a cycle
opens, peak memory and how time grows with the backlog; prints one table and draws a plot.

  --sizes        backlog sizes (default 1000,10000,100000)
  --reduced      sizes 1000,10000
  --tiny         sizes 100,300 and connections at 10,300 (a quick check)
  --size-from-env  --tiny, or --reduced when CRIBSYNC_SIZE is "full" (the test suites' size)
  --connections  backlog sizes for the connection count (default 10,10000)
  --wan N        rows each way for the WAN case, 20 ms per remote statement (default 10000;
                 200 with --reduced, 20 with --tiny; 0 leaves it out)
  --first-sync   transactions pending in the first-synchronisation cases, each with a tenth as
                 many items, a fiftieth as many bins and a tenth as many outbox orders (default
                 10000,100000,1000000; 10000,100000 with --reduced and in the test; 1000,10000
                 with --tiny; 0 leaves them out)
  --first-sync-only  only the first-synchronisation cases
  --plot FILE    where to write the PNG (default bench-throughput.png)
  --memory-plot FILE  where to write the first synchronisation's memory over time (default
                 first-sync-memory.png beside the throughput plot)
  --work DIR     where the databases are made (default: a temporary folder)
  --check        exit with status 1 when a run failed, a backlog did not arrive whole, or the
                 peak memory of the largest first synchronisation is more than 10% above the
                 smallest's (when that one has 10,000 transactions or more)

To profile one run: cribsync_bench --seed CASE ROWS DIR makes and seeds a site, then
cribsync_bench --child agent|raw CASE ROWS DIR runs it (under perf, heaptrack, ...), and
cribsync_bench --verify CASE ROWS DIR checks it. CASE is one of push-generic, push-bin,
push-issue, push-mytran, apply-copies, apply-transactions, idle, idle-odbc, connections, wan,
first-sync.
)";

struct Options
{
    QList<int> sizes{1000, 10000, 100000};
    QList<int> connectionSizes{10, 10000};
    int wanRows = 10000;
    QList<int> firstSyncSizes{10000, 100000, 1000000};
    bool firstSyncOnly = false;
    QString plot = QStringLiteral("bench-throughput.png");
    QString memoryPlot;
    QString work;
    bool check = false;
};

struct Run
{
    RunReport report;
    QString problem; // empty when the run completed and its backlog arrived
};

struct Measurement
{
    BenchCase benchCase;
    int rows = 0;
    Run agent;
    Run raw;
};

QString number(double value, int decimals = 0)
{
    return QLocale(QLocale::English).toString(value, 'f', decimals);
}

QString megabytes(double kb)
{
    return number(kb / 1024.0, 1) + QStringLiteral(" MB");
}

QString caseLabel(BenchCase benchCase)
{
    switch (benchCase) {
    case BenchCase::PushGeneric:
        return QStringLiteral("generic table");
    case BenchCase::PushBin:
        return QStringLiteral("Bin");
    case BenchCase::PushIssue:
        return QStringLiteral("Issue");
    case BenchCase::PushMyTran:
        return QStringLiteral("MyTran");
    case BenchCase::ApplyCopies:
        return QStringLiteral("record copies");
    case BenchCase::ApplyTransactions:
        return QStringLiteral("transactions");
    default:
        return caseName(benchCase);
    }
}

QList<int> parseSizes(const QString& text)
{
    QList<int> sizes;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n <= 0)
            throw std::runtime_error(QStringLiteral("'%1' is not a backlog size").arg(part).toStdString());
        sizes << n;
    }
    if (sizes.isEmpty())
        throw std::runtime_error("no backlog size given");
    return sizes;
}

/// Runs one measurement in a child process on a freshly made and seeded site, then checks it.
Run measure(const QString& work, BenchCase benchCase, int rows, const QString& side)
{
    const QString folder = QDir(work).filePath(QStringLiteral("%1-%2-%3").arg(caseName(benchCase)).arg(rows).arg(side));
    QDir(folder).removeRecursively();
    BenchSite::create(folder);
    BenchSite::seed(folder, benchCase, rows);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("CRIBSYNC_SQL_TRACE")); // a trace would be timed too
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--child"), side, caseName(benchCase), QString::number(rows), folder});
    child.waitForFinished(-1);
    Run run;
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    run.report = RunReport::parse(output);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || run.report.values.isEmpty()) {
        run.problem = QStringLiteral("the %1 run failed: %2")
                          .arg(side, QString::fromUtf8(child.readAllStandardError()).trimmed().right(300));
    } else if (run.report.has(QStringLiteral("completed")) && run.report.number(QStringLiteral("completed")) != 1) {
        run.problem = QStringLiteral("the cycle reported a failure");
    }
    if (run.problem.isEmpty() && benchCase != BenchCase::Idle && benchCase != BenchCase::IdleOdbc)
        run.problem = BenchSite::verify(folder, benchCase, rows);
    QDir(folder).removeRecursively();
    return run;
}

double rate(const Run& run, int rows)
{
    const double seconds = run.report.number(QStringLiteral("seconds"));
    return seconds > 0 ? rows / seconds : 0;
}

double perRow(const Run& run, const char* localKey, const char* remoteKey, int rows)
{
    return (run.report.number(QLatin1String(localKey)) + run.report.number(QLatin1String(remoteKey))) / rows;
}

double scanStepsPerRow(const Run& run, int rows)
{
    return perRow(run, "local_scan_steps", "remote_scan_steps", rows);
}

double vmStepsPerRow(const Run& run, int rows)
{
    return perRow(run, "local_vm_steps", "remote_vm_steps", rows);
}

double statementsPerRow(const Run& run, int rows)
{
    return (run.report.number(QStringLiteral("local_statements"))
               + run.report.number(QStringLiteral("remote_statements")))
        / rows;
}

/// The one table, as Markdown.
class Table
{
public:
    void add(const QStringList& cells) { m_rows << cells; }
    QString text() const
    {
        const QStringList head = {QStringLiteral("item"), QStringLiteral("case"), QStringLiteral("rows"),
            QStringLiteral("agent"), QStringLiteral("raw loop / baseline"), QStringLiteral("agent ÷ raw (time)"),
            QStringLiteral("peak RSS agent (raw)"), QStringLiteral("notes")};
        QList<qsizetype> widths;
        for (const QString& h : head)
            widths << h.size();
        for (const QStringList& row : m_rows) {
            for (int i = 0; i < row.size(); ++i)
                widths[i] = std::max(widths[i], row[i].size());
        }
        const auto line = [&](const QStringList& cells) {
            QString text = QStringLiteral("|");
            for (int i = 0; i < head.size(); ++i)
                text += QLatin1Char(' ') + cells.value(i).leftJustified(widths[i]) + QStringLiteral(" |");
            return text + QLatin1Char('\n');
        };
        QStringList rule;
        for (qsizetype w : widths)
            rule << QString(w, QLatin1Char('-'));
        QString text = line(head) + line(rule);
        for (const QStringList& row : m_rows)
            text += line(row);
        return text;
    }

private:
    QList<QStringList> m_rows;
};

/// What the same first synchronisation would take where every remote round trip costs
/// `milliseconds` more: the time measured on the embedded engine plus the round trips' waits.
double overLink(double seconds, double roundTrips, double milliseconds)
{
    return seconds + roundTrips * milliseconds / 1000.0;
}

QString duration(double seconds)
{
    if (seconds < 120)
        return number(seconds, 1) + QStringLiteral(" s");
    if (seconds < 2 * 3600)
        return number(seconds / 60, 1) + QStringLiteral(" min");
    return number(seconds / 3600, 1) + QStringLiteral(" h");
}

/// The first synchronisation's rows: one per kind of work against the raw loop, then the whole.
void addFirstSync(Table& table, const Measurement& m)
{
    const RunReport& agent = m.agent.report;
    const RunReport& raw = m.raw.report;
    const FirstSyncBacklog backlog = FirstSyncBacklog::of(m.rows);
    double trips = 0;
    for (FirstSyncKind kind : firstSyncKinds()) {
        const QString k = kindName(kind);
        const int rows = rowsOf(backlog, kind);
        const double agentSeconds = agent.number(k + QStringLiteral("_seconds"));
        const double rawSeconds = raw.number(k + QStringLiteral("_seconds"));
        const double kindTrips = agent.number(k + QStringLiteral("_round_trips"));
        trips += kindTrips;
        const double agentRate = agentSeconds > 0 ? rows / agentSeconds : 0;
        const double rawRate = rawSeconds > 0 ? rows / rawSeconds : 0;
        table.add({QStringLiteral("first sync"), QStringLiteral("%1 of %2").arg(k, number(m.rows)), number(rows),
            number(agentRate) + QStringLiteral(" rows/s"), number(rawRate) + QStringLiteral(" rows/s"),
            agentRate > 0 ? number(rawRate / agentRate, 2) + QStringLiteral("×") : QStringLiteral("-"), QString(),
            QStringLiteral("remote round trips per row %1; over a 1 ms LAN %2, a 50 ms WAN %3")
                .arg(number(rows > 0 ? kindTrips / rows : 0, 2), duration(overLink(agentSeconds, kindTrips, 1)),
                    duration(overLink(agentSeconds, kindTrips, 50)))});
    }
    const double seconds = agent.number(QStringLiteral("seconds"));
    const double units = double(backlog.transactions) + backlog.items + backlog.bins + backlog.orders;
    table.add({QStringLiteral("first sync"), QStringLiteral("whole, %1 transactions").arg(number(m.rows)),
        number(units), duration(seconds), duration(raw.number(QStringLiteral("seconds"))),
        raw.number(QStringLiteral("seconds")) > 0
            ? number(seconds / raw.number(QStringLiteral("seconds")), 2) + QStringLiteral("×")
            : QStringLiteral("-"),
        megabytes(agent.number(QStringLiteral("peak_kb"))) + QStringLiteral(" (")
            + megabytes(raw.number(QStringLiteral("peak_kb"))) + QLatin1Char(')'),
        QStringLiteral("idle agent %1, peak %2 above it; %3 cycles; remote round trips %4 (%5 per row); over a 1 ms "
                       "LAN %6, a 50 ms WAN %7")
                .arg(megabytes(agent.number(QStringLiteral("base_kb"))),
                    megabytes(agent.number(QStringLiteral("peak_kb")) - agent.number(QStringLiteral("base_kb"))),
                    number(agent.number(QStringLiteral("cycles"))), number(trips),
                    number(units > 0 ? trips / units : 0, 2), duration(overLink(seconds, trips, 1)),
                    duration(overLink(seconds, trips, 50)))
            + (m.agent.problem.isEmpty() && m.raw.problem.isEmpty() ? QStringLiteral("; arrived whole")
                                                                    : QStringLiteral("; CHECK FAILED"))});
}

int runChild(const QStringList& args)
{
    const QString side = args.value(2);
    const std::optional<BenchCase> benchCase = caseFromName(args.value(3));
    const int rows = args.value(4).toInt();
    const QString folder = args.value(5);
    if (!benchCase || folder.isEmpty()) {
        std::fprintf(stderr, "bad child arguments\n");
        return 2;
    }
    SqliteCounter::install(qPrintable(BenchSite::localName() + QStringLiteral(".db")),
        qPrintable(BenchSite::remoteName() + QStringLiteral(".db")));
    const RunReport report
        = side == QLatin1String("raw") ? runRawLoop(folder, *benchCase) : runAgent(folder, *benchCase, rows);
    std::printf("%s\n", qPrintable(report.line()));
    return 0;
}

Options parseOptions(const QStringList& args)
{
    Options options;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto value = [&] {
            if (i + 1 >= args.size())
                throw std::runtime_error(QStringLiteral("%1 needs a value").arg(a).toStdString());
            return args[++i];
        };
        if (a == QLatin1String("--sizes")) {
            options.sizes = parseSizes(value());
        } else if (a == QLatin1String("--reduced")) {
            options.sizes = {1000, 10000};
            options.wanRows = 200;
            options.firstSyncSizes = {10000, 100000};
        } else if (a == QLatin1String("--tiny")
            || (a == QLatin1String("--size-from-env")
                && qEnvironmentVariable("CRIBSYNC_SIZE") != QLatin1String("full"))) {
            options.sizes = {100, 300};
            options.connectionSizes = {10, 300};
            options.wanRows = 20;
            // The test's memory check needs a backlog ten times another, large enough to matter.
            options.firstSyncSizes = a == QLatin1String("--tiny") ? QList<int>{1000, 10000} : QList<int>{10000, 100000};
        } else if (a == QLatin1String("--size-from-env")) {
            options.sizes = {1000, 10000};
            options.wanRows = 200;
            options.firstSyncSizes = {10000, 100000};
        } else if (a == QLatin1String("--first-sync")) {
            const QString sizes = value();
            options.firstSyncSizes = sizes == QLatin1String("0") ? QList<int>{} : parseSizes(sizes);
        } else if (a == QLatin1String("--first-sync-only")) {
            options.firstSyncOnly = true;
        } else if (a == QLatin1String("--memory-plot")) {
            options.memoryPlot = value();
        } else if (a == QLatin1String("--wan")) {
            bool ok = false;
            options.wanRows = value().toInt(&ok);
            if (!ok || options.wanRows < 0)
                throw std::runtime_error("--wan needs a number of rows");
        } else if (a == QLatin1String("--connections")) {
            options.connectionSizes = parseSizes(value());
        } else if (a == QLatin1String("--plot")) {
            options.plot = value();
        } else if (a == QLatin1String("--work")) {
            options.work = value();
        } else if (a == QLatin1String("--check")) {
            options.check = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::printf("%s", kUsage);
            std::exit(0);
        } else {
            throw std::runtime_error(QStringLiteral("unknown option %1").arg(a).toStdString());
        }
    }
    if (options.firstSyncOnly) {
        options.sizes.clear();
        options.connectionSizes.clear();
        options.wanRows = 0;
    }
    std::sort(options.sizes.begin(), options.sizes.end());
    std::sort(options.firstSyncSizes.begin(), options.firstSyncSizes.end());
    if (options.memoryPlot.isEmpty())
        options.memoryPlot = QFileInfo(options.plot).dir().filePath(QStringLiteral("first-sync-memory.png"));
    return options;
}

void progress(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

int runParent(const Options& options)
{
    QTemporaryDir temporary(QDir::temp().filePath(QStringLiteral("cribsync-bench-XXXXXX")));
    const QString work = options.work.isEmpty() ? temporary.path() : options.work;
    QDir().mkpath(work);
    QElapsedTimer total;
    total.start();
    QStringList problems;
    Table table;

    QList<Measurement> measurements;
    QList<QPair<int, double>> firstSyncPeaks; // transactions, peak kB
    for (int rows : options.sizes) {
        for (BenchCase benchCase : throughputCases()) {
            Measurement m{benchCase, rows, measure(work, benchCase, rows, QStringLiteral("agent")),
                measure(work, benchCase, rows, QStringLiteral("raw"))};
            progress(
                QStringLiteral("%1 %2 rows: agent %3 rows/s, raw loop %4 rows/s")
                    .arg(caseName(benchCase), number(rows), number(rate(m.agent, rows)), number(rate(m.raw, rows))));
            for (const Run* run : {&m.agent, &m.raw}) {
                if (!run->problem.isEmpty())
                    problems << QStringLiteral("%1 at %2 rows (%3): %4")
                                    .arg(caseName(benchCase), number(rows),
                                        run == &m.agent ? QStringLiteral("agent") : QStringLiteral("raw loop"),
                                        run->problem);
            }
            measurements << m;
        }
    }

    // 1, 2 and 5: throughput against the raw loop at every size, with the peak memory of each run.
    for (BenchCase benchCase : throughputCases()) {
        for (const Measurement& m : measurements) {
            if (m.benchCase != benchCase)
                continue;
            const double agentRate = rate(m.agent, m.rows);
            const double rawRate = rate(m.raw, m.rows);
            QString notes
                = QStringLiteral("per row: SQLite statements %1 vs %2, VM steps %3 vs %4, remote round trips %5")
                      .arg(number(statementsPerRow(m.agent, m.rows), 2), number(statementsPerRow(m.raw, m.rows), 2),
                          number(vmStepsPerRow(m.agent, m.rows)), number(vmStepsPerRow(m.raw, m.rows)),
                          number(m.agent.report.number(QStringLiteral("remote_round_trips")) / m.rows, 2));
            notes += QStringLiteral("; agent RSS before %1, after the next cycle %2")
                         .arg(megabytes(m.agent.report.number(QStringLiteral("base_kb"))),
                             megabytes(m.agent.report.number(QStringLiteral("next_rss_kb"))));
            if (!m.agent.problem.isEmpty() || !m.raw.problem.isEmpty())
                notes += QStringLiteral("; CHECK FAILED");
            else
                notes += QStringLiteral("; arrived whole");
            table.add({isPush(benchCase) ? QStringLiteral("push") : QStringLiteral("apply"), caseLabel(benchCase),
                number(m.rows), number(agentRate) + QStringLiteral(" rows/s"),
                number(rawRate) + QStringLiteral(" rows/s"),
                agentRate > 0 ? number(rawRate / agentRate, 2) + QStringLiteral("×") : QStringLiteral("-"),
                megabytes(m.agent.report.number(QStringLiteral("peak_kb"))) + QStringLiteral(" (")
                    + megabytes(m.raw.report.number(QStringLiteral("peak_kb"))) + QLatin1Char(')'),
                notes});
        }
    }

    // 5: growth from the smallest to the largest backlog.
    if (options.sizes.size() > 1) {
        const int small = options.sizes.first();
        const int large = options.sizes.last();
        for (BenchCase benchCase : throughputCases()) {
            const Measurement* a = nullptr;
            const Measurement* b = nullptr;
            for (const Measurement& m : measurements) {
                if (m.benchCase == benchCase && m.rows == small)
                    a = &m;
                if (m.benchCase == benchCase && m.rows == large)
                    b = &m;
            }
            if (!a || !b)
                continue;
            const auto perRow
                = [](const Run& run, int rows) { return run.report.number(QStringLiteral("seconds")) / rows; };
            const auto growth = [&](const char* side) {
                const Run& ra = QLatin1String(side) == QLatin1String("agent") ? a->agent : a->raw;
                const Run& rb = QLatin1String(side) == QLatin1String("agent") ? b->agent : b->raw;
                return (rb.report.number(QStringLiteral("peak_kb")) - ra.report.number(QStringLiteral("peak_kb")))
                    * 1024.0 / (large - small);
            };
            table.add({QStringLiteral("scaling"), caseLabel(benchCase),
                number(small) + QStringLiteral(" → ") + number(large),
                QStringLiteral("per-row time ×") + number(perRow(b->agent, large) / perRow(a->agent, small), 2),
                QStringLiteral("per-row time ×") + number(perRow(b->raw, large) / perRow(a->raw, small), 2), QString(),
                megabytes(a->agent.report.number(QStringLiteral("peak_kb"))) + QStringLiteral(" → ")
                    + megabytes(b->agent.report.number(QStringLiteral("peak_kb"))),
                QStringLiteral("memory per extra row: agent %1 bytes, raw loop %2 bytes; per row, SQLite VM steps "
                               "×%3 and rows read by full scans %4 → %5")
                    .arg(number(growth("agent")), number(growth("raw")),
                        number(vmStepsPerRow(b->agent, large) / vmStepsPerRow(a->agent, small), 2),
                        number(scanStepsPerRow(a->agent, small), 1), number(scanStepsPerRow(b->agent, large), 1))});
            // Work that grows faster than the backlog shows in exact counts, whatever the machine's load.
            const double scansBefore = scanStepsPerRow(a->agent, small);
            const double scansAfter = scanStepsPerRow(b->agent, large);
            if (scansAfter - scansBefore > 0.25 * (large - small))
                problems << QStringLiteral("%1: rows read by full scans grow from %2 to %3 per row between %4 and %5 "
                                           "rows: a per-row statement reads a table that grows with the backlog")
                                .arg(caseName(benchCase), number(scansBefore, 1), number(scansAfter, 1), number(small),
                                    number(large));
        }
    }

    // 3: the idle cycle against the probe alone, and against raw SQLite issuing its statements.
    if (!options.firstSyncOnly) {
        const Run idle = measure(work, BenchCase::Idle, 0, QStringLiteral("agent"));
        const Run raw = measure(work, BenchCase::Idle, 0, QStringLiteral("raw"));
        for (const Run* run : {&idle, &raw}) {
            if (!run->problem.isEmpty())
                problems << QStringLiteral("idle cycle: ") + run->problem;
        }
        const RunReport& r = idle.report;
        const auto n
            = [&](const RunReport& report, const char* key) { return number(report.number(QLatin1String(key))); };
        const double cycleMs = r.number(QStringLiteral("seconds")) * 1000;
        const double probeMs = r.number(QStringLiteral("probe_seconds")) * 1000;
        // Measured in rounds with the agent's cycles, in its process.
        const double rawMs = r.number(QStringLiteral("raw_seconds")) * 1000;
        const QString tables = n(r, "tables") + QStringLiteral(" tables, nothing pending");
        table.add({QStringLiteral("idle cycle"), tables, QStringLiteral("0"),
            number(cycleMs, 2) + QStringLiteral(" ms"), number(probeMs, 3) + QStringLiteral(" ms (probe only)"),
            probeMs > 0 ? number(cycleMs / probeMs, 1) + QStringLiteral("×") : QStringLiteral("-"), QString(),
            QStringLiteral("statements sent local+remote %1+%2 (probe only %3+%4); connections opened local+remote "
                           "%5+%6 (probe only %7+%8); RSS after %9 idle cycles %10 → %11")
                .arg(n(r, "sent_local"), n(r, "sent_remote"), n(r, "probe_sent_local"), n(r, "probe_sent_remote"),
                    n(r, "local_opens"), n(r, "remote_opens"), n(r, "probe_local_opens"), n(r, "probe_remote_opens"),
                    n(r, "cycles"))
                .arg(megabytes(r.number(QStringLiteral("rss_before_kb"))),
                    megabytes(r.number(QStringLiteral("rss_after_kb"))))});
        table.add({QStringLiteral("idle cycle"), tables, QStringLiteral("0"),
            number(cycleMs, 2) + QStringLiteral(" ms"), number(rawMs, 2) + QStringLiteral(" ms (raw, same statements)"),
            rawMs > 0 ? number(cycleMs / rawMs, 1) + QStringLiteral("×") : QStringLiteral("-"), QString(),
            QStringLiteral("SQLite statements local+remote %1+%2 (raw %3+%4; probe only %5+%6); remote round trips "
                           "per cycle %7")
                .arg(n(r, "local_statements"), n(r, "remote_statements"), n(raw.report, "local_statements"),
                    n(raw.report, "remote_statements"), n(r, "probe_local_statements"), n(r, "probe_remote_statements"),
                    number(r.number(QStringLiteral("remote_round_trips_per_cycle")), 2))});
        progress(QStringLiteral("idle cycle: %1 ms, raw %2 ms, probe only %3 ms")
                     .arg(number(cycleMs, 2), number(rawMs, 2), number(probeMs, 3)));
    }

    // 4: connections a cycle opens with a backlog both ways, and the idle cycle after it.
    for (int rows : options.connectionSizes) {
        const Run run = measure(work, BenchCase::Connections, rows, QStringLiteral("agent"));
        if (!run.problem.isEmpty())
            problems << QStringLiteral("connections at %1 rows: %2").arg(number(rows), run.problem);
        const auto n = [&](const char* key) { return number(run.report.number(QLatin1String(key))); };
        table.add({QStringLiteral("connections"), QStringLiteral("push + apply backlog"), number(rows),
            QStringLiteral("remote %1, local %2 opened").arg(n("remote_opens"), n("local_opens")), QString(), QString(),
            megabytes(run.report.number(QStringLiteral("peak_kb"))),
            QStringLiteral("next (idle) cycle: remote %1, local %2; pool keeps %3 remote; %4 rows each way, %5 s")
                    .arg(n("next_remote_opens"), n("next_local_opens"), n("next_pooled_after"), number(rows),
                        number(run.report.number(QStringLiteral("seconds")), 2))
                + (run.problem.isEmpty() ? QStringLiteral("; arrived whole") : QStringLiteral("; CHECK FAILED"))});
        progress(QStringLiteral("connections at %1 rows: remote %2, local %3")
                     .arg(number(rows), n("remote_opens"), n("local_opens")));
    }

    // 7: the local catalogue calls of idle cycles with the local database reached through ODBC.
    if (!options.firstSyncOnly) {
        const Run run = measure(work, BenchCase::IdleOdbc, 0, QStringLiteral("agent"));
        if (!run.problem.isEmpty())
            problems << QStringLiteral("idle cycle through ODBC: ") + run.problem;
        const RunReport& r = run.report;
        table.add({QStringLiteral("idle cycle"), QStringLiteral("local side through ODBC"), QStringLiteral("0"),
            QString(), QString(), QString(), QString(),
            QStringLiteral("local catalogue calls for the column lookups of %1 tables, through a local connection "
                           "opened each cycle: first cycle %2, each later cycle %3")
                .arg(number(r.number(QStringLiteral("tables"))),
                    number(r.number(QStringLiteral("first_local_catalogue_calls"))),
                    number(r.number(QStringLiteral("local_catalogue_per_cycle")), 1))});
        progress(QStringLiteral("idle cycle through ODBC: %1 local catalogue calls per cycle")
                     .arg(number(r.number(QStringLiteral("local_catalogue_per_cycle")), 1)));
    }

    // 8: a backlog both ways over a slow link, against the round trips it needs at the least.
    if (options.wanRows > 0) {
        const int rows = options.wanRows;
        const Run run = measure(work, BenchCase::Wan, rows, QStringLiteral("agent"));
        if (!run.problem.isEmpty())
            problems << QStringLiteral("WAN case at %1 rows: %2").arg(number(rows), run.problem);
        // Per pushed row a probe and an insert; per applied order the source row, its mark and
        // the order's mark; per cycle the probe, the outbox read twice (again after the push,
        // which wrote to the remote side) and the two time stamps.
        const double required = 2.0 * rows + 3.0 * rows + 5;
        const double floor = required * kWanDelayMs / 1000.0;
        const double seconds = run.report.number(QStringLiteral("seconds"));
        const double trips = run.report.number(QStringLiteral("remote_round_trips"));
        table.add({QStringLiteral("WAN"), QStringLiteral("push + apply, %1 ms per remote statement").arg(kWanDelayMs),
            number(rows), number(seconds, 1) + QStringLiteral(" s"),
            number(floor, 1) + QStringLiteral(" s (floor: required round trips × %1 ms)").arg(kWanDelayMs),
            floor > 0 ? number(seconds / floor, 2) + QStringLiteral("×") : QStringLiteral("-"),
            megabytes(run.report.number(QStringLiteral("peak_kb"))),
            QStringLiteral("remote round trips %1 (required %2)").arg(number(trips), number(required))
                + (run.problem.isEmpty() ? QStringLiteral("; arrived whole") : QStringLiteral("; CHECK FAILED"))});
        progress(QStringLiteral("WAN at %1 rows each way: %2 s, floor %3 s")
                     .arg(number(rows), number(seconds, 1), number(floor, 1)));
    }

    // 9: a crib's first synchronisation, kind by kind, with its memory over time.
    QList<MemoryPlot::Series> memory;
    const QList<QColor> sizeColours = {QColor(44, 160, 44), QColor(31, 119, 180), QColor(214, 39, 40)};
    for (int rows : options.firstSyncSizes) {
        const Measurement m{BenchCase::FirstSync, rows,
            measure(work, BenchCase::FirstSync, rows, QStringLiteral("agent")),
            measure(work, BenchCase::FirstSync, rows, QStringLiteral("raw"))};
        for (const Run* run : {&m.agent, &m.raw}) {
            if (!run->problem.isEmpty())
                problems << QStringLiteral("first synchronisation of %1 transactions (%2): %3")
                                .arg(number(rows),
                                    run == &m.agent ? QStringLiteral("agent") : QStringLiteral("raw loop"),
                                    run->problem);
        }
        addFirstSync(table, m);
        const FirstSyncBacklog backlog = FirstSyncBacklog::of(rows);
        MemoryPlot::Series series{
            QStringLiteral("%1 transactions, %2 items, %3 bins, %4 orders")
                .arg(number(rows), number(backlog.items), number(backlog.bins), number(backlog.orders)),
            sizeColours[int(memory.size()) % sizeColours.size()], {},
            m.agent.report.number(QStringLiteral("base_kb")) / 1024.0};
        const double seconds = m.agent.report.number(QStringLiteral("seconds"));
        for (const QString& pair :
            m.agent.report.values.value(QStringLiteral("memory_samples")).split(QLatin1Char(','))) {
            const double ms = pair.section(QLatin1Char(':'), 0, 0).toDouble();
            if (seconds > 0 && !pair.isEmpty())
                series.points << QPointF(
                    std::min(100.0, ms / 10.0 / seconds), pair.section(QLatin1Char(':'), 1).toDouble() / 1024.0);
        }
        memory << series;
        firstSyncPeaks << qMakePair(rows, m.agent.report.number(QStringLiteral("peak_kb")));
        progress(QStringLiteral("first synchronisation of %1 transactions: %2 s in %3 cycles, peak %4 (idle %5)")
                     .arg(number(rows), number(seconds, 1), number(m.agent.report.number(QStringLiteral("cycles"))),
                         megabytes(m.agent.report.number(QStringLiteral("peak_kb"))),
                         megabytes(m.agent.report.number(QStringLiteral("base_kb")))));
    }
    // Memory bounded by design: a backlog ten or a hundred times larger peaks at the same level.
    // Below ten pages the pages themselves are much of the peak, and a smaller backlog has fewer.
    if (firstSyncPeaks.size() > 1 && firstSyncPeaks.first().first >= 10 * kDefaultPageRows) {
        const auto [smallRows, smallPeak] = firstSyncPeaks.first();
        const auto [largeRows, largePeak] = firstSyncPeaks.last();
        if (largePeak > smallPeak * 1.10)
            problems << QStringLiteral(
                "first synchronisation: peak memory %1 at %2 transactions is more than 10% above "
                "the %3 at %4")
                            .arg(megabytes(largePeak), number(largeRows), megabytes(smallPeak), number(smallRows));
    }
    if (!memory.isEmpty()) {
        if (!MemoryPlot::save(
                options.memoryPlot, QStringLiteral("cribsync resident memory during a first synchronisation"), memory))
            problems << QStringLiteral("cannot write the plot to ") + options.memoryPlot;
        else
            progress(QStringLiteral("memory plot written to ") + QFileInfo(options.memoryPlot).absoluteFilePath());
    }

    std::printf("%s", qPrintable(table.text()));

    // 6: the plot.
    const QList<QColor> colours
        = {QColor(31, 119, 180), QColor(214, 39, 40), QColor(44, 160, 44), QColor(148, 103, 189)};
    QList<ThroughputPlot::Panel> panels{
        {QStringLiteral("Push: pending local rows"), {}}, {QStringLiteral("Apply: outbox orders"), {}}};
    int pushColour = 0;
    int applyColour = 0;
    for (BenchCase benchCase : throughputCases()) {
        const bool push = isPush(benchCase);
        const QColor colour = colours[(push ? pushColour++ : applyColour++) % colours.size()];
        ThroughputPlot::Series agent{caseLabel(benchCase) + QStringLiteral(", agent"), colour, false, {}};
        ThroughputPlot::Series raw{caseLabel(benchCase) + QStringLiteral(", raw loop"), colour, true, {}};
        for (const Measurement& m : measurements) {
            if (m.benchCase != benchCase)
                continue;
            agent.points << QPointF(m.rows, rate(m.agent, m.rows));
            raw.points << QPointF(m.rows, rate(m.raw, m.rows));
        }
        panels[push ? 0 : 1].series << agent << raw;
    }
    if (!measurements.isEmpty()) {
        if (!ThroughputPlot::save(options.plot, QStringLiteral("cribsync throughput on the embedded engines"), panels))
            problems << QStringLiteral("cannot write the plot to ") + options.plot;
        else
            progress(QStringLiteral("plot written to ") + QFileInfo(options.plot).absoluteFilePath());
    }

    progress(QStringLiteral("measured in %1 s").arg(number(total.elapsed() / 1000.0, 1)));
    for (const QString& problem : problems)
        std::printf("PROBLEM: %s\n", qPrintable(problem));
    return options.check && !problems.isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc > 1 && QByteArray(argv[1]) == "--child") {
            QCoreApplication app(argc, argv);
            return runChild(app.arguments());
        }
        if (argc == 5 && (QByteArray(argv[1]) == "--seed" || QByteArray(argv[1]) == "--verify")) {
            QCoreApplication app(argc, argv);
            const QStringList args = app.arguments();
            const std::optional<BenchCase> benchCase = caseFromName(args[2]);
            if (!benchCase)
                throw std::runtime_error(QStringLiteral("unknown case %1").arg(args[2]).toStdString());
            if (args[1] == QLatin1String("--seed")) {
                BenchSite::create(args[4]);
                BenchSite::seed(args[4], *benchCase, args[3].toInt());
                return 0;
            }
            const QString problem = BenchSite::verify(args[4], *benchCase, args[3].toInt());
            std::printf("%s\n", problem.isEmpty() ? "arrived whole" : qPrintable(problem));
            return problem.isEmpty() ? 0 : 1;
        }
        // The plot needs fonts but no display.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return runParent(parseOptions(app.arguments()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cribsync_bench: %s\n", e.what());
        return 2;
    }
}
