#include "model/TableRules.h"

#include "db/DbError.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"
#include "db/Statement.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

// Wordings that several tables share.
const QString kProbeByRemoteKeys
    = QStringLiteral("Select * from {[T]} as T where (T.{[C1]} = {#1}) AND (T.{[C2]} = {#2})");
const QString kProbeNoKey = QStringLiteral("Select * from {[T]} as T where T.Type = 'nerd' ");
const QString kProbeIssue
    = QStringLiteral("Select * from {[T]} where (TranNo = {#1}) AND (MyLineNo = {#2}){issueComputer}");
const QString kProbeByCode = QStringLiteral("Select * from {[T]} as T where T.Code = {Code}");
const QString kProbeFirstRow = QStringLiteral("Select   TOP 1 * from {[T]}");
const QString kHistoryByTwoColumns
    = QStringLiteral("Select * from {[T]} where ( {[C1]} = {#1} ) AND ( {[C2]} = {#2} )");
const QString kHistoryByOneColumn = QStringLiteral("Select * from {[T]} where {[C1]} = {#1}");
const QString kApplyByTwoColumns = QStringLiteral("Select * from {[T]} where ( {[C1]} = {#1} ) AND ( {[C2]} = {#2} )");
const QString kApplyFirstRow = QStringLiteral("Select TOP 1 * from {[T]}");
const QString kByGroupAndName = QStringLiteral(" where MyGroup = {MyGroup} AND [Name] = {Name}");
const QString kRoboMinMaxByRow
    = QStringLiteral("Select * from {[T]} where (Station = {Station} ) AND ( [Item] = {Item} ) AND ( PkgQty = "
                     "{=PkgQty} )");
const QString kRoboMinMaxByKeys
    = QStringLiteral("Select * from {[T]} where ( Station = {#1} ) AND ( Item = {#2} ) AND (PkgQty = {#3} )");
const QString kTransfer2 = QStringLiteral("Select * from {[T]} as T where T.TransferID = {=TransferID}");

/// Report definitions belong to each computer: an update leaves them alone.
const ColumnNames kReportDefinition{{"MyDate", "DateField", "Range1", "Field1", "Size1", "Range2", "Field2", "Size2",
                                        "Name", "Description", "MyGroup", "RecordID"},
    Qt::CaseInsensitive};

TableRule anyOtherTable()
{
    TableRule rule;
    rule.probe = QStringLiteral("Select * from {[T]} as T where T.{[C1]} = {@C1}");
    rule.pendingRows = QStringLiteral("Select * from {[T]} as T where (T.ASPProcessed = 0) ");
    rule.pendingCount = QStringLiteral(
        "Select count(*) as Pending, max(T.{[K]}) as Highest from {[T]} as T where (T.ASPProcessed = 0) ");
    rule.pendingPage = QStringLiteral(
        "Select TOP {P} * from {[T]} as T where (T.ASPProcessed = 0) and (T.{[K]} <= :Highest) Order By T.{[K]}");
    rule.pendingPageAfter
        = QStringLiteral("Select TOP {P} * from {[T]} as T where (T.ASPProcessed = 0) and (T.{[K]} <= "
                         ":Highest) and (T.{[K]} > :Last) Order By T.{[K]}");
    rule.historyLookup = {kHistoryByOneColumn};
    rule.applyLookup = QStringLiteral("Select * from {[T]} where {[C1]} = {#1}");
    rule.deleteLookup = {QStringLiteral("Select * from {[T]} where ( {[C1]} = {#1} ) AND ( {[C2]} = {#2} ) AND ( "
                                        "{[C3]} = {#3} )"),
        QStringLiteral("Select * from {[T]} where ( {[C1]} = {#1} ) AND ( {[C2]} = {#2} )"),
        QStringLiteral("Select * from {[T]} where {[C1]} = {#1}")};
    return rule;
}

/// A table keyed by its second and third columns, pushed, replayed and applied.
TableRule byTwoColumns(const char* name)
{
    TableRule rule;
    rule.name = QLatin1String(name);
    rule.probe = kProbeByRemoteKeys;
    rule.historyLookup = {kHistoryByTwoColumns};
    rule.applyLookup = kApplyByTwoColumns;
    return rule;
}

/// A table whose rows are only ever added: its lookup finds none, so every row is inserted.
TableRule appendOnly(const char* name)
{
    TableRule rule;
    rule.name = QLatin1String(name);
    rule.probe = rule.applyLookup = QStringLiteral("Select Top 0 * from {[T]}");
    return rule;
}

