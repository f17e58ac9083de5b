#pragma once

#include "cycle/Clock.h"

/// The operating system's clock and time zone.
class SystemClock : public Clock
{
public:
    QDateTime currentUtc() const override;
    QTimeZone localZone() const override;
};
