#pragma once

#include <QDateTime>
#include <QtGlobal>
#include <optional>

/// One daylight-saving transition of a zone, in the field order of the platform's system-time record.
/// month 0: the zone has no daylight saving. year 0: a relative rule, day 1 to 4 being the first to fourth
/// dayOfWeek (0 = Sunday) of the month and 5 the last one, every year. Otherwise an absolute date of that year.
struct TransitionRule
{
    quint16 year = 0;
    quint16 month = 0;
    quint16 dayOfWeek = 0;
    quint16 day = 0;
    quint16 hour = 0;
    quint16 minute = 0;
    quint16 second = 0;
    quint16 milliseconds = 0;

    /// The zone's wall-clock date and time of the transition in year (Qt::UTC time spec holding the reading),
    /// or nothing when the rule names no date in that year.
    std::optional<QDateTime> dateIn(int year) const;

    /// The relative rule that falls on wallClock: its weekday, its week of the month (5 when it is the
    /// month's last such weekday) and its time of day.
    static TransitionRule relativeFor(const QDateTime& wallClock);

    bool operator==(const TransitionRule&) const = default;
};
