#pragma once

#include <QString>
#include <exception>

struct CycleContext;

/// Reports a failure that an apply step caught to the cycle's events.
class ApplyFailure
{
public:
    /// Reports `error` for the cycle log, and only then, with `recover`, calls the common handler.
    static void report(CycleContext& context, const QString& step, const QString& table, const QString& key,
        const std::exception& error, bool recover);
    /// Reports a refusal of the apply itself (no engine failure) for the cycle log.
    static void refuse(
        CycleContext& context, const QString& step, const QString& table, const QString& key, const QString& message);
};