TableRule named(const char* name, const std::function<void(TableRule&)>& fill)
{
    TableRule rule;
    rule.name = QLatin1String(name);
    fill(rule);
    return rule;
}

QList<TableRule> cribTables()
{
    QList<TableRule> rules;
    rules << named("ISSUE", [](TableRule& r) {
        r.probe = kProbeIssue;
        r.historyLookup
            = {QStringLiteral("Select * from Issue where (TranNo = {#1}) AND (MyLineNo = {#2}){issueComputer}")};
        r.applyLookup = kApplyByTwoColumns;
        r.deleteLookup = {QStringLiteral("Select * from Issue where (TranNo = {#1}) AND (MyLineNo = {#2})")};
        r.stampComputerOnInsert = true;
        r.deleteOwnComputerOnly = true;
        r.sourceByComputer = true;
    });
    // IssueAttrib1 is probed by this computer's name like Issue: a row inserted without it would
    // never be found again, and every later push of the row would add another.
    rules << named("ISSUEATTRIB1", [](TableRule& r) {
        r.probe = kProbeIssue;
        r.applyLookup = kApplyByTwoColumns;
        r.stampComputerOnInsert = true;
    });
    TableRule bin = byTwoColumns("BIN");
    bin.excluded = {"OnHand", "BurnQty", "OnOrder"};
    bin.applyUpdateCopy = ApplyCopy::NullAware;
    bin.stampComputerOnInsert = bin.stampComputerOnUpdate = true;
    bin.historyRecordsDelete = true;
    rules << bin;
    for (const char* name : {"BINHST", "KIT", "SERIAL", "TERMINAL", "JOBITEMS"})
        rules << byTwoColumns(name);
    rules << named("RELEASE", [](TableRule& r) {
        r.probe = kProbeByRemoteKeys;
        r.historyLookup = {kHistoryByTwoColumns, kHistoryByOneColumn};
        r.applyLookup = QStringLiteral("Select * from {[T]} where ( {[C1]} = {#1} ) AND ( {[C2]} = {=#2} )");
    });
    rules << named("BINATTRIB1", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from {[T]} as T where (T.Station = {#1}) AND (T.Bin = {#2}) AND "
                                 "(T.Container = {#3}) AND (T.Lot = {#4}) AND (T.ExpirDt = {#5})");
        r.applyLookup = QStringLiteral("Select * from {[T]} where ( [Station] = {#1} ) AND ( [Bin] = {#2} ) AND ( "
                                       "[Container] = {#3} ) AND ( [Lot] = {#4} ) AND ( [ExpirDt] = {#5})");
        r.excluded = {"DoseOnHand", "DoseBurn", "Quantity", "BurnQty"};
        r.applyUpdateCopy = r.applyInsertCopy = ApplyCopy::Plain;
    });
    rules << named("ROBOMINMAX", [](TableRule& r) {
        r.probe = r.applyLookup = kRoboMinMaxByRow;
        r.historyLookup = r.deleteLookup = {kRoboMinMaxByKeys};
    });
    rules << named("TRANSFER2", [](TableRule& r) { r.probe = r.applyLookup = kTransfer2; });
    rules << named("MYTRAN", [](TableRule& r) {
        r.probe = kProbeNoKey;
        r.pendingRows = QStringLiteral("Select * from MyTran Where ASPProcessed = 0 Order By ServerDateTime");
        // In server-time order, equal times by RecordID; the last row's time is compared as the
        // database holds it, not as read back. The flag is compared as a sum so that the database
        // walks the server-time index from the last row on instead of sorting every pending row
        // for every page.
        const QString page
            = QStringLiteral("Select TOP {P} * from MyTran Where ASPProcessed + 0 = 0 and RecordID <= :Highest");
        const QString order = QStringLiteral(" Order By ServerDateTime, RecordID");
        const QString lastTime = QStringLiteral("(Select ServerDateTime from MyTran where RecordID = :Last)");
        r.pendingCount = QStringLiteral("Select count(*) as Pending, max(RecordID) as Highest from MyTran Where "
                                        "ASPProcessed = 0");
        r.pendingPage = page + order;
        r.pendingPageAfter = page + QStringLiteral(" and ServerDateTime >= ") + lastTime
            + QStringLiteral(" and (ServerDateTime > ") + lastTime + QStringLiteral(" or RecordID > :Last)") + order;
        r.pendingPageAfterNull = page + QStringLiteral(" and (ServerDateTime is not null or RecordID > :Last)") + order;
        r.pendingOrder = QStringLiteral("ServerDateTime");
        r.pendingKey = QStringLiteral("RecordID");
        r.applyLookup = QStringLiteral("Select  TOP 1 * from {[T]}");
        r.transactions = true;
        r.pushLeavesUnmarked = true;
    });
    rules << named("ADMINTRAN", [](TableRule& r) {
        r.probe = kProbeNoKey;
        r.pushWritesOne = QStringLiteral("TranNo");
    });
    rules << named("MYTRANEXT1", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from MyTranExt1 where (TranNo {=?TranNo}) and (ComputerName = {machine})");
        r.applyLookup
            = QStringLiteral("Select * from MyTranExt1 where (TranNo = {=TranNo}) and (ComputerName = {ComputerName})");
        r.stampComputerOnInsert = r.stampComputerOnUpdate = true;
    });
    rules << named("COMPANY", [](TableRule& r) {
        r.probe = kProbeFirstRow;
        r.applyLookup = kApplyFirstRow;
        r.pushKeepsOnUpdate = {{"PoNo", "LastReset"}};
        // The remote credentials and this computer's own counters stay as they are here.
        r.applyKeepsOnUpdate = {{"ASPDataBaseName", "ASPLoginName", "MasterID", "MasterPin", "ASPPassword", "LastReset",
            "Version", "PoNo"}};
        r.applyUpdateCopy = ApplyCopy::NullAware;
    });
    rules << named("SYSPARAMETERS", [](TableRule& r) {
        r.probe = kProbeFirstRow;
        r.applyLookup = kApplyFirstRow;
    });
    rules << named("SAFETY", [](TableRule& r) {
        r.probe = QStringLiteral("Select TOP 1 * from [Safety]");
        r.applyLookup = QStringLiteral("Select * from Safety");
    });
    rules << named("REGRIND", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from [Regrind] where RegrindID = {RegrindID}");
        r.historyLookup = {QStringLiteral("Select * from Regrind  where [RegrindID] = {#1}")};
        r.applyLookup = QStringLiteral("Select * from [Regrind]  where [RegrindID] = {RegrindID}");
        r.deleteLookup = {QStringLiteral("Select * from Regrind where RegrindID = {#1}")};
    });
    rules << named("CALHISTORY", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from [CalHistory] where CalibrateID = {CalibrateID}");
        r.historyLookup = {QStringLiteral("Select * from CalHistory  where [CalibrateID] = {#1}")};
        r.applyLookup = QStringLiteral("Select * from [CalHistory]  where [CalibrateID] = {CalibrateID}");
        r.deleteLookup = {QStringLiteral("Select * from CalHistory where CalibrateID = {#1}")};
    });
    for (const char* name : {"CLASSIMAGE", "EMPIMAGE"}) {
        rules << named(name, [](TableRule& r) {
            r.probe = QStringLiteral("Select * from {[T]} as T where T.MyNo = {MyNo}");
            r.picture = true;
        });
    }
    rules << named("ITEMIMAGE", [](TableRule& r) {
        r.probe = kProbeByCode;
        r.picture = true;
    });
    rules << named("ITEMATTRIB1", [](TableRule& r) {
        r.probe = kProbeByCode;
        r.applyLookup = QStringLiteral("Select * from ItemAttrib1 where Code={Code}");
    });
    rules << named("DEPTMACH", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from {[T]} as T where (T.Dept = {Dept}) AND (T.Mach = {Mach})");
        r.applyLookup = kApplyByTwoColumns;
    });
    rules << named("MACHJOB", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from {[T]} as T where (T.Mach = {Mach}) AND (T.Job = {Job})");
        r.applyLookup = kApplyByTwoColumns;
    });
    rules << named("REPORT", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from {[T]}") + kByGroupAndName;
        r.applyLookup = QStringLiteral("Select * from {[T]}") + kByGroupAndName;
        r.pushKeepsOnUpdate = r.applyKeepsOnUpdate = kReportDefinition;
        r.applyUpdateCopy = ApplyCopy::Plain;
        r.neverInserted = true;
    });
    rules << named("CUSTOM", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from {[T]}") + kByGroupAndName;
        r.applyLookup = QStringLiteral("Select * from {[T]}") + kByGroupAndName;
        r.pushKeepsOnUpdate = kReportDefinition;
        r.neverInserted = true;
    });
    rules << named("STOCKOUTS", [](TableRule& r) {
        r.probe = QStringLiteral("Select * from {[T]} where BoNo = {BoNo}");
        r.applyLookup = QStringLiteral("Select * from [StockOuts]  where [BoNo] = {BoNo}");
    });
    for (const char* name : {"DailyInventory", "Poll", "PortalLog", "PortalPhotos"})
        rules << appendOnly(name);
    rules << named("SCHEDULES",
        [](TableRule& r) { r.applyLookup = QStringLiteral("Select * from [Schedules]where ( {[C0]} = {#1} )"); });
    rules << named("ALIAS", [](TableRule& r) {
        r.applyLookup = QStringLiteral("Select * from [Alias]");
        r.renamed = {{"Machine", "Mach"}, {"Reason", "Reas"}};
    });
    rules << named("EMP", [](TableRule& r) {
        // The item lists are kept by the transactions on each side.
        r.pushNeverWrites = {"Items"};
        r.followsExcludeCrib = true;
        r.applyUpdateCopy = ApplyCopy::Plain;
    });
    rules << named("ITEM", [](TableRule& r) {
        r.stampComputerOnUpdate = true;
        r.changeRenamesItem = true;
    });
    rules << named("LASTPOLL", [](TableRule& r) { r.pushLeavesUnmarked = true; });
    for (const char* name : {"MYUSER", "DELETEHST"})
        rules << named(name, [](TableRule& r) { r.neverPushed = true; });

    // A statement a table does not word its own way is worded as for any other table.
    const TableRule other = anyOtherTable();
    const auto fill = [](auto& field, const auto& fallback) {
        if (field.isEmpty())
            field = fallback;
    };
    for (TableRule& rule : rules) {
        fill(rule.probe, other.probe);
        fill(rule.pendingRows, other.pendingRows);
        fill(rule.pendingCount, other.pendingCount);
        fill(rule.pendingPage, other.pendingPage);
        fill(rule.pendingPageAfter, other.pendingPageAfter);
        fill(rule.historyLookup, other.historyLookup);
        fill(rule.applyLookup, other.applyLookup);
        fill(rule.deleteLookup, other.deleteLookup);
    }
    return rules;
}

