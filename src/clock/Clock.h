#pragma once

#include <QDateTime>
#include <QTimeZone>

/// The source of "now" for the time stamps, injected so that time-dependent logic is deterministic in tests.
/// Wall-clock readings are QDateTimes with the Qt::UTC time spec holding the clock reading itself, zone-free like the
/// stored date-time values.
class Clock
{
public:
    virtual ~Clock();

    /// The current instant, in Qt::UTC.
    virtual QDateTime currentUtc() const = 0;
    /// The computer's own time zone.
    virtual QTimeZone localZone() const = 0;

    /// The computer's own wall clock at the current instant.
    QDateTime currentLocal() const;
};
