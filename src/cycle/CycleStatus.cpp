#include "cycle/CycleStatus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>

namespace {

const QString kFileName = QStringLiteral("cribsync-status.json");
// A status file is a few hundred kB at most; anything far larger is not one.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

QString utcText(const QDateTime& utc)
{
    return utc.isValid() ? utc.toUTC().toString(Qt::ISODate) : QString();
}

QDateTime utcOf(const QJsonValue& value)
{
    QDateTime utc = QDateTime::fromString(value.toString(), Qt::ISODate);
    return utc.isValid() ? utc.toUTC() : QDateTime();
}

bool older(const CycleStatus::Refusal& a, const CycleStatus::Refusal& b)
{
    if (a.first != b.first)
        return a.first < b.first;
    return a.what() < b.what();
}

} // namespace

QString CycleStatus::Refusal::what() const
{
    // The apply's steps name an outbox entry by its RecordID.
    if (step == QLatin1String("outbox") || step == QLatin1String("apply") || step == QLatin1String("delete"))
        return table.isEmpty() ? QStringLiteral("Outbox entry %1").arg(key)
                               : QStringLiteral("Outbox entry %1 (%2)").arg(key, table);
    if (key.contains(QLatin1Char('=')))
        return table + QLatin1Char(' ') + key;
    return QStringLiteral("%1 RecordID %2").arg(table, key);
}

QString CycleStatus::pathBesideLog(const QString& logPath)
{
    return QFileInfo(logPath).absoluteDir().filePath(kFileName);
}

CycleStatus::CycleStatus(const QString& path)
    : m_path(path)
{
    if (!m_path.isEmpty())
        read();
}

QString CycleStatus::identity(const QString& step, const QString& table, const QString& key)
{
    return step + QLatin1Char('|') + table.toUpper() + QLatin1Char('|') + key;
}

void CycleStatus::cycleStarted()
{
    m_refusedThisCycle.clear();
}

int CycleStatus::refused(const CycleFailure& failure, const QDateTime& utc)
{
    if (failure.key.isEmpty())
        return 1;
    const QString id = identity(failure.step, failure.table, failure.key);
    auto it = m_refusals.find(id);
    if (it == m_refusals.end()) {
        if (m_refusals.size() >= FollowedRefusals)
            return 1;
        it = m_refusals.insert(id, Refusal{failure.step, failure.table, failure.key, {}, utc, utc, 0});
    }
    // Refused twice in one cycle still counts as one cycle.
    if (!m_refusedThisCycle.contains(id)) {
        m_refusedThisCycle.insert(id);
        ++it->cycles;
    }
    it->message = failure.message.simplified();
    it->last = utc;
    return it->cycles;
}

bool CycleStatus::cycleFinished(bool completed, const QDateTime& utc)
{
    if (completed) {
        for (auto it = m_refusals.begin(); it != m_refusals.end();) {
            if (m_refusedThisCycle.contains(it.key()))
                ++it;
            else
                it = m_refusals.erase(it);
        }
        m_lastCompleted = utc;
    }
    m_refusedThisCycle.clear();
    return m_path.isEmpty() || write();
}

QList<CycleStatus::Refusal> CycleStatus::refusals() const
{
    QList<Refusal> list = m_refusals.values();
    std::sort(list.begin(), list.end(), older);
    return list;
}

QList<CycleStatus::Refusal> CycleStatus::stuck() const
{
    QList<Refusal> list;
    for (const Refusal& r : refusals()) {
        if (r.stuck())
            list << r;
    }
    return list;
}

QString CycleStatus::timeText(const QDateTime& when, const QTimeZone& zone, const QDateTime& nowUtc)
{
    const QDateTime local = when.toTimeZone(zone);
    const bool today = local.date() == nowUtc.toTimeZone(zone).date();
    return local.toString(today ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString CycleStatus::stuckText(const QTimeZone& zone, const QDateTime& nowUtc) const
{
    const QList<Refusal> list = stuck();
    if (list.isEmpty())
        return {};
    const Refusal& oldest = list.first();
    return QStringLiteral("%1 stuck: %2 refused since %3: %4")
        .arg(list.size())
        .arg(oldest.what(), timeText(oldest.first, zone, nowUtc), oldest.message);
}

void CycleStatus::read()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!QFileInfo(m_path).isFile() || file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly)) {
        m_readError = QStringLiteral("%1 cannot be read").arg(QDir::toNativeSeparators(m_path));
        return;
    }
    QJsonParseError parsed;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parsed);
    if (!document.isObject()) {
        m_readError
            = QStringLiteral("%1 is no status file: %2").arg(QDir::toNativeSeparators(m_path), parsed.errorString());
        return;
    }
    const QJsonObject root = document.object();
    m_lastCompleted = utcOf(root.value(QStringLiteral("lastCompletedCycle")));
    m_unlisted = root.value(QStringLiteral("unlisted")).toInt();
    for (const QJsonValue& value : root.value(QStringLiteral("refusals")).toArray()) {
        const QJsonObject o = value.toObject();
        Refusal r{o.value(QStringLiteral("step")).toString(), o.value(QStringLiteral("table")).toString(),
            o.value(QStringLiteral("key")).toString(), o.value(QStringLiteral("reason")).toString(),
            utcOf(o.value(QStringLiteral("firstRefused"))), utcOf(o.value(QStringLiteral("lastRefused"))),
            o.value(QStringLiteral("cycles")).toInt()};
        if (!r.key.isEmpty() && r.cycles > 0 && m_refusals.size() < FollowedRefusals)
            m_refusals.insert(identity(r.step, r.table, r.key), r);
    }
}

bool CycleStatus::write()
{
    const QList<Refusal> list = refusals();
    QJsonArray listed;
    for (const Refusal& r : list) {
        if (listed.size() >= ListedRefusals)
            break;
        listed.append(QJsonObject{{QStringLiteral("step"), r.step}, {QStringLiteral("table"), r.table},
            {QStringLiteral("key"), r.key}, {QStringLiteral("what"), r.what()}, {QStringLiteral("reason"), r.message},
            {QStringLiteral("firstRefused"), utcText(r.first)}, {QStringLiteral("lastRefused"), utcText(r.last)},
            {QStringLiteral("cycles"), r.cycles}, {QStringLiteral("stuck"), r.stuck()}});
    }
    m_unlisted = int(list.size() - listed.size());
    const QJsonObject root{{QStringLiteral("lastCompletedCycle"), utcText(m_lastCompleted)},
        {QStringLiteral("stuckAfterCycles"), StuckAfterCycles}, {QStringLiteral("refusals"), listed},
        {QStringLiteral("unlisted"), m_unlisted}};
    // Written whole or not at all: a reader never sees half a file.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit()) {
        m_writeError = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_path), file.errorString());
        return false;
    }
    m_writeError.clear();
    return true;
}
