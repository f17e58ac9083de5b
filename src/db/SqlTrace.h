#pragma once

#include <QString>

namespace db {

/// Opt-in trace of every statement text as the agent issued it, before any engine adaptation.
/// Enabled by the environment variable CRIBSYNC_SQL_TRACE naming the file to append to.
class SqlTrace
{
public:
    static bool enabled();
    /// Appends one record: the target ("local" or "remote") and the text.
    static void record(const QString& target, const QString& text);
    /// Re-reads CRIBSYNC_SQL_TRACE; tests change it between cases.
    static void reload();
};

} // namespace db
