#include "db/Types.h"

namespace db {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

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
