#include "step/CycleProgress.h"

#include <QLocale>
#include <QStringList>

namespace {

/// A report at most this often while a step works.
constexpr qint64 kReportEveryMs = 1000;
/// The pace is trusted once a step has worked this long.
constexpr qint64 kPaceAfterMs = 1000;
/// A long cycle says in the log how far it is this often.
constexpr qint64 kLogEveryMs = 60 * 1000;

QString count(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

QString units(CycleProgress::Kind kind)
{
    return kind == CycleProgress::Kind::Apply ? QStringLiteral("orders") : QStringLiteral("rows");
}

QString doing(const CycleProgress::Step& step)
{
    switch (step.kind) {
    case CycleProgress::Kind::Push:
        return QStringLiteral("pushing ") + step.table;
    case CycleProgress::Kind::History:
        return QStringLiteral("replaying ") + step.table;
    case CycleProgress::Kind::Apply:
        return QStringLiteral("applying the outbox");
    }
    return {};
}

} // namespace

CycleProgress::CycleProgress(Clock clock)
    : m_clock(std::move(clock))
{
    m_timer.start();
}

qint64 CycleProgress::now() const
{
    return m_clock ? m_clock() : m_timer.elapsed();
}

void CycleProgress::cycleStarted()
{
    m_cycleStartedMs = now();
    m_lastReportMs = m_cycleStartedMs;
    m_lastLogMs = m_cycleStartedMs;
    m_running = false;
    m_finished.clear();
}

void CycleProgress::stepStarted(Kind kind, const QString& table, qint64 pending)
{
    m_current = Step{kind, table, 0, pending, now(), 0, false};
    m_running = true;
    report();
}

void CycleProgress::rowDone()
{
    ++m_current.done;
    const qint64 at = now();
    m_current.elapsedMs = at - m_current.startedMs;
    if (m_running && at - m_lastReportMs >= kReportEveryMs)
        report();
}

void CycleProgress::stepFinished(bool byBudget)
{
    if (!m_running)
        return;
    m_current.elapsedMs = now() - m_current.startedMs;
    m_current.stoppedByBudget = byBudget;
    m_running = false;
    m_finished << m_current;
    report();
}

bool CycleProgress::overBudget(qint64 budgetMs) const
{
    return m_running && (m_stopRequested || (budgetMs > 0 && now() - m_current.startedMs >= budgetMs));
}

qint64 CycleProgress::estimatedLeftMs() const
{
    if (!m_running || m_current.done <= 0 || m_current.elapsedMs < kPaceAfterMs)
        return -1;
    const qint64 left = std::max<qint64>(0, m_current.pending - m_current.done);
    return qint64(double(left) * double(m_current.elapsedMs) / double(m_current.done));
}

int CycleProgress::percent() const
{
    if (!m_running || m_current.pending <= 0)
        return 0;
    return int(std::min<qint64>(100, m_current.done * 100 / m_current.pending));
}

QString CycleProgress::currentText() const
{
    if (!m_running)
        return {};
    QString text = QStringLiteral("%1: %2 of %3 %4 (%5%)")
                       .arg(doing(m_current), count(m_current.done), count(m_current.pending), units(m_current.kind))
                       .arg(percent());
    if (const qint64 left = estimatedLeftMs(); left >= 0)
        text += QStringLiteral(", ") + duration(left) + QStringLiteral(" left");
    return text;
}

QString CycleProgress::summaryText() const
{
    QStringList parts;
    for (const Step& step : m_finished) {
        parts << QStringLiteral("%1 %2 of %3 %4%5")
                     .arg(step.kind == Kind::Apply ? QStringLiteral("outbox") : step.table, count(step.done),
                         count(step.pending), units(step.kind),
                         step.stoppedByBudget ? QStringLiteral(" (the rest in the next cycle)") : QString());
    }
    QString text;
    if (!parts.isEmpty())
        text = QStringLiteral("done ") + parts.join(QStringLiteral(", "));
    if (m_running)
        text += (text.isEmpty() ? QString() : QStringLiteral("; now ")) + currentText();
    return text;
}

bool CycleProgress::logDue()
{
    const qint64 at = now();
    if (at - m_lastLogMs < kLogEveryMs)
        return false;
    m_lastLogMs = at;
    return true;
}

QString CycleProgress::span(qint64 milliseconds)
{
    const qint64 minutes = (milliseconds + 30000) / 60000;
    if (minutes < 1)
        return QStringLiteral("less than a minute");
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString CycleProgress::duration(qint64 milliseconds)
{
    return milliseconds < 30000 ? span(milliseconds) : QStringLiteral("about ") + span(milliseconds);
}

void CycleProgress::report()
{
    m_lastReportMs = now();
    if (m_reporter)
        m_reporter(*this);
}
