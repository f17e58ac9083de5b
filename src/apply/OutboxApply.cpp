#include "apply/OutboxApply.h"

#include "apply/OutboxEntry.h"
#include "db/Connection.h"
#include "db/Failpoint.h"
#include "db/SqlTokenizer.h"
#include "model/TDM.h"
#include "model/TableRules.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"
#include "step/RenameState.h"
#include "step/StepFailure.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

const QString kStep = QStringLiteral("outbox");

/// "Select * from [T] as T where (T.RecordID = :ID)": the source row of an entry.
QString sourceLookup(const QString& table)
{
    return QStringLiteral("Select * from ") + db::bracketed(table) + QStringLiteral(" as T where (T.RecordID = :ID)");
}

/// What keeps the entry from being carried out by a statement; empty when nothing does. A NUL
/// ends a statement's text early, and a procedure's argument would not be the order's value.
QString unusable(const OutboxEntry& entry)
{
    const std::pair<const char*, const QString*> fields[] = {{"TableName", &entry.TableName}, {"ID", &entry.ID},
        {"Key1", &entry.Key1}, {"Key2", &entry.Key2}, {"Key3", &entry.Key3}};
    for (const auto& [name, value] : fields) {
        if (value->contains(QChar(0)))
            return QStringLiteral("The entry's %1 holds a NUL character").arg(QLatin1String(name));
    }
    return {};
}

} // namespace

OutboxApply::OutboxApply(CycleContext& context)
    : m_context(context)
    , m_records(context)
    , m_deletes(context)
    , m_effects(context)
{ }

const db::RowQuery& OutboxApply::outbox() const
{
    return m_context.statements->qryASPOutbox;
}

void OutboxApply::ApplyRemoteOutbox()
{
    db::RowQuery& outbox = m_context.statements->qryASPOutbox;
    m_localTables.clear();
    m_localTablesRead = false;
    QString table;
    QString key;
    try {
        m_context.statements->refreshOutbox(m_context.pageRows);
        if (outbox.isEmpty())
            return;
        PagedRows orders(outbox, CycleStatements::outboxPages(m_context.pageRows), m_context.pageRows);
        orders.openedByOwnStatement();
        CycleEvents& events = *m_context.events;
        int count = int(orders.total());
        int position = 0;
        // The window tells the orders as it tells a table's rows, not what the last push left.
        events.setProgressText(QStringLiteral("Outbox"));
        events.setProgress(0, count);
        CycleProgress::Scope step(m_context.progress, CycleProgress::Kind::Apply, QStringLiteral("Outbox"), count);
        do {
            for (outbox.first(); !outbox.eof(); outbox.next()) {
                // The rest waits for the next cycle, whose pushes then go on.
                if (m_context.progress.overBudget(m_context.timeBudgetMs())) {
                    step.stopAtBudget();
                    events.workDone(m_context.progress.stopRequested()
                            ? QStringLiteral("outbox stopped to end the program")
                            : QStringLiteral("outbox stopped at its time budget"),
                        QString());
                    return;
                }
                events.pumpEvents();
                ++position;
                count = std::max(count, position);
                events.setProgress(position, count);
                events.setProgressText(QStringLiteral("Outbox record ") + QString::number(position)
                    + QStringLiteral(" out of ") + QString::number(count));
                const OutboxEntry entry = OutboxEntry::fromRow(outbox);
                table = entry.TableName;
                key = entry.RecordID;
                // One entry's failure leaves it pending; it never holds back the entries after it.
                applyEntry(entry);
                m_context.progress.rowDone();
            }
            table.clear();
            key.clear();
        } while (orders.nextPage());
    } catch (const std::exception& e) {
        StepFailure::report(m_context, kStep, table, key, e, true);
    }
}

QString OutboxApply::localTable(const QString& tableName)
{
    if (!m_localTablesRead) {
        m_localTables = m_context.dm->toTable.database().run([](db::Connection& c) { return c.tables(); });
        m_localTablesRead = true;
    }
    const auto found = std::find_if(m_localTables.cbegin(), m_localTables.cend(),
        [&](const QString& table) { return db::sameIdentifier(table, tableName); });
    return found == m_localTables.cend() ? QString() : *found;
}

