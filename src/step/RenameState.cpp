#include "step/RenameState.h"

#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"

namespace {

/// Whether no row of `table` meets `oldCondition` while one meets `newCondition`.
bool movedTo(
    const db::Database& database, const QString& table, const QString& oldCondition, const QString& newCondition)
{
    const QString count = QStringLiteral("(Select count(*) from ") + table + QStringLiteral(" where ");
    try {
        db::RowQuery keys(QStringLiteral("renameState"));
        keys.setDatabase(database);
        keys.setSql(QStringLiteral("Select ") + count + oldCondition + QStringLiteral(") as OldRows, ") + count
            + newCondition + QStringLiteral(") as NewRows"));
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
    const QString atStation
        = QStringLiteral("Station = ") + db::quotedLiteral(station) + QStringLiteral(" AND MyNo = ");
    return movedTo(
        database, QStringLiteral("Bin"), atStation + db::quotedLiteral(oldBin), atStation + db::quotedLiteral(newBin));
}

bool RenameState::itemRenamed(const db::Database& database, const QString& oldItem, const QString& newItem)
{
    return movedTo(database, QStringLiteral("Item"), QStringLiteral("MyNo = ") + db::quotedLiteral(oldItem),
        QStringLiteral("MyNo = ") + db::quotedLiteral(newItem));
}
