#pragma once

#include "SqliteCounter.h"

#include <QMap>
#include <QString>

/// Resident memory of this process, from /proc/self/status.
namespace ProcessMemory {
/// Current resident set (VmRSS), in KiB.
qint64 residentKb();
/// Peak resident set (VmHWM), in KiB.
qint64 peakKb();
/// Starts the peak over from the current resident set, so that a peak read later belongs to
/// the work done in between.
void resetPeak();
} // namespace ProcessMemory

/// What one measured run in a child process reports to the parent, as "key=value" words on one
/// line starting with "RESULT".
struct RunReport
{
    QMap<QString, QString> values;

    void set(const QString& key, const QString& value) { values.insert(key, value); }
    void set(const QString& key, double value) { values.insert(key, QString::number(value, 'g', 12)); }
    void setCounts(const QString& prefix, const SqliteCounter::Counts& before, const SqliteCounter::Counts& after);
    double number(const QString& key) const { return values.value(key).toDouble(); }
    bool has(const QString& key) const { return values.contains(key); }

    QString line() const;
    /// Reads the RESULT line out of a child's output; empty when there is none.
    static RunReport parse(const QString& output);
};
