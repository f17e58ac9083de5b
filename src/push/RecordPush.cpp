#include "push/RecordPush.h"

#include "db/DbError.h"
#include "db/Failpoint.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "model/TDM.h"
#include "model/TableRules.h"
#include "push/ProbeStatement.h"
#include "step/CycleContext.h"
#include "step/CycleStatements.h"
#include "step/StepFailure.h"

#include <QDateTime>

namespace {

const QString kStep = QStringLiteral("push");

QString rowKey(const db::RowQuery& rows)
{
    if (rows.eof())
        return {};
    if (rows.hasColumn(QStringLiteral("RecordID")))
        return rows.asString(QStringLiteral("RecordID"));
    return db::valueText(rows.value(0));
}

/// The value as a wall clock; a text that is no date-time is refused as the server would.
QDateTime dateTimeOf(const QVariant& value, const QString& column)
{
    const QDateTime result = db::wallClockOf(value);
    if (!result.isValid())
        throw db::DbError(QStringLiteral("'%1' of field %2 is not a date and time").arg(db::valueText(value), column),
            QStringLiteral("22007"));
    return result;
}

} // namespace

void RecordPush::PushTableRows(PagedRows& pending, const QString& remoteTable)
{
    const QString tableName = db::asciiUpper(remoteTable);
    db::RowQuery& pendingRows = pending.rows();
    db::RowQuery& probe = m_context.statements->RemoteProbe;
    CycleEvents& events = *m_context.events;
    int maximum = 0;
    QString k1;
    QString k2;
    // Unless it stops at its time budget, the next cycle starts the table from its first row.
    m_context.resumeAfter.remove(tableName);
    try {
        if (pendingRows.isEmpty())
            return;
        maximum = int(pending.total());
        events.setProgress(0, maximum);
        pendingRows.first();
        k1 = probe.columnName(1);
        k2 = probe.columnName(2);
    } catch (const std::exception& e) {
        StepFailure::report(m_context, kStep, tableName, QString(), e, true);
        return;
    }
    // Nothing is probed by values that stand where another column is expected: both databases
    // answer, so the rest of the cycle goes on.
    if (const QString mismatch = ProbeStatement::keyMismatch(remoteTable, pendingRows, k1, k2); !mismatch.isEmpty()) {
        pendingRows.close();
        StepFailure::refuse(m_context, kStep, tableName, QString(), mismatch);
        return;
    }

    CycleProgress::Scope step(m_context.progress, CycleProgress::Kind::Push, tableName, maximum);
    int position = 0;
    PagePoint handled;
    do {
        for (; !pendingRows.eof(); pendingRows.next()) {
            // The rest waits for the next cycle, which goes on after the last row handled: the
            // outbox and the other tables are not held up for hours.
            if (position > 0 && m_context.progress.overBudget(m_context.timeBudgetMs())) {
                step.stopAtBudget();
                m_context.resumeAfter.insert(tableName, handled);
                events.workDone(m_context.progress.stopRequested() ? QStringLiteral("push stopped to end the program")
                                                                   : QStringLiteral("push stopped at its time budget"),
                    tableName);
                return;
            }
            try {
                events.pumpEvents();
                ++position;
                // A row made pending again ahead of the pages read counts on top.
                maximum = std::max(maximum, position);
                events.setProgress(position, maximum);
                events.setProgressText(tableName + QStringLiteral(" record ") + QString::number(position)
                    + QStringLiteral(" out of ") + QString::number(maximum));
                if (!pushRow(pendingRows, remoteTable, k1, k2))
                    return;
                handled = pending.pointOf();
                m_context.progress.rowDone();
            } catch (const std::exception& e) {
                probe.cancel();
                const auto* refusal = dynamic_cast<const db::DbError*>(&e);
                // Refused for what it holds while the connection is fine, a record row waits alone;
                // transactions keep their order, which their stock effects depend on.
                if (refusal && refusal->refusesStatementOnly() && !TableRules::of(remoteTable).transactions) {
                    const QString remoteKey = ProbeStatement::keyText(m_probe);
                    const QString key = remoteKey.isEmpty() ? rowKey(pendingRows) : remoteKey;
                    pendingRows.cancel();
                    StepFailure::report(m_context, kStep, remoteTable, key, e, false);
                    handled = pending.pointOf();
                    m_context.progress.rowDone();
                    continue;
                }
                const QString key = rowKey(pendingRows);
                pendingRows.cancel();
                StepFailure::report(m_context, kStep, tableName, key, e, true);
                return;
            }
        }
    } while (nextPage(pending, tableName));
    events.setProgress(maximum, maximum);
}

bool RecordPush::nextPage(PagedRows& pending, const QString& tableName)
{
    try {
        return pending.nextPage();
    } catch (const std::exception& e) {
        StepFailure::report(m_context, kStep, tableName, QString(), e, true);
        return false;
    }
}

