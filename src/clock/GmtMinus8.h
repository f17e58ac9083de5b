#pragma once

#include "clock/Clock.h"
#include "clock/TimeZoneList.h"

#include <QDateTime>
#include <QList>

// The remote time stamp is written as wall-clock time of the US zone at a standard offset of minus 8 hours.
// Wall-clock results are QDateTimes with the Qt::UTC time spec holding the reading of that zone's clock.

/// The US zone at minus 8 hours with the daylight-saving rules fixed in law since 2007: from the second
/// Sunday of March at 2:00 to the first Sunday of November at 2:00.
TimeZoneEntry usPacificRules();

/// The first entry whose display name holds "(GMT-08:00)" and "US", else the first entry; usPacificRules()
/// when the platform lists no zone.
TimeZoneEntry chooseGmtMinus8Zone(const QList<TimeZoneEntry>& zones);

/// utc as wall-clock time of the zone chosen from zones.
QDateTime GmtMinus8At(const QDateTime& utc, const QList<TimeZoneEntry>& zones);

/// The clock's current instant as wall-clock time of the zone chosen from a fresh read of zoneList;
/// `listed`, when given, tells whether the list had any zone.
QDateTime GmtMinus8Now(const Clock& clock, const TimeZoneList& zoneList, bool* listed = nullptr);
