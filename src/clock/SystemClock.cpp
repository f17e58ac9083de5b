#include "clock/SystemClock.h"

QDateTime SystemClock::currentUtc() const
{
    return QDateTime::currentDateTimeUtc();
}

QTimeZone SystemClock::localZone() const
{
    // Finding the system's zone reads its configuration files; a time stamp per row of a backlog
    // needs no more than a look a minute to follow a change of zone.
    constexpr qint64 kZoneLifetimeMs = 60 * 1000;
    if (!m_zoneRead.isValid() || m_zoneRead.hasExpired(kZoneLifetimeMs)) {
        m_zone = QTimeZone::systemTimeZone();
        m_zoneRead.start();
    }
    return m_zone;
}
