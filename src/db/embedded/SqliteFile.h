#pragma once

#include <QString>
#include <QStringList>

namespace db::sqlite {

/// Which file a path names: a file put in its place under the same name (a restored copy, a
/// file moved over it) or none at all tells apart from the one a connection opened, which the
/// connection would otherwise go on reading and writing unseen.
class FileIdentity
{
public:
    /// The file at `path` now; without one, an identity that matches none.
    static FileIdentity of(const QString& path);

    bool exists() const { return m_exists; }
    bool operator==(const FileIdentity& other) const = default;

private:
    bool m_exists = false;
    quint64 m_device = 0;
    quint64 m_file = 0;
};

/// The side files SQLite keeps beside a database (-journal, -wal, -shm).
QStringList sideFiles(const QString& databaseFile);

/// Gives side files that cannot be written the permissions of the database file, when that one
/// can be written: SQLite makes them with the database file's permissions, so those left from a
/// time it was read-only would refuse every write after it is made writable again. A file this
/// account may not change is left as it is.
void mendSideFiles(const QString& databaseFile);

/// The message for a write refused as "readonly": the file (the database or a side file) or
/// the folder that cannot be written, and what to do, followed by the engine's own `message`.
QString readOnlyMessage(const QString& databaseFile, const QString& message);

/// SQLite's `message` for the result code `code`, with the file, its folder and what to do
/// where the file system is at fault (read-only, full, refusing a write); else `message` alone.
QString explained(const QString& databaseFile, int code, const QString& message);

/// Why `opened` is no longer the file at `databaseFile` (deleted, or another file in its
/// place); empty while it is.
QString fileLost(const QString& databaseFile, const FileIdentity& opened);

} // namespace db::sqlite
