#include "FakeTdsServer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

namespace {

/// Bytes the client may send before the server gives up on it.
constexpr int ClientWaitMs = 10000;

quint16 le16(const QByteArray& data, int at)
{
    return quint16(quint8(data[at]) | (quint8(data[at + 1]) << 8));
}

QString ucs2(const QByteArray& data, int offset, int characters)
{
    if (offset + characters * 2 > data.size())
        return {};
    // FreeTDS counts a closing NUL into some of the lengths it sends.
    QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData() + offset), characters);
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

void sendPacket(QTcpSocket* socket, quint8 type, const QByteArray& payload)
{
    QByteArray packet;
    packet.append(char(type)).append(char(1)); // last packet of the message
    const int total = 8 + int(payload.size());
    packet.append(char(total >> 8)).append(char(total & 0xff));
    packet.append(QByteArray::fromHex("00000100"));
    packet.append(payload);
    socket->write(packet);
}

void appendLe16(QByteArray& data, int value)
{
    data.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
}

QByteArray ucs2Bytes(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

/// A DONE token: final, with the error bit when `error`.
QByteArray done(bool error)
{
    QByteArray token(1, char(0xFD));
    appendLe16(token, error ? 2 : 0);
    appendLe16(token, 0);
    token.append(QByteArray(8, '\0'));
    return token;
}

QByteArray loginAck()
{
    QByteArray body(1, char(1)); // T-SQL
    body.append(QByteArray::fromHex("74000004")); // TDS 7.4
    const QString program = QStringLiteral("Fake");
    body.append(char(program.size())).append(ucs2Bytes(program));
    body.append(QByteArray::fromHex("10000000"));
    QByteArray token(1, char(0xAD));
    appendLe16(token, int(body.size()));
    return token + body + done(false);
}

QByteArray loginFailed(const QString& user)
{
    const QString text = QStringLiteral("Login failed for user '%1'.").arg(user);
    QByteArray body;
    body.append(QByteArray::fromHex("18480000")); // 18456
    body.append(char(1)).append(char(14)); // state, class
    appendLe16(body, int(text.size()));
    body.append(ucs2Bytes(text));
    body.append(char(0)).append(char(0)); // server and procedure names
    body.append(QByteArray(4, '\0')); // line
    QByteArray token(1, char(0xAA));
    appendLe16(token, int(body.size()));
    return token + body + done(true);
}

} // namespace

/// One connection: the pre-login, then the LOGIN7 packet, each a single TDS packet (an 8-byte
/// header with the type and big-endian length, then the payload), read as they arrive.
class FakeTdsServer::Client : public QObject
{
public:
    Client(QTcpSocket* socket, FakeTdsServer* server)
        : QObject(socket)
        , m_socket(socket)
        , m_server(server)
    {
        connect(socket, &QTcpSocket::readyRead, this, &Client::read);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A client that stops sending is given up, as a server does.
        QTimer::singleShot(ClientWaitMs, this, [this] {
            if (m_state != State::Done)
                finish();
        });
    }

private:
    enum class State { PreLogin, Login, Done };

    void read()
    {
        m_buffer += m_socket->readAll();
        while (m_state != State::Done && m_buffer.size() >= 8) {
            const int length = (quint8(m_buffer[2]) << 8) | quint8(m_buffer[3]);
            if (m_buffer.size() < length)
                return;
            const quint8 type = quint8(m_buffer[0]);
            const QByteArray payload = m_buffer.mid(8, length - 8);
            m_buffer.remove(0, qMax(length, 8));
            if (m_state == State::PreLogin && type == 0x12) {
                // Version 0.0.0, encryption not supported, so the login comes in clear.
                sendPacket(m_socket, 0x04,
                    QByteArray::fromHex("00000b00060100110001ff") + QByteArray(6, '\0') + QByteArray(1, '\2'));
                m_state = State::Login;
                continue;
            }
            if (m_state == State::Login && type == 0x10 && payload.size() > 94)
                readLogin(payload);
            finish();
        }
    }

    void readLogin(const QByteArray& payload)
    {
        auto field = [&payload](int at) { return ucs2(payload, le16(payload, at), le16(payload, at + 2)); };
        m_login.received = true;
        m_login.hostName = field(36);
        m_login.userName = field(40);
        QByteArray scrambled = payload.mid(le16(payload, 44), le16(payload, 46) * 2);
        for (char& c : scrambled) {
            const quint8 x = quint8(c) ^ 0xA5;
            c = char(quint8((x << 4) | (x >> 4)));
        }
        m_login.password
            = QString::fromUtf16(reinterpret_cast<const char16_t*>(scrambled.constData()), scrambled.size() / 2);
        m_login.appName = field(48);
        m_login.database = field(68);
    }

    void finish()
    {
        m_state = State::Done;
        m_server->record(m_login);
        const Behaviour behaviour = m_server->m_behaviour;
        if (m_login.received && behaviour == Behaviour::RefuseLogin)
            sendPacket(m_socket, 0x04, loginFailed(m_login.userName));
        if (m_login.received && behaviour == Behaviour::SilentAfterLogin) {
            sendPacket(m_socket, 0x04, loginAck());
            return;
        }
        // What was written still goes out before the connection closes.
        m_socket->disconnectFromHost();
    }

    QTcpSocket* m_socket;
    FakeTdsServer* m_server;
    State m_state = State::PreLogin;
    QByteArray m_buffer;
    Login m_login;
};

FakeTdsServer::FakeTdsServer(Behaviour behaviour)
    : m_behaviour(behaviour)
    , m_listener(new QTcpServer)
{
    m_listener->listen(QHostAddress::LocalHost, 0);
    m_port = m_listener->serverPort();
    m_listener->moveToThread(&m_thread);
    QObject::connect(m_listener, &QTcpServer::newConnection, m_listener, [this] { accept(); });
    QObject::connect(&m_thread, &QThread::finished, m_listener, &QObject::deleteLater);
    m_thread.start();
}

FakeTdsServer::~FakeTdsServer()
{
    m_thread.quit();
    m_thread.wait();
}

QString FakeTdsServer::clientDriver()
{
    const QString freeTds = QStringLiteral("FreeTDS");
    SQLHANDLE environment = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        return {};
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    bool found = false;
    SQLWCHAR name[256];
    SQLWCHAR attributes[1024];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST; !found
         && SQL_SUCCEEDED(
             SQLDriversW(environment, direction, name, 256, &nameLength, attributes, 1024, &attributesLength));
         direction = SQL_FETCH_NEXT)
        found = QString::fromUtf16(reinterpret_cast<const char16_t*>(name), qMin<int>(nameLength, 255)) == freeTds;
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return found ? freeTds : QString();
}

FakeTdsServer::Login FakeTdsServer::login()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_login;
}

void FakeTdsServer::accept()
{
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        // A silent server holds the connection open and never reads it.
        if (m_behaviour != Behaviour::Silent)
            new Client(socket, this);
    }
}

void FakeTdsServer::record(const Login& login)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_login.received)
        m_login = login;
}
