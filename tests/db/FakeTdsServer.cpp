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

} // namespace

FakeTdsServer::FakeTdsServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(m_listener, 1);
    socklen_t length = sizeof(address);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

FakeTdsServer::~FakeTdsServer()
{
    if (m_thread.joinable()) {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
    }
    ::close(m_listener);
}

FakeTdsServer::Login FakeTdsServer::login()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_login;
}

void FakeTdsServer::serve()
{
    pollfd p{m_listener, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0)
        return;
    const int client = ::accept(m_listener, nullptr, nullptr);
    if (client < 0)
        return;
    quint8 type = 0;
    QByteArray payload;
    if (readPacket(client, &type, &payload) && type == 0x12) {
        // Pre-login answer: version 0.0.0, encryption not supported, so the login comes in clear.
        const QByteArray options
            = QByteArray::fromHex("00000b00060100110001ff") + QByteArray(6, '\0') + QByteArray(1, '\2');
        QByteArray packet = QByteArray::fromHex("0401");
        const int total = 8 + int(options.size());
        packet.append(char(total >> 8)).append(char(total & 0xff));
        packet.append(QByteArray::fromHex("00000100"));
        packet.append(options);
        ::write(client, packet.constData(), size_t(packet.size()));
        if (readPacket(client, &type, &payload) && type == 0x10 && payload.size() > 94) {
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
    }
    ::close(client);
}
