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
};

QString caseName(BenchCase benchCase);
std::optional<BenchCase> caseFromName(const QString& name);
/// The cases whose throughput is compared with a raw loop.
QList<BenchCase> throughputCases();
bool isPush(BenchCase benchCase);
/// The cases with pending rows and outbox orders both ways (generic rows and their copies).
bool isBothWays(BenchCase benchCase);
