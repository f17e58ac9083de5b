#include "config/DateTimeValue.h"

#include <QLocale>
#include <QtEndian>
#include <cstring>

namespace {

const QDate Epoch(1899, 12, 30);
constexpr double MsecsPerDay = 86400000.0;

// The platform's long time format, less any time-zone field: the stored time is zone-free.
QString longTimeFormat()
{
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            result += c;
    }
    return result.trimmed();
}

} // namespace

double DateTimeValue::toDays(const QDateTime& localTime)
{
    return static_cast<double>(Epoch.daysTo(localTime.date())) + localTime.time().msecsSinceStartOfDay() / MsecsPerDay;
}

QByteArray DateTimeValue::toBinary(const QDateTime& localTime)
{
    const double days = toDays(localTime);
    quint64 bits = 0;
    std::memcpy(&bits, &days, sizeof bits);
    QByteArray bytes(sizeof bits, Qt::Uninitialized);
    qToLittleEndian(bits, bytes.data());
    return bytes;
}

QString DateTimeValue::toText(const QDateTime& localTime)
{
    const QLocale locale = QLocale::system();
    QString text = locale.toString(localTime.date(), QLocale::ShortFormat);
    if (localTime.time().msecsSinceStartOfDay() != 0)
        text += QLatin1Char(' ') + locale.toString(localTime.time(), longTimeFormat());
    return text;
}
