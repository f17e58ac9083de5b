#include "clock/GmtMinus8.h"

TimeZoneEntry usPacificRules()
{
    TimeZoneEntry zone;
    zone.keyName = QStringLiteral("Pacific Standard Time");
    zone.displayName = QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)");
    zone.standardName = QStringLiteral("Pacific Standard Time");
    zone.daylightName = QStringLiteral("Pacific Daylight Time");
    zone.bias = 480;
    zone.daylightBias = -60;
    zone.standardDate = TransitionRule{0, 11, 0, 1, 2, 0, 0, 0};
    zone.daylightDate = TransitionRule{0, 3, 0, 2, 2, 0, 0, 0};
    return zone;
}

TimeZoneEntry chooseGmtMinus8Zone(const QList<TimeZoneEntry>& zones)
{
    if (zones.isEmpty())
        return usPacificRules();
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

QDateTime GmtMinus8Now(const Clock& clock, const TimeZoneList& zoneList, bool* listed)
{
    const QDateTime utc = clock.currentUtc();
    const QList<TimeZoneEntry> zones = zoneList.zonesAt(utc);
    if (listed)
        *listed = !zones.isEmpty();
    return GmtMinus8At(utc, zones);
}
