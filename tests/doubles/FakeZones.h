#pragma once

#include "clock/TimeZoneList.h"

/// A zone list that holds what the test gives it; by default the one US Pacific zone without
/// daylight saving, so the remote stamp is UTC - 8 hours and no time-zone data is needed.
class FakeZones : public TimeZoneList
{
public:
    FakeZones()
        : FakeZones(QList<TimeZoneEntry>{pacificStandard()})
    { }
    explicit FakeZones(const QList<TimeZoneEntry>& zones)
        : zones(zones)
    { }

    static TimeZoneEntry pacificStandard()
    {
        TimeZoneEntry e;
        e.displayName = QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)");
        e.bias = 480;
        return e;
    }

    QList<TimeZoneEntry> zonesAt(const QDateTime&) const override { return zones; }

    QList<TimeZoneEntry> zones;
};
