#include "clock/GmtMinus8.h"
#include "clock/SystemTimeZoneList.h"
#include "doubles/FakeZones.h"
#include "doubles/MockClock.h"

#include <QTest>
#include <QtEndian>

Q_DECLARE_METATYPE(TransitionRule)
Q_DECLARE_METATYPE(TimeZoneEntry)
Q_DECLARE_METATYPE(QList<TimeZoneEntry>)

namespace {

QDateTime at(int year, int month, int day, int hour, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

TransitionRule rule(quint16 year, quint16 month, quint16 dayOfWeek, quint16 day, quint16 hour = 2)
{
    return TransitionRule{year, month, dayOfWeek, day, hour, 0, 0, 0};
}

QByteArray tzi(qint32 bias, qint32 standardBias, qint32 daylightBias, const TransitionRule& standardDate,
    const TransitionRule& daylightDate)
{
    QByteArray out;
    const auto put = [&out](auto value) {
        char bytes[sizeof(value)];
        qToLittleEndian(value, bytes);
        out.append(bytes, sizeof(value));
    };
    for (const qint32 value : {bias, standardBias, daylightBias})
        put(value);
    for (const TransitionRule& r : {standardDate, daylightDate}) {
        for (const quint16 value : {r.year, r.month, r.dayOfWeek, r.day, r.hour, r.minute, r.second, r.milliseconds})
            put(value);
    }
    return out;
}

TimeZoneEntry entry(const QString& displayName, qint32 bias, const TransitionRule& standardDate,
    const TransitionRule& daylightDate, qint32 standardBias = 0)
{
    TimeZoneEntry zone;
    zone.displayName = displayName;
    zone.bias = bias;
    zone.standardBias = standardBias;
    zone.daylightBias = -60;
    zone.standardDate = standardDate;
    zone.daylightDate = daylightDate;
    return zone;
}

TimeZoneEntry pacificRegistryEntry()
{
    return *TimeZoneEntry::fromTzi(QStringLiteral("Pacific Standard Time"),
        QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)"), QStringLiteral("Pacific Standard Time"),
        QStringLiteral("Pacific Daylight Time"), tzi(480, 0, -60, rule(0, 11, 0, 1), rule(0, 3, 0, 2)));
}

// Daylight saving from the first Sunday of October (2:00 standard) to the first Sunday of April (3:00 daylight).
TimeZoneEntry sydneyEntry()
{
    return entry(
        QStringLiteral("(GMT+10:00) Canberra, Melbourne, Sydney"), -600, rule(0, 4, 0, 1, 3), rule(0, 10, 0, 1, 2));
}

// Every six hours through the years, and every quarter hour for two hours either side of each transition.
QList<QDateTime> sampleInstants(const QTimeZone& zone, int firstYear, int lastYear)
{
    const QDateTime from = at(firstYear, 1, 1, 0);
    const QDateTime to = at(lastYear + 1, 1, 1, 0);
    QList<QDateTime> instants;
    for (QDateTime instant = from; instant < to; instant = instant.addSecs(6 * 3600))
        instants.append(instant);
    for (const QTimeZone::OffsetData& change : zone.transitions(from, to)) {
        for (int quarter = -8; quarter <= 8; ++quarter)
            instants.append(change.atUtc.toUTC().addSecs(quarter * 900));
    }
    return instants;
}

QString describe(const QDateTime& utc, const QDateTime& actual, const QDateTime& expected)
{
    return QStringLiteral("at %1: %2, expected %3")
        .arg(utc.toString(Qt::ISODate), actual.toString(Qt::ISODate), expected.toString(Qt::ISODate));
}

} // namespace

