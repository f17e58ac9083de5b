#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

Q_LOGGING_CATEGORY(lcInstance, "cribsync.instance", QtInfoMsg)

const QByteArray ActivateRequest = QByteArrayLiteral("activate\n");
constexpr int SocketWaitMs = 5000;
// Beyond this a socket path no longer fits the address of a local socket.
constexpr qsizetype MaxSocketPath = 100;

/// The folder as the file system knows it, so that every spelling of it gives one crib.
QString canonicalFolder(const QString& folder)
{
    if (folder.isEmpty())
        return {};
    QDir().mkpath(folder);
    QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir(folder).absolutePath();
#ifdef Q_OS_WIN
    // The file system ignores letter case.
    canonical = canonical.toLower();
#endif
    return canonical;
}

#ifndef Q_OS_WIN
/// A world-wide folder for the lock of the machine's settings, whatever TMPDIR says.
const QString MachineFolder = QStringLiteral("/tmp");
#endif

} // namespace

QString SingleInstance::lockName(const QString& settingsFolder)
{
    const QString name = QStringLiteral("TabcSingleInstance in application ") + QCoreApplication::applicationName();
    const QString folder = canonicalFolder(settingsFolder);
    if (folder.isEmpty())
        return name;
    // The folder itself may hold characters a lock or socket name cannot.
    return name + QLatin1Char(' ')
        + QString::fromLatin1(QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
}

SingleInstance::SingleInstance(const QString& settingsFolder, QObject* parent)
    : QObject(parent)
    , m_folder(canonicalFolder(settingsFolder))
    , m_name(lockName(settingsFolder))
    , m_serverName(m_name)
{
#ifndef Q_OS_WIN
    // A socket beside the settings is reached whatever TMPDIR the later copy has.
    const QString besideSettings
        = QDir(m_folder.isEmpty() ? MachineFolder : m_folder).filePath(QCoreApplication::applicationName() + ".socket");
    m_serverName = besideSettings.size() <= MaxSocketPath ? besideSettings : QDir(MachineFolder).filePath(m_name);
#endif
}

SingleInstance::~SingleInstance()
{
#ifdef Q_OS_WIN
    if (m_mutex)
        CloseHandle(m_mutex);
#else
    if (m_lockFile >= 0)
        ::close(m_lockFile);
#endif
}

#ifdef Q_OS_WIN
bool SingleInstance::lock()
{
    const std::wstring name = (QStringLiteral("Global\\") + m_name).toStdWString();
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    // Held under another account, the mutex exists but may not be opened.
    if (!mutex)
        return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    m_mutex = mutex;
    return true;
}
#else
bool SingleInstance::lock()
{
    const QString path = m_folder.isEmpty() ? QDir(MachineFolder).filePath(m_name + ".lock")
                                            : QDir(m_folder).filePath(QCoreApplication::applicationName() + ".lock");
    const QByteArray file = QFile::encodeName(path);
    // A file another account made may only be opened as it is; one made here is opened to all,
    // so that a copy under another account can test the lock. Non-blocking, so that a FIFO in
    // its place cannot hold start-up.
    int fd = ::open(file.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int error = errno;
    if (fd < 0 && error == ENOENT) {
        fd = ::open(file.constData(), O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
        error = errno;
        if (fd >= 0) {
            ::fchmod(fd, 0666);
        } else if (error == EEXIST) {
            fd = ::open(file.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            error = errno;
        } else {
            m_error
                = QStringLiteral("The settings folder %1 cannot be written: cannot create the lock file %2: %3")
                      .arg(QDir::toNativeSeparators(m_folder), QDir::toNativeSeparators(path), qt_error_string(error));
            return false;
        }
    }
    if (fd < 0) {
        m_error = QStringLiteral("Cannot open the lock file %1: %2")
                      .arg(QDir::toNativeSeparators(path), qt_error_string(error));
        return false;
    }
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        m_error
            = QStringLiteral("The lock file %1 is not a regular file: remove it").arg(QDir::toNativeSeparators(path));
        return false;
    }
    // The lock goes with the process: a copy that died leaves nothing held.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFile = fd;
    return true;
}
#endif

bool SingleInstance::claim()
{
    if (!lock()) {
        if (m_error.isEmpty())
            qCInfo(lcInstance) << "another copy holds" << m_name;
        return false;
    }
    // A socket left behind by a copy that died would make listen() fail.
    QLocalServer::removeServer(m_serverName);
    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    // A copy started under another account may knock too; all it can ask for is the window.
    m_server->setSocketOptions(QLocalServer::WorldAccessOption);
    if (m_server->listen(m_serverName))
        qCDebug(lcInstance) << "listening as" << m_server->fullServerName();
    else
        qCWarning(lcInstance) << "cannot listen as" << m_serverName << ":" << m_server->errorString();
    return true;
}

bool SingleInstance::activateFirst()
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
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
