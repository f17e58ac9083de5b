#include "push/TransactionPush.h"

#include "db/RowQuery.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"
#include "step/StepFailure.h"

namespace {

const QString kStep = QStringLiteral("transaction");
const QString kTable = QStringLiteral("MyTran");

/// Parameters 1 to 38, each taking the local column of its name.
constexpr const char* kColumns[] = {"TranNo", "MyDate", "MyTime", "Station", "Bin", "Type", "Item", "ItemType",
    "Quantity", "PackQty", "IssueCost", "UnitPrice", "UnitCost", "Emp", "Department", "Job", "Machine", "Reason",
    "Operation", "Supplier", "PoNo", "TagNo", "Comment", "Red", "Compleat", "BurnQty", "Lot", "SpotTranCode", "Serial",
    "CurOnHand", "CurBurn", "PickTicketNo", "PSlip", "CurOnHand2", "CurBurn2", "MAvgPrice", "MAvgCost", "AdjQty"};

QString keyOf(const db::RowQuery& transaction)
{
    return transaction.hasColumn(QStringLiteral("RecordID")) ? transaction.asString(QStringLiteral("RecordID"))
                                                             : QString();
}

} // namespace

bool TransactionPush::PushTransaction(const db::RowQuery& transaction, bool& errorFlag)
{
    errorFlag = false;
    QVariant returned;
    try {
        db::StoredProc& call = m_context.statements->updASPTran;
        call.setProcedureName(QStringLiteral("sp_CorvaneTran"));
        call.refreshParameters();
        const auto pass
            = [&](const QString& column) { call.setValue(QLatin1Char('@') + column, transaction.value(column)); };
        for (const char* column : kColumns) {
            const QString name = QLatin1String(column);
            if (name == QLatin1String("Emp") && transaction.value(name).isNull())
                call.setValue(QStringLiteral("@Emp"), QStringLiteral(""));
            else
                pass(name);
        }
        if (m_context.flags.ProcHasDiscrepantQty) {
            pass(QStringLiteral("DiscrepantQty"));
            pass(QStringLiteral("OGTranNo"));
        }
        if (m_context.flags.ProcHasComputerName)
            call.setValue(QStringLiteral("@ComputerName"), m_context.settings.machineName);
        pass(QStringLiteral("ExternalPO"));
        call.execute();
        returned = call.returnValue();
        bool isNumber = false;
        if (!returned.isNull() && returned.toLongLong(&isNumber) == 0 && isNumber)
            return true;
    } catch (const std::exception& e) {
        errorFlag = true;
        StepFailure::report(m_context, kStep, kTable, keyOf(transaction), e, false);
        return false;
    }
    StepFailure::refuse(m_context, kStep, kTable, keyOf(transaction),
        QStringLiteral("sp_CorvaneTran returned %1")
            .arg(returned.isNull() ? QStringLiteral("NULL") : db::valueText(returned)));
    return false;
}
