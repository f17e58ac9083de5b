#include "SqliteCounter.h"

#include <cstdint>
#include <sqlite3.h>
#include <string>

namespace {

enum Side { Other = 0, Local = 1, Remote = 2 };

struct State
{
    std::string localFile;
    std::string remoteFile;
    SqliteCounter::Counts counts;
};

State& state()
{
    static State s;
    return s;
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return !tail.empty() && text.size() >= tail.size()
        && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int onTrace(unsigned type, void* context, void* statement, void* detail)
{
    const auto side = static_cast<Side>(reinterpret_cast<std::uintptr_t>(context));
    SqliteCounter::Counts& counts = state().counts;
    if (type == SQLITE_TRACE_STMT) {
        // Statements of triggers are reported as comments: they belong to the statement that fired them.
        const char* text = static_cast<const char*>(detail);
        if (text && text[0] == '-' && text[1] == '-')
            return 0;
        if (side == Local)
            ++counts.localStatements;
        else if (side == Remote)
            ++counts.remoteStatements;
        return 0;
    }
    if (type == SQLITE_TRACE_PROFILE) {
        auto* stmt = static_cast<sqlite3_stmt*>(statement);
        const long long scans = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_FULLSCAN_STEP, 1);
        const long long steps = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_VM_STEP, 1);
        if (side == Local) {
            counts.localScanSteps += scans;
            counts.localVmSteps += steps;
        } else if (side == Remote) {
            counts.remoteScanSteps += scans;
            counts.remoteVmSteps += steps;
        }
    }
    return 0;
}

int onOpen(sqlite3* db, const char**, const sqlite3_api_routines*)
{
    const char* name = sqlite3_db_filename(db, "main");
    const std::string file = name ? name : "";
    State& s = state();
    Side side = Other;
    if (endsWith(file, s.localFile)) {
        side = Local;
        ++s.counts.localOpens;
    } else if (endsWith(file, s.remoteFile)) {
        side = Remote;
        ++s.counts.remoteOpens;
    }
    sqlite3_trace_v2(
        db, SQLITE_TRACE_STMT | SQLITE_TRACE_PROFILE, onTrace, reinterpret_cast<void*>(std::uintptr_t(side)));
    return SQLITE_OK;
}

} // namespace

void SqliteCounter::install(const char* localFile, const char* remoteFile)
{
    State& s = state();
    s.localFile = std::string("/") + localFile;
    s.remoteFile = std::string("/") + remoteFile;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(onOpen));
}

SqliteCounter::Counts SqliteCounter::counts()
{
    return state().counts;
}