qlonglong wholeNumber(const QVariant& value, const QString& column)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = db::valueText(value);
    bool ok = false;
    const qlonglong result = text.toLongLong(&ok);
    if (!number.match(text).hasMatch() || !ok)
        throw db::DbError(
            QStringLiteral("The key %1 = '%2' is not a whole number").arg(column, text), QStringLiteral("22018"));
    return result;
}

/// Whether a key matches as NULL rather than by its value.
bool isNullKey(const QVariant& value, bool emptyKeyIsNull)
{
    return value.isNull() || (emptyKeyIsNull && value.typeId() == QMetaType::QString && value.toString().isEmpty());
}

/// A value as it is bound: a date-time as the text the rows are compared by, anything else as read.
QVariant boundValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime:
        return db::valueText(value);
    default:
        return value;
    }
}

/// Whether '' compared with a column of this kind means an empty text rather than a number or a
/// date-time.
bool holdsText(db::ColumnKind kind)
{
    switch (kind) {
    case db::ColumnKind::AutoIncrement:
    case db::ColumnKind::DateTime:
    case db::ColumnKind::Integer:
    case db::ColumnKind::Floating:
    case db::ColumnKind::Boolean:
    case db::ColumnKind::Decimal:
        return false;
    default:
        return true;
    }
}

