#include "db/Failpoint.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

struct Entry
{
    Failpoint::Point point;
    const char* name;
    const char* description;
};

constexpr Entry kEntries[] = {
    {Failpoint::Point::PushRowWritten, "push.row.written",
        "a local row is written to the remote table and not yet marked sent"},
    {Failpoint::Point::PushTransactionSent, "push.transaction.sent",
        "sp_CorvaneTran has stored a local transaction, which is not yet marked sent"},
    {Failpoint::Point::HistoryBinRecorded, "history.bin.recorded",
        "a bin deletion is recorded in the remote DeleteHst, the remote bin is not yet deleted (one remote "
        "database transaction: a power cut undoes both)"},
    {Failpoint::Point::HistoryItemRenamed, "history.item.renamed",
        "an item is renamed remotely, the remote employees' item lists not yet"},
    {Failpoint::Point::HistoryEmployeeRenamed, "history.employee.renamed",
        "one remote employee's item list carries the new item number, the next ones not yet"},
    {Failpoint::Point::HistoryReplayed, "history.replayed",
        "a delete history row is carried out remotely and not yet marked sent"},
    {Failpoint::Point::ApplyTransactionMoved, "apply.transaction.moved",
        "a remote transaction has moved the local stock, its row is not yet inserted (one local database "
        "transaction: a power cut undoes both)"},
    {Failpoint::Point::ApplyItemRenamed, "apply.item.renamed",
        "an item is renamed locally, the local employees' item lists not yet"},
    {Failpoint::Point::ApplyEmployeeRenamed, "apply.employee.renamed",
        "one local employee's item list carries the new item number, the next ones not yet"},
    {Failpoint::Point::ApplyWritten, "apply.written",
        "an outbox order's local work is written (record copy, transaction, rename, item list), its remote "
        "source row is not yet marked"},
    {Failpoint::Point::ApplySourceMarked, "apply.source.marked",
        "an outbox order's source row is marked processed, the order itself not yet"},
    {Failpoint::Point::ApplyDeleted, "apply.deleted",
        "an outbox order has deleted its local row and is not yet marked processed"},
};

constexpr int kCount = int(sizeof(kEntries) / sizeof(kEntries[0]));

const Entry& entryOf(Failpoint::Point point)
{
    for (const Entry& e : kEntries) {
        if (e.point == point)
            return e;
    }
    return kEntries[0];
}

struct Armed
{
    bool trace = false;
    int point = -1;
    int hit = 1;
    std::array<int, kCount> reached{};
    std::function<void(Failpoint::Point)> hook;
};

Armed& armed()
{
    static Armed a = [] {
        Armed result;
        const QString setting = qEnvironmentVariable(Failpoint::EnvironmentVariable).trimmed();
        if (setting.isEmpty())
            return result;
        if (setting == QLatin1String("trace")) {
            result.trace = true;
            return result;
        }
        const QString name = setting.section(QLatin1Char(':'), 0, 0);
        const QString hit = setting.section(QLatin1Char(':'), 1);
        bool validHit = true;
        if (!hit.isEmpty())
            result.hit = hit.toInt(&validHit);
        for (int i = 0; i < kCount; ++i) {
            if (name == QLatin1String(kEntries[i].name))
                result.point = i;
        }
        // An operator's typing mistake must not pass for a run that never reached the point.
        if (result.point < 0 || !validHit || result.hit < 1)
            std::fprintf(stderr, "%s=%s names no failpoint and hit (see --list-failpoints)\n",
                Failpoint::EnvironmentVariable, qPrintable(setting));
        return result;
    }();
    return a;
}

} // namespace

bool Failpoint::s_active = qEnvironmentVariableIsSet(Failpoint::EnvironmentVariable);

QString Failpoint::name(Point point)
{
    return QLatin1String(entryOf(point).name);
}

QString Failpoint::description(Point point)
{
    return QLatin1String(entryOf(point).description);
}

QList<Failpoint::Point> Failpoint::all()
{
    QList<Point> points;
    for (const Entry& e : kEntries)
        points << e.point;
    return points;
}

Failpoint::Hook::Hook(std::function<void(Point)> hook)
{
    setHook(std::move(hook));
}

Failpoint::Hook::~Hook()
{
    setHook({});
}

void Failpoint::setHook(std::function<void(Point)> hook)
{
    armed().hook = std::move(hook);
    s_active = armed().hook || qEnvironmentVariableIsSet(EnvironmentVariable);
}

void Failpoint::reached(Point point)
{
    Armed& a = armed();
    if (a.hook)
        a.hook(point);
    int index = 0;
    while (index < kCount && kEntries[index].point != point)
        ++index;
    if (index == kCount)
        return;
    const int hit = ++a.reached[index];
    if (a.trace) {
        std::fprintf(stderr, "failpoint %s reached (hit %d)\n", kEntries[index].name, hit);
        std::fflush(stderr);
    }
    if (index == a.point && hit == a.hit) {
        std::fprintf(stderr, "failpoint %s: hit %d, the process ends here\n", kEntries[index].name, hit);
        std::fflush(stderr);
        std::_Exit(ExitStatus);
    }
}
