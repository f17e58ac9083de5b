#pragma once

#include "clock/TimeZoneList.h"

/// On Windows the registry's zone list; elsewhere a single entry for the US Pacific zone of the tz database,
/// presented as Windows presents it, or none without tz data. Read afresh on every call.
class SystemTimeZoneList : public TimeZoneList
{
public:
    QList<TimeZoneEntry> zonesAt(const QDateTime& utc) const override;

    /// The US Pacific entry with the rules of the year that utc falls in there; nothing without tz data.
    static std::optional<TimeZoneEntry> pacificEntry(const QDateTime& utc);
};
