#include "db/Types.h"

namespace db {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

/// The digits of `text` from `at` as a number; -1 when one of them is not a digit.
int digitsAt(QStringView text, qsizetype at, int count)
{
    int number = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        number = number * 10 + (c - u'0');
    }
    return number;
}

} // namespace

QDateTime wallClock(const QDate& date, const QTime& time)
{
    return QDateTime(date, time, Qt::UTC);
}

QDateTime wallClock(const QDateTime& value)
{
    if (value.timeSpec() == Qt::UTC)
        return value;
    // A local value in a gap is invalid, but it keeps the date and time it was made of.
    return value.date().isValid() && value.time().isValid() ? wallClock(value.date(), value.time()) : QDateTime();
}

QDateTime wallClockFromText(const QString& given)
{
    QString text = given.trimmed();
    if (text.size() == 10)
        text += QStringLiteral("T00:00:00");
    if (text.size() > 10 && text[10] == QLatin1Char(' '))
        text[10] = QLatin1Char('T');
    // "yyyy-MM-ddTHH:mm:ss" and "yyyy-MM-ddTHH:mm:ss.zzz" without Qt's general parser, which reads
    // the pattern anew for every value.
    const QStringView t(text);
    const auto is = [&](qsizetype at, char c) { return t[at] == QLatin1Char(c); };
    if ((t.size() == 19 || (t.size() == 23 && is(19, '.'))) && is(4, '-') && is(7, '-') && is(10, 'T') && is(13, ':')
        && is(16, ':')) {
        const int year = digitsAt(t, 0, 4);
        const QDate date(year, digitsAt(t, 5, 2), digitsAt(t, 8, 2));
        const int hour = digitsAt(t, 11, 2);
        const QTime time(hour, digitsAt(t, 14, 2), digitsAt(t, 17, 2), t.size() == 23 ? digitsAt(t, 20, 3) : 0);
        // Hour 24 (the end of a day) is left to Qt.
        if (year > 0 && date.isValid() && time.isValid() && hour < 24)
            return wallClock(date, time);
    }
    // Read as UTC unless the text names its offset: a local reading could fall into a gap.
    QDateTime parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (parsed.timeSpec() == Qt::LocalTime)
        parsed = QDateTime::fromString(text + QLatin1Char('Z'), Qt::ISODateWithMs);
    return parsed.isValid() ? wallClock(parsed.date(), parsed.time()) : QDateTime();
}

QDateTime wallClockOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return wallClock(value.toDateTime());
    case QMetaType::QDate:
        return wallClock(value.toDate());
    case QMetaType::QString:
        return wallClockFromText(value.toString());
    default:
        return {};
    }
}

QString isoDateTimeText(const QDateTime& value)
{
    const QDate date = value.date();
    const QTime time = value.time();
    if (!date.isValid() || !time.isValid() || date.year() < 1 || date.year() > 9999) {
        return value.toString(
            time.msec() ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz") : QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    }
    // Written digit by digit: Qt's formatter reads the pattern and the locale for every value.
    QChar text[23];
    const auto put = [&](int at, int number, int digits) {
        for (int i = digits - 1; i >= 0; --i, number /= 10)
            text[at + i] = QLatin1Char(char('0' + number % 10));
    };
    put(0, date.year(), 4);
    text[4] = QLatin1Char('-');
    put(5, date.month(), 2);
    text[7] = QLatin1Char('-');
    put(8, date.day(), 2);
    text[10] = QLatin1Char('T');
    put(11, time.hour(), 2);
    text[13] = QLatin1Char(':');
    put(14, time.minute(), 2);
    text[16] = QLatin1Char(':');
    put(17, time.second(), 2);
    if (!time.msec())
        return QString(text, 19);
    text[19] = QLatin1Char('.');
    put(20, time.msec(), 3);
    return QString(text, 23);
}

void NamedValues::set(const QString& name, const QVariant& value)
{
    for (auto& item : m_items) {
        if (sameName(item.first, name)) {
            item.second = value;
            return;
        }
    }
    m_items.append({name, value});
}

bool NamedValues::contains(const QString& name) const
{
    for (const auto& item : m_items) {
        if (sameName(item.first, name))
            return true;
    }
    return false;
}

QVariant NamedValues::value(const QString& name) const
{
    for (const auto& item : m_items) {
        if (sameName(item.first, name))
            return item.second;
    }
    return {};
}

} // namespace db
