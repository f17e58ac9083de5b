#pragma once

#include <QString>
#include <QStringList>

/// A Windows-style INI file, read and written one key at a time as the platform's profile
/// functions do: section and key names match without regard to case, a missing file or key gives
/// the default, and a write creates the file, the section or the key as needed and keeps every
/// other line. Values with outer blanks or outer quotes are written quoted, and one pair of outer
/// quotes is dropped on reading, so such values come back as written.
class IniFile
{
public:
    explicit IniFile(const QString& path);

    QString path() const { return m_path; }

    QString value(const QString& section, const QString& key, const QString& defaultValue) const;
    /// Throws ConfigError when the file cannot be written or the value holds a line break or NUL.
    void setValue(const QString& section, const QString& key, const QString& value);

private:
    struct Contents
    {
        QStringList lines;
        bool exists = false;
        bool unreadable = false;
        bool latin1 = false;
        bool crlf = false;
    };

    Contents load() const;

    QString m_path;
};
