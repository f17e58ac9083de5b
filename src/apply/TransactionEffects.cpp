#include "apply/TransactionEffects.h"

#include "model/TDM.h"
#include "step/CycleContext.h"
#include "step/EmployeeItems.h"
#include "step/StepFailure.h"

#include <limits>
#include <stdexcept>

namespace {

const QString kTable = QStringLiteral("MyTran");

/// a + b, refused when the sum lies beyond the int range that quantities are kept in (its lowest
/// value too, so that the sum can be negated).
int checkedSum(int a, int b, const QString& what)
{
    const qint64 sum = qint64(a) + b;
    if (sum < -std::numeric_limits<int>::max() || sum > std::numeric_limits<int>::max())
        throw std::overflow_error(
            QStringLiteral("%1 %2 + %3 lies beyond the quantities' range").arg(what).arg(a).arg(b).toStdString());
    return int(sum);
}

} // namespace

bool TransactionEffects::ApplyTransactionEffects(const db::RowQuery& row, const QString& entryKey)
{
    TDM& dm = *m_context.dm;
    try {
        const QString bin = row.asString(QStringLiteral("Bin"));
        const QString crib = row.asString(QStringLiteral("Station"));
        const QString type = row.asString(QStringLiteral("Type"));
        const QString poNo = row.asString(QStringLiteral("PoNo"));
        const int q = row.asInt(QStringLiteral("Quantity"));
        const int b = row.asInt(QStringLiteral("BurnQty"));
        const int qb = checkedSum(q, b, QStringLiteral("Quantity and BurnQty"));

        dm.FindAccessBin.close();
        dm.FindAccessBin.setParameter(QStringLiteral("bin"), bin);
        dm.FindAccessBin.setParameter(QStringLiteral("crib"), crib);
        dm.FindAccessBin.open();
        if (dm.FindAccessBin.isEmpty())
            return true;

        static const QStringList onHandTypes = {"A", "AB", "B", "I", "P", "R", "RT", "RG", "GI", "GO", "RR", "T"};
        // The rows are tested one after the other; a type may match more than one.
        if (type == QLatin1String("PO")) {
            moveBin(bin, crib, 0, 0, qb);
            dm.updAccOnorder.execute();
        }
        if (type == QLatin1String("PE")) {
            moveBin(bin, crib, 0, 0, qb);
            dm.updAccOnorder.execute();
        }
        if (onHandTypes.contains(type)) {
            moveBin(bin, crib, q, b, 0);
            dm.updAccOnHand.execute();
            dm.updAccBurn.execute();
        }
        if (type == QLatin1String("S")) {
            moveBin(bin, crib, q, b, poNo.isEmpty() ? 0 : -qb);
            dm.updAccOnorder.execute();
        }
        return true;
    } catch (const std::exception& e) {
        StepFailure::report(m_context, QStringLiteral("apply"), kTable, entryKey, e, true);
        return false;
    }
}

void TransactionEffects::HoldBin(const db::RowQuery& row)
{
    moveBin(row.asString(QStringLiteral("Bin")), row.asString(QStringLiteral("Station")), 0, 0, 0);
}

void TransactionEffects::moveBin(const QString& bin, const QString& crib, int onHand, int burn, int onOrder)
{
    TDM& dm = *m_context.dm;
    dm.updAccessBin.setParameter(QStringLiteral("onhand"), onHand);
    dm.updAccessBin.setParameter(QStringLiteral("burn"), burn);
    dm.updAccessBin.setParameter(QStringLiteral("onorder"), onOrder);
    dm.updAccessBin.setParameter(QStringLiteral("bin"), bin);
    dm.updAccessBin.setParameter(QStringLiteral("crib"), crib);
    dm.updAccessBin.execute();
    for (db::Command* clamp : {&dm.updAccOnHand, &dm.updAccBurn, &dm.updAccOnorder}) {
        clamp->setParameter(QStringLiteral("bin"), bin);
        clamp->setParameter(QStringLiteral("crib"), crib);
    }
}

void TransactionEffects::UpdateEmployeeItems(const db::RowQuery& row, const QString& entryKey)
{
    TDM& dm = *m_context.dm;
    QString emp;
    try {
        const QString type = row.asString(QStringLiteral("Type"));
        if (type != QLatin1String("B") && type != QLatin1String("I"))
            return;
        const QString crib = row.asString(QStringLiteral("Station"));
        emp = row.asString(QStringLiteral("Emp"));
        const QString item = row.asString(QStringLiteral("Item"));
        const int quantity = checkedSum(row.asInt(QStringLiteral("Quantity")), row.asInt(QStringLiteral("BurnQty")),
            QStringLiteral("Quantity and BurnQty"));
        dm.qryFindStation.close();
        dm.qryFindStation.setParameter(QStringLiteral("crib"), crib);
        dm.qryFindStation.open();
        if (dm.qryFindStation.isEmpty() || !dm.qryFindStation.asBool(QStringLiteral("LimitAccess")))
            return;
        dm.qryFindEmp.close();
        dm.qryFindEmp.setParameter(QStringLiteral("emp"), emp);
        dm.qryFindEmp.open();
        if (!dm.qryFindEmp.isEmpty()) {
            EmployeeItems items(dm.qryFindEmp.asString(QStringLiteral("Items")));
            // Only a list that holds the item is written back: the others stay as they are.
            if (items.FindEmployeeItem(item)) {
                items.SetFoundItemQuantity(
                    checkedSum(items.FoundItemQuantity(), quantity, QStringLiteral("The item's quantity")));
                dm.qryUpdEmp.setParameter(QStringLiteral("Items"), items.text());
                dm.qryUpdEmp.setParameter(QStringLiteral("emp"), emp);
                dm.qryUpdEmp.execute();
            }
        }
        dm.qryFindEmp.close();
    } catch (const std::exception& e) {
        dm.qryFindEmp.close();
        StepFailure::refuse(m_context, QStringLiteral("apply"), kTable, entryKey,
            QStringLiteral("The item list of employee '%1' is left as it was: %2")
                .arg(emp, QString::fromUtf8(e.what())));
    }
}

bool TransactionEffects::RenameItemInLocalEmployees(const QString& oldItem, const QString& newItem)
{
    db::RowQuery& employees = m_context.dm->qryEmp;
    try {
        EmployeeItems::RenameInEveryList(employees, oldItem, newItem, true, Failpoint::Point::ApplyEmployeeRenamed,
            [&](const QString& employee, const std::exception& e) {
                StepFailure::report(m_context, QStringLiteral("apply"), QStringLiteral("Emp"),
                    employee + QStringLiteral(": ") + oldItem + QStringLiteral(" -> ") + newItem, e, false);
            });
        return true;
    } catch (const std::exception& e) {
        employees.cancel();
        StepFailure::report(m_context, QStringLiteral("apply"), QStringLiteral("Emp"),
            oldItem + QStringLiteral(" -> ") + newItem, e, false);
        return false;
    }
}
