#include "support/EngineSite.h"

#include "config/Credential.h"

#include <QFile>

namespace {

CribFixture::Options withSeedTrace(CribFixture::Options options)
{
    options.trace = true;
    options.ownTraceName = QStringLiteral("seed");
    return options;
}

} // namespace

EngineSite::EngineSite(const Options& options)
    : CribFixture(withSeedTrace(options))
{
    if (options.databases == Databases::Schema) {
        local.execute(QStringLiteral("INSERT INTO Company (Name, ASPDataBaseName, ASPLoginName, ASPPassword, "
                                     "ASPProcessed) VALUES ('Works', :v, :v1, :v2, 1)"),
            bind({EncodeCredential(remoteName), EncodeCredential(QStringLiteral("crib")),
                EncodeCredential(QStringLiteral("pw"))}));
        remote.execute(QStringLiteral("INSERT INTO Company (Name, Processed) VALUES ('Works', 1)"));
        remote.execute(
            QStringLiteral("INSERT INTO Control (ComputerName, Synch, Port) VALUES (:v, 1, 1)"), bind({machineName}));
    }
    log = std::make_unique<CycleLog>(dir.filePath(QStringLiteral("cribsync.log")), &clock);
    engine = std::make_unique<SyncEngine>(&host, &clock, &zones, log.get());
    host.watch(*engine);
    engine->setTimerControl([] {}, [this] { ++restarts; });
}

AgentSettings EngineSite::settings() const
{
    AgentSettings s;
    s.useWindowsAuth = true;
    s.localServer = QStringLiteral("sqlite:") + dir.path();
    s.localDatabase = localName;
    s.remoteAddress = QStringLiteral("sqlite:") + dir.path();
    s.remotePort = QStringLiteral("1433");
    s.machineName = machineName;
    return s;
}

bool EngineSite::start()
{
    AgentSettings s = settings();
    if (engine->connectDatabases(s) != SyncEngine::StartupOutcome::Connected)
        return false;
    engine->DataModuleCreate();
    return true;
}

bool EngineSite::cycle()
{
    return engine->runCycle(firstTick);
}

QString EngineSite::logText() const
{
    QFile file(dir.filePath(QStringLiteral("cribsync.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}
