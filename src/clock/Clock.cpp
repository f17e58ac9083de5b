#include "clock/Clock.h"

Clock::~Clock() = default;

QDateTime Clock::currentLocal() const
{
    const QTimeZone zone = localZone();
    // Without the zone database the system zone is unknown, but the C library still has a local
    // time (UTC, or what TZ says): a stamp and a log line need a time.
    const QDateTime local = zone.isValid() ? currentUtc().toTimeZone(zone) : currentUtc().toLocalTime();
    return QDateTime(local.date(), local.time(), Qt::UTC);
}
