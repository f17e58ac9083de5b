#pragma once

/// What the remote schema offers, as the version probe found it. All false until a probe ran.
struct VersionFlags
{
    bool ProcHasComputerName = false;
    bool ProcHasDiscrepantQty = false;
    bool IssueHasComputerName = false;
};
