#include "step/StepFailure.h"

#include "db/DbError.h"
#include "step/CycleContext.h"

void StepFailure::report(CycleContext& context, const QString& step, const QString& table, const QString& key,
    const std::exception& error, bool recover)
{
    refuse(context, step, table, key, messageOf(error));
    if (recover)
        context.events->RecoverFromCycleError();
}

void StepFailure::refuse(
    CycleContext& context, const QString& step, const QString& table, const QString& key, const QString& message)
{
    context.events->failureCaught(CycleFailure{step, table, key, message});
}

QString StepFailure::messageOf(const std::exception& error)
{
    const auto* dbError = dynamic_cast<const db::DbError*>(&error);
    return dbError ? dbError->message() : QString::fromLocal8Bit(error.what());
}
