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