/// Rewrites "x = " at the end of `text` into the condition that `x` is NULL (or, with `emptyKeyIsNull`
/// and a column that holds text, empty); false when the text does not end with such a comparison.
bool compareWithNull(QString& text, bool emptyKeyIsNull, const std::function<db::ColumnKind(const QString&)>& kindOf)
{
    static const QRegularExpression comparison(QStringLiteral(R"(((?:\w+\.)?(\[(?:[^\]]|\]\])*\]|\w+))\s*=\s*$)"));
    const QRegularExpressionMatch m = comparison.match(text);
    if (!m.hasMatch())
        return false;
    const QString column = m.captured(1);
    const bool orEmpty
        = emptyKeyIsNull && (!kindOf || holdsText(kindOf(db::tokenizeSql(m.captured(2)).value(0).identifier())));
    text.truncate(m.capturedStart(0));
    text += orEmpty ? QStringLiteral("(%1 IS NULL OR %1 = '')").arg(column) : column + QStringLiteral(" IS NULL");
    return true;
}

/// The position in "C1", "#1" and the like, or -1.
int positionIn(const QString& token, const QChar marker)
{
    if (token.size() < 2 || token[0] != marker)
        return -1;
    bool ok = false;
    const int position = token.mid(1).toInt(&ok);
    return ok ? position : -1;
}

