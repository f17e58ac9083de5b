#pragma once

#include "cycle/Clock.h"
#include "cycle/TimeZoneList.h"

#include <QDateTime>
#include <QList>

// The remote time stamp is written as wall-clock time of the US zone at a standard offset of minus 8 hours.
// Wall-clock results are QDateTimes with the Qt::UTC time spec holding the reading of that zone's clock.

/// The first entry whose display name holds "(GMT-08:00)" and "US", else the first entry.
/// Throws std::runtime_error on an empty list.
TimeZoneEntry chooseGmtMinus8Zone(const QList<TimeZoneEntry>& zones);

/// utc as wall-clock time of the zone chosen from zones.
QDateTime GmtMinus8At(const QDateTime& utc, const QList<TimeZoneEntry>& zones);

/// The clock's current instant as wall-clock time of the zone chosen from a fresh read of zoneList.
QDateTime GmtMinus8Now(const Clock& clock, const TimeZoneList& zoneList);
