#include "demo/CribSchema.h"

#include "db/Connection.h"
#include "db/embedded/EmbeddedProcedure.h"
#include "model/TransactionProcedure.h"

#include <QStringList>
#include <vector>

namespace {

enum Where { Both, LocalOnly, RemoteOnly };

struct Column
{
    QString name;
    QString type;
    Where where = Both;
};

struct Table
{
    QString name;
    std::vector<Column> columns;
    QList<QStringList> indexes;
    Where where = Both;
    bool recordId = true; // identity RecordID first
    bool syncFlag = true; // local ASPProcessed / remote Processed last
};

QString text(int length)
{
    return QStringLiteral("varchar(%1) COLLATE NOCASE").arg(length);
}

const QString kInt = QStringLiteral("int");
const QString kMoney = QStringLiteral("money");
const QString kBit = QStringLiteral("bit");
const QString kDate = QStringLiteral("datetime");
const QString kBlob = QStringLiteral("image");
const QString kLongText = QStringLiteral("text COLLATE NOCASE");

Table table(const QString& name, std::vector<Column> columns, QList<QStringList> indexes = {}, Where where = Both,
    bool recordId = true, bool syncFlag = true)
{
    return Table{name, std::move(columns), std::move(indexes), where, recordId, syncFlag};
}

std::vector<Table> tables(const CribSchema::Options& options)
{
    std::vector<Table> t;
    t.push_back(table("Company",
        {{"Name", text(50)}, {"ASPDataBaseName", text(50)}, {"ASPLoginName", text(50)}, {"ASPPassword", text(50)},
            {"MasterID", text(20)}, {"MasterPin", text(20)}, {"Version", text(20)}, {"PoNo", kInt},
            {"LastReset", kDate}, {"LastSyncTime", kDate}, {"ClientSyncTime", kDate},
            {"Server", kBit + QStringLiteral(" DEFAULT 0")}}));
    t.push_back(table("Control", {{"ComputerName", text(60)}, {"Synch", kBit}, {"Port", kInt}, {"LastSyncTime", kDate}},
        {{"ComputerName"}}, Both, true, false));
    std::vector<Column> deleteHst = {{"TableName", text(50)}, {"Key1", text(50)}, {"Key2", text(50)}};
    if (!options.deleteHstWithoutKey3)
        deleteHst.push_back({"Key3", text(50), LocalOnly});
    deleteHst.push_back({"Key3", text(50), RemoteOnly});
    deleteHst.push_back({"LastUpdate", kDate});
    deleteHst.push_back({"ComputerName", text(100)});
    deleteHst.push_back({"LocalComputerName", text(100), RemoteOnly});
    t.push_back(table("DeleteHst", deleteHst));
    t.push_back(table("MyTran",
        {{"TranNo", kInt}, {"MyDate", kDate}, {"MyTime", kDate}, {"Station", text(12)}, {"Bin", text(12)},
            {"Type", text(2)}, {"Item", text(30)}, {"ItemType", kInt}, {"Quantity", kInt}, {"PackQty", kInt},
            {"IssueCost", kMoney}, {"UnitPrice", kMoney}, {"UnitCost", kMoney}, {"Emp", text(100)},
            {"Department", text(12)}, {"Job", text(40)}, {"Machine", text(12)}, {"Reason", text(12)},
            {"Operation", text(12)}, {"Supplier", text(12)}, {"PoNo", text(10)}, {"TagNo", text(10)},
            {"Comment", text(255)}, {"Red", kBit}, {"Compleat", kBit}, {"BurnQty", kInt}, {"Lot", text(20)},
            {"SpotTranCode", kInt}, {"Serial", text(20)}, {"CurOnHand", kInt}, {"CurBurn", kInt},
            {"PickTicketNo", text(10)}, {"PSlip", text(50)}, {"CurOnHand2", kInt}, {"CurBurn2", kInt},
            {"MAvgPrice", kMoney}, {"MAvgCost", kMoney}, {"AdjQty", kInt}, {"DiscrepantQty", kInt}, {"OGTranNo", kInt},
            {"ExternalPO", text(50)}, {"ComputerName", text(100)},
            {"ServerDateTime", kDate + QStringLiteral(" DEFAULT (strftime('%Y-%m-%dT%H:%M:%f','now','localtime'))")}},
        // Once per transaction the push probes by Type and both sides look for it by its identity
        // (Type, TranNo, ...): without the index each look reads the whole table, and a backlog
        // takes time growing with its square.
        {{"ServerDateTime"}, {"Type", "TranNo"}}));
    t.push_back(table("Station", {{"MyNo", text(4)}, {"Name", text(50)}, {"LimitAccess", kBit}}, {{"MyNo"}}));
    t.push_back(table("Bin",
        {{"Station", text(4)}, {"MyNo", text(12)}, {"Item", text(30)}, {"Description", text(50)},
            {"OnHand", kInt + QStringLiteral(" DEFAULT 0")}, {"BurnQty", kInt + QStringLiteral(" DEFAULT 0")},
            {"OnOrder", kInt + QStringLiteral(" DEFAULT 0")}, {"MinQty", kInt}, {"MaxQty", kInt}, {"LastCount", kDate},
            {"ComputerName", text(100), RemoteOnly}},
        {{"Station", "MyNo"}, {"Item"}}));
    t.push_back(table("BinHst",
        {{"Station", text(4)}, {"Bin", text(12)}, {"Item", text(30)}, {"MyDate", kDate}, {"Quantity", kInt}},
        {{"Station", "Bin"}}));
    t.push_back(table("Item",
        {{"MyNo", text(30)}, {"Description", text(100)}, {"ItemClass", text(12)}, {"UnitPrice", kMoney},
            {"UnitCost", kMoney}, {"ComputerName", text(100), RemoteOnly}},
        {{"MyNo"}}));
    t.push_back(table("Emp",
        {{"MyNo", text(12)}, {"Name", text(50)}, {"Department", text(12)}, {"Cribs", text(50)}, {"Items", kLongText},
            {"Active", kBit}},
        {{"MyNo"}}));
    std::vector<Column> issue = {{"TranNo", kInt}, {"MyLineNo", kInt}, {"Item", text(30)}, {"Quantity", kInt},
        {"Emp", text(100)}, {"MyDate", kDate}};
    if (options.issueHasComputerName)
        issue.push_back({"ComputerName", text(100), RemoteOnly});
    t.push_back(table("Issue", issue, {{"TranNo", "MyLineNo"}}));
    t.push_back(table("IssueAttrib1",
        {{"TranNo", kInt}, {"MyLineNo", kInt}, {"Attrib", text(50)}, {"ComputerName", text(100), RemoteOnly}},
        {{"TranNo", "MyLineNo"}}));
    t.push_back(table("Kit", {{"KitNo", text(30)}, {"Item", text(30)}, {"Quantity", kInt}}, {{"KitNo", "Item"}}));
    t.push_back(table("Serial", {{"Serial", text(20)}, {"Item", text(30)}, {"Station", text(4)}, {"Status", text(12)}},
        {{"Serial", "Item"}}));
    t.push_back(table("Terminal", {{"Terminal", text(12)}, {"Station", text(4)}, {"Description", text(50)}},
        {{"Terminal", "Station"}}));
    t.push_back(table("JobItems", {{"Job", text(40)}, {"Item", text(30)}, {"Quantity", kInt}}, {{"Job", "Item"}}));
    t.push_back(table("Release", {{"Station", text(4)}, {"ReleaseNo", kInt}, {"Item", text(30)}, {"Quantity", kInt}},
        {{"Station", "ReleaseNo"}}));
    t.push_back(table("BinAttrib1",
        {{"Station", text(4)}, {"Bin", text(12)}, {"Container", text(12)}, {"Lot", text(20)}, {"ExpirDt", kDate},
            {"DoseOnHand", kInt}, {"DoseBurn", kInt}, {"Quantity", kInt}, {"BurnQty", kInt}},
        {{"Station", "Bin", "Container", "Lot"}}));
    t.push_back(table("ItemAttrib1", {{"Code", text(30)}, {"Attrib", text(50)}}, {{"Code"}}));
    t.push_back(table("RoboMinMax",
        {{"Station", text(50)}, {"Item", text(50)}, {"PkgQty", kInt}, {"MinQty", kInt}, {"MaxQty", kInt},
            {"LocalSyncProcessed", kBit, LocalOnly}},
        {{"Station", "Item", "PkgQty"}}));
    t.push_back(table("Transfer2",
        {{"TransferID", kInt}, {"FromStation", text(4)}, {"ToStation", text(4)}, {"Item", text(30)},
            {"Quantity", kInt}},
        {{"TransferID"}}));
    t.push_back(
        table("MyTranExt1", {{"TranNo", kInt}, {"ComputerName", text(100)}, {"Attrib", text(50)}}, {{"TranNo"}}));
    t.push_back(table("AdminTran", {{"TranNo", kInt}, {"Type", text(2)}, {"MyDate", kDate}, {"Comment", text(255)}}));
    t.push_back(table("SysParameters", {{"Name", text(50)}, {"Value", text(255)}}));
    t.push_back(table("Safety", {{"Message", text(255)}, {"MyDate", kDate}}));
    t.push_back(table("Regrind", {{"RegrindID", kInt}, {"Item", text(30)}, {"Quantity", kInt}}, {{"RegrindID"}}));
    t.push_back(table("CalHistory", {{"CalibrateID", kInt}, {"Item", text(30)}, {"MyDate", kDate}}, {{"CalibrateID"}}));
    t.push_back(table("ClassImage", {{"MyNo", text(12)}, {"Picture", kBlob}}, {{"MyNo"}}));
    t.push_back(table("EmpImage", {{"MyNo", text(12)}, {"Picture", kBlob}}, {{"MyNo"}}));
    t.push_back(table("ItemImage", {{"Code", text(30)}, {"Picture", kBlob}}, {{"Code"}}));
    t.push_back(table("DeptMach", {{"Dept", text(12)}, {"Mach", text(12)}}, {{"Dept", "Mach"}}));
    t.push_back(table("MachJob", {{"Mach", text(12)}, {"Job", text(40)}}, {{"Mach", "Job"}}));
    const std::vector<Column> report = {{"MyGroup", text(50)}, {"Name", text(50)}, {"Description", text(100)},
        {"MyDate", kDate}, {"DateField", text(50)}, {"Range1", text(50)}, {"Field1", text(50)}, {"Size1", kInt},
        {"Range2", text(50)}, {"Field2", text(50)}, {"Size2", kInt}, {"SQLText", kLongText}};
    t.push_back(table("Report", report, {{"MyGroup", "Name"}}));
    t.push_back(table("Custom", report, {{"MyGroup", "Name"}}));
    t.push_back(table("StockOuts", {{"BoNo", text(20)}, {"Item", text(30)}, {"Quantity", kInt}}, {{"BoNo"}}));
    t.push_back(
        table("DailyInventory", {{"MyDate", kDate}, {"Station", text(4)}, {"Item", text(30)}, {"OnHand", kInt}}));
    t.push_back(table("Poll", {{"MyDate", kDate}, {"Station", text(4)}, {"Result", text(50)}}));
    t.push_back(table("PortalLog", {{"MyDate", kDate}, {"Message", text(255)}}));
    t.push_back(table("PortalPhotos", {{"MyDate", kDate}, {"Photo", kBlob}}));
    t.push_back(table("Schedules", {{"Name", text(50)}, {"Station", text(4)}, {"StartTime", kDate}, {"EndTime", kDate}},
        {}, LocalOnly, false));
    t.push_back(table("Schedules", {{"Name", text(50)}, {"Station", text(4)}, {"StartTime", kDate}, {"EndTime", kDate}},
        {{"Name"}}, RemoteOnly));
    t.push_back(table("Alias", {{"Mach", text(12)}, {"Reas", text(12)}}, {}, LocalOnly));
    t.push_back(table("Alias", {{"Machine", text(12)}, {"Reason", text(12)}}, {}, RemoteOnly));
    t.push_back(table("LastPoll", {{"Station", text(4)}, {"MyDate", kDate}}));
    t.push_back(table("MyUser", {{"MyNo", text(12)}, {"Password", text(50)}}));
    t.push_back(table("Outbox",
        {{"ComputerName", text(100)}, {"TableName", text(50)}, {"Type", text(2)}, {"ID", text(20)}, {"Key1", text(50)},
            {"Key2", text(50)}, {"Key3", text(50)}},
        {{"ComputerName", "Processed", "RecordID"}}));
    t.push_back(table("LocalSyncOutBox",
        {{"ComputerName", text(50)}, {"TableName", text(50)}, {"RecID", kInt}, {"Key1", text(150)},
            {"Key2", text(150)}},
        {}, LocalOnly, true, false));
    // Work tables of the crib application that are never synchronised.
    for (const char* name : {"TempIssue", "BinLab", "PalmIssue", "CycleCount"})
        t.push_back(table(name, {{"Station", text(4)}, {"Item", text(30)}, {"Quantity", kInt}}, {}, LocalOnly));
    t.push_back(table("LocalNotes", {{"Note", text(255)}}, {}, LocalOnly));
    t.push_back(table("HostedNews", {{"Headline", text(255)}, {"MyDate", kDate}}, {}, RemoteOnly));
    return t;
}

bool onSide(Where where, CribSchema::Side side)
{
    return where == Both || (where == LocalOnly) == (side == CribSchema::Side::Local);
}

QString bracketed(const QString& name)
{
    return QLatin1Char('[') + name + QLatin1Char(']');
}

const QString kBinChangeLocal = QStringLiteral(
    "IF NOT EXISTS (SELECT 1 FROM Bin WHERE Station = @Station AND MyNo = @MyNo) THEN "
    "RAISERROR 'Bin ' || @MyNo || ' does not exist at station ' || @Station;\n"
    "IF EXISTS (SELECT 1 FROM Bin WHERE Station = @Station AND MyNo = @NewBin) THEN "
    "RAISERROR 'Bin ' || @NewBin || ' already exists at station ' || @Station;\n"
    "UPDATE Bin SET MyNo = @NewBin WHERE Station = @Station AND MyNo = @MyNo;\n"
    "UPDATE BinHst SET Bin = @NewBin WHERE Station = @Station AND Bin = @MyNo;\n"
    // A rename made at this computer is recorded for the agent to carry to the hosted copy.
    "IF @Change = 1 THEN INSERT INTO DeleteHst (TableName, Key1, Key2, Key3, LastUpdate, ASPProcessed) "
    "VALUES ('BinC', @Station, @MyNo, @NewBin, strftime('%Y-%m-%dT%H:%M:%S','now','localtime'), 0);\n"
    "RETURN 0");

const QString kItemChangeLocal = QStringLiteral(
    "IF NOT EXISTS (SELECT 1 FROM Item WHERE MyNo = @Item) THEN RAISERROR 'Item ' || @Item || ' does not exist';\n"
    "IF EXISTS (SELECT 1 FROM Item WHERE MyNo = @NewItem) THEN RAISERROR 'Item ' || @NewItem || ' already exists';\n"
    "UPDATE Item SET MyNo = @NewItem WHERE MyNo = @Item;\n"
    "UPDATE Bin SET Item = @NewItem WHERE Item = @Item;\n"
    "UPDATE Kit SET Item = @NewItem WHERE Item = @Item;\n"
    "IF @Change = 1 THEN INSERT INTO DeleteHst (TableName, Key1, Key2, LastUpdate, ASPProcessed) "
    "VALUES ('ItemC', @Item, @NewItem, strftime('%Y-%m-%dT%H:%M:%S','now','localtime'), 0);\n"
    "RETURN 0");

const QString kBinChangeRemote
    = QStringLiteral("IF NOT EXISTS (SELECT 1 FROM Bin WHERE Station = @Station AND MyNo = @MyNo) THEN "
                     "RAISERROR 'Bin ' || @MyNo || ' does not exist at station ' || @Station;\n"
                     "IF EXISTS (SELECT 1 FROM Bin WHERE Station = @Station AND MyNo = @NewBin) THEN "
                     "RAISERROR 'Bin ' || @NewBin || ' already exists at station ' || @Station;\n"
                     "UPDATE Bin SET MyNo = @NewBin WHERE Station = @Station AND MyNo = @MyNo;\n"
                     "UPDATE BinHst SET Bin = @NewBin WHERE Station = @Station AND Bin = @MyNo;\n"
                     "RETURN 0");

const QString kItemChangeRemote = QStringLiteral(
    "IF NOT EXISTS (SELECT 1 FROM Item WHERE MyNo = @OldItem) THEN "
    "RAISERROR 'Item ' || @OldItem || ' does not exist';\n"
    "IF EXISTS (SELECT 1 FROM Item WHERE MyNo = @NewItem) THEN RAISERROR 'Item ' || @NewItem || ' already exists';\n"
    "UPDATE Item SET MyNo = @NewItem WHERE MyNo = @OldItem;\n"
    "IF @RenameBins = 1 THEN UPDATE Bin SET Item = @NewItem WHERE Item = @OldItem;\n"
    "IF @RenameKits = 1 THEN UPDATE Kit SET Item = @NewItem WHERE Item = @OldItem;\n"
    "RETURN 0");

} // namespace

