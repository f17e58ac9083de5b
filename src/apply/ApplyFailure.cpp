#include "apply/ApplyFailure.h"

#include "cycle/CycleContext.h"
#include "db/DbError.h"

void ApplyFailure::report(CycleContext& context, const QString& step, const QString& table, const QString& key,
    const std::exception& error, bool recover)
{
    const auto* dbError = dynamic_cast<const db::DbError*>(&error);
    refuse(context, step, table, key, dbError ? dbError->message() : QString::fromLocal8Bit(error.what()));
    if (recover)
        context.events->RecoverFromCycleError();
}

void ApplyFailure::refuse(
    CycleContext& context, const QString& step, const QString& table, const QString& key, const QString& message)
{
    context.events->failureCaught(CycleFailure{step, table, key, message});
}