QString OutboxApply::remoteTable(const QString& tableName) const
{
    const QStringList& remote = m_context.remoteTables;
    const auto found = std::find_if(
        remote.cbegin(), remote.cend(), [&](const QString& table) { return db::sameIdentifier(table, tableName); });
    return found == remote.cend() ? tableName : *found;
}

OutboxApply::Outcome OutboxApply::applyEntry(const OutboxEntry& entry)
{
    if (const QString refusal = unusable(entry); !refusal.isEmpty()) {
        StepFailure::refuse(m_context, kStep, entry.TableName, entry.RecordID, refusal);
        return Outcome::Pending;
    }
    if (entry.TableName == QLatin1String("AC"))
        return copyEmployeeItems(entry);

    // The table name is pasted into statements: only a table this database has may get there.
    const bool namePasted = entry.Type != QLatin1String("D") || !TableRules::isPictureTable(entry.TableName);
    // Named as each database spells it: a database with a case-sensitive collation knows no other.
    QString local = localTable(entry.TableName);
    if (namePasted && local.isEmpty()) {
        StepFailure::refuse(m_context, kStep, entry.TableName, entry.RecordID,
            QStringLiteral("'%1' is not a table of the local database").arg(entry.TableName));
        return Outcome::Pending;
    }

    if (local.isEmpty())
        local = entry.TableName;
    const QString source = remoteTable(entry.TableName);

    if (entry.Type == QLatin1String("C"))
        return rename(entry, source);

    if (entry.Type != QLatin1String("D")) {
        const bool byComputer
            = m_context.flags.IssueHasComputerName && TableRules::of(entry.TableName).sourceByComputer;
        const std::optional<Outcome> settled = byComputer
            ? openSource(entry,
                QStringLiteral("Select * from Issue where (RecordID = :ID) AND (ComputerName = :ComputerName)"),
                {{QStringLiteral("ID"), entry.ID}, {QStringLiteral("ComputerName"), m_context.settings.machineName}})
            : openSource(entry, sourceLookup(source), {{QStringLiteral("ID"), entry.ID}});
        if (settled)
            return *settled;
        if (!m_records.ApplyRemoteRecord(local, entry.RecordID))
            return Outcome::Pending;
        Failpoint::reach(Failpoint::Point::ApplyWritten);
        markSourceDone();
        markEntryDone(entry);
        return Outcome::Done;
    }

    if (!m_deletes.ApplyRemoteDelete(local, entry.Key1, entry.Key2, entry.Key3, entry.RecordID))
        return Outcome::Pending;
    Failpoint::reach(Failpoint::Point::ApplyDeleted);
    markEntryDone(entry);
    return Outcome::Done;
}

