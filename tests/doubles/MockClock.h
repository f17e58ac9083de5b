#pragma once

#include "clock/Clock.h"

/// A clock that stands still at the instant a test sets, in the zone the test names.
class MockClock : public Clock
{
public:
    explicit MockClock(const QTimeZone& zone, const QDateTime& utc = {})
        : m_zone(zone)
        , m_utc(utc.toUTC())
    { }

    QDateTime currentUtc() const override { return m_utc; }
    QTimeZone localZone() const override { return m_zone; }

    void setUtc(const QDateTime& utc) { m_utc = utc.toUTC(); }

private:
    QTimeZone m_zone;
    QDateTime m_utc;
};
