#include "cycle/CycleLog.h"

#include "clock/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

CycleLog::CycleLog(const QString& filePath, const Clock* clock, qint64 maxBytes, int keptFiles)
    : m_filePath(filePath)
    , m_clock(clock)
    , m_maxBytes(maxBytes)
    , m_keptFiles(keptFiles)
    , m_status(filePath.isEmpty() ? QString() : CycleStatus::pathBesideLog(filePath))
{ }

void CycleLog::rotateIfNeeded(qint64 incoming)
{
    const QFileInfo info(m_filePath);
    if (!info.exists() || info.size() + incoming <= m_maxBytes)
        return;
    QFile::remove(m_filePath + QStringLiteral(".%1").arg(m_keptFiles));
    for (int i = m_keptFiles - 1; i >= 1; --i)
        QFile::rename(m_filePath + QStringLiteral(".%1").arg(i), m_filePath + QStringLiteral(".%1").arg(i + 1));
    QFile::rename(m_filePath, m_filePath + QStringLiteral(".1"));
}

QString CycleLog::appendToFile(const QString& path, const QByteArray& bytes)
{
#ifdef Q_OS_WIN
    QFile file(path);
    if (!file.open(QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    return file.write(bytes) == bytes.size() ? QString() : file.errorString();
#else
    // Non-blocking, should a FIFO take the file's place after the check.
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat status
    {
    };
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        QFile file;
        // One line at a time: no buffer to fill and copy.
        if (file.open(fd, QIODevice::Append | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
            return file.write(bytes) == bytes.size() ? QString() : file.errorString();
    }
    ::close(fd);
    return QStringLiteral("not a regular file");
#endif
}

bool CycleLog::writeToFile(const QByteArray& bytes)
{
    rotateIfNeeded(bytes.size());
    const QFileInfo info(m_filePath);
    QDir().mkpath(info.absolutePath());
    const QString error = appendToFile(m_filePath, bytes);
    if (error.isEmpty()) {
        m_problem.clear();
        return true;
    }
    const QString file = QDir::toNativeSeparators(info.absoluteFilePath());
    const QString folder = QDir::toNativeSeparators(info.absolutePath());
    const QString cannot = QStringLiteral("The log %1 cannot be written (%2): free space on the disk of the folder %3, "
                                          "or make the folder writable for the account the agent runs as; ")
                               .arg(file, error, folder);
    const QFileInfo fallback(m_fallbackPath);
    if (!m_fallbackPath.isEmpty() && fallback.absoluteFilePath() != info.absoluteFilePath()) {
        const QString problem = cannot
            + QStringLiteral("the log goes on in %1").arg(QDir::toNativeSeparators(fallback.absoluteFilePath()));
        const QByteArray note = (stamped(problem) + QLatin1Char('\n')).toUtf8();
        QDir().mkpath(fallback.absolutePath());
        if (appendToFile(m_fallbackPath, note + bytes).isEmpty()) {
            m_filePath = m_fallbackPath;
            tell(problem);
            return true;
        }
    }
    tell(cannot + QStringLiteral("logging to standard error only"));
    return false;
}

void CycleLog::tell(const QString& problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    const QString line = stamped(problem);
    if (m_echo)
        m_echo(line);
    else
        std::fprintf(stderr, "%s\n", qPrintable(line));
}

namespace {

/// Stuck rows a summary names; the rest are counted.
constexpr int kNamedStuck = 5;

// The embeddings, overrides and isolates: shown as they are, they reorder the rest of the line.
bool isBidiControl(QChar c)
{
    return (c.unicode() >= 0x202A && c.unicode() <= 0x202E) || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
}

} // namespace

QString CycleLog::printable(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (c == QLatin1Char('\t')
            || (category != QChar::Other_Control && category != QChar::Separator_Line
                && category != QChar::Separator_Paragraph && !isBidiControl(c))) {
            result += c;
            continue;
        }
        const bool byte = c.unicode() <= 0xFF;
        result += (byte ? QLatin1String("\\x") : QLatin1String("\\u"))
            + QString::number(c.unicode(), 16).toUpper().rightJustified(byte ? 2 : 4, QLatin1Char('0'));
    }
    return result;
}

QString CycleLog::stamped(const QString& text) const
{
    return m_clock->currentLocal().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char(' ') + printable(text);
}

QString CycleLog::write(const QString& text)
{
    const QString line = stamped(text);
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    bool inFile = false;
    if (!m_filePath.isEmpty() && !m_notAFile) {
        // A FIFO or device in the log's place would block start-up or take the lines elsewhere.
        const QFileInfo info(m_filePath);
        if (info.exists() && !info.isFile()) {
            m_notAFile = true;
            std::fprintf(stderr, "%s\n",
                qPrintable(QStringLiteral("The log %1 is not a regular file: logging to standard error only")
                               .arg(QDir::toNativeSeparators(m_filePath))));
        } else {
            inFile = writeToFile(bytes);
        }
    }
    if (m_echo)
        m_echo(line.trimmed());
    else if (m_notAFile || (!m_filePath.isEmpty() && !inFile))
        std::fprintf(stderr, "%s\n", qPrintable(line));
    return line;
}

void CycleLog::startupStep(const QString& text)
{
    write(QStringLiteral("start-up: ") + text);
}

void CycleLog::note(const QString& text)
{
    write(text);
}

void CycleLog::cycleStarted()
{
    ++m_cycle;
    m_started = m_clock->currentUtc();
    m_done.clear();
    m_failures = 0;
    m_status.cycleStarted();
}

void CycleLog::workDone(const QString& what, const QString& table)
{
    ++m_done[what][table.toUpper()];
}

void CycleLog::failureCaught(const CycleFailure& failure)
{
    ++m_failures;
    QString text = QStringLiteral("cycle %1 failure in %2").arg(m_cycle).arg(failure.step);
    if (!failure.table.isEmpty())
        text += QStringLiteral(", table %1").arg(failure.table);
    if (!failure.key.isEmpty())
        text += QStringLiteral(", key %1").arg(failure.key);
    text += QStringLiteral(": ") + failure.message.simplified();
    // The same row failing cycle after cycle is a stuck row: say for how long.
    const int cycles = m_status.refused(failure, m_clock->currentUtc());
    if (cycles > 1)
        text += QStringLiteral(" (failed in %1 cycles in a row)").arg(cycles);
    m_lastFailure = text;
    write(text);
}

void CycleLog::cycleFinished(bool completed, const QString& reason)
{
    const QDateTime now = m_clock->currentUtc();
    const bool statusWritten = m_status.cycleFinished(completed, now);
    const double seconds = m_started.msecsTo(m_clock->currentUtc()) / 1000.0;
    QStringList parts;
    for (auto what = m_done.cbegin(); what != m_done.cend(); ++what) {
        QStringList tables;
        int total = 0;
        for (auto t = what->cbegin(); t != what->cend(); ++t) {
            tables << QStringLiteral("%1 %2").arg(t.key().isEmpty() ? QStringLiteral("-") : t.key()).arg(t.value());
            total += t.value();
        }
        parts << QStringLiteral("%1 %2 (%3)").arg(what.key()).arg(total).arg(tables.join(QStringLiteral(", ")));
    }
    QString text = QStringLiteral("cycle %1 %2 in %3 s")
                       .arg(m_cycle)
                       .arg(completed ? QStringLiteral("completed") : QStringLiteral("ended early"))
                       .arg(seconds, 0, 'f', 1);
    if (!reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(reason);
    text += QStringLiteral(": ")
        + (parts.isEmpty() ? QStringLiteral("nothing to do") : parts.join(QStringLiteral("; ")));
    text += QStringLiteral("; %1 failure%2").arg(m_failures).arg(m_failures == 1 ? QString() : QStringLiteral("s"));
    const QList<CycleStatus::Refusal> stuck = m_status.stuck();
    if (!stuck.isEmpty()) {
        QStringList named;
        for (const CycleStatus::Refusal& r : stuck.mid(0, kNamedStuck)) {
            named << QStringLiteral("%1 (refused in %2 cycles since %3)")
                         .arg(r.what())
                         .arg(r.cycles)
                         .arg(CycleStatus::timeText(r.first, m_clock->localZone(), now));
        }
        if (stuck.size() > kNamedStuck)
            named << QStringLiteral("%1 more").arg(stuck.size() - kNamedStuck);
        text += QStringLiteral("; %1 stuck: %2").arg(stuck.size()).arg(named.join(QStringLiteral(", ")));
    }
    m_lastSummary = text;
    m_lastSummaryLine = write(text);
    // Said once each time it starts to fail, not in every cycle.
    if (!statusWritten && m_status.writeError() != m_statusWriteError)
        note(QStringLiteral("cannot write the status file %1").arg(m_status.writeError()));
    m_statusWriteError = statusWritten ? QString() : m_status.writeError();
}

QString CycleLog::stuckText() const
{
    return m_status.stuckText(m_clock->localZone(), m_clock->currentUtc());
}
