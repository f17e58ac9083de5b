#pragma once

#include <QString>

/// The settings a start-up reads, from which it connects the databases and the cycle runs. Read
/// afresh at every start-up; the cycle does not read the store.
struct AgentSettings
{
    /// Never below 30.
    int syncIntervalSeconds = 30;
    /// "1": an employee record is copied with its `Cribs` column only.
    QString excludeCrib = QStringLiteral("0");
    /// Seconds one table's push, and the outbox, may take in a cycle; 0: no limit.
    int timeBudgetSeconds = 120;
    QString localServer;
    QString localDatabase;
    QString localLogin;
    QString localPassword; // decoded
    bool useWindowsAuth = false;
    QString remoteAddress;
    QString remotePort;
    /// This computer's network name, or the name it was given instead.
    QString machineName;
};
