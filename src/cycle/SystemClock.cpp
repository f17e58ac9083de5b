#include "cycle/SystemClock.h"

QDateTime SystemClock::currentUtc() const
{
    return QDateTime::currentDateTimeUtc();
}

QTimeZone SystemClock::localZone() const
{
    return QTimeZone::systemTimeZone();
}
