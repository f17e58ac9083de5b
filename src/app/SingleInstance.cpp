#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

Q_LOGGING_CATEGORY(lcInstance, "cribsync.instance", QtInfoMsg)

const QByteArray ActivateRequest = QByteArrayLiteral("activate\n");
constexpr int SocketWaitMs = 5000;

} // namespace

QString SingleInstance::lockName(const QString& settingsFolder)
{
    const QString name = QStringLiteral("TabcSingleInstance in application ") + QCoreApplication::applicationName();
    if (settingsFolder.isEmpty())
        return name;
    // The folder itself may hold characters a lock file or socket name cannot.
    const QByteArray folder = QDir(settingsFolder).absolutePath().toUtf8();
    return name + QLatin1Char(' ')
        + QString::fromLatin1(QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(12));
}

#ifdef Q_OS_WIN
SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
{ }

SingleInstance::~SingleInstance()
{
    if (m_mutex)
        CloseHandle(m_mutex);
}
#else
SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_lock(QDir(QDir::tempPath()).filePath(name + QStringLiteral(".lock")))
{
    // A lock left by a copy that died is taken over; a live holder keeps it however old.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;
#endif

bool SingleInstance::claim()
{
#ifdef Q_OS_WIN
    // The mutex lives as long as a handle to it: a copy that died no longer holds it. The temporary
    // folder of a lock file would be each user's own.
    const QString mutexName = QStringLiteral("Global\\") + m_name;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(mutexName.utf16()));
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
        if (mutex)
            CloseHandle(mutex);
        qCInfo(lcInstance) << "another copy holds" << m_name;
        return false;
    }
    if (!mutex)
        qCWarning(lcInstance) << "cannot create the mutex" << mutexName << ":" << qt_error_string(int(error));
    m_mutex = mutex;
#else
    if (!m_lock.tryLock(0)) {
        qCInfo(lcInstance) << "another copy holds" << m_name;
        return false;
    }
#endif
    // A socket left behind by a copy that died would make listen() fail.
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    if (m_server->listen(m_name))
        qCDebug(lcInstance) << "listening as" << m_server->fullServerName();
    else
        qCWarning(lcInstance) << "cannot listen as" << m_name << ":" << m_server->errorString();
    return true;
}

bool SingleInstance::activateFirst()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(SocketWaitMs)) {
        qCWarning(lcInstance) << "cannot reach the running copy:" << socket.errorString();
        return false;
    }
    socket.write(ActivateRequest);
    const bool sent = socket.waitForBytesWritten(SocketWaitMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains(ActivateRequest.trimmed())) {
                qCDebug(lcInstance) << "a later copy asks this one to come forward";
                Q_EMIT activationRequested();
            }
        });
    }
}
