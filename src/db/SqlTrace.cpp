#include "db/SqlTrace.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace db {

namespace {

struct TraceState
{
    QMutex mutex;
    bool loaded = false;
    QString path;
};

TraceState& state()
{
    static TraceState s;
    return s;
}

QString tracePath()
{
    TraceState& s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.loaded) {
        s.path = qEnvironmentVariable("CRIBSYNC_SQL_TRACE");
        s.loaded = true;
    }
    return s.path;
}

} // namespace

bool SqlTrace::enabled()
{
    return !tracePath().isEmpty();
}

void SqlTrace::reload()
{
    TraceState& s = state();
    QMutexLocker lock(&s.mutex);
    s.loaded = false;
}

void SqlTrace::record(const QString& target, const QString& text)
{
    const QString path = tracePath();
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return;
    // One record per statement; the text keeps its own line breaks, so each record ends with a
    // blank line to keep multi-line statements apart.
    const QString head
        = QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + target + QLatin1String(": ");
    file.write((head + text + QLatin1String("\n\n")).toUtf8());
}

} // namespace db