/// A statement's text up to a "{token}", and the token; the last part has no token.
struct TemplatePart
{
    QString text;
    QString token;
};

/// The parts of a statement, split once per text: every row renders the same few statements.
QList<TemplatePart> partsOf(const QString& statement)
{
    thread_local QHash<QString, QList<TemplatePart>> split;
    if (const auto it = split.constFind(statement); it != split.constEnd())
        return *it;
    if (split.size() >= 256)
        split.clear();
    QList<TemplatePart> parts;
    const QStringView text(statement);
    qsizetype done = 0;
    for (qsizetype open = text.indexOf(QLatin1Char('{')); open >= 0; open = text.indexOf(QLatin1Char('{'), open + 1)) {
        // A token is "{" and at least one character up to the next "}", with no brace inside.
        qsizetype close = open + 1;
        while (close < text.size() && text[close] != QLatin1Char('{') && text[close] != QLatin1Char('}'))
            ++close;
        if (close >= text.size() || text[close] != QLatin1Char('}') || close == open + 1)
            continue;
        parts.append({text.sliced(done, open - done).toString(), text.sliced(open + 1, close - open - 1).toString()});
        done = close + 1;
        open = close;
    }
    parts.append({text.sliced(done).toString(), QString()});
    return *split.insert(statement, parts);
}

} // namespace

void RenderedStatement::applyTo(db::Statement& statement) const
{
    statement.setSql(sql);
    for (const auto& [name, value] : values)
        statement.setParameter(name, value);
}

QString TableRule::localColumn(const QString& remoteColumn) const
{
    for (const auto& [remote, local] : renamed) {
        if (remoteColumn.compare(remote, Qt::CaseInsensitive) == 0)
            return local;
    }
    return remoteColumn;
}

const TableRule& TableRules::of(const QString& tableName)
{
    static const QList<TableRule> rules = cribTables();
    static const TableRule other = anyOtherTable();
    for (const TableRule& rule : rules) {
        if (db::sameIdentifier(rule.name, tableName))
            return rule;
    }
    return other;
}

bool TableRules::isPictureTable(const QString& tableName)
{
    return of(tableName).picture;
}

bool TableRules::isNeverPushed(const QString& tableName)
{
    return of(tableName).neverPushed || tableName.contains(QLatin1String("vw_"), Qt::CaseSensitive);
}

QString TableRules::historyTable(const QString& tableName)
{
    if (db::sameIdentifier(tableName, QStringLiteral("Tran")))
        return QStringLiteral("MyTran");
    if (db::sameIdentifier(tableName, QStringLiteral("User")))
        return QStringLiteral("MyUser");
    return tableName;
}

RenderedStatement TableRules::render(const QString& statement, const StatementValues& values)
{
    RenderedStatement result;
    QString& sql = result.sql;
    const auto bind = [&](const QVariant& value) {
        const QString name = QStringLiteral("k%1").arg(result.values.size() + 1);
        result.values.append({name, value});
        sql += QLatin1Char(':') + name;
    };
    const auto key = [&](const QVariant& value) {
        if (isNullKey(value, values.emptyKeyIsNull) && compareWithNull(sql, values.emptyKeyIsNull, values.kindOf))
            return;
        bind(boundValue(value));
    };
    const QList<TemplatePart> parts = partsOf(statement);
    for (const TemplatePart& part : parts) {
        sql += part.text;
        if (&part == &parts.last())
            break;
        const QString& token = part.token;
        const bool bracketed = token.startsWith(QLatin1Char('[')) && token.endsWith(QLatin1Char(']'));
        const QString inner = bracketed ? token.mid(1, token.size() - 2) : token;
        const auto wrap = [&](const QString& name) { return bracketed ? db::bracketed(name) : name; };
        if (inner == QLatin1String("T")) {
            sql += wrap(values.table);
        } else if (inner == QLatin1String("K")) {
            sql += wrap(values.key);
        } else if (token == QLatin1String("P")) {
            sql += QString::number(values.pageRows);
        } else if (positionIn(inner, QLatin1Char('C')) >= 0) {
            sql += wrap(values.column(positionIn(inner, QLatin1Char('C'))));
        } else if (token == QLatin1String("machine")) {
            bind(values.machineName);
        } else if (token == QLatin1String("issueComputer")) {
            if (values.issueHasComputerName) {
                sql += QStringLiteral(" AND (ComputerName = ");
                bind(values.machineName);
                sql += QLatin1Char(')');
            }
        } else if (token.startsWith(QLatin1Char('@'))) {
            key(values.named(values.column(positionIn(token.mid(1), QLatin1Char('C')))));
        } else if (positionIn(token, QLatin1Char('#')) >= 0) {
            key(values.at(positionIn(token, QLatin1Char('#'))));
        } else if (token.startsWith(QLatin1String("=?"))) {
            const QString column = token.mid(2);
            const QVariant value = values.named(column);
            if (value.isNull()) {
                sql += QStringLiteral("is null");
            } else {
                sql += QStringLiteral("= ");
                bind(wholeNumber(value, column));
            }
        } else if (token.startsWith(QLatin1Char('='))) {
            const int position = positionIn(token.mid(1), QLatin1Char('#'));
            const QString column = position >= 0 ? values.column(position) : token.mid(1);
            bind(wholeNumber(position >= 0 ? values.at(position) : values.named(column), column));
        } else {
            key(values.named(token));
        }
    }
    return result;
}

