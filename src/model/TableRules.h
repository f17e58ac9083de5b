#pragma once

#include "db/ColumnKind.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

namespace db {
class Statement;
}

/// Column names with the letter-case rule they are compared by.
struct ColumnNames
{
    QStringList names;
    Qt::CaseSensitivity matching = Qt::CaseSensitive;

    bool contains(const QString& column) const { return names.contains(column, matching); }
};

/// How the apply writes a remote value into a local column.
enum class ApplyCopy {
    Plain, ///< the value as it is, NULL included
    NullAware, ///< NULL as 0 or empty text in number and text columns, elsewhere the local value kept
    NullAwareWithTimes, ///< as NullAware, and time-of-day columns to the second without their date
};

/// What every step needs to know about one crib table beyond its columns.
///
/// The statements that find a table's counterpart row are templates, one per step, because each
/// step words them its own way. In a template:
///  - {T} is the table name as the step has it, {[T]} that name in brackets;
///  - {C1} is the name of the table's column at position 1 (the remote table's for the push and
///    the delete history, the local table's for the apply and the remote delete), {[C1]} the same
///    in brackets;
///  - {#1} is the value at position 1: the row's column for the push and the apply, key 1 of the
///    order for the delete history and the remote delete;
///  - {Code} is the value of the row's column Code, {@C1} that of the row's column that feeds
///    column 1 (see `renamed`);
///  - {=PkgQty} and {=#2} are values that must be whole numbers; {=?TranNo} is "is null" for a NULL
///    value and "= " and the number otherwise;
///  - {machine} is this computer's name; {issueComputer} the condition on it that Issue rows carry
///    when the remote Issue table has a ComputerName column;
///  - {K} is the key column the pending rows are paged by, {[K]} that name in brackets, and {P}
///    the rows of a page.
/// Values are bound parameters, never part of the text. A comparison "x = {#1}" with a NULL value
/// becomes "x IS NULL" (see `StatementValues::emptyKeyIsNull`).
/// Where a step has alternatives, the first whose highest key number is not empty is used, and the
/// last when none is.
struct TableRule
{
    /// Matched without regard to the letter case of A to Z, as the databases match names.
    QString name;

    /// Push: finds the remote row of a pending local row.
    QString probe;
    /// Pending-change scan: reads the local rows not yet sent.
    QString pendingRows;
    /// Pending-change scan, a table with more than a page of rows not yet sent: counts them
    /// (Pending) with the highest key (Highest); reads the first page in key order up to
    /// :Highest; the page after the key :Last; and, where the rows are ordered by `pendingOrder`
    /// first, the page after a row whose `pendingOrder` is NULL.
    QString pendingCount;
    QString pendingPage;
    QString pendingPageAfter;
    QString pendingPageAfterNull;
    /// The column the pending rows are sent in the order of, before their key; empty: the key's.
    QString pendingOrder;
    /// The key pending rows are paged by when it is not the table's own single-column key.
    QString pendingKey;
    /// Delete propagation: finds the remote row that a delete history row names.
    QStringList historyLookup;
    /// Apply: finds the local row of a remote row.
    QString applyLookup;
    /// Remote delete: finds the local row that a delete order names.
    QStringList deleteLookup;

    /// Never written by the push or the apply, in an insert or an update (letter case counts).
    QStringList excluded;
    /// Left alone by the push when it updates a remote row.
    ColumnNames pushKeepsOnUpdate;
    /// Left alone by the apply when it updates a local row.
    ColumnNames applyKeepsOnUpdate;
    /// Never written by the push.
    QStringList pushNeverWrites;
    /// With the setting ExcludeCrib "1" only the column Cribs is written: by the push always, by
    /// the apply on update.
    bool followsExcludeCrib = false;
    /// A column the push always writes as 1 (letter case ignored).
    QString pushWritesOne;
    /// Remote column name and the local one it corresponds to (letter case ignored).
    QList<QPair<QString, QString>> renamed;
    ApplyCopy applyUpdateCopy = ApplyCopy::NullAwareWithTimes;
    ApplyCopy applyInsertCopy = ApplyCopy::NullAware;

