#pragma once

#include "BenchCase.h"
#include "Measure.h"

/// Runs the agent in this process on a seeded site: start-up as the program does it, then the
/// measured cycle (or, for the idle case, many idle cycles against probe-only cycles).
RunReport runAgent(const QString& folder, BenchCase benchCase, int rows);

/// The delay of every remote statement in the WAN case, as over a wide-area link.
constexpr int kWanDelayMs = 20;
