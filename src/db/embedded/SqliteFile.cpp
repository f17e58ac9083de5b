#include "db/embedded/SqliteFile.h"

#include "db/embedded/SqliteEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace db::sqlite {

FileIdentity FileIdentity::of(const QString& path)
{
    FileIdentity identity;
#ifdef Q_OS_WIN
    // No access asked for: only the file's volume and index are read, whoever holds it open.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return identity;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info)) {
        identity.m_exists = true;
        identity.m_device = info.dwVolumeSerialNumber;
        identity.m_file = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    CloseHandle(handle);
#else
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
        identity.m_exists = true;
        identity.m_device = quint64(status.st_dev);
        identity.m_file = quint64(status.st_ino);
    }
#endif
    return identity;
}

QStringList sideFiles(const QString& databaseFile)
{
    return {databaseFile + QStringLiteral("-journal"), databaseFile + QStringLiteral("-wal"),
        databaseFile + QStringLiteral("-shm")};
}

void mendSideFiles(const QString& databaseFile)
{
    const QFileInfo database(databaseFile);
    if (!database.isFile() || !database.isWritable())
        return;
    for (const QString& side : sideFiles(databaseFile)) {
        const QFileInfo info(side);
        if (info.isFile() && !info.isWritable())
            QFile::setPermissions(side, database.permissions());
    }
}

QString readOnlyMessage(const QString& databaseFile, const QString& message)
{
    const QFileInfo database(databaseFile);
    const QString folder = QDir::toNativeSeparators(database.absolutePath());
    const QString name = QDir::toNativeSeparators(database.absoluteFilePath());
    QString reason;
    if (database.exists() && !database.isWritable()) {
        reason = QStringLiteral("The database file %1 is read-only: make it writable for the account the agent runs "
                                "as (in the folder %2)")
                     .arg(name, folder);
    } else if (!QFileInfo(database.absolutePath()).isWritable()) {
        reason = QStringLiteral("The folder %1 of the database file %2 is read-only: SQLite keeps its side files "
                                "(-journal, -wal, -shm) there; make the folder writable for the account the agent "
                                "runs as")
                     .arg(folder, name);
    } else {
        for (const QString& side : sideFiles(databaseFile)) {
            const QFileInfo info(side);
            if (info.exists() && !info.isWritable()) {
                reason = QStringLiteral("The side file %1 of the database file %2 is read-only (in the folder %3): "
                                        "make it writable like the database file, or delete it while no program has "
                                        "the database open")
                             .arg(QDir::toNativeSeparators(info.absoluteFilePath()), name, folder);
                break;
            }
        }
    }
    if (reason.isEmpty())
        reason = QStringLiteral("The database file %1 cannot be written (in the folder %2): check that the account the "
                                "agent runs as may write the file, its folder and its side files (-journal, -wal, "
                                "-shm)")
                     .arg(name, folder);
    return reason + QStringLiteral(": ") + message;
}

QString explained(const QString& databaseFile, int code, const QString& message)
{
    // Primary result codes of sqlite3.h; an extended code carries its primary one in the low byte.
    enum { IoError = 10, Full = 13, ReadOnly = 8 };
    const QFileInfo database(databaseFile);
    const QString name = QDir::toNativeSeparators(database.absoluteFilePath());
    const QString folder = QDir::toNativeSeparators(database.absolutePath());
    switch (code & 0xff) {
    case ReadOnly:
        return readOnlyMessage(databaseFile, message);
    case Full:
        return QStringLiteral("The disk of the folder %1 is full: the database file %2 cannot grow; free space there "
                              "(SQLite needs room for its side files -journal, -wal and -shm too): %3")
            .arg(folder, name, message);
    case IoError:
        return QStringLiteral("The database file %1 or a side file of it (in the folder %2) could not be written or "
                              "read: free space on that disk, and check that it works and that no other program "
                              "holds the file: %3")
            .arg(name, folder, message);
    default:
        return message;
    }
}

QString fileLost(const QString& databaseFile, const FileIdentity& opened)
{
    const FileIdentity now = FileIdentity::of(databaseFile);
    if (now == opened)
        return {};
    const QString name = QDir::toNativeSeparators(QFileInfo(databaseFile).absoluteFilePath());
    return now.exists() ? QStringLiteral("The database file %1 was replaced by another file since it was opened: the "
                                         "statement went to the old file and counts as failed; the connection is "
                                         "closed and the next one opens the file now in place")
                              .arg(name)
                        : QStringLiteral("The database file %1 was deleted or moved since it was opened: the "
                                         "statement went to the old file and counts as failed; the connection is "
                                         "closed until the file is back")
                              .arg(name);
}

} // namespace db::sqlite

namespace db {

QString SqliteEngine::targetLost()
{
    return sqlite::fileLost(m_file, m_identity);
}

} // namespace db
