#pragma once

#include <QString>

/// The size a reliability suite runs at: reduced (CRIBSYNC_SIZE unset or "reduced", what CI
/// runs) or full (CRIBSYNC_SIZE=full).
namespace ReliabilitySize {

inline bool full()
{
    return qEnvironmentVariable("CRIBSYNC_SIZE") == QLatin1String("full");
}

/// `reduced` in the reduced form, `fullValue` in the full form.
template <typename T> T pick(T reduced, T fullValue)
{
    return full() ? fullValue : reduced;
}

} // namespace ReliabilitySize
