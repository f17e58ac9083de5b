#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

/// The stored date-time: a double counting days since 1899-12-30, the fraction being the time of
/// day, and its text form in the computer's short date format followed, when the time of day is
/// not zero, by its long time format.
class DateTimeValue
{
public:
    static double toDays(const QDateTime& localTime);
    /// The double's 8 bytes, least significant first, as a binary registry value holds them.
    static QByteArray toBinary(const QDateTime& localTime);
    static QString toText(const QDateTime& localTime);
};
