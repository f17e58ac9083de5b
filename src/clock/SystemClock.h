#pragma once

#include "clock/Clock.h"

#include <QElapsedTimer>

/// The operating system's clock and time zone.
class SystemClock : public Clock
{
public:
    QDateTime currentUtc() const override;
    QTimeZone localZone() const override;

private:
    mutable QTimeZone m_zone;
    mutable QElapsedTimer m_zoneRead;
};
