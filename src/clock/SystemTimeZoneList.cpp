#include "clock/SystemTimeZoneList.h"

#include <QTimeZone>

#ifdef Q_OS_WIN
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {

const char* const ZoneKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Time Zones",
};

// QSettings hands back a binary registry value as a string of UTF-16 code units.
QByteArray binaryValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    const QString text = value.toString();
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * qsizetype(sizeof(char16_t)));
}

QList<TimeZoneEntry> registryZones(const QString& path)
{
    // The 64-bit view, which holds the system's list whatever the build.
    QSettings registry(path, QSettings::Registry64Format);
    QList<TimeZoneEntry> zones;
    const QStringList keys = registry.childGroups();
    for (const QString& key : keys) {
        registry.beginGroup(key);
        const std::optional<TimeZoneEntry> entry = TimeZoneEntry::fromTzi(key,
            registry.value(QStringLiteral("Display")).toString(), registry.value(QStringLiteral("Std")).toString(),
            registry.value(QStringLiteral("Dlt")).toString(), binaryValue(registry.value(QStringLiteral("TZI"))));
        registry.endGroup();
        if (entry)
            zones.append(*entry);
    }
    return zones;
}

} // namespace
#endif

QList<TimeZoneEntry> SystemTimeZoneList::zonesAt(const QDateTime& utc) const
{
#ifdef Q_OS_WIN
    Q_UNUSED(utc);
    // The older system family keeps the list under the second key.
    for (const char* path : ZoneKeys) {
        const QList<TimeZoneEntry> zones = registryZones(QString::fromLatin1(path));
        if (!zones.isEmpty())
            return zones;
    }
    return {};
#else
    const std::optional<TimeZoneEntry> pacific = pacificEntry(utc);
    if (!pacific)
        return {};
    return {*pacific};
#endif
}

std::optional<TimeZoneEntry> SystemTimeZoneList::pacificEntry(const QDateTime& utc)
{
    const QTimeZone zone("America/Los_Angeles");
    if (!zone.isValid())
        return std::nullopt;
    TimeZoneEntry entry = TimeZoneEntry::fromTimeZone(zone, utc.toTimeZone(zone).date().year());
    entry.keyName = QStringLiteral("Pacific Standard Time");
    entry.displayName = QStringLiteral("(GMT-08:00) Pacific Time (US & Canada)");
    entry.standardName = QStringLiteral("Pacific Standard Time");
    entry.daylightName = QStringLiteral("Pacific Daylight Time");
    return entry;
}
