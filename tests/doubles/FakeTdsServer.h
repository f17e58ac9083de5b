#pragma once

#include <QString>
#include <QThread>
#include <mutex>

class QTcpServer;

/// A listener on a loopback port that plays a SQL Server towards a TDS client: it answers the
/// pre-login (no encryption), reads the LOGIN7 packet and records the credentials and fields it
/// carried, then acts as `Behaviour` says. It lets a test see exactly what the ODBC driver sent,
/// and how the client copes with a server that refuses or stops answering, without a SQL Server.
class FakeTdsServer
{
public:
    enum class Behaviour {
        HangUpAfterLogin,
        /// Accepts connections and never answers.
        Silent,
        /// Answers the login with SQL Server's "Login failed" error (18456).
        RefuseLogin,
        /// Accepts the login, then never answers a statement.
        SilentAfterLogin,
    };

    struct Login
    {
        bool received = false;
        QString hostName;
        QString userName;
        QString password;
        QString appName;
        QString database;
    };

    explicit FakeTdsServer(Behaviour behaviour = Behaviour::HangUpAfterLogin);
    ~FakeTdsServer();

    /// The ODBC driver that reaches the listener for the agent: FreeTDS where the driver manager
    /// has it (Linux; Windows under Wine, which hands ODBC to the host's driver manager), else
    /// empty, the agent's own choice (Microsoft's driver on Windows).
    static QString clientDriver();

    quint16 port() const { return m_port; }
    /// The first login the listener read.
    Login login();

private:
    class Client;
    void accept();
    void record(const Login& login);

    Behaviour m_behaviour;
    QThread m_thread;
    QTcpServer* m_listener = nullptr;
    quint16 m_port = 0;
    std::mutex m_mutex;
    Login m_login;
};
