#include "clock/TimeZoneEntry.h"

#include <QtEndian>

namespace {

constexpr int SecondsPerMinute = 60;

TransitionRule readSystemTime(const uchar* data)
{
    const auto field = [data](int index) { return qFromLittleEndian<quint16>(data + 2 * index); };
    return TransitionRule{field(0), field(1), field(2), field(3), field(4), field(5), field(6), field(7)};
}

} // namespace

std::optional<TimeZoneEntry> TimeZoneEntry::fromTzi(const QString& keyName, const QString& displayName,
    const QString& standardName, const QString& daylightName, const QByteArray& tzi)
{
    if (tzi.size() != TziSize)
        return std::nullopt;
    const auto* data = reinterpret_cast<const uchar*>(tzi.constData());
    TimeZoneEntry entry;
    entry.keyName = keyName;
    entry.displayName = displayName;
    entry.standardName = standardName;
    entry.daylightName = daylightName;
    entry.bias = qFromLittleEndian<qint32>(data);
    entry.standardBias = qFromLittleEndian<qint32>(data + 4);
    entry.daylightBias = qFromLittleEndian<qint32>(data + 8);
    entry.standardDate = readSystemTime(data + 12);
    entry.daylightDate = readSystemTime(data + 28);
    return entry;
}

TimeZoneEntry TimeZoneEntry::fromTimeZone(const QTimeZone& zone, int year)
{
    TimeZoneEntry entry;
    entry.keyName = QString::fromUtf8(zone.id());
    const QDateTime from(QDate(year, 1, 1), QTime(0, 0), zone);
    const QDateTime to(QDate(year + 1, 1, 1), QTime(0, 0), zone);
    entry.bias = -zone.standardTimeOffset(from) / SecondsPerMinute;

    std::optional<TransitionRule> start;
    std::optional<TransitionRule> end;
    int daylightBias = 0;
    for (const QTimeZone::OffsetData& change : zone.transitions(from, to)) {
        const QDateTime before = change.atUtc.addMSecs(-1);
        const bool toDaylight = change.daylightTimeOffset != 0;
        if (zone.isDaylightTime(before) == toDaylight)
            continue;
        // A rule's time is read on the clock in force just before the change.
        const QDateTime wall = change.atUtc.toUTC().addSecs(zone.offsetFromUtc(before));
        if (toDaylight) {
            start = TransitionRule::relativeFor(wall);
            daylightBias = -change.daylightTimeOffset / SecondsPerMinute;
        } else {
            end = TransitionRule::relativeFor(wall);
        }
    }
    if (start && end) {
        entry.daylightDate = *start;
        entry.standardDate = *end;
        entry.daylightBias = daylightBias;
    }
    return entry;
}

bool TimeZoneEntry::isDaylightAt(const QDateTime& utc) const
{
    const QDateTime instant = utc.toUTC();
    const int standardOffset = (bias + standardBias) * SecondsPerMinute;
    const int year = instant.addSecs(-standardOffset).date().year();
    const std::optional<QDateTime> start = daylightDate.dateIn(year);
    const std::optional<QDateTime> end = standardDate.dateIn(year);
    if (!start || !end)
        return false;
    const QDateTime startUtc = start->addSecs(standardOffset);
    const QDateTime endUtc = end->addSecs((bias + daylightBias) * SecondsPerMinute);
    if (startUtc < endUtc)
        return startUtc <= instant && instant < endUtc;
    // Southern hemisphere: daylight saving spans the turn of the year.
    if (endUtc < startUtc)
        return instant < endUtc || startUtc <= instant;
    return false;
}

QDateTime TimeZoneEntry::wallClockAt(const QDateTime& utc) const
{
    const int offsetMinutes = bias + (isDaylightAt(utc) ? daylightBias : standardBias);
    return utc.toUTC().addSecs(-qint64(offsetMinutes) * SecondsPerMinute);
}
