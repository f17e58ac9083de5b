#pragma once

#include "clock/TransitionRule.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <optional>

/// One time zone as the platform's zone list presents it: names, biases in minutes (UTC = local + bias,
/// the standard or daylight bias being added in its period) and the two transitions.
struct TimeZoneEntry
{
    QString keyName;
    QString displayName;
    QString standardName;
    QString daylightName;
    qint32 bias = 0;
    qint32 standardBias = 0;
    qint32 daylightBias = 0;
    /// Leaving daylight saving; its time of day is read on the daylight clock.
    TransitionRule standardDate;
    /// Entering daylight saving; its time of day is read on the standard clock.
    TransitionRule daylightDate;

    /// Size of the platform's binary rule record: three 32-bit biases and two 16-byte system times.
    static constexpr int TziSize = 44;

    /// An entry from the platform's little-endian rule record, or nothing when it is not exactly TziSize bytes.
    static std::optional<TimeZoneEntry> fromTzi(const QString& keyName, const QString& displayName,
        const QString& standardName, const QString& daylightName, const QByteArray& tzi);

    /// The entry that reproduces zone's offsets during year with relative rules; names other than the key
    /// are left empty. A year without a full daylight-saving period gets no daylight saving.
    static TimeZoneEntry fromTimeZone(const QTimeZone& zone, int year);

    /// Whether utc lies in the daylight-saving period of the year it falls in on this zone's standard clock.
    bool isDaylightAt(const QDateTime& utc) const;
    /// The wall-clock time of this zone at utc (Qt::UTC time spec holding the reading).
    QDateTime wallClockAt(const QDateTime& utc) const;

    bool operator==(const TimeZoneEntry&) const = default;
};