QString TableRules::choose(const QStringList& alternatives, const QStringList& keys)
{
    for (const QString& alternative : alternatives) {
        int highest = 0;
        const QList<TemplatePart> parts = partsOf(alternative);
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            highest = std::max(highest, positionIn(parts[i].token, QLatin1Char('#')));
        if (!keys.value(highest - 1).isEmpty())
            return alternative;
    }
    return alternatives.last();
}

QStringList TableRules::unquotedValues(const QString& statement)
{
    QStringList columns;
    const QList<TemplatePart> parts = partsOf(statement);
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QString& token = parts[i].token;
        if (token.startsWith(QLatin1String("=?")))
            columns << token.mid(2);
        else if (token.startsWith(QLatin1Char('=')))
            columns << token.mid(1);
    }
    return columns;
}

QStringList TableRules::keyDifferences(const QString& statement, const std::function<QString(int)>& valueColumn,
    const std::function<QString(int)>& column, const QString& valueSide, const QString& columnSide)
{
    static const QRegularExpression named(QStringLiteral(R"((?:\[((?:[^\]]|\]\])*)\]|(\w+))\s*=\s*$)"));
    static const QRegularExpression equals(QStringLiteral(R"(^\s*=\s*$)"));
    QStringList differences;
    const QList<TemplatePart> parts = partsOf(statement);
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const int position = positionIn(parts[i].token, QLatin1Char('#'));
        if (position < 0)
            continue;
        // The column compared: {Cm} just before " = ", or a name the text gives.
        QString compared;
        bool fromColumn = false;
        const QString& before = parts[i].text;
        if (i > 0 && equals.match(before).hasMatch()) {
            const QString& token = parts[i - 1].token;
            const bool bracketed = token.startsWith(QLatin1Char('[')) && token.endsWith(QLatin1Char(']'));
            const int at = positionIn(bracketed ? token.mid(1, token.size() - 2) : token, QLatin1Char('C'));
            if (at < 0)
                continue;
            compared = column(at);
            fromColumn = true;
        } else if (const QRegularExpressionMatch m = named.match(before); m.hasMatch()) {
            compared
                = m.hasCaptured(1) ? m.captured(1).replace(QLatin1String("]]"), QLatin1String("]")) : m.captured(2);
        } else {
            continue;
        }
        const QString value = valueColumn(position);
        if (db::sameIdentifier(value, compared))
            continue;
        differences << QStringLiteral("column %1 is %2")
                           .arg(position + 1)
                           .arg(value.isEmpty() ? QStringLiteral("missing ") + valueSide
                                                : value + QLatin1Char(' ') + valueSide)
                + (fromColumn ? QStringLiteral(" and %1 %2").arg(compared, columnSide)
                              : QStringLiteral(" where the key %1 must stand").arg(compared));
    }
    return differences;
}

QString TableRules::keyMismatch(const QStringList& differences, const QString& consequence)
{
    return QStringLiteral("The key columns differ (%1): %2 until each key column stands where the other side, or "
                          "the table's rules, have it")
        .arg(differences.join(QStringLiteral("; ")), consequence);
}
