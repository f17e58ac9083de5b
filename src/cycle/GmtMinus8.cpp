#include "cycle/GmtMinus8.h"

#include <stdexcept>

TimeZoneEntry chooseGmtMinus8Zone(const QList<TimeZoneEntry>& zones)
{
    if (zones.isEmpty())
        throw std::runtime_error("The platform lists no time zone to express the GMT-08:00 time stamp in");
    for (const TimeZoneEntry& zone : zones) {
        if (zone.displayName.contains(QLatin1String("(GMT-08:00)")) && zone.displayName.contains(QLatin1String("US")))
            return zone;
    }
    return zones.first();
}

QDateTime GmtMinus8At(const QDateTime& utc, const QList<TimeZoneEntry>& zones)
{
    return chooseGmtMinus8Zone(zones).wallClockAt(utc);
}

QDateTime GmtMinus8Now(const Clock& clock, const TimeZoneList& zoneList)
{
    const QDateTime utc = clock.currentUtc();
    return GmtMinus8At(utc, zoneList.zonesAt(utc));
}
