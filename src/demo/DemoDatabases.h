#pragma once

#include <QString>

/// A realistic pair of embedded crib databases for the demo and the end-to-end tests: the local
/// database of one crib computer and the hosted remote copy, in step except for pending local
/// changes (rows, transactions, deletions and renames) and remote outbox orders of every kind
/// addressed to that computer.
class DemoDatabases
{
public:
    static QString localName() { return QStringLiteral("CribLocal"); }
    static QString remoteName() { return QStringLiteral("CribRemote"); }

    /// Creates both databases in `folder` for the computer `machineName`. The local `Company`
    /// row carries the remote catalog, login and password already encoded as the agent stores
    /// them. Throws db::DbError when a database already exists there.
    static void create(const QString& folder, const QString& machineName, const QString& encodedCatalog,
        const QString& encodedLogin, const QString& encodedPassword);
};
