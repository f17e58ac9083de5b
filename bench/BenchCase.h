#pragma once

#include <QString>
#include <QStringList>
#include <optional>

/// What one measurement works on. The push cases start with pending local rows, the apply cases
/// with outbox orders addressed to the bench computer.
enum class BenchCase {
    PushGeneric, // a table without rules of its own, keyed by its second column
    PushBin,
    PushIssue,
    PushMyTran, // transactions through the remote procedure
    ApplyCopies, // record copies of the generic table
    ApplyTransactions, // copied transactions that move local stock
    Idle, // nothing pending in 60 synchronised tables
    Connections, // a backlog both ways, counted for connections
    Wan, // a backlog both ways with a fixed delay on every remote statement
    IdleOdbc, // the idle cycle with the local database reached through the SQLite ODBC driver
    FirstSync, // a crib never synchronised: transactions, items and bins pending, and an outbox
};

QString caseName(BenchCase benchCase);
std::optional<BenchCase> caseFromName(const QString& name);
/// The cases whose throughput is compared with a raw loop.
QList<BenchCase> throughputCases();
bool isPush(BenchCase benchCase);
/// The cases with pending rows and outbox orders both ways (generic rows and their copies).
bool isBothWays(BenchCase benchCase);

/// What the first synchronisation of a crib of `transactions` pending transactions holds besides
/// them: a tenth as many pending items, a fiftieth as many pending bins and a tenth as many outbox
/// orders (copies of hosted items); at full size 1,000,000, 100,000, 20,000 and 100,000.
struct FirstSyncBacklog
{
    int transactions = 0;
    int items = 0;
    int bins = 0;
    int orders = 0;

    static FirstSyncBacklog of(int transactions)
    {
        return {transactions, transactions / 10, transactions / 50, transactions / 10};
    }
};

/// The kinds of work of the first synchronisation, each timed and counted on its own.
enum class FirstSyncKind { Bins, Items, Transactions, Orders };
QList<FirstSyncKind> firstSyncKinds();
QString kindName(FirstSyncKind kind);
int rowsOf(const FirstSyncBacklog& backlog, FirstSyncKind kind);
