#include "BenchCase.h"

namespace {

struct Named
{
    BenchCase benchCase;
    const char* name;
};

constexpr Named kNames[] = {
    {BenchCase::PushGeneric, "push-generic"},
    {BenchCase::PushBin, "push-bin"},
    {BenchCase::PushIssue, "push-issue"},
    {BenchCase::PushMyTran, "push-mytran"},
    {BenchCase::ApplyCopies, "apply-copies"},
    {BenchCase::ApplyTransactions, "apply-transactions"},
    {BenchCase::Idle, "idle"},
    {BenchCase::Connections, "connections"},
    {BenchCase::Wan, "wan"},
    {BenchCase::IdleOdbc, "idle-odbc"},
    {BenchCase::FirstSync, "first-sync"},
};

} // namespace

QString caseName(BenchCase benchCase)
{
    for (const Named& n : kNames) {
        if (n.benchCase == benchCase)
            return QLatin1String(n.name);
    }
    return {};
}

std::optional<BenchCase> caseFromName(const QString& name)
{
    for (const Named& n : kNames) {
        if (name == QLatin1String(n.name))
            return n.benchCase;
    }
    return std::nullopt;
}

QList<BenchCase> throughputCases()
{
    return {BenchCase::PushGeneric, BenchCase::PushBin, BenchCase::PushIssue, BenchCase::PushMyTran,
        BenchCase::ApplyCopies, BenchCase::ApplyTransactions};
}

bool isPush(BenchCase benchCase)
{
    return benchCase == BenchCase::PushGeneric || benchCase == BenchCase::PushBin || benchCase == BenchCase::PushIssue
        || benchCase == BenchCase::PushMyTran;
}

bool isBothWays(BenchCase benchCase)
{
    return benchCase == BenchCase::Connections || benchCase == BenchCase::Wan;
}

QList<FirstSyncKind> firstSyncKinds()
{
    return {FirstSyncKind::Bins, FirstSyncKind::Items, FirstSyncKind::Transactions, FirstSyncKind::Orders};
}

QString kindName(FirstSyncKind kind)
{
    switch (kind) {
    case FirstSyncKind::Bins:
        return QStringLiteral("bins");
    case FirstSyncKind::Items:
        return QStringLiteral("items");
    case FirstSyncKind::Transactions:
        return QStringLiteral("transactions");
    case FirstSyncKind::Orders:
        return QStringLiteral("orders");
    }
    return {};
}

int rowsOf(const FirstSyncBacklog& backlog, FirstSyncKind kind)
{
    switch (kind) {
    case FirstSyncKind::Bins:
        return backlog.bins;
    case FirstSyncKind::Items:
        return backlog.items;
    case FirstSyncKind::Transactions:
        return backlog.transactions;
    case FirstSyncKind::Orders:
        return backlog.orders;
    }
    return 0;
}
