#include "cycle/CycleLog.h"
#include "doubles/MockClock.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

/// The operator's log: summaries, failures with stuck-row counts, and the size cap.
class TestCycleLog : public QObject
{
    Q_OBJECT

private:
    static QString read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private Q_SLOTS:
    void summarisesACycle()
    {
        QTemporaryDir dir;
        MockClock clock(QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC));
        CycleLog log(dir.filePath("cribsync.log"), &clock);
        QStringList echoed;
        log.setEcho([&echoed](const QString& line) { echoed << line; });
        log.startupStep("connected to the local database CribLocal");
        log.cycleStarted();
        log.workDone("rows pushed", "Bin");
        log.workDone("rows pushed", "BIN");
        log.workDone("rows pushed", "Item");
        log.workDone("transactions sent", "MyTran");
        log.failureCaught({"push", "Issue", "RecordID 7", "no such column: Foo"});
        clock.setUtc(QDateTime(QDate(2026, 12, 8), QTime(9, 0, 2), Qt::UTC));
        log.cycleFinished(true);

        QCOMPARE(log.lastSummary(),
            QStringLiteral("cycle 1 completed in 2.0 s: rows pushed 3 (BIN 2, ITEM 1); "
                           "transactions sent 1 (MYTRAN 1); 1 failure"));
        QCOMPARE(log.lastFailure(),
            QStringLiteral("cycle 1 failure in push, table Issue, key RecordID 7: no such column: Foo"));
        const QString text = read(log.filePath());
        QVERIFY(text.startsWith("2026-12-08 09:00:00 start-up: connected to the local database CribLocal\n"));
        QCOMPARE(text.count('\n'), 3);
        QVERIFY(text.endsWith(log.lastSummaryLine() + '\n'));
        QCOMPARE(echoed.size(), 3);
    }

    void namesStuckRowsWithTheirCount()
    {
        MockClock clock(QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC));
        CycleLog log(QString(), &clock);
        const CycleFailure stuck{"apply", "Bin", "Outbox 12", "constraint failed"};
        for (int cycle = 1; cycle <= 3; ++cycle) {
            log.cycleStarted();
            log.failureCaught(stuck);
            log.failureCaught(stuck); // twice in one cycle still counts as one cycle
            log.cycleFinished(true);
        }
        QVERIFY2(log.lastFailure().endsWith("(failed in 3 cycles in a row)"), qPrintable(log.lastFailure()));
        log.cycleStarted();
        log.cycleFinished(true); // the row went through
        log.cycleStarted();
        log.failureCaught(stuck);
        QVERIFY2(!log.lastFailure().contains("in a row"), qPrintable(log.lastFailure()));
        log.failureCaught({"probe", QString(), QString(), "unreachable"});
        QVERIFY(!log.lastFailure().contains("in a row"));
        log.cycleFinished(false, "remote database unreachable");
        QVERIFY2(
            log.lastSummary().startsWith("cycle 5 ended early in 0.0 s (remote database unreachable): nothing to do"),
            qPrintable(log.lastSummary()));

        // A table failing row by row: the rows followed are bounded, not the whole backlog.
        for (int cycle = 1; cycle <= 2; ++cycle) {
            log.cycleStarted();
            for (int row = 0; row <= 10000; ++row)
                log.failureCaught({"push", "Item", QString::number(row), "refused"});
            QCOMPARE(log.lastFailure().contains("in a row"), false);
            log.failureCaught({"push", "Item", "0", "refused"});
            QCOMPARE(log.lastFailure().endsWith("(failed in 2 cycles in a row)"), cycle == 2);
            log.cycleFinished(true);
        }
    }

    // Refused in three cycles in a row, a row or an entry is stuck: every summary names it, and it
    // is still known after a restart, from the status file beside the log.
    void stuckRowsAreNamedAndOutliveARestart()
    {
        QTemporaryDir dir;
        MockClock clock(QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(8, 14), Qt::UTC));
        const CycleFailure item{"push", "Item", "MyNo=AAA-0", "String or binary data would be truncated"};
        const CycleFailure entry{"outbox", "Bin", "40", "constraint failed"};
        const auto cycle = [&](CycleLog& log, const QList<CycleFailure>& failures, bool completed = true) {
            log.cycleStarted();
            for (const CycleFailure& failure : failures)
                log.failureCaught(failure);
            log.cycleFinished(completed, completed ? QString() : QStringLiteral("remote database unreachable"));
            clock.setUtc(clock.currentUtc().addSecs(60));
        };
        {
            CycleLog log(dir.filePath("cribsync.log"), &clock);
            cycle(log, {item});
            cycle(log, {item, entry});
            QVERIFY2(!log.lastSummary().contains("stuck"), qPrintable(log.lastSummary()));
            cycle(log, {item, entry});
            QVERIFY2(log.lastSummary().endsWith("; 1 stuck: Item MyNo=AAA-0 (refused in 3 cycles since 08:14)"),
                qPrintable(log.lastSummary()));
        }
        CycleLog log(dir.filePath("cribsync.log"), &clock);
        cycle(log, {item, entry});
        QVERIFY2(log.lastSummary().endsWith("; 2 stuck: Item MyNo=AAA-0 (refused in 4 cycles since 08:14), Outbox "
                                            "entry 40 (Bin) (refused in 3 cycles since 08:15)"),
            qPrintable(log.lastSummary()));
        // A cycle that ended early tried nothing; one that completed without a refusal let it through.
        cycle(log, {}, false);
        QVERIFY2(log.lastSummary().contains("; 2 stuck: "), qPrintable(log.lastSummary()));
        cycle(log, {entry});
        QVERIFY2(log.lastSummary().endsWith("; 1 stuck: Outbox entry 40 (Bin) (refused in 4 cycles since 08:15)"),
            qPrintable(log.lastSummary()));
        QVERIFY(QFile::exists(dir.filePath("cribsync-status.json")));
    }

    /// What would start a line, command a terminal or reorder the text shown is written as an escape.
    void escapesWhatCouldDisguiseALine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written");
        QTest::newRow("escape and tab") << QStringLiteral("a\x1B[2J\tb") << QStringLiteral("a\\x1B[2J\tb");
        QTest::newRow("line separator") << QStringLiteral("a\u2028b") << QStringLiteral("a\\u2028b");
        for (const char16_t bidi :
            {u'\u202A', u'\u202B', u'\u202C', u'\u202D', u'\u202E', u'\u2066', u'\u2067', u'\u2068', u'\u2069'}) {
            const QString hex = QString::number(bidi, 16).toUpper();
            QTest::newRow(qPrintable(hex)) << QStringLiteral("Bin ") + QChar(bidi) + QStringLiteral("7A")
                                           << QStringLiteral("Bin \\u") + hex + QStringLiteral("7A");
        }
        QTest::newRow("right-to-left letters kept") << QStringLiteral("\u05D0\u05D1") << QStringLiteral("\u05D0\u05D1");
    }

    void escapesWhatCouldDisguiseALine()
    {
        QFETCH(QString, text);
        QFETCH(QString, written);
        QCOMPARE(CycleLog::printable(text), written);
    }

    void keepsTheFileUnderItsCap()
    {
        QTemporaryDir dir;
        MockClock clock(QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC));
        const QString path = dir.filePath("cribsync.log");
        CycleLog log(path, &clock, 1000, 2);
        for (int i = 0; i < 100; ++i)
            log.startupStep(QStringLiteral("step %1 with some words to fill the line").arg(i));
        QVERIFY(QFile(path).size() <= 1000);
        QVERIFY(QFile::exists(path + ".1"));
        QVERIFY(QFile::exists(path + ".2"));
        QVERIFY(!QFile::exists(path + ".3"));
        QVERIFY(read(path).contains("step 99 "));
    }

    // A log that takes no more lines (a full disk; here a file size limit, which root meets too)
    // goes on in the fall-back folder, then on the operator's stream, and says so each time.
    void aLogThatCannotBeWrittenFallsBackAndSaysSo()
    {
#ifdef Q_OS_WIN
        QSKIP("no file size limit to stand for a full disk");
#else
        QTemporaryDir dir;
        MockClock clock(QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC));
        const QString path = dir.filePath("cribsync.log");
        const QString fallback = dir.filePath("data/cribsync.log");
        const auto fill = [](const QString& file) {
            QDir().mkpath(QFileInfo(file).absolutePath());
            QFile f(file);
            return f.open(QIODevice::Append) && f.write(QByteArray(4096, 'x')) == 4096;
        };
        QVERIFY(fill(path));
        rlimit unlimited{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        const auto limit = [&](rlim_t bytes) {
            const rlimit limited{bytes, unlimited.rlim_max};
            return ::setrlimit(RLIMIT_FSIZE, bytes ? &limited : &unlimited) == 0;
        };
        const auto restore = qScopeGuard([&] { limit(0); });
        std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(limit(4096));
        CycleLog log(path, &clock);
        log.setFallbackPath(fallback);
        QStringList echoed;
        log.setEcho([&echoed](const QString& line) { echoed << line; });
        log.startupStep("first");
        QVERIFY2(log.problem().contains(path) && log.problem().contains(fallback), qPrintable(log.problem()));
        QVERIFY2(
            read(fallback).contains(path) && read(fallback).contains("start-up: first"), qPrintable(read(fallback)));
        QVERIFY(limit(0) && fill(fallback) && limit(4096));
        log.startupStep("second");
        QVERIFY2(
            log.problem().contains(fallback) && log.problem().contains("standard error"), qPrintable(log.problem()));
        QVERIFY(echoed.last().endsWith("start-up: second"));
        QVERIFY(echoed.filter(log.problem()).size() == 1);
#endif
    }
};

QTEST_GUILESS_MAIN(TestCycleLog)
#include "TestCycleLog.moc"
