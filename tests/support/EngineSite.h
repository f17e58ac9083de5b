#pragma once

#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "doubles/FakeHost.h"
#include "doubles/FakeZones.h"
#include "doubles/MockClock.h"
#include "support/CribFixture.h"

#include <memory>

/// One crib computer's synchronisation engine in this process on the crib databases, with a
/// cycle log file and every statement traced. The test's own connections are traced under
/// "seed", apart from the engine's "local" and "remote". On the crib schema the local Company
/// names the remote database and the computer is registered already; the demo pair is left as
/// it is.
class EngineSite : public CribFixture
{
public:
    explicit EngineSite(const Options& options = {});

    /// The start-up settings of a computer whose databases are this fixture's.
    AgentSettings settings() const;
    /// Runs the engine's start-up; false when it did not connect.
    bool start();
    /// One cycle; returns whether it completed without a caught failure.
    bool cycle();

    QString logText() const;

    FakeHost host;
    MockClock clock{QTimeZone::utc(), QDateTime(QDate(2026, 12, 8), QTime(17, 30), Qt::UTC)};
    FakeZones zones;
    std::unique_ptr<CycleLog> log;
    std::unique_ptr<SyncEngine> engine;
    bool firstTick = true;
    int restarts = 0;
};
