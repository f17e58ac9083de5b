#include "support/CycleFixture.h"

#include "db/ConnectionPool.h"

CycleFixture::CycleFixture(const Options& options)
    : CribFixture(options)
{
    context.dm = &dm;
    context.statements = &statements;
    context.events = &events;
    context.settings.machineName = machineName;
    prepare();
    clearTrace();
}

void CycleFixture::prepare()
{
    db::ConnectionPool::instance().forgetLayouts();
    local.forgetLayouts();
    dm.DataModuleCreate(remoteConnectionString, context.flags);
    statements.PrepareCycleStatements(dm, context.settings.machineName);
}
