#include "model/TransactionProcedure.h"

#include "db/embedded/EmbeddedProcedure.h"
#include "model/Statements.h"

#include <QStringList>

namespace {

struct Parameter
{
    const char* name;
    const char* type;
};

// Parameters 1 to 38 in the order the push sets them.
const Parameter kCommon[] = {
    {"TranNo", "int"},
    {"MyDate", "datetime"},
    {"MyTime", "datetime"},
    {"Station", "varchar(12)"},
    {"Bin", "varchar(12)"},
    {"Type", "varchar(2)"},
    {"Item", "varchar(30)"},
    {"ItemType", "int"},
    {"Quantity", "int"},
    {"PackQty", "int"},
    {"IssueCost", "money"},
    {"UnitPrice", "money"},
    {"UnitCost", "money"},
    {"Emp", "varchar(100)"},
    {"Department", "varchar(12)"},
    {"Job", "varchar(40)"},
    {"Machine", "varchar(12)"},
    {"Reason", "varchar(12)"},
    {"Operation", "varchar(12)"},
    {"Supplier", "varchar(12)"},
    {"PoNo", "varchar(10)"},
    {"TagNo", "varchar(10)"},
    {"Comment", "varchar(255)"},
    {"Red", "bit"},
    {"Compleat", "bit"},
    {"BurnQty", "int"},
    {"Lot", "varchar(20)"},
    {"SpotTranCode", "int"},
    {"Serial", "varchar(20)"},
    {"CurOnHand", "int"},
    {"CurBurn", "int"},
    {"PickTicketNo", "varchar(10)"},
    {"PSlip", "varchar(50)"},
    {"CurOnHand2", "int"},
    {"CurBurn2", "int"},
    {"MAvgPrice", "money"},
    {"MAvgCost", "money"},
    {"AdjQty", "int"},
};

// The columns the procedure stores, each from the parameter of the same name.
// What tells a transaction sent again from one first sent: the computer, its number, its time,
// its place, its item and its quantities.
const char* const kIdentity[] = {"TranNo", "MyDate", "MyTime", "Station", "Bin", "Type", "Item", "Quantity", "BurnQty"};

const char* const kStored[] = {"TranNo", "MyDate", "MyTime", "Station", "Bin", "Type", "Item", "ItemType", "Quantity",
    "PackQty", "IssueCost", "UnitPrice", "UnitCost", "Emp", "Department", "Job", "Machine", "Reason", "Operation",
    "Supplier", "PoNo", "TagNo", "Comment", "Red", "Compleat", "BurnQty", "Lot", "SpotTranCode", "Serial", "CurOnHand",
    "CurBurn", "CurOnHand2", "CurBurn2", "PickTicketNo", "PSlip", "MAvgPrice", "MAvgCost"};

} // namespace

QString TransactionProcedure::parameters(Version version)
{
    QStringList list;
    for (const Parameter& p : kCommon)
        list << QStringLiteral("@%1 %2").arg(QLatin1String(p.name), QLatin1String(p.type));
    if (version == Version::Hosted) {
        list << QStringLiteral("@DiscrepantQty int") << QStringLiteral("@OGTranNo int")
             << QStringLiteral("@ComputerName varchar(100)") << QStringLiteral("@ExternalPO varchar(50)");
    } else {
        list << QStringLiteral("@ComputerName varchar(100)") << QStringLiteral("@ExternalPO varchar(50) = NULL");
    }
    return list.join(QStringLiteral(", "));
}

