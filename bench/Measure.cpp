#include "Measure.h"

#include <QFile>
#include <QRegularExpression>

namespace ProcessMemory {

namespace {

qint64 statusField(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

qint64 residentKb()
{
    return statusField("VmRSS");
}

qint64 peakKb()
{
    return statusField("VmHWM");
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace ProcessMemory

void RunReport::setCounts(
    const QString& prefix, const SqliteCounter::Counts& before, const SqliteCounter::Counts& after)
{
    set(prefix + QStringLiteral("local_statements"), double(after.localStatements - before.localStatements));
    set(prefix + QStringLiteral("remote_statements"), double(after.remoteStatements - before.remoteStatements));
    set(prefix + QStringLiteral("local_scan_steps"), double(after.localScanSteps - before.localScanSteps));
    set(prefix + QStringLiteral("remote_scan_steps"), double(after.remoteScanSteps - before.remoteScanSteps));
    set(prefix + QStringLiteral("local_vm_steps"), double(after.localVmSteps - before.localVmSteps));
    set(prefix + QStringLiteral("remote_vm_steps"), double(after.remoteVmSteps - before.remoteVmSteps));
    set(prefix + QStringLiteral("local_opens"), double(after.localOpens - before.localOpens));
    set(prefix + QStringLiteral("remote_opens"), double(after.remoteOpens - before.remoteOpens));
}

QString RunReport::line() const
{
    QStringList words{QStringLiteral("RESULT")};
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QString value = it.value();
        words << it.key() + QLatin1Char('=') + value.replace(QLatin1Char(' '), QLatin1Char('_'));
    }
    return words.join(QLatin1Char(' '));
}

RunReport RunReport::parse(const QString& output)
{
    RunReport report;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("RESULT ")))
            continue;
        for (const QString& word : line.mid(7).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const qsizetype equals = word.indexOf(QLatin1Char('='));
            if (equals > 0)
                report.values.insert(word.left(equals), word.mid(equals + 1));
        }
    }
    return report;
}
