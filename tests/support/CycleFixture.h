#pragma once

#include "doubles/RecordingEvents.h"
#include "model/TDM.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"
#include "support/CribFixture.h"

/// The crib databases with the data module and the cycle's statements on them, and a cycle
/// context for `machineName` whose events are recorded: what a single step runs on.
class CycleFixture : public CribFixture
{
public:
    explicit CycleFixture(const Options& options);

    /// Runs the data module set-up and the cycle preparation again (after changing the remote).
    void prepare();

    TDM dm{&local};
    CycleStatements statements;
    RecordingEvents events;
    CycleContext context;
};
