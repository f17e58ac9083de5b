#pragma once

#include <QStringList>

class StartupStatements;

/// Brings the local database to the shape the synchronisation needs, and trims the table lists.
class LocalSchema
{
public:
    /// The local tables that are never synchronised, in the order they are removed.
    static const QStringList& ExcludedLocalTables();

    /// The T-SQL definitions of the local outbox procedure and the RoboMinMax delete trigger.
    static QString localSyncOutBoxText();
    static QString delRoboMinMaxText();
    /// Registers the embedded engine's equivalents of both definitions.
    static void registerEmbeddedEquivalents();

    /// Adds DeleteHst.Key3 when it is missing and, with that upgrade only, replaces the local
    /// procedure and trigger. Failures reach the caller.
    static void checkLocalSchema(StartupStatements& statements);
    /// Executes both definitions on the local database, procedure first.
    static void CreateLocalSyncObjects(StartupStatements& statements);

    /// Removes the excluded names from the local list (ignoring case) and creates the remote
    /// transaction procedure when the remote procedure list lacks "sp_CorvaneTran;1".
    static void PrepareTableLists(
        QStringList& localTables, const QStringList& remoteProcedures, StartupStatements& statements);
};