QString TransactionProcedure::body(Version version)
{
    QStringList columns;
    QStringList values;
    for (const char* c : kStored) {
        columns << QLatin1String(c);
        values << QLatin1Char('@') + QLatin1String(c);
    }
    columns << QStringLiteral("Processed") << QStringLiteral("ComputerName");
    values << QStringLiteral("1") << QStringLiteral("@ComputerName");
    if (version == Version::Hosted) {
        columns << QStringLiteral("DiscrepantQty") << QStringLiteral("OGTranNo") << QStringLiteral("ExternalPO");
        values << QStringLiteral("@DiscrepantQty") << QStringLiteral("@OGTranNo") << QStringLiteral("@ExternalPO");
    }
    const QString bin = QStringLiteral("FROM Bin WHERE MyNo = @Bin AND Station = @Station");
    QStringList identity{QStringLiteral("ComputerName IS @ComputerName")};
    for (const char* c : kIdentity)
        identity << QStringLiteral("%1 IS @%1").arg(QLatin1String(c));
    // Transactions of the employee code JAM leave the bins alone (one without an employee moves
    // stock like any other); a 'GI' moves stock by its
    // absolute quantities; no bin is left with negative stock. Type letters compare without
    // regard to case, as on a server's default collation.
    // A transaction the agent sends again because its marking was lost (a power cut, a locked
    // local database) is already stored, with the quantities taken above: it must not move the
    // stock a second time.
    return QStringList{
        QStringLiteral("SET @MovesStock = CASE WHEN coalesce(upper(@Emp), '') <> 'JAM' AND EXISTS (SELECT 1 %1) AND "
                       "upper(@Type) IN "
                       "('A', 'AB', 'B', 'I', 'P', 'R', 'T', 'RG', 'GI', 'GO', 'RR', 'S') THEN 1 ELSE 0 END")
            .arg(bin),
        QStringLiteral("IF @MovesStock = 1 AND upper(@Type) = 'GI' THEN SET @Quantity = abs(@Quantity)"),
        QStringLiteral("IF @MovesStock = 1 AND upper(@Type) = 'GI' THEN SET @BurnQty = abs(@BurnQty)"),
        QStringLiteral("IF @ComputerName IS NOT NULL AND EXISTS (SELECT 1 FROM MyTran WHERE %1) THEN RETURN 0")
            .arg(identity.join(QStringLiteral(" AND "))),
        QStringLiteral("IF @MovesStock = 1 THEN UPDATE Bin SET OnHand = OnHand + @Quantity, BurnQty = BurnQty + "
                       "@BurnQty WHERE MyNo = @Bin AND Station = @Station"),
        QStringLiteral("IF @MovesStock = 1 THEN UPDATE Bin SET OnHand = 0 WHERE OnHand < 0"),
        QStringLiteral("IF @MovesStock = 1 THEN UPDATE Bin SET BurnQty = 0 WHERE BurnQty < 0"),
        QStringLiteral("IF EXISTS (SELECT 1 %1) THEN SET @CurOnHand2 = (SELECT OnHand %1 LIMIT 1)").arg(bin),
        QStringLiteral("IF EXISTS (SELECT 1 %1) THEN SET @CurBurn2 = (SELECT BurnQty %1 LIMIT 1)").arg(bin),
        QStringLiteral("INSERT INTO MyTran (%1) VALUES (%2)")
            .arg(columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", "))),
        QStringLiteral("RETURN 0"),
    }
        .join(QStringLiteral(";\n"));
}

