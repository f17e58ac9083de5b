#pragma once

#include "db/Connection.h"
#include "db/ConnectionPool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTest>

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
