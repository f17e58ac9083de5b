#pragma once

/// Counts, below every client layer, the SQLite connections opened and the statements they run,
/// split by database file: the agent's Qt driver and the raw loop share the process's SQLite
/// library, so both are counted the same way.
class SqliteCounter
{
public:
    struct Counts
    {
        long long localStatements = 0;
        long long remoteStatements = 0;
        int localOpens = 0;
        int remoteOpens = 0;
        // Rows stepped through by full table scans, and virtual machine steps: counts of work
        // that do not depend on the machine's load, so their growth with the backlog is exact.
        long long localScanSteps = 0;
        long long remoteScanSteps = 0;
        long long localVmSteps = 0;
        long long remoteVmSteps = 0;
    };

    /// Installs the hook for every connection opened from now on. `localFile` and `remoteFile`
    /// are the two databases' file names.
    static void install(const char* localFile, const char* remoteFile);
    static Counts counts();
};
