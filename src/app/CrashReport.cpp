#include "app/CrashReport.h"

#include <QLoggingCategory>
#include <cstdio>

namespace {

Q_LOGGING_CATEGORY(lcCrash, "cribsync.crash", QtInfoMsg)

void printLine(const QString& text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(CrashReport::caption()), qPrintable(text));
    std::fflush(stderr);
}

CrashReport::Reporter& reporter()
{
    static CrashReport::Reporter current = printLine;
    return current;
}

void warn(const QString& text)
{
    qCWarning(lcCrash).noquote() << text;
}

CrashReport::Reporter& logSink()
{
    static CrashReport::Reporter current = warn;
    return current;
}

} // namespace

void CrashReport::setReporter(Reporter reporter)
{
    ::reporter() = reporter ? std::move(reporter) : Reporter(printLine);
}

void CrashReport::report(const QString& text)
{
    qCDebug(lcCrash) << "uncaught failure:" << text;
    reporter()(text);
}

void CrashReport::setLog(Reporter log)
{
    logSink() = log ? std::move(log) : Reporter(warn);
}

void CrashReport::log(const QString& text)
{
    logSink()(text);
}