    /// The push stamps this computer's name into a ComputerName column of a row it inserts.
    bool stampComputerOnInsert = false;
    /// The push stamps this computer's name into a ComputerName column of a row it updates.
    bool stampComputerOnUpdate = false;
    /// A row missing on the other side is not added there, by the push or the apply.
    bool neverInserted = false;
    /// The record push never marks the local row sent.
    bool pushLeavesUnmarked = false;
    /// Transactions: pushed through the transaction procedure, always inserted by the apply after
    /// their effect on the local bin.
    bool transactions = false;
    /// Pictures: delete orders and history rows are done without any change, and the scan opens
    /// the remote table on its Processed column.
    bool picture = false;
    /// Never pushed by the scan.
    bool neverPushed = false;
    /// The delete propagation records a deletion in the remote delete history first.
    bool historyRecordsDelete = false;
    /// A remote delete order whose key 3 names another computer is passed over.
    bool deleteOwnComputerOnly = false;
    /// The remote row of an outbox entry is looked for with this computer's name too, when the
    /// remote Issue table has a ComputerName column.
    bool sourceByComputer = false;
    /// A change order of the outbox renames an item; of any other table, a bin.
    bool changeRenamesItem = false;

    /// The local column that the remote column `remoteColumn` corresponds to.
    QString localColumn(const QString& remoteColumn) const;
};

/// What a statement template is filled from.
struct StatementValues
{
    QString table;
    /// The value at a position, or of a named column.
    std::function<QVariant(int)> at;
    std::function<QVariant(const QString&)> named;
    /// The name of the column at a position.
    std::function<QString(int)> column;
    QString machineName;
    bool issueHasComputerName = false;
    /// The key and the rows of a page, for the pending rows' pages.
    QString key;
    int pageRows = 0;
    /// A NULL or empty key matches a column that is NULL or empty: the apply stores a NULL text as
    /// empty text, and the delete history and the orders give a NULL key as an empty one.
    bool emptyKeyIsNull = false;
    /// The kind of the compared table's named column, given for rows that keep a NULL as NULL (the
    /// remote rows the push wrote): a number or date-time column then matches such a key only when
    /// NULL, as '' would be 0 or 1900-01-01 there. Without it '' is compared too, which finds the 0
    /// that the apply's null-aware copy stores locally for a NULL number.
    std::function<db::ColumnKind(const QString&)> kindOf;
};

/// A statement's text with the values its ":k1", ":k2", ... placeholders are bound to.
struct RenderedStatement
{
    QString sql;
    QList<QPair<QString, QVariant>> values;

    /// Gives `statement` the text and the values.
    void applyTo(db::Statement& statement) const;
};

/// The rules of every crib table, and the rule of any other table.
class TableRules
{
public:
    /// The rule of `tableName`, or the rule of any other table.
    static const TableRule& of(const QString& tableName);

    /// The picture tables, whose delete orders are accepted without any local change.
    static bool isPictureTable(const QString& tableName);
    /// Tables the scan never pushes: by their rule, and every view named with "vw_".
    static bool isNeverPushed(const QString& tableName);
    /// The table a delete history row names: "Tran" and "User" stand for MyTran and MyUser.
    static QString historyTable(const QString& tableName);

    /// The template filled from `values`. Throws db::DbError when a value that must be a whole
    /// number is not, and whatever the values throw.
    static RenderedStatement render(const QString& statement, const StatementValues& values);
    /// The first of `alternatives` whose highest key is not empty in `keys`, else the last.
    static QString choose(const QStringList& alternatives, const QStringList& keys);
    /// The columns (by name, or "#n" by position) that `statement` takes as whole numbers.
    static QStringList unquotedValues(const QString& statement);
    /// The comparisons of `statement` with a value taken by position ("x = {#n}", "{Cm} = {#n}")
    /// whose value comes from a column other than the one compared: `valueColumn(n)` names the
    /// column of the row the value at n is taken from (empty when there is none), `column(m)`
    /// the column {Cm} stands for. Each as "column n+1 is <value column> <valueSide> and
    /// <column> <columnSide>", or "... where the key <x> must stand".
    static QStringList keyDifferences(const QString& statement, const std::function<QString(int)>& valueColumn,
        const std::function<QString(int)>& column, const QString& valueSide, const QString& columnSide);
    /// The refusal of a table whose key columns differ: what differs and what follows.
    static QString keyMismatch(const QStringList& differences, const QString& consequence);
};