std::optional<OutboxApply::Outcome> OutboxApply::openSource(
    const OutboxEntry& entry, const QString& sql, const QList<QPair<QString, QVariant>>& values)
{
    db::RowQuery& source = m_context.statements->qryASPFindRec;
    // A record number is a whole number: no row has another, and the server would refuse to
    // compare one with RecordID.
    static const QRegularExpression recordNumber(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    if (!recordNumber.match(entry.ID).hasMatch()) {
        markEntryDone(entry);
        return Outcome::Done;
    }
    try {
        source.close();
        source.setSql(sql);
        for (const auto& [name, value] : values)
            source.setParameter(name, value);
        source.open();
    } catch (const std::exception& e) {
        source.cancel();
        StepFailure::report(m_context, kStep, entry.TableName, entry.RecordID, e, true);
        return Outcome::Pending;
    }
    // A source row that no longer exists leaves nothing to apply.
    if (source.isEmpty()) {
        markEntryDone(entry);
        return Outcome::Done;
    }
    return std::nullopt;
}

OutboxApply::Outcome OutboxApply::copyEmployeeItems(const OutboxEntry& entry)
{
    if (const std::optional<Outcome> settled = openSource(
            entry, QStringLiteral("Select * from Emp where (RecordID = :ID)"), {{QStringLiteral("ID"), entry.ID}}))
        return *settled;
    const db::RowQuery& source = m_context.statements->qryASPFindRec;
    db::RowQuery& employee = m_context.dm->toTable;
    employee.close();
    employee.setSql(QString());
    employee.setSql(QStringLiteral("Select * from Emp where MyNo = :emp"));
    employee.setParameter(QStringLiteral("emp"), source.value(QStringLiteral("MyNo")));
    employee.open();
    // An employee unknown here gets the list with the employee row itself, which carries Items.
    if (!employee.isEmpty()) {
        try {
            employee.first();
            employee.edit();
            employee.setValue(QStringLiteral("Items"), source.asString(QStringLiteral("Items")));
            employee.setValue(QStringLiteral("ASPProcessed"), true);
            employee.post();
        } catch (const std::exception& e) {
            employee.cancel();
            employee.close();
            StepFailure::report(m_context, kStep, QStringLiteral("Emp"), entry.RecordID, e, false);
            return Outcome::Pending;
        }
    }
    employee.close();
    Failpoint::reach(Failpoint::Point::ApplyWritten);
    markSourceDone();
    markEntryDone(entry);
    return Outcome::Done;
}

OutboxApply::Outcome OutboxApply::rename(const OutboxEntry& entry, const QString& sourceTable)
{
    if (const std::optional<Outcome> settled
        = openSource(entry, sourceLookup(sourceTable), {{QStringLiteral("ID"), entry.ID}}))
        return *settled;
    TDM& dm = *m_context.dm;
    // A rename refused because it was carried out before (its marks were lost) is done: what is
    // left is the employees' lists of an item, and the marks.
    const db::Database local = dm.toTable.database();
    if (TableRules::of(entry.TableName).changeRenamesItem) {
        try {
            dm.spItemChange.clearValues();
            dm.spItemChange.setValue(QStringLiteral("@Item"), entry.Key1);
            dm.spItemChange.setValue(QStringLiteral("@NewItem"), entry.Key2);
            dm.spItemChange.setValue(QStringLiteral("@Change"), false);
            dm.spItemChange.execute();
            Failpoint::reach(Failpoint::Point::ApplyItemRenamed);
        } catch (const std::exception& e) {
            if (!RenameState::itemRenamed(local, entry.Key1, entry.Key2)) {
                StepFailure::report(m_context, kStep, entry.TableName, entry.RecordID, e, false);
                return Outcome::Pending;
            }
        }
        if (!m_effects.RenameItemInLocalEmployees(entry.Key1, entry.Key2))
            return Outcome::Pending;
    } else {
        const QString station = m_context.statements->qryASPFindRec.asString(QStringLiteral("Station"));
        try {
            dm.spBinChange.clearValues();
            dm.spBinChange.setValue(QStringLiteral("@Station"), station);
            dm.spBinChange.setValue(QStringLiteral("@MyNo"), entry.Key1);
            dm.spBinChange.setValue(QStringLiteral("@NewBin"), entry.Key2);
            dm.spBinChange.setValue(QStringLiteral("@Change"), false);
            dm.spBinChange.execute();
        } catch (const std::exception& e) {
            if (!RenameState::binRenamed(local, station, entry.Key1, entry.Key2)) {
                StepFailure::report(m_context, kStep, entry.TableName, entry.RecordID, e, false);
                return Outcome::Pending;
            }
        }
    }
    Failpoint::reach(Failpoint::Point::ApplyWritten);
    markSourceDone();
    markEntryDone(entry);
    return Outcome::Done;
}

void OutboxApply::markSourceDone()
{
    db::RowQuery& source = m_context.statements->qryASPFindRec;
    source.edit();
    source.setValue(QStringLiteral("Processed"), true);
    // A source row the hosted application changed after it was read keeps its new change pending.
    if (!source.postIfUnchanged(db::RowQuery::Guard::ClearOnChange))
        m_context.events->workDone(QStringLiteral("source changed while applied, left pending"), source.baseTable());
    Failpoint::reach(Failpoint::Point::ApplySourceMarked);
}

void OutboxApply::markEntryDone(const OutboxEntry& entry)
{
    db::RowQuery& outbox = m_context.statements->qryASPOutbox;
    outbox.edit();
    outbox.setValue(QStringLiteral("Processed"), true);
    outbox.post();
    m_context.events->workDone(QStringLiteral("entry applied"), entry.TableName);
}
