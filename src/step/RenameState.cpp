#include "step/RenameState.h"

#include "db/RowQuery.h"

namespace {

/// Whether no row of `table` meets `oldCondition` while one meets `newCondition`; the conditions'
/// placeholders take `values`.
bool movedTo(const db::Database& database, const QString& table, const QString& oldCondition,
    const QString& newCondition, const QList<QPair<QString, QVariant>>& values)
{
    const QString count = QStringLiteral("(Select count(*) from ") + table + QStringLiteral(" where ");
    try {
        db::RowQuery keys(QStringLiteral("renameState"));
        keys.setDatabase(database);
        keys.setSql(QStringLiteral("Select ") + count + oldCondition + QStringLiteral(") as OldRows, ") + count
            + newCondition + QStringLiteral(") as NewRows"));
        for (const auto& [name, value] : values)
            keys.setParameter(name, value);
        keys.open();
        return keys.asInt(QStringLiteral("OldRows")) == 0 && keys.asInt(QStringLiteral("NewRows")) > 0;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool RenameState::binRenamed(
    const db::Database& database, const QString& station, const QString& oldBin, const QString& newBin)
{
    return movedTo(database, QStringLiteral("Bin"), QStringLiteral("Station = :station AND MyNo = :old"),
        QStringLiteral("Station = :station AND MyNo = :new"),
        {{QStringLiteral("station"), station}, {QStringLiteral("old"), oldBin}, {QStringLiteral("new"), newBin}});
}

bool RenameState::itemRenamed(const db::Database& database, const QString& oldItem, const QString& newItem)
{
    return movedTo(database, QStringLiteral("Item"), QStringLiteral("MyNo = :old"), QStringLiteral("MyNo = :new"),
        {{QStringLiteral("old"), oldItem}, {QStringLiteral("new"), newItem}});
}
