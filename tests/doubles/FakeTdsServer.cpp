#include "FakeTdsServer.h"

#include <QByteArray>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool readExactly(int fd, char* buffer, int size)
{
    int done = 0;
    while (done < size) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer + done, size_t(size - done));
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

/// One TDS packet: 8-byte header (type, status, big-endian length, ...) and its payload.
bool readPacket(int fd, quint8* type, QByteArray* payload)
{
    char header[8];
    if (!readExactly(fd, header, 8))
        return false;
    *type = quint8(header[0]);
    const int length = (quint8(header[2]) << 8) | quint8(header[3]);
    payload->resize(length - 8);
    return readExactly(fd, payload->data(), length - 8);
}

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

void sendPacket(int fd, quint8 type, const QByteArray& payload)
{
    QByteArray packet;
    packet.append(char(type)).append(char(1)); // last packet of the message
    const int total = 8 + int(payload.size());
    packet.append(char(total >> 8)).append(char(total & 0xff));
    packet.append(QByteArray::fromHex("00000100"));
    packet.append(payload);
    [[maybe_unused]] const ssize_t written = ::write(fd, packet.constData(), size_t(packet.size()));
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

FakeTdsServer::FakeTdsServer(Behaviour behaviour)
    : m_behaviour(behaviour)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(m_listener, 4);
    socklen_t length = sizeof(address);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

FakeTdsServer::~FakeTdsServer()
{
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
    for (int client : m_openClients)
        ::close(client);
}

FakeTdsServer::Login FakeTdsServer::login()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_login;
}

void FakeTdsServer::serve()
{
    for (;;) {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0 || (p.revents & POLLIN) == 0)
            return;
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client < 0)
            return;
        if (m_behaviour == Behaviour::Silent) {
            m_openClients.push_back(client);
            continue;
        }
        serveClient(client);
    }
}

void FakeTdsServer::serveClient(int client)
{
    quint8 type = 0;
    QByteArray payload;
    Login login;
    if (readPacket(client, &type, &payload) && type == 0x12) {
        // Pre-login answer: version 0.0.0, encryption not supported, so the login comes in clear.
        sendPacket(
            client, 0x04, QByteArray::fromHex("00000b00060100110001ff") + QByteArray(6, '\0') + QByteArray(1, '\2'));
        if (readPacket(client, &type, &payload) && type == 0x10 && payload.size() > 94) {
            auto field = [&payload](int at) { return ucs2(payload, le16(payload, at), le16(payload, at + 2)); };
            login.received = true;
            login.hostName = field(36);
            login.userName = field(40);
            QByteArray scrambled = payload.mid(le16(payload, 44), le16(payload, 46) * 2);
            for (char& c : scrambled) {
                const quint8 x = quint8(c) ^ 0xA5;
                c = char(quint8((x << 4) | (x >> 4)));
            }
            login.password
                = QString::fromUtf16(reinterpret_cast<const char16_t*>(scrambled.constData()), scrambled.size() / 2);
            login.appName = field(48);
            login.database = field(68);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_login.received)
            m_login = login;
    }
    if (login.received && m_behaviour == Behaviour::RefuseLogin)
        sendPacket(client, 0x04, loginFailed(login.userName));
    if (login.received && m_behaviour == Behaviour::SilentAfterLogin) {
        sendPacket(client, 0x04, loginAck());
        m_openClients.push_back(client);
        return;
    }
    ::close(client);
}