bool RecordPush::pushRow(db::RowQuery& rows, const QString& table, const QString& k1, const QString& k2)
{
    const TableRule& rule = TableRules::of(table);
    db::RowQuery& probe = m_context.statements->RemoteProbe;
    probe.close();
    // Cleared first: a probe that cannot be made names no key.
    m_probe = {};
    m_probe = ProbeStatement::text(table, rows, k1, k2, m_context);
    m_probe.applyTo(probe);
    probe.open();
    if (probe.isEmpty()) {
        if (rule.transactions) {
            bool errorFlag = false;
            if (!m_transactions.PushTransaction(rows, errorFlag)) {
                if (errorFlag)
                    m_context.events->RecoverFromCycleError();
                return false;
            }
            Failpoint::reach(Failpoint::Point::PushTransactionSent);
            db::Command& marking = m_context.dm->updTranProc;
            marking.setParameter(QStringLiteral("RecordID"), rows.value(QStringLiteral("RecordID")));
            marking.execute();
            m_context.events->workDone(QStringLiteral("transaction sent"), db::asciiUpper(table));
            return true;
        }
        if (!rule.neverInserted) {
            probe.append();
            postRemoteRow(fillRemoteRow(rows, rule, Write::Insert));
        }
    } else {
        probe.first();
        probe.edit();
        postRemoteRow(fillRemoteRow(rows, rule, Write::Update));
    }
    Failpoint::reach(Failpoint::Point::PushRowWritten);

    if (!rule.pushLeavesUnmarked && rows.hasColumn(QStringLiteral("ASPProcessed"))) {
        rows.edit();
        rows.setValue(QStringLiteral("ASPProcessed"), true);
        // The crib application may have changed the row since it was read: it stays pending and
        // goes again with its new values.
        if (!rows.postIfUnchanged()) {
            m_context.events->workDone(QStringLiteral("row changed while pushed, left pending"), db::asciiUpper(table));
            return true;
        }
    }
    m_context.events->workDone(QStringLiteral("row pushed"), db::asciiUpper(table));
    return true;
}

QList<int> RecordPush::fillRemoteRow(const db::RowQuery& rows, const TableRule& rule, Write write)
{
    db::RowQuery& remote = m_context.statements->RemoteProbe;
    QList<int> dateTimeColumns;
    for (int i = 0; i < remote.columnCount(); ++i) {
        const db::ColumnKind kind = remote.columnKind(i);
        if (kind == db::ColumnKind::AutoIncrement)
            continue;
        const QString column = remote.columnName(i);
        const int source = rows.columnIndex(rule.localColumn(column));
        if (source >= 0) {
            const QVariant value = rows.value(source);
            // Date-times come before the exclusions, so an exclusion never holds one back.
            if (kind == db::ColumnKind::DateTime) {
                remote.setValue(i, value.isNull() ? QVariant() : QVariant(dateTimeOf(value, column)));
                if (!value.isNull())
                    dateTimeColumns << i;
            } else if (!rule.pushWritesOne.isEmpty() && column.compare(rule.pushWritesOne, Qt::CaseInsensitive) == 0) {
                remote.setValue(i, 1);
            } else if (!isExcluded(rule, column, write)) {
                remote.setValue(i, value);
            }
        }
        if (write == Write::Update && column == QLatin1String("Processed"))
            remote.setValue(i, true);
    }

    const QString computerName = QStringLiteral("ComputerName");
    const bool hasComputerName = remote.hasColumn(computerName);
    if (write == Write::Insert && remote.hasColumn(QStringLiteral("Processed")))
        remote.setValue(QStringLiteral("Processed"), true);
    if (hasComputerName && (write == Write::Insert ? rule.stampComputerOnInsert : rule.stampComputerOnUpdate))
        remote.setValue(computerName, m_context.settings.machineName);
    return dateTimeColumns;
}

void RecordPush::postRemoteRow(const QList<int>& dateTimeColumns)
{
    db::RowQuery& remote = m_context.statements->RemoteProbe;
    try {
        remote.post();
    } catch (const db::DbError&) {
        // A server may refuse fractions of a second: write the date-times to whole seconds instead.
        bool truncated = false;
        for (int i : dateTimeColumns) {
            const QDateTime value = remote.value(i).toDateTime();
            if (value.time().msec() != 0) {
                remote.setValue(i, value.addMSecs(-value.time().msec()));
                truncated = true;
            }
        }
        if (!truncated)
            throw;
        remote.post();
    }
}

bool RecordPush::isExcluded(const TableRule& rule, const QString& column, Write write) const
{
    return rule.excluded.contains(column) || rule.pushNeverWrites.contains(column)
        || (rule.followsExcludeCrib && m_context.settings.excludeCrib == QLatin1String("1")
            && column != QLatin1String("Cribs"))
        || (write == Write::Update && rule.pushKeepsOnUpdate.contains(column));
}
