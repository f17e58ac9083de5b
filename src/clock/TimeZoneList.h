#pragma once

#include "clock/TimeZoneEntry.h"

#include <QDateTime>
#include <QList>

/// A source of the platform's zone list, injected so that tests can give their own entries.
class TimeZoneList
{
public:
    virtual ~TimeZoneList() = default;

    /// The entries in the platform's order, with the rules in force at utc.
    virtual QList<TimeZoneEntry> zonesAt(const QDateTime& utc) const = 0;
};
