#include "cycle/Clock.h"

Clock::~Clock() = default;

QDateTime Clock::currentLocal() const
{
    const QDateTime local = currentUtc().toTimeZone(localZone());
    return QDateTime(local.date(), local.time(), Qt::UTC);
}