QString TransactionProcedure::createText()
{
    QStringList lines{QStringLiteral("CREATE PROCEDURE [dbo].[sp_CorvaneTran]")};
    for (const Parameter& p : kCommon)
        lines << QStringLiteral("@%1 %2,").arg(QLatin1String(p.name), QLatin1String(p.type));
    lines << QStringLiteral("@ComputerName varchar(100),");
    // The push always sets @ExternalPO: accept it (not stored) so that this definition can take pushes.
    lines << QStringLiteral("@ExternalPO varchar(50) = NULL");
    QStringList columns;
    QStringList values;
    for (const char* c : kStored) {
        columns << QLatin1String(c);
        values << QLatin1Char('@') + QLatin1String(c);
    }
    columns << QStringLiteral("Processed") << QStringLiteral("ComputerName");
    values << QStringLiteral("1") << QStringLiteral("@ComputerName");
    // NULL-safe: a column the transaction left NULL must still be recognised.
    QStringList identity{QStringLiteral("ComputerName = @ComputerName")};
    for (const char* c : kIdentity)
        identity << QStringLiteral("([%1] = @%1 OR ([%1] IS NULL AND @%1 IS NULL))").arg(QLatin1String(c));
    const QString binExists = QStringLiteral("EXISTS (SELECT * FROM Bin WHERE (MyNo = @Bin) AND (Station = @Station))");
    // A transaction without an employee is no JAM transaction.
    const QString notJam = QStringLiteral("ISNULL(UPPER(@Emp), '') <> 'JAM'");
    lines << QStringLiteral("AS")
          << QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED")
          // All or nothing: any failing statement undoes the transaction, and the caller sees the
          // failure instead of a stored transaction whose stock did not move.
          << QStringLiteral("SET XACT_ABORT ON") << QStringLiteral("BEGIN") << QStringLiteral("BEGIN TRY")
          << QStringLiteral("BEGIN TRAN") << QStringLiteral("IF %1 AND @Type = 'GI' AND %2").arg(notJam, binExists)
          << QStringLiteral("BEGIN") << QStringLiteral("\tSET @Quantity = ABS(@Quantity)")
          << QStringLiteral("\tSET @BurnQty = ABS(@BurnQty)")
          << QStringLiteral("END")
          // Sent again because the agent's marking was lost: already stored (with the quantities
          // taken above), the stock moved once. The locks keep a copy sent at the same time out.
          << QStringLiteral("IF @ComputerName IS NOT NULL AND EXISTS (SELECT * FROM MyTran WITH (UPDLOCK, HOLDLOCK) "
                            "WHERE %1)")
                 .arg(identity.join(QStringLiteral(" AND ")))
          << QStringLiteral("BEGIN") << QStringLiteral("\tCOMMIT TRAN") << QStringLiteral("\tRETURN 0")
          << QStringLiteral("END") << QStringLiteral("IF ") + notJam << QStringLiteral("BEGIN")
          << QStringLiteral("\tIF ") + binExists << QStringLiteral("\tBEGIN")
          << QStringLiteral("\t\tIF @Type IN ('A', 'AB', 'B', 'I', 'P', 'R', 'T', 'RG', 'GI', 'GO', 'RR', 'S')")
          << QStringLiteral("\t\tBEGIN")
          << QStringLiteral("\t\t\tUPDATE Bin SET OnHand = OnHand + @Quantity, BurnQty = BurnQty + @BurnQty")
          << QStringLiteral("\t\t\tWHERE (MyNo = @Bin) AND (Station = @Station)")
          << QStringLiteral("\t\t\tUPDATE Bin SET OnHand = 0 WHERE (OnHand < 0)")
          << QStringLiteral("\t\t\tUPDATE Bin SET BurnQty = 0 WHERE (BurnQty < 0)") << QStringLiteral("\t\tEND")
          << QStringLiteral("\tEND") << QStringLiteral("END")
          << QStringLiteral("SELECT @CurOnHand2 = OnHand, @CurBurn2 = BurnQty FROM Bin WITH (NOLOCK)")
          << QStringLiteral("WHERE (MyNo = @Bin) AND (Station = @Station)")
          << QStringLiteral("INSERT INTO MyTran (%1)").arg(columns.join(QStringLiteral(", ")))
          << QStringLiteral("VALUES (%1)").arg(values.join(QStringLiteral(", "))) << QStringLiteral("COMMIT TRAN")
          << QStringLiteral("RETURN 0") << QStringLiteral("END TRY") << QStringLiteral("BEGIN CATCH")
          << QStringLiteral("\tIF @@TRANCOUNT > 0") << QStringLiteral("\t\tROLLBACK TRAN")
          << QStringLiteral("\tDECLARE @Failure nvarchar(2048)") << QStringLiteral("\tSET @Failure = ERROR_MESSAGE()")
          << QStringLiteral("\tRAISERROR('%s', 16, 1, @Failure)") << QStringLiteral("\tRETURN 1")
          << QStringLiteral("END CATCH") << QStringLiteral("END");
    return joinLines(lines);
}

void TransactionProcedure::registerEmbeddedEquivalent()
{
    db::EmbeddedEquivalents::add(
        {db::EmbeddedEquivalent::Kind::Procedure, name(), parameters(Version::AgentOwn), body(Version::AgentOwn)});
}
