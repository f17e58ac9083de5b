#pragma once

#include "db/Connection.h"
#include "db/ConnectionPool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QMap>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

/// The bytes of a file; empty when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Replaces a file's bytes; a failure fails the running test and returns false.
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        return true;
    QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
    return false;
}

/// Every file under `folder`, hidden ones too, with its bytes.
inline QMap<QString, QByteArray> filesOf(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, readFile(path));
    }
    return files;
}

/// Moves an embedded database file: the crib's server gone away, or back. Windows moves no file
/// that is open, so the connections in `open` and the pool's idle ones are closed first.
inline bool moveDatabaseFile(const QString& from, const QString& to, const QList<db::Connection*>& open = {})
{
    for (db::Connection* connection : open)
        connection->close();
    db::ConnectionPool::instance().clear();
    return QFile::rename(from, to);
}

/// A file's path on the host: under Wine, the Linux path of a Windows one (for the host's own
/// programs and libraries, which know nothing of drive letters); elsewhere the path itself.
inline QString hostPath(const QString& path)
{
#ifdef Q_OS_WIN
    // Wine's kernel32 has the Linux name of a Windows path, in memory of the process heap.
    // (Resolved by name, so that <windows.h> and its macros stay out of the tests.)
    QLibrary kernel32(QStringLiteral("kernel32"));
    using UnixName = char* (*)(const wchar_t*);
    using ProcessHeap = void* (*)();
    using HeapFree = int (*)(void*, unsigned long, void*);
    const auto unixName = reinterpret_cast<UnixName>(kernel32.resolve("wine_get_unix_file_name"));
    const auto processHeap = reinterpret_cast<ProcessHeap>(kernel32.resolve("GetProcessHeap"));
    const auto heapFree = reinterpret_cast<HeapFree>(kernel32.resolve("HeapFree"));
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    if (char* name = unixName && processHeap && heapFree ? unixName(native.c_str()) : nullptr) {
        const QString unixPath = QString::fromLocal8Bit(name);
        heapFree(processHeap(), 0, name);
        return unixPath;
    }
#endif
    return path;
}

/// Makes `folder` one that no file can be made in, even by root or an administrator: read-only,
/// and immutable through the host's chattr (under Wine run on the host path); or undoes it.
/// Returns whether the folder is now as asked.
inline bool setFolderReadOnly(const QString& folder, bool readOnly)
{
    const auto owner = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
    if (readOnly)
        QFile::setPermissions(folder, owner);
#ifdef Q_OS_WIN
    const QString chattr = QStringLiteral("Z:/usr/bin/chattr");
#else
    const QString chattr = QStringLiteral("chattr");
#endif
    const QStringList arguments{readOnly ? QStringLiteral("+i") : QStringLiteral("-i"), hostPath(folder)};
#ifdef Q_OS_WIN
    QProcess::startDetached(chattr, arguments);
#else
    QProcess::execute(chattr, arguments);
#endif
    if (!readOnly)
        QFile::setPermissions(folder, owner | QFileDevice::WriteOwner);
    // Under Wine a host program's end cannot be waited for: its effect is.
    for (int tries = 0; tries < 50; ++tries) {
        QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("probe-XXXXXX")));
        if (probe.open() != readOnly)
            return true;
        QTest::qWait(100);
    }
    return false;
}

#ifndef Q_OS_WIN
/// While it lives, files are reached as the account "nobody" would reach them when the tests run
/// as root, whom permissions do not stop: as a service account meets a file it may only read.
/// Run by another user, the permissions stop that user already and nothing changes.
class AsServiceAccount
{
public:
    // The real account too, which access() checks; root stays the saved one, to come back to.
    AsServiceAccount()
        : m_switched(::geteuid() == 0 && ::setresgid(65534, 65534, 0) == 0 && ::setresuid(65534, 65534, 0) == 0)
    { }
    ~AsServiceAccount()
    {
        if (m_switched && ::setresuid(0, 0, 0) == 0)
            ::setresgid(0, 0, 0);
    }
    AsServiceAccount(const AsServiceAccount&) = delete;
    AsServiceAccount& operator=(const AsServiceAccount&) = delete;

private:
    bool m_switched;
};
#endif