QStringList CribSchema::tableNames(Side side, const Options& options)
{
    QStringList names;
    for (const Table& table : tables(options)) {
        if (onSide(table.where, side))
            names << table.name;
    }
    return names;
}

void CribSchema::create(db::Connection& connection, Side side, const Options& options)
{
    const QString flag = side == Side::Local ? QStringLiteral("ASPProcessed") : QStringLiteral("Processed");
    for (const Table& table : tables(options)) {
        if (!onSide(table.where, side))
            continue;
        QStringList definitions;
        if (table.recordId)
            definitions << QStringLiteral("[RecordID] INTEGER PRIMARY KEY AUTOINCREMENT");
        for (const Column& c : table.columns) {
            if (onSide(c.where, side))
                definitions << bracketed(c.name) + QLatin1Char(' ') + c.type;
        }
        if (!table.recordId)
            definitions.first() += QStringLiteral(" PRIMARY KEY");
        if (table.syncFlag || table.name == QLatin1String("Outbox"))
            definitions << bracketed(flag) + QStringLiteral(" bit NOT NULL DEFAULT 0");
        connection.execute(QStringLiteral("CREATE TABLE %1 (%2)").arg(bracketed(table.name), definitions.join(", ")));

        QList<QStringList> indexes = table.indexes;
        if (table.syncFlag && side == Side::Local)
            indexes << QStringList{flag};
        for (const QStringList& index : indexes) {
            QStringList columns;
            for (const QString& c : index) {
                bool present = c == flag || c == QLatin1String("RecordID");
                for (const Column& col : table.columns)
                    present = present || (col.name == c && onSide(col.where, side));
                if (!present)
                    break;
                columns << bracketed(c);
            }
            if (columns.size() != index.size())
                continue;
            connection.execute(QStringLiteral("CREATE INDEX [IX_%1_%2] ON %3 (%4)")
                                   .arg(table.name, index.join(QLatin1Char('_')), bracketed(table.name),
                                       columns.join(QStringLiteral(", "))));
        }
    }
    connection.execute(QStringLiteral("CREATE VIEW [vw_BinStock] AS SELECT Station, MyNo, Item, OnHand FROM Bin"));

    if (side == Side::Local) {
        connection.installEmbeddedProcedure({QStringLiteral("BinChange"),
            QStringLiteral("@Station varchar(50), @MyNo varchar(50), @NewBin varchar(50), @Change bit = NULL"),
            kBinChangeLocal});
        connection.installEmbeddedProcedure({QStringLiteral("ItemChange"),
            QStringLiteral("@Item varchar(50), @NewItem varchar(50), @Change bit = NULL"), kItemChangeLocal});
        return;
    }
    connection.installEmbeddedProcedure({QStringLiteral("sproc_BinChange"),
        QStringLiteral("@Station varchar(50), @MyNo varchar(50), @NewBin varchar(50), @Contact varchar(100) = NULL"),
        kBinChangeRemote});
    connection.installEmbeddedProcedure({QStringLiteral("sproc_ItemChange"),
        QStringLiteral("@OldItem varchar(30), @NewItem varchar(30), @RenameBins bit, "
                       "@RenameKits bit, @Contact varchar(100) = NULL"),
        kItemChangeRemote});
    if (options.withTransactionProcedure) {
        connection.installEmbeddedProcedure(
            {TransactionProcedure::name(), TransactionProcedure::parameters(TransactionProcedure::Version::Hosted),
                TransactionProcedure::body(TransactionProcedure::Version::Hosted)});
    }
}
