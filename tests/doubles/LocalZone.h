#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>

/// The computer's local time zone (TZ) set to `zone` while it lives.
class LocalZone
{
public:
    explicit LocalZone(const QByteArray& zone)
        : m_had(qEnvironmentVariableIsSet("TZ"))
        , m_saved(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone()
    {
        if (m_had)
            qputenv("TZ", m_saved);
        else
            qunsetenv("TZ");
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    bool m_had;
    QByteArray m_saved;
};
