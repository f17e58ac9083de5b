#include "push/DeletePropagation.h"

#include "db/Connection.h"
#include "db/Failpoint.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "model/Statements.h"
#include "model/TDM.h"
#include "model/TableRules.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"
#include "step/EmployeeItems.h"
#include "step/RenameState.h"
#include "step/StepFailure.h"

#include <QDateTime>
#include <algorithm>

namespace {

const QString kStep = QStringLiteral("delete history");

bool named(const QString& table, const char* name)
{
    return table.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

/// The history row's keys for the cycle log, trailing empty keys left out.
QString historyKey(const QString& key1, const QString& key2, const QString& key3)
{
    QStringList keys{key1, key2, key3};
    while (!keys.isEmpty() && keys.last().isEmpty())
        keys.removeLast();
    return keys.join(QStringLiteral(", "));
}

/// The history's pages, in RecordID order, when the local DeleteHst has that column.
std::optional<PageTexts> historyPages(CycleContext& context)
{
    const QList<db::ColumnInfo> columns = context.dm->DeleteHst.database().run(
        [](db::Connection& c) { return c.columns(QStringLiteral("DeleteHst")); });
    const bool keyed = std::any_of(columns.cbegin(), columns.cend(),
        [](const db::ColumnInfo& c) { return c.name.compare(QLatin1String("RecordID"), Qt::CaseInsensitive) == 0; });
    if (!keyed)
        return std::nullopt;
    const QString top = QStringLiteral("Select TOP %1 * from DeleteHst").arg(context.pageRows);
    const QString pending = QStringLiteral("where  ASPProcessed= 0 and RecordID <= :Highest");
    PageTexts texts;
    texts.count
        = joinLines({"Select count(*) as Pending, max(RecordID) as Highest from DeleteHst", "where  ASPProcessed= 0"});
    texts.first = joinLines({top, pending, "Order By RecordID"});
    texts.after = joinLines({top, pending + QStringLiteral(" and RecordID > :Last"), "Order By RecordID"});
    texts.key = QStringLiteral("RecordID");
    return texts;
}

} // namespace

QString DeletePropagation::remoteSpelling(const QString& table) const
{
    // A database with a case-sensitive collation knows a table only as it spells it.
    for (const QString& remote : m_context.remoteTables) {
        if (db::sameIdentifier(remote, table))
            return remote;
    }
    return table;
}

void DeletePropagation::PropagateDeletes()
{
    db::RowQuery& history = m_context.dm->DeleteHst;
    CycleEvents& events = *m_context.events;
    QString table;
    QString key;
    try {
        history.close();
        PagedRows pages(history, historyPages(m_context), m_context.pageRows);
        pages.open();
        events.setProgressText(QStringLiteral("DeleteHst"));
        const int count = int(pages.total());
        events.setProgress(0, count);
        if (count > 0) {
            CycleProgress::Scope step(
                m_context.progress, CycleProgress::Kind::History, QStringLiteral("DeleteHst"), count);
            events.pumpEvents();
            history.first();
            int position = 0;
            while (!history.eof() || pages.nextPage()) {
                table.clear();
                key.clear();
                events.pumpEvents();
                ++position;
                events.setProgress(position, count);
                events.setProgressText(QStringLiteral("DeleteHst record ") + QString::number(position)
                    + QStringLiteral(" out of ") + QString::number(count));
                const QString computerName = history.hasColumn(QStringLiteral("ComputerName"))
                    ? history.asString(QStringLiteral("ComputerName"))
                    : QString();
                // NULL reads as empty text, which must reach a procedure parameter as such.
                const auto text = [&](const QString& column) {
                    const QString value = history.asString(column);
                    return value.isNull() ? QStringLiteral("") : value;
                };
                const QString key2 = text(QStringLiteral("Key2"));
                const QString key3 = text(QStringLiteral("Key3"));
                const QString key1 = text(QStringLiteral("Key1"));
                table = history.asString(QStringLiteral("TableName"));
                key = historyKey(key1, key2, key3);
                if (ReplayDeleteRecord(table, key1, key2, key3, computerName)) {
                    Failpoint::reach(Failpoint::Point::HistoryReplayed);
                    history.edit();
                    history.setValue(QStringLiteral("ASPProcessed"), true);
                    history.post();
                    events.workDone(QStringLiteral("history replayed"), table);
                }
                history.next();
                m_context.progress.rowDone();
                events.pumpEvents();
            }
        }
        events.setProgress(count, count);
    } catch (const std::exception& e) {
        history.cancel();
        StepFailure::report(m_context, kStep, table, key, e, true);
    }
}

bool DeletePropagation::ReplayDeleteRecord(const QString& tableName, const QString& key1, const QString& key2,
    const QString& key3, const QString& computerName)
{
    CycleEvents& events = *m_context.events;
    CycleStatements& cycle = *m_context.statements;
    const QString key = historyKey(key1, key2, key3);

    events.pumpEvents();
    if (TableRules::isPictureTable(tableName))
        return true;

    // A rename refused because it was carried out before (its mark was lost) is done: what is left
    // is the remote employees' lists of an item, and the mark.
    const db::Database remote = cycle.qryASPFindRec.database();
    events.pumpEvents();
    if (named(tableName, "BinC")) {
        try {
            db::Command& rename = cycle.updBinChange;
            rename.setParameter(QStringLiteral("Station"), key1);
            rename.setParameter(QStringLiteral("MyNo"), key2);
            rename.setParameter(QStringLiteral("NewBin"), key3);
            rename.setParameter(QStringLiteral("Contact"), QStringLiteral("LocalBinChange"));
            rename.execute();
            return true;
        } catch (const std::exception& e) {
            if (RenameState::binRenamed(remote, key1, key2, key3))
                return true;
            StepFailure::report(m_context, kStep, tableName, key, e, false);
            return false;
        }
    }

    events.pumpEvents();
    if (named(tableName, "ItemC")) {
        try {
            db::Command& rename = cycle.updItemChange;
            rename.setParameter(QStringLiteral("OldItem"), key1);
            rename.setParameter(QStringLiteral("NewItem"), key2);
            rename.setParameter(QStringLiteral("Contact"), QStringLiteral("LocalItemChange"));
            rename.execute();
            Failpoint::reach(Failpoint::Point::HistoryItemRenamed);
        } catch (const std::exception& e) {
            if (!RenameState::itemRenamed(remote, key1, key2)) {
                StepFailure::report(m_context, kStep, tableName, key, e, false);
                return false;
            }
        }
        return RenameItemInRemoteEmployees(key1, key2);
    }

    events.pumpEvents();
    if (tableName.isEmpty())
        return false;
    const QString table = remoteSpelling(TableRules::historyTable(tableName));

    db::RowQuery& probe = cycle.RemoteProbe;
    db::RowQuery& lookup = cycle.qryASPFindRec;
    try {
        probe.close();
        probe.setSql(QStringLiteral("Select top(1) * FROM ") + db::bracketed(table) + QStringLiteral("   "));
        probe.open();
        events.pumpEvents();
        lookup.close();
        lookupStatement(table, key1, key2, key3).applyTo(lookup);
        lookup.open();
    } catch (const std::exception& e) {
        StepFailure::report(m_context, kStep, tableName, key, e, true);
        return false;
    }

    try {
        if (!lookup.isEmpty()) {
            lookup.first();
            if (TableRules::of(table).historyRecordsDelete)
                deleteRemoteBin(key1, key2, key3, computerName, key);
            else
                lookup.deleteRow();
        }
    } catch (const std::exception& e) {
        lookup.cancel();
        StepFailure::report(m_context, kStep, tableName, key, e, true);
        return false;
    }
    return true;
}

RenderedStatement DeletePropagation::lookupStatement(
    const QString& table, const QString& key1, const QString& key2, const QString& key3) const
{
    const db::RowQuery& probe = m_context.statements->RemoteProbe;
    const QStringList keys{key1, key2, key3};
    StatementValues values;
    values.table = table;
    values.at = [&](int position) { return QVariant(keys.value(position - 1)); };
    values.column = [&](int position) { return probe.columnName(position); };
    values.kindOf = [&](const QString& column) { return probe.kindOf(column); };
    values.machineName = m_context.settings.machineName;
    values.issueHasComputerName = m_context.flags.IssueHasComputerName;
    values.emptyKeyIsNull = true;
    return TableRules::render(TableRules::choose(TableRules::of(table).historyLookup, keys), values);
}

void DeletePropagation::deleteRemoteBin(const QString& key1, const QString& key2, const QString& key3,
    const QString& computerName, const QString& historyKey)
{
    db::RowQuery& lookup = m_context.statements->qryASPFindRec;
    db::Command& insert = m_context.statements->insDelHist;
    // The record of the deletion and the deletion are one remote transaction: a history row
    // replayed after a cut between them must not record the deletion a second time.
    lookup.database().run([&](db::Connection& connection) {
        struct Restore
        {
            db::RowQuery& lookup;
            db::Command& insert;
            const db::Database lookupDatabase;
            const db::Database insertDatabase;
            ~Restore()
            {
                lookup.setDatabase(lookupDatabase);
                insert.setDatabase(insertDatabase);
            }
        } restore{lookup, insert, lookup.database(), insert.database()};
        const db::Database one = db::Database::fixed(&connection);
        lookup.setDatabase(one);
        insert.setDatabase(one);
        connection.beginTransaction();
        try {
            recordRemoteBinDelete(key1, key2, key3, computerName, historyKey);
            Failpoint::reach(Failpoint::Point::HistoryBinRecorded);
            lookup.deleteRow();
            connection.commit();
        } catch (const std::exception&) {
            connection.rollback();
            throw;
        }
    });
}

void DeletePropagation::recordRemoteBinDelete(const QString& key1, const QString& key2, const QString& key3,
    const QString& computerName, const QString& historyKey)
{
    try {
        db::Command& insert = m_context.statements->insDelHist;
        insert.setParameter(QStringLiteral("TableName"), QStringLiteral("Bin"));
        insert.setParameter(QStringLiteral("Key1"), key1);
        insert.setParameter(QStringLiteral("Key2"), key2);
        insert.setParameter(QStringLiteral("Key3"), key3);
        insert.setParameter(QStringLiteral("LastUpdate"), db::wallClock(m_context.localNow().date()));
        insert.setParameter(QStringLiteral("ComputerName"), m_context.settings.machineName);
        insert.setParameter(QStringLiteral("LocalComputerName"), computerName);
        insert.execute();
    } catch (const std::exception& e) {
        // The remote bin is deleted all the same.
        StepFailure::report(m_context, kStep, QStringLiteral("DeleteHst"), historyKey, e, false);
    }
}

bool DeletePropagation::RenameItemInRemoteEmployees(const QString& oldItem, const QString& newItem)
{
    db::RowQuery& employees = m_context.statements->qryNETEmp;
    try {
        EmployeeItems::RenameInEveryList(employees, oldItem, newItem, false, Failpoint::Point::HistoryEmployeeRenamed,
            [&](const QString& employee, const std::exception& e) {
                StepFailure::report(m_context, kStep, QStringLiteral("Emp"),
                    employee + QStringLiteral(": ") + oldItem + QStringLiteral(" -> ") + newItem, e, false);
            });
        return true;
    } catch (const std::exception& e) {
        employees.cancel();
        StepFailure::report(
            m_context, kStep, QStringLiteral("Emp"), oldItem + QStringLiteral(" -> ") + newItem, e, false);
        return false;
    }
}
