#pragma once

#include <QString>
#include <QStringList>
#include <functional>

/// Named points between a write and its marking, and between the statements of a step that
/// writes more than once, where the process can be made to end at once as a power cut would end
/// it. CRIBSYNC_FAILPOINT=<name>:<hit> ends the process with ExitStatus the <hit>-th time (1 when
/// left out) the named point is reached, without closing anything; CRIBSYNC_FAILPOINT=trace names
/// every point reached on standard error. Unset, a point costs one test of a flag read at start.
class Failpoint
{
public:
    enum class Point {
        PushRowWritten,
        PushTransactionSent,
        HistoryBinRecorded,
        HistoryItemRenamed,
        HistoryEmployeeRenamed,
        HistoryReplayed,
        ApplyTransactionMoved,
        ApplyItemRenamed,
        ApplyEmployeeRenamed,
        ApplyWritten,
        ApplySourceMarked,
        ApplyDeleted,
    };

    static constexpr int ExitStatus = 99;
    static constexpr const char* EnvironmentVariable = "CRIBSYNC_FAILPOINT";

    static void reach(Point point)
    {
        if (Q_UNLIKELY(s_active))
            reached(point);
    }

    static QString name(Point point);
    /// What has been written and what not yet when the point is reached.
    static QString description(Point point);
    static QList<Point> all();

    /// For tests in one process: runs a function at every point reached while it lives.
    class Hook
    {
    public:
        explicit Hook(std::function<void(Point)> hook);
        ~Hook();
        Hook(const Hook&) = delete;
        Hook& operator=(const Hook&) = delete;
    };

private:
    static void setHook(std::function<void(Point)> hook);
    static void reached(Point point);
    static bool s_active;
};
