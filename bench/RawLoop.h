#pragma once

#include "BenchCase.h"
#include "Measure.h"

/// The reference for a throughput case: the same per-row statements as the agent sends (probe,
/// write, mark; for transactions the work of the remote procedure), each prepared once through
/// SQLite's C interface and each committed on its own, with nothing else around them.
RunReport runRawLoop(const QString& folder, BenchCase benchCase);

/// Runs the idle cycle's statements `cycles` times through raw SQLite; returns the seconds per cycle.
double rawIdleCycles(const QString& folder, int cycles);
