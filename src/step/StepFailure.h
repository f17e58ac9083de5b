#pragma once

#include <QString>
#include <exception>

struct CycleContext;

/// Reports a failure that a push or apply step caught to the cycle's events.
class StepFailure
{
public:
    /// Reports `error` for the cycle log and then, with `recover`, calls the common handler.
    static void report(CycleContext& context, const QString& step, const QString& table, const QString& key,
        const std::exception& error, bool recover);
    /// Reports a refusal without an engine failure behind it, for the cycle log.
    static void refuse(
        CycleContext& context, const QString& step, const QString& table, const QString& key, const QString& message);
    /// The engine's own text of a client-layer failure, or the text of any other.
    static QString messageOf(const std::exception& error);
};
