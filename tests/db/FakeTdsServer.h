#pragma once

#include <QString>
#include <atomic>
#include <thread>

/// A listener on a loopback port that answers a TDS client's pre-login (no encryption), reads
/// its LOGIN7 packet, records the credentials and fields it carried, and hangs up. It lets a
/// test see exactly what the ODBC driver sent, without a SQL Server.
class FakeTdsServer
{
public:
    struct Login
    {
        bool received = false;
        QString hostName;
        QString userName;
        QString password;
        QString appName;
        QString database;
    };

    FakeTdsServer();
    ~FakeTdsServer();

    quint16 port() const { return m_port; }
    /// Waits for the listener to finish with its one client and returns what it read.
    Login login();

private:
    void serve();

    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    Login m_login;
};
