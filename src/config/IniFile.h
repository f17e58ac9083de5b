#pragma once

#include <QString>
#include <QStringList>

/// A Windows-style INI file, read and written one key at a time as the platform's profile
/// functions do: section and key names match without regard to case, a missing file or key gives
/// the default, and a write creates the file, the section or the key as needed and keeps every
/// other line. Values with outer blanks or outer quotes are written quoted, and one pair of outer
/// quotes is dropped on reading, so such values come back as written. The text is in the ANSI code
/// page, or UTF-16 when the file begins with its byte-order mark, as those functions keep it.
class IniFile
{
public:
    explicit IniFile(const QString& path);

    /// Throws ConfigError when `path` exists but is no regular file (a pipe, a device, a folder)
    /// or is far larger than a settings file can be.
    static void checkFile(const QString& path);
    /// Whether a file can be made in `folder`, as its permissions decide (on Windows a folder's
    /// attributes, which QFileInfo::isWritable() reads, do not show them).
    static bool canCreateIn(const QString& folder);

    QString path() const { return m_path; }

    /// Throws ConfigError when checkFile() refuses the file.
    QString value(const QString& section, const QString& key, const QString& defaultValue) const;
    /// Throws ConfigError when the file cannot be written or the value holds a line break, a NUL or
    /// a character the file's code page has not.
    void setValue(const QString& section, const QString& key, const QString& value);

private:
    struct Contents
    {
        QStringList lines;
        bool exists = false;
        bool unreadable = false;
        bool utf16 = false;
        bool crlf = false;
    };

    Contents load() const;

    QString m_path;
};
