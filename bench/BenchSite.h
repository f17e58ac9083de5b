#pragma once

#include "BenchCase.h"

#include <QString>

/// A crib computer's local embedded database and the hosted remote one, side by side in one
/// folder, built with the agent's own schema plus a generic table and enough extra tables for
/// 60 synchronised tables. Seeding and checking go straight through SQLite, past the agent.
class BenchSite
{
public:
    static const QString& machineName();
    static const QString& localName();
    static const QString& remoteName();
    static QString localFile(const QString& folder);
    static QString remoteFile(const QString& folder);

    /// Tables that take part in the push (present on both sides, local copy with ASPProcessed).
    static constexpr int kSynchronisedTables = 60;
    /// Bins both sides share, each starting with kStartingStock on hand, which transactions move.
    static constexpr int kSharedBins = 100;
    static constexpr int kStartingStock = 1000;

    /// Creates both databases in `folder`, which must not hold them yet.
    static void create(const QString& folder);
    /// Adds `rows` pending rows or outbox orders for `benchCase`.
    static void seed(const QString& folder, BenchCase benchCase, int rows);
    /// Checks that the backlog seeded for `benchCase` arrived whole and was marked done; returns
    /// what is wrong, or nothing.
    static QString verify(const QString& folder, BenchCase benchCase, int rows);
    /// Synchronised tables the site has: those the agent's scan would push.
    static QStringList synchronisedTables(const QString& folder);
};