/// The GMT-08:00 time stamp: zone records, transition rules, the choice of zone and the conversion.
class TestGmtMinus8 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tziRecord()
    {
        const TimeZoneEntry pacific = pacificRegistryEntry();
        QCOMPARE(pacific.bias, 480);
        QCOMPARE(pacific.standardBias, 0);
        QCOMPARE(pacific.daylightBias, -60);
        QCOMPARE(pacific.standardDate, rule(0, 11, 0, 1));
        QCOMPARE(pacific.daylightDate, rule(0, 3, 0, 2));

        const TransitionRule absolute{2024, 10, 0, 27, 3, 30, 15, 500};
        const QByteArray east = tzi(-60, 5, -60, absolute, rule(0, 3, 0, 5));
        const std::optional<TimeZoneEntry> parsed = TimeZoneEntry::fromTzi({}, {}, {}, {}, east);
        QVERIFY(parsed);
        QCOMPARE(parsed->bias, -60);
        QCOMPARE(parsed->standardBias, 5);
        QCOMPARE(parsed->standardDate, absolute);

        QVERIFY(!TimeZoneEntry::fromTzi({}, {}, {}, {}, east.left(43)));
        QVERIFY(!TimeZoneEntry::fromTzi({}, {}, {}, {}, east + '\0'));
        QVERIFY(!TimeZoneEntry::fromTzi({}, {}, {}, {}, QByteArray()));
    }

    void ruleDates_data()
    {
        QTest::addColumn<TransitionRule>("rule");
        QTest::addColumn<int>("year");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("second Sunday") << rule(0, 3, 0, 2) << 2025 << at(2025, 3, 9, 2);
        QTest::newRow("first Saturday on the 1st") << rule(0, 2, 6, 1) << 2025 << at(2025, 2, 1, 2);
        QTest::newRow("fourth Thursday") << TransitionRule{0, 11, 4, 4, 23, 59, 59, 999} << 2025
                                         << QDateTime(QDate(2025, 11, 27), QTime(23, 59, 59, 999), Qt::UTC);
        QTest::newRow("last of five Sundays") << rule(0, 3, 0, 5) << 2025 << at(2025, 3, 30, 2);
        QTest::newRow("last of four Sundays") << rule(0, 2, 0, 5) << 2025 << at(2025, 2, 23, 2);
        QTest::newRow("last Saturday of a leap February") << rule(0, 2, 6, 5) << 2020 << at(2020, 2, 29, 2);
        QTest::newRow("absolute, its year") << rule(2025, 4, 3, 15, 3) << 2025 << at(2025, 4, 15, 3);
        QTest::newRow("absolute, another year") << rule(2024, 4, 3, 15, 3) << 2025 << QDateTime();
        QTest::newRow("no daylight saving") << rule(0, 0, 0, 1) << 2025 << QDateTime();
        QTest::newRow("week 6") << rule(0, 3, 0, 6) << 2025 << QDateTime();
        QTest::newRow("weekday 7") << rule(0, 3, 7, 1) << 2025 << QDateTime();
        QTest::newRow("hour 24") << rule(0, 3, 0, 1, 24) << 2025 << QDateTime();
    }

    void ruleDates()
    {
        QFETCH(TransitionRule, rule);
        QFETCH(int, year);
        QFETCH(QDateTime, expected);
        QCOMPARE(rule.dateIn(year).value_or(QDateTime()), expected);
    }

    void relativeRuleFromDate_data()
    {
        QTest::addColumn<QDateTime>("wallClock");
        QTest::addColumn<int>("week");
        QTest::newRow("first") << at(2025, 11, 2, 2) << 1;
        QTest::newRow("fourth of five") << at(2025, 3, 23, 2) << 4;
        QTest::newRow("fourth and last") << at(2025, 2, 23, 2) << 5;
    }

    void relativeRuleFromDate()
    {
        QFETCH(QDateTime, wallClock);
        QFETCH(int, week);
        const TransitionRule relative = TransitionRule::relativeFor(wallClock);
        QCOMPARE(int(relative.day), week);
        QCOMPARE(relative.dateIn(wallClock.date().year()).value_or(QDateTime()), wallClock);
    }

    void choice_data()
    {
        QTest::addColumn<QStringList>("displayNames");
        QTest::addColumn<int>("chosen");
        QTest::newRow("GMT-08:00 without US passed over") << QStringList{"(GMT-07:00) Mountain Time (US & Canada)",
            "(GMT-08:00) Tijuana, Baja California", "(GMT-08:00) Pacific Time (US & Canada)"}
                                                          << 2;
        QTest::newRow("case-sensitive") << QStringList{"(gmt-08:00) Pacific Time (US & Canada)",
            "(GMT-08:00) Pacific Time (us & Canada)", "(GMT-08:00) Pacific Time (US & Canada)"}
                                        << 2;
        QTest::newRow("no match picks the first")
            << QStringList{"(GMT+01:00) Amsterdam, Berlin", "(GMT-08:00) Tijuana, Baja California"} << 0;
    }

    void choice()
    {
        QFETCH(QStringList, displayNames);
        QFETCH(int, chosen);
        QList<TimeZoneEntry> zones;
        for (const QString& name : displayNames)
            zones.append(entry(name, 480, {}, {}));
        QCOMPARE(chooseGmtMinus8Zone(zones).displayName, displayNames.at(chosen));
    }

    /// A platform that lists no zone gets the US rules in force since 2007, as the registry entry has them.
    void emptyListUsesTheUsRules()
    {
        QCOMPARE(chooseGmtMinus8Zone({}).displayName, pacificRegistryEntry().displayName);
        const MockClock clock(QTimeZone::utc(), at(2025, 7, 1, 12));
        QCOMPARE(GmtMinus8Now(clock, FakeZones(QList<TimeZoneEntry>{})), at(2025, 7, 1, 5));
        // Without the zone database the computer's own zone is unknown too: its local stamp must
        // still be a time.
        QVERIFY(MockClock(QTimeZone(), at(2025, 7, 1, 12)).currentLocal().isValid());
    }

    void pacificTransitions_data()
    {
        QTest::addColumn<QDateTime>("utc");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("winter") << at(2025, 1, 15, 20) << at(2025, 1, 15, 12);
        QTest::newRow("summer") << at(2025, 7, 1, 19) << at(2025, 7, 1, 12);
        QTest::newRow("last second before entering") << at(2025, 3, 9, 9, 59, 59) << at(2025, 3, 9, 1, 59, 59);
        QTest::newRow("entering") << at(2025, 3, 9, 10) << at(2025, 3, 9, 3);
        QTest::newRow("hour after entering") << at(2025, 3, 9, 10, 30) << at(2025, 3, 9, 3, 30);
        QTest::newRow("last daylight half hour") << at(2025, 11, 2, 8, 30) << at(2025, 11, 2, 1, 30);
        QTest::newRow("leaving") << at(2025, 11, 2, 9) << at(2025, 11, 2, 1);
        QTest::newRow("hour after leaving") << at(2025, 11, 2, 9, 30) << at(2025, 11, 2, 1, 30);
        QTest::newRow("back at two") << at(2025, 11, 2, 10) << at(2025, 11, 2, 2);
        QTest::newRow("new year's eve there") << at(2026, 1, 1, 5) << at(2025, 12, 31, 21);
    }

    void pacificTransitions()
    {
        QFETCH(QDateTime, utc);
        QFETCH(QDateTime, expected);
        QCOMPARE(GmtMinus8At(utc, {pacificRegistryEntry()}), expected);
        QCOMPARE(GmtMinus8At(utc, {}), expected);
    }

    void standardBiasWithoutDaylightSaving_data()
    {
        QTest::addColumn<TimeZoneEntry>("zone");
        QTest::addColumn<QDateTime>("utc");
        QTest::addColumn<QDateTime>("expected");
        const QString name = QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)");
        QTest::newRow("month 0") << entry(name, 480, rule(0, 0, 0, 0), rule(0, 0, 0, 0), 15) << at(2025, 7, 1, 20)
                                 << at(2025, 7, 1, 11, 45);
        QTest::newRow("only one rule") << entry(name, 480, rule(0, 0, 0, 0), rule(0, 3, 0, 2), 15) << at(2025, 7, 1, 20)
                                       << at(2025, 7, 1, 11, 45);
        QTest::newRow("absolute rules of another year")
            << entry(name, 480, rule(2019, 11, 0, 3), rule(2019, 3, 0, 10)) << at(2025, 7, 1, 20) << at(2025, 7, 1, 12);
        QTest::newRow("absolute rules of this year apply")
            << entry(name, 480, rule(2019, 11, 0, 3), rule(2019, 3, 0, 10)) << at(2019, 7, 1, 20) << at(2019, 7, 1, 13);
    }

    void standardBiasWithoutDaylightSaving()
    {
        QFETCH(TimeZoneEntry, zone);
        QFETCH(QDateTime, utc);
        QFETCH(QDateTime, expected);
        QCOMPARE(zone.wallClockAt(utc), expected);
    }

    /// On a computer in the chosen zone both stamps of a cycle show the same wall clock.
    void stampsAgreeWithOwnZone_data()
    {
        QTest::addColumn<QList<TimeZoneEntry>>("zones");
        QTest::addColumn<QString>("zoneId");
        QTest::addColumn<int>("firstYear");
        QTest::addColumn<int>("lastYear");
        const TimeZoneEntry tijuana = entry(QStringLiteral("(GMT-08:00) Tijuana, Baja California"), 480, {}, {});
        QTest::newRow("Pacific") << QList<TimeZoneEntry>{tijuana, pacificRegistryEntry()}
                                 << QStringLiteral("America/Los_Angeles") << 2008 << 2030;
        QTest::newRow("southern hemisphere, first entry")
            << QList<TimeZoneEntry>{sydneyEntry(), tijuana} << QStringLiteral("Australia/Sydney") << 2009 << 2030;
    }

    void stampsAgreeWithOwnZone()
    {
        QFETCH(QList<TimeZoneEntry>, zones);
        QFETCH(QString, zoneId);
        QFETCH(int, firstYear);
        QFETCH(int, lastYear);
        const QTimeZone zone(zoneId.toUtf8());
        if (!zone.isValid())
            QSKIP("no tz data for the zone");
        const FakeZones list(zones);
        MockClock clock(zone);
        for (const QDateTime& utc : sampleInstants(zone, firstYear, lastYear)) {
            clock.setUtc(utc);
            const QDateTime stamp = GmtMinus8Now(clock, list);
            QVERIFY2(stamp == clock.currentLocal(), qPrintable(describe(utc, stamp, clock.currentLocal())));
        }
    }

    void tzDerivedPacificEntry()
    {
        const std::optional<TimeZoneEntry> recent = SystemTimeZoneList::pacificEntry(at(2025, 6, 1, 0));
        if (!recent)
            QSKIP("no tz data for the US Pacific zone");
        QCOMPARE(recent->displayName, QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)"));
        QCOMPARE(recent->bias, 480);
        QCOMPARE(recent->standardBias, 0);
        QCOMPARE(recent->daylightBias, -60);
        QCOMPARE(recent->daylightDate, rule(0, 3, 0, 2));
        QCOMPARE(recent->standardDate, rule(0, 11, 0, 1));

        // Before 2007: first Sunday of April to last Sunday of October.
        const std::optional<TimeZoneEntry> older = SystemTimeZoneList::pacificEntry(at(2005, 6, 1, 0));
        QCOMPARE(older->daylightDate, rule(0, 4, 0, 1));
        QCOMPARE(older->standardDate, rule(0, 10, 0, 5));

        const QTimeZone zone("America/Los_Angeles");
        MockClock clock(zone);
        for (const int firstYear : {2004, 2024}) {
            for (const QDateTime& utc : sampleInstants(zone, firstYear, firstYear + 3)) {
                clock.setUtc(utc);
                const QDateTime stamp = GmtMinus8At(utc, {*SystemTimeZoneList::pacificEntry(utc)});
                QVERIFY2(stamp == clock.currentLocal(), qPrintable(describe(utc, stamp, clock.currentLocal())));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestGmtMinus8)
#include "TestGmtMinus8.moc"
