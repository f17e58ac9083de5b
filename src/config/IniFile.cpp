#include "config/IniFile.h"

#include "config/AnsiCodePage.h"
#include "config/ConfigError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

namespace {

#ifdef Q_OS_WIN
constexpr bool NativeCrlf = true;
#else
constexpr bool NativeCrlf = false;
#endif

// The name of a "[section]" line, or a null string for any other line.
QString sectionName(const QString& line)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype end = trimmed.indexOf(QLatin1Char(']'));
    if (end < 0)
        return {};
    const QString name = trimmed.mid(1, end - 1).trimmed();
    return name.isNull() ? QString(QLatin1String("")) : name;
}

bool isComment(const QString& line)
{
    return line.trimmed().startsWith(QLatin1Char(';'));
}

QString keyOf(const QString& line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 || isComment(line) ? QString() : line.left(eq).trimmed();
}

QString unquoted(const QString& raw)
{
    const QString value = raw.trimmed();
    if (value.size() >= 2 && value.front() == value.back()
        && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')))
        return value.mid(1, value.size() - 2);
    return value;
}

QString quotedIfNeeded(const QString& value)
{
    if (value.isEmpty())
        return value;
    const bool outerBlank = value.front().isSpace() || value.back().isSpace();
    const bool outerQuotes = value.size() >= 2 && value.front() == value.back()
        && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''));
    return outerBlank || outerQuotes ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

// A settings file holds a few lines; anything this large is not one.
constexpr qint64 MaxFileSize = 1024 * 1024;

// The byte-order mark by which the INI services tell a UTF-16 file from an ANSI one.
const QByteArray Utf16Bom("\xFF\xFE", 2);

QString utf16Text(const QByteArray& bytes)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
}

// Why a file could not be written, in the words an operator acts on.
QString writeFailure(const QString& path, const QString& error)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return QStringLiteral("Cannot write %1: the folder %2 does not exist").arg(path, folder.filePath());
    if (file.exists() && !file.isWritable())
        return QStringLiteral("Cannot write %1: the file is read-only").arg(path);
    if (!file.exists() && !IniFile::canCreateIn(folder.filePath()))
        return QStringLiteral("Cannot write %1: the folder %2 is read-only").arg(path, folder.filePath());
    return QStringLiteral("Cannot write %1: %2").arg(path, error);
}

} // namespace

void IniFile::checkFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return;
    // Opening a pipe or a device could wait for ever or read without end.
    if (!info.isFile())
        throw ConfigError(QStringLiteral("%1 is not a regular file; the settings are not read from it").arg(path));
    if (info.size() > MaxFileSize)
        throw ConfigError(QStringLiteral("%1 is %2 bytes long, more than a settings file can be (%3 bytes); it is "
                                         "not read")
                              .arg(path)
                              .arg(info.size())
                              .arg(MaxFileSize));
}

bool IniFile::canCreateIn(const QString& folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".cribsync-XXXXXX")));
    return probe.open();
}

IniFile::IniFile(const QString& path)
    : m_path(path)
{ }

IniFile::Contents IniFile::load() const
{
    Contents contents;
    checkFile(m_path);
    QFile file(m_path);
    contents.exists = file.exists();
    if (!file.open(QIODevice::ReadOnly)) {
        contents.unreadable = contents.exists;
        return contents;
    }
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize)
        checkFile(m_path);
    // As the INI services read it: UTF-16 after its byte-order mark, otherwise the ANSI code page.
    contents.utf16 = bytes.startsWith(Utf16Bom);
    const QString text = contents.utf16 ? utf16Text(bytes.mid(2)) : AnsiCodePage::decode(bytes);
    contents.crlf = text.contains(QLatin1String("\r\n"));
    contents.lines = text.split(QLatin1Char('\n'));
    for (QString& line : contents.lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (!contents.lines.isEmpty() && contents.lines.back().isEmpty())
        contents.lines.removeLast();
    return contents;
}

QString IniFile::value(const QString& section, const QString& key, const QString& defaultValue) const
{
    bool inSection = false;
    for (const QString& line : load().lines) {
        const QString name = sectionName(line);
        if (!name.isNull()) {
            if (inSection)
                break;
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const QString lineKey = inSection ? keyOf(line) : QString();
        if (!lineKey.isEmpty() && lineKey.compare(key, Qt::CaseInsensitive) == 0)
            return unquoted(line.mid(line.indexOf(QLatin1Char('=')) + 1));
    }
    return defaultValue;
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value)
{
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')) || value.contains(QChar::Null))
        throw ConfigError(QStringLiteral("%1: the value of [%2] %3 holds a line break or NUL, which the file "
                                         "cannot keep")
                              .arg(m_path, section, key));

    Contents contents = load();
    if (contents.unreadable)
        throw ConfigError(QStringLiteral("Cannot read %1, so it is not rewritten").arg(m_path));
    QStringList& lines = contents.lines;
    qsizetype sectionStart = -1;
    qsizetype insertAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = sectionName(lines[i]);
        if (!name.isNull()) {
            if (sectionStart >= 0)
                break;
            if (name.compare(section, Qt::CaseInsensitive) == 0) {
                sectionStart = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionStart < 0)
            continue;
        const QString lineKey = keyOf(lines[i]);
        if (!lineKey.isEmpty() && lineKey.compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = lineKey + QLatin1Char('=') + quotedIfNeeded(value);
            insertAt = -1;
            break;
        }
        if (!lines[i].trimmed().isEmpty())
            insertAt = i + 1;
    }
    if (sectionStart < 0) {
        if (!lines.isEmpty() && !lines.back().trimmed().isEmpty())
            lines << QString();
        lines << QLatin1Char('[') + section + QLatin1Char(']') << key + QLatin1Char('=') + quotedIfNeeded(value);
    } else if (insertAt >= 0) {
        lines.insert(insertAt, key + QLatin1Char('=') + quotedIfNeeded(value));
    }

    const bool crlf = contents.exists ? contents.crlf : NativeCrlf;
    const QString text = lines.join(crlf ? QLatin1String("\r\n") : QLatin1String("\n")) + (crlf ? "\r\n" : "\n");
    QByteArray bytes;
    if (contents.utf16) {
        bytes = Utf16Bom
            + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * qsizetype(sizeof(char16_t)));
    } else {
        const std::optional<QByteArray> ansi = AnsiCodePage::encode(text);
        if (!ansi)
            throw ConfigError(QStringLiteral("%1: the value of [%2] %3 holds a character that the file's code page "
                                             "(Windows ANSI) has not")
                                  .arg(m_path, section, key));
        bytes = *ansi;
    }

    QSaveFile file(m_path);
    // A file that may be written in a folder that may not, as the INI services allow.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw ConfigError(writeFailure(m_path, file.errorString()));
}
