#include "clock/TransitionRule.h"

std::optional<QDateTime> TransitionRule::dateIn(int forYear) const
{
    if (month < 1 || month > 12)
        return std::nullopt;
    const QTime time(hour, minute, second, milliseconds);
    if (!time.isValid())
        return std::nullopt;
    if (year != 0) {
        const QDate date(year, month, day);
        if (year != forYear || !date.isValid())
            return std::nullopt;
        return QDateTime(date, time, Qt::UTC);
    }
    if (day < 1 || day > 5 || dayOfWeek > 6)
        return std::nullopt;
    const QDate first(forYear, month, 1);
    // Qt's Sunday is 7 and the rule's 0, the same weekday modulo 7.
    const int firstMatch = 1 + (dayOfWeek - first.dayOfWeek() + 7) % 7;
    int dayOfMonth = firstMatch + 7 * (day - 1);
    if (dayOfMonth > first.daysInMonth())
        dayOfMonth -= 7;
    return QDateTime(QDate(forYear, month, dayOfMonth), time, Qt::UTC);
}

TransitionRule TransitionRule::relativeFor(const QDateTime& wallClock)
{
    const QDate date = wallClock.date();
    const QTime time = wallClock.time();
    TransitionRule rule;
    rule.month = quint16(date.month());
    rule.dayOfWeek = quint16(date.dayOfWeek() % 7);
    rule.day = quint16(date.day() + 7 > date.daysInMonth() ? 5 : (date.day() - 1) / 7 + 1);
    rule.hour = quint16(time.hour());
    rule.minute = quint16(time.minute());
    rule.second = quint16(time.second());
    rule.milliseconds = quint16(time.msec());
    return rule;
}
