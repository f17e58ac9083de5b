// Collects every distinct text the agent sends to SQL Server, in the form the ODBC engine sends
// it, for the T-SQL check (check.mjs): the statements traced (CRIBSYNC_SQL_TRACE) while the
// executable runs cycles that do every kind of work and while the push and apply steps read the
// demo pair a page of one row at a time, the texts only the ODBC engine makes (the
// procedure-call batch, the schema stamp, the SQL Server forms of the generated row statements),
// and the table rules' statements rendered for a table and columns whose names need brackets.
// Writes one JSON file: the texts, the crib schema's spellings, and the markers that tell a value
// written into a text.
//
//   tsql_statements <output.json>

#include "apply/OutboxApply.h"
#include "db/Connection.h"
#include "db/Dml.h"
#include "db/SqlTokenizer.h"
#include "db/odbc/OdbcEngine.h"
#include "demo/DemoSetup.h"
#include "model/TableRules.h"
#include "push/PendingChangeScan.h"
#include "support/AgentProcess.h"
#include "support/CribSites.h"
#include "support/CycleFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <cstdio>

namespace {

/// In every text key the scenarios write: a value that shows up in a statement's text was
/// written into it as a literal. Outside the code page of most servers, so it also needs N''.
const QString kMark = QStringLiteral("Ж");
/// Every number key the scenarios write lies in this range, for the same reason.
constexpr int kFirstNumber = 900001;
int g_nextNumber = kFirstNumber;

int number()
{
    return g_nextNumber++;
}

QString key(const QString& stem)
{
    return stem + kMark;
}

/// Names that always need brackets: a table rule's statements are rendered with them.
const QString kMarkTable = QStringLiteral("Ж T]");
QString markColumn(int position)
{
    return QStringLiteral("Ж C%1]").arg(position);
}

/// A customer table the rules do not know, whose names are reserved words and hold a blank.
const QString kOddTable = QStringLiteral("Order Lines");
const QStringList kOddColumns
    = {QStringLiteral("Key"), QStringLiteral("File"), QStringLiteral("Percent"), QStringLiteral("Line No")};

struct Text
{
    QString target;
    QString origin;
    QString text;
};

class Collection
{
public:
    void add(const QString& target, const QString& origin, const QString& text)
    {
        if (m_seen.contains(text))
            return;
        m_seen.insert(text);
        m_texts.append({target, origin, text});
    }
    const QList<Text>& texts() const { return m_texts; }

private:
    QSet<QString> m_seen;
    QList<Text> m_texts;
};

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "tsql_statements: %s\n", qPrintable(message));
    std::exit(1);
}

/// What the ODBC engine sends for a text the client layer was given: ":name" placeholders bound
/// by position.
QString asSent(const QString& sql)
{
    QStringList names;
    return db::positionalPlaceholders(sql, &names);
}

/// The statements of a trace file, each as the ODBC engine would send it.
void readTrace(const QString& path, const QString& origin, Collection& out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("no trace in %1").arg(path));
    const QString all = QString::fromUtf8(file.readAll());
    static const QRegularExpression head(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\S* (\w+): )"), QRegularExpression::MultilineOption);
    // The client layer traces a procedure call by its parameter names; the ODBC engine sends a batch.
    static const QRegularExpression call(QStringLiteral(R"(^EXEC ([^\s\[\]]+) ((?:@\w+(?:, )?)*)$)"));
    // The embedded engine's own form of a row statement for a table without a key.
    static const QRegularExpression sqliteForm(QStringLiteral(R"(WHERE rowid = \(SELECT rowid FROM )"));
    // Transactions go through the ODBC connection's attributes, not through a text.
    static const QStringList transaction = {"BEGIN TRANSACTION", "COMMIT", "ROLLBACK"};
    QList<QRegularExpressionMatch> heads;
    for (auto it = head.globalMatch(all); it.hasNext();)
        heads << it.next();
    for (qsizetype i = 0; i < heads.size(); ++i) {
        const qsizetype start = heads[i].capturedEnd(0);
        const qsizetype end = i + 1 < heads.size() ? heads[i + 1].capturedStart(0) - 2 : all.size() - 2;
        const QString text = all.mid(start, end - start);
        const QString target = heads[i].captured(1);
        if (transaction.contains(text) || sqliteForm.match(text).hasMatch())
            continue;
        if (const auto m = call.match(text); m.hasMatch()) {
            const QStringList names = m.captured(2).split(QStringLiteral(", "), Qt::SkipEmptyParts);
            QStringList sent;
            for (const QString& name : names) {
                if (name.compare(QLatin1String("@RETURN_VALUE"), Qt::CaseInsensitive) != 0)
                    sent << name;
            }
            out.add(target, QStringLiteral("odbc call ") + origin, db::OdbcEngine::callBatch(m.captured(1), sent));
            continue;
        }
        out.add(target, QStringLiteral("trace ") + origin, asSent(text));
    }
}

/// The SQL Server forms of the row statements the client layer generates, for every table, and
/// the batch of a row's update and its read-back.
void addRowStatements(db::Connection& connection, const QString& target, Collection& out)
{
    for (const QString& table : connection.tables()) {
        const QList<db::ColumnInfo> columns = connection.columns(table);
        QList<QPair<QString, QVariant>> values;
        db::RowKey unique;
        db::RowKey all;
        all.unique = false;
        QStringList names;
        for (const db::ColumnInfo& c : columns) {
            names << c.name;
            if (c.kind == db::ColumnKind::AutoIncrement || c.primaryKey) {
                unique.columns.append({c.name, 1});
                continue;
            }
            values.append({c.name, QStringLiteral("v")});
            all.columns.append({c.name, QStringLiteral("v")});
        }
        // One key column NULL: the server's form of that comparison too.
        if (!all.columns.isEmpty())
            all.columns.last().second = QVariant();
        const auto add = [&](const db::GeneratedStatement& st) {
            out.add(target, QStringLiteral("generated row statement"), asSent(st.sql));
        };
        add(db::Dml::insert(db::SqlDialect::TSql, table, values));
        add(db::Dml::update(db::SqlDialect::TSql, table, all, values));
        add(db::Dml::remove(db::SqlDialect::TSql, table, all));
        add(db::Dml::select(table, names, all));
        if (!unique.columns.isEmpty()) {
            add(db::Dml::update(db::SqlDialect::TSql, table, unique, values));
            add(db::Dml::remove(db::SqlDialect::TSql, table, unique));
            add(db::Dml::select(table, names, unique));
        }
        // A row marked and read back in one round trip.
        const db::RowKey& key = unique.columns.isEmpty() ? all : unique;
        out.add(target, QStringLiteral("odbc update then query"),
            db::OdbcEngine::commandThenQueryBatch(asSent(db::Dml::update(db::SqlDialect::TSql, table, key, values).sql),
                asSent(db::Dml::select(table, names, key).sql)));
    }
}

/// Every statement of every table rule, for a table and columns whose names need brackets.
void addRuleTemplates(Collection& out)
{
    QStringList tables
        = CribSchema::tableNames(CribSchema::Side::Local, {}) + CribSchema::tableNames(CribSchema::Side::Remote, {});
    tables << QStringLiteral("AnyOtherTable");
    QSet<QString> done;
    for (const QString& table : tables) {
        const TableRule& rule = TableRules::of(table);
        if (done.contains(rule.name))
            continue;
        done.insert(rule.name);
        StatementValues values;
        values.table = kMarkTable;
        values.at = [](int) { return QVariant(number()); };
        values.named = [](const QString&) { return QVariant(number()); };
        values.column = [](int position) { return markColumn(position); };
        values.key = markColumn(0);
        values.pageRows = 1;
        values.machineName = key(QStringLiteral("CRIB-"));
        values.issueHasComputerName = true;
        const QString origin = QStringLiteral("rule %1 ").arg(rule.name.isEmpty() ? table : rule.name);
        const auto render = [&](const QString& field, const QString& statement, const QString& target) {
            out.add(target, origin + field, asSent(TableRules::render(statement, values).sql));
        };
        render(QStringLiteral("probe"), rule.probe, QStringLiteral("remote"));
        render(QStringLiteral("pendingRows"), rule.pendingRows, QStringLiteral("local"));
        for (const QString* page :
            {&rule.pendingCount, &rule.pendingPage, &rule.pendingPageAfter, &rule.pendingPageAfterNull}) {
            if (!page->isEmpty())
                render(QStringLiteral("pages"), *page, QStringLiteral("local"));
        }
        render(QStringLiteral("applyLookup"), rule.applyLookup, QStringLiteral("local"));
        for (const QString& s : rule.historyLookup)
            render(QStringLiteral("historyLookup"), s, QStringLiteral("remote"));
        for (const QString& s : rule.deleteLookup)
            render(QStringLiteral("deleteLookup"), s, QStringLiteral("local"));
    }
}

/// The names of every table, column and procedure parameter of a database, as it spells them.
void addNames(db::Connection& connection, QJsonObject& names)
{
    const auto add = [&](const QString& name, const QString& kind) {
        if (!names.contains(name))
            names.insert(name, kind);
    };
    for (const QString& table : connection.tables()) {
        add(table, QStringLiteral("table"));
        for (const db::ColumnInfo& c : connection.columns(table))
            add(c.name, QStringLiteral("column of ") + table);
    }
    for (const QString& procedure : connection.procedures()) {
        const QString name = procedure.section(QLatin1Char(';'), 0, 0);
        add(name, QStringLiteral("procedure"));
    }
}

void createOddTable(db::Connection& connection, bool local)
{
    QStringList columns;
    if (local)
        columns << QStringLiteral("[RecordID] INTEGER PRIMARY KEY AUTOINCREMENT");
    for (const QString& c : kOddColumns)
        columns << db::bracketed(c)
                + (c == QLatin1String("Percent") ? QStringLiteral(" int")
                                                 : QStringLiteral(" varchar(50) COLLATE NOCASE"));
    columns << (local ? QStringLiteral("[ASPProcessed] bit NOT NULL DEFAULT 0")
                      : QStringLiteral("[Processed] bit NOT NULL DEFAULT 0"));
    connection.execute(
        QStringLiteral("CREATE TABLE %1 (%2)").arg(db::bracketed(kOddTable), columns.join(QStringLiteral(", "))));
}

QVariantMap row(std::initializer_list<std::pair<const char*, QVariant>> values)
{
    QVariantMap map;
    for (const auto& [name, value] : values)
        map.insert(QLatin1String(name), value);
    return map;
}

/// Pending rows in every table the push has a rule for, history rows of every kind, and remote
/// orders of every kind for `m`.
void seedCrib(CribSites& c, const QString& m)
{
    const QDateTime when(QDate(2026, 12, 1), QTime(8, 30));
    const QString station = c.computer(m).station;
    createOddTable(c.local(m), true);
    createOddTable(c.remote(), false);

    // Local rows not yet sent.
    c.insertLocal(m, "Item", row({{"MyNo", key("ITM-")}, {"Description", "Reamer"}, {"UnitPrice", 2.5}}));
    c.updateLocal(m, "Item", "MyNo = 'ITM-002'", row({{"Description", "Drill 6 mm"}}));
    // A bin without its station: its key is NULL.
    c.insertLocal(m, "Bin", row({{"Station", QVariant()}, {"MyNo", key("B")}, {"Item", "ITM-001"}, {"OnHand", 5}}));
    c.updateLocal(m, "Bin", "MyNo = 'B002'", row({{"Description", "relabelled"}}));
    const int tranNo = number();
    c.insertLocal(m, "Issue", row({{"TranNo", tranNo}, {"MyLineNo", number()}, {"Item", "ITM-003"}, {"Quantity", 2}}));
    c.insertLocal(m, "IssueAttrib1", row({{"TranNo", tranNo}, {"MyLineNo", number()}, {"Attrib", key("a")}}));
    c.insertLocal(m, "BinHst", row({{"Station", station}, {"Bin", key("B")}, {"Item", "ITM-001"}, {"MyDate", when}}));
    c.insertLocal(m, "Kit", row({{"KitNo", key("K")}, {"Item", "ITM-001"}, {"Quantity", 2}}));
    c.insertLocal(m, "Serial", row({{"Serial", key("SN")}, {"Item", "ITM-001"}, {"Station", station}}));
    c.insertLocal(m, "Terminal", row({{"Terminal", key("T")}, {"Station", station}}));
    c.insertLocal(m, "JobItems", row({{"Job", key("J")}, {"Item", "ITM-001"}, {"Quantity", 1}}));
    c.insertLocal(m, "Release", row({{"Station", key("S")}, {"ReleaseNo", number()}, {"Item", "ITM-001"}}));
    c.insertLocal(m, "BinAttrib1",
        row({{"Station", station}, {"Bin", key("B")}, {"Container", key("C")}, {"Lot", key("L")}, {"ExpirDt", when}}));
    c.insertLocal(m, "ItemAttrib1", row({{"Code", key("C")}, {"Attrib", "x"}}));
    c.insertLocal(m, "RoboMinMax",
        row({{"Station", key("S")}, {"Item", key("I")}, {"PkgQty", number()}, {"LocalSyncProcessed", 1}}));
    c.insertLocal(m, "Transfer2", row({{"TransferID", number()}, {"Item", "ITM-001"}, {"Quantity", 1}}));
    c.insertLocal(m, "MyTranExt1", row({{"TranNo", number()}, {"ComputerName", m}, {"Attrib", key("a")}}));
    c.insertLocal(m, "MyTranExt1", row({{"TranNo", QVariant()}, {"ComputerName", m}, {"Attrib", key("b")}}));
    c.insertLocal(m, "AdminTran", row({{"TranNo", number()}, {"Type", "AD"}, {"MyDate", when}}));
    c.insertLocal(m, "SysParameters", row({{"Name", key("P")}, {"Value", "1"}}));
    c.insertLocal(m, "Safety", row({{"Message", key("M")}}));
    c.insertLocal(m, "Regrind", row({{"RegrindID", number()}, {"Item", "ITM-001"}}));
    c.insertLocal(m, "CalHistory", row({{"CalibrateID", number()}, {"Item", "ITM-001"}, {"MyDate", when}}));
    c.insertLocal(m, "ClassImage", row({{"MyNo", key("CL")}, {"Picture", QByteArray("pic")}}));
    c.insertLocal(m, "EmpImage", row({{"MyNo", key("E")}, {"Picture", QByteArray("pic")}}));
    c.insertLocal(m, "ItemImage", row({{"Code", key("I")}, {"Picture", QByteArray("pic")}}));
    c.insertLocal(m, "DeptMach", row({{"Dept", key("D")}, {"Mach", key("M")}}));
    c.insertLocal(m, "MachJob", row({{"Mach", key("M")}, {"Job", key("J")}}));
    c.insertLocal(m, "Report", row({{"MyGroup", key("G")}, {"Name", key("N")}}));
    c.insertLocal(m, "Custom", row({{"MyGroup", key("G")}, {"Name", key("N")}}));
    c.insertLocal(m, "StockOuts", row({{"BoNo", key("BO")}, {"Item", "ITM-001"}, {"Quantity", 1}}));
    c.insertLocal(m, "DailyInventory", row({{"MyDate", when}, {"Station", station}, {"Item", key("I")}}));
    c.insertLocal(m, "Poll", row({{"MyDate", when}, {"Station", station}, {"Result", key("R")}}));
    c.insertLocal(m, "PortalLog", row({{"MyDate", when}, {"Message", key("M")}}));
    c.insertLocal(m, "PortalPhotos", row({{"MyDate", when}, {"Photo", QByteArray("pic")}}));
    c.insertLocal(m, "Alias", row({{"Mach", key("M")}, {"Reas", key("R")}}));
    c.insertLocal(m, "LastPoll", row({{"Station", station}, {"MyDate", when}}));
    c.insertLocal(m, "LocalNotes", row({{"Note", key("n")}}));
    c.updateLocal(m, "Emp", "MyNo = 'E300'", row({{"Department", key("D")}}));
    c.updateLocal(m, "Company", "1 = 1", row({{"Name", key("Works ")}}));
    c.insertLocal(
        m, kOddTable, row({{"Key", key("k")}, {"File", key("f")}, {"Percent", number()}, {"Line No", key("l")}}));
    c.addLocalTransaction(m, {number(), "B003", "ITM-003", "I", -2, 0, "E100", {}, when});
    c.addLocalTransaction(m, {number(), "B004", "ITM-004", "GI", -3, 0, QString(), {}, when.addSecs(60)});

    // Deletions and renames the crib made.
    c.deleteLocal(m, "Bin", "Station = '" + station + "' AND MyNo = 'B006'", station, "B006");
    c.renameLocalBin(m, "B005", key("B5"));
    c.renameLocalItem(m, "ITM-006", key("ITM-6"));
    CribRows::insert(c.remote(), "Bin", row({{"Station", station}, {"MyNo", key("B7")}, {"Processed", 1}}));
    const auto history = [&](const QString& table, const QVariant& k1, const QVariant& k2, const QVariant& k3) {
        CribRows::insert(c.local(m), "DeleteHst",
            row({{"TableName", table}, {"Key1", k1}, {"Key2", k2}, {"Key3", k3}, {"LastUpdate", when},
                {"ComputerName", m}, {"ASPProcessed", 0}}));
    };
    // A rename the hosted copy holds already, and an item rename of an item it lacks.
    history("BinC", station, key("B6"), key("B7"));
    history("ItemC", key("gone"), key("gone2"), QVariant());
    history("Issue", QString::number(number()), "1", QVariant());
    history("Item", "ITM-004", QVariant(), QVariant());
    history("Kit", key("K"), "ITM-001", QVariant());
    history("Release", key("S"), QString::number(number()), QVariant());
    history("RoboMinMax", key("S"), key("I"), QString::number(number()));
    history("Regrind", QString::number(number()), QVariant(), QVariant());
    history("CalHistory", QString::number(number()), QVariant(), QVariant());
    history("Tran", QString::number(number()), QVariant(), QVariant());
    history("User", key("U"), QVariant(), QVariant());
    history("ItemImage", key("I"), QVariant(), QVariant());
    history(kOddTable, key("k"), QVariant(), QVariant());

    // Central changes and the orders that carry them here.
    const auto copy = [&](const QString& table, const QVariantMap& values) {
        c.orderCopy(m, table, c.insertRemote(table, values));
    };
    c.updateRemote("Item", "MyNo = 'ITM-001'", row({{"Description", key("central ")}}));
    c.orderCopy(m, "Item", c.remoteId("Item", "MyNo = 'ITM-001'"));
    copy("Bin", row({{"Station", station}, {"MyNo", key("BR")}, {"Item", "ITM-002"}, {"ComputerName", "HOSTED"}}));
    c.orderCopy(m, "MyTran", c.addRemoteTransaction(station, {number(), "B001", "ITM-001", "I", -1, 0, "E200", {}}));
    copy("Issue", row({{"TranNo", number()}, {"MyLineNo", 1}, {"Item", "ITM-001"}, {"ComputerName", m}}));
    copy("IssueAttrib1", row({{"TranNo", number()}, {"MyLineNo", 1}, {"Attrib", key("a")}}));
    copy("BinHst", row({{"Station", station}, {"Bin", key("BR")}, {"MyDate", when}}));
    copy("Kit", row({{"KitNo", key("KR")}, {"Item", "ITM-002"}}));
    copy("Serial", row({{"Serial", key("SR")}, {"Item", "ITM-002"}}));
    copy("Terminal", row({{"Terminal", key("TR")}, {"Station", station}}));
    copy("JobItems", row({{"Job", key("JR")}, {"Item", "ITM-002"}}));
    copy("Release", row({{"Station", key("SR")}, {"ReleaseNo", number()}}));
    copy("BinAttrib1",
        row({{"Station", station}, {"Bin", key("BR")}, {"Container", key("C")}, {"Lot", key("L")}, {"ExpirDt", when}}));
    copy("ItemAttrib1", row({{"Code", key("CR")}, {"Attrib", "y"}}));
    copy("RoboMinMax", row({{"Station", key("SR")}, {"Item", key("IR")}, {"PkgQty", number()}}));
    copy("Transfer2", row({{"TransferID", number()}, {"Item", "ITM-002"}}));
    copy("MyTranExt1", row({{"TranNo", number()}, {"ComputerName", m}, {"Attrib", key("r")}}));
    c.orderCopy(m, "Company", c.remoteId("Company", "1 = 1"));
    copy("SysParameters", row({{"Name", key("PR")}, {"Value", "2"}}));
    copy("Safety", row({{"Message", key("MR")}}));
    copy("Regrind", row({{"RegrindID", number()}, {"Item", "ITM-002"}}));
    copy("CalHistory", row({{"CalibrateID", number()}, {"Item", "ITM-002"}}));
    copy("ClassImage", row({{"MyNo", key("CR")}, {"Picture", QByteArray("pic")}}));
    copy("DeptMach", row({{"Dept", key("DR")}, {"Mach", key("MR")}}));
    copy("MachJob", row({{"Mach", key("MR")}, {"Job", key("JR")}}));
    copy("Report", row({{"MyGroup", key("GR")}, {"Name", key("NR")}}));
    copy("Custom", row({{"MyGroup", key("GR")}, {"Name", key("NR")}}));
    copy("StockOuts", row({{"BoNo", key("BR")}, {"Item", "ITM-002"}}));
    copy("DailyInventory", row({{"MyDate", when}, {"Station", station}, {"Item", key("IR")}}));
    copy("Poll", row({{"MyDate", when}, {"Station", station}}));
    copy("PortalLog", row({{"MyDate", when}, {"Message", key("MR")}}));
    copy("PortalPhotos", row({{"MyDate", when}, {"Photo", QByteArray("pic")}}));
    copy("Schedules", row({{"Name", key("NR")}, {"Station", station}, {"StartTime", when}, {"EndTime", when}}));
    copy("Alias", row({{"Machine", key("MR")}, {"Reason", key("RR")}}));
    copy("LastPoll", row({{"Station", station}, {"MyDate", when}}));
    c.updateRemote("Emp", "MyNo = 'E100'", row({{"Department", key("DR")}}));
    c.orderCopy(m, "Emp", c.remoteId("Emp", "MyNo = 'E100'"));
    c.orderEmployeeList(m, c.remoteId("Emp", "MyNo = 'E200'"));
    c.orderDelete(m, "Bin", station, "B001");
    c.orderDelete(m, "Item", key("gone"));
    c.orderDelete(m, "Issue", QString::number(number()), "1", m);
    c.orderDelete(m, "Kit", key("K"), "ITM-001");
    c.orderDelete(m, "RoboMinMax", key("S"), key("I"), QString::number(number()));
    c.orderDelete(m, "Regrind", QString::number(number()));
    c.orderDelete(m, "CalHistory", QString::number(number()));
    c.orderDelete(m, "ItemImage", key("I"));
    c.orderDelete(m, "Serial", key("SN"), "ITM-001");
    c.orderDelete(m, kOddTable, key("k"));
    c.orderRename(m, "Bin", c.remoteId("Bin", "MyNo = 'B002'"), "B002", key("B2"));
    c.orderRename(m, "Item", c.remoteId("Item", "MyNo = 'ITM-003'"), "ITM-003", key("ITM-3"));
    // A rename this computer has already carried out.
    c.orderRename(m, "Item", c.remoteId("Item", "MyNo = 'ITM-004'"), key("none"), "ITM-004");
}

/// The texts of pages, which the executable's cycles send only for a backlog of a thousand rows:
/// the push (delete history first) and the apply read the demo pair a page of one row at a time.
void runPagedSteps(Collection& out)
{
    // The steps read the local side through the fixture's own connection: the seeding is cleared.
    CycleFixture f({.databases = CribFixture::Databases::Demo, .trace = true});
    // A transaction without a time sorts first: the page after it has a text of its own.
    f.local.execute(QStringLiteral("INSERT INTO MyTran (TranNo, Station, Bin, Type, Item, Quantity, Emp, "
                                   "ServerDateTime, ASPProcessed) VALUES (:v, '01', 'A01', 'I', 'DRL', -1, 'E1', "
                                   "NULL, 0)"),
        bind({number()}));
    f.clearTrace();
    f.context.pageRows = 1;
    f.context.localTables = f.local.tables();
    f.context.remoteTables = f.remote.tables();
    PendingChangeScan(f.context).PushPendingChanges();
    OutboxApply(f.context).ApplyRemoteOutbox();
    readTrace(f.tracePath, QStringLiteral("paged demo"), out);
}

void runAgent(CribSites& sites, const QString& machine, const QString& trace, int times)
{
    AgentProcess agent;
    agent.setEnvironment(QStringLiteral("CRIBSYNC_SQL_TRACE"), trace);
    for (int i = 0; i < times; ++i) {
        const AgentResult result = agent.runOnce(sites.computer(machine).configDir, machine);
        if (!result.finished)
            fail(QStringLiteral("the agent did not end: ") + result.describe());
        // A cycle that fails on a text still sends the others; the check says what is wrong.
        for (const QString& line : result.standardError.split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String("failure in")))
                std::fprintf(
                    stderr, "tsql_statements: run %d of %s: %s\n", i + 1, qPrintable(machine), qPrintable(line));
        }
    }
}

void runDemo(const QString& folder, const QString& trace)
{
    DemoSetup::prepare(folder, DemoSetup::defaultMachineName());
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("CRIBSYNC_SQL_TRACE"), trace);
    environment.remove(QStringLiteral("CRIBSYNC_FAILPOINT"));
    process.setProcessEnvironment(environment);
    process.start(AgentProcess::defaultExecutable(), {QStringLiteral("--demo"), folder, QStringLiteral("--once")});
    if (!process.waitForFinished(10 * 60 * 1000))
        fail(QStringLiteral("the demo run did not end"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        fail(QStringLiteral("usage: tsql_statements <output.json>"));
    qunsetenv("CRIBSYNC_SQL_TRACE");
    QTemporaryDir root(QDir(QDir::tempPath()).filePath(QStringLiteral("tsql-XXXXXX")));
    Collection texts;
    QJsonObject names;
    try {
        CribSites crib(root.filePath(QStringLiteral("crib")));
        const QString machine = QStringLiteral("CRIB-01");
        crib.addComputer(machine);
        seedCrib(crib, machine);
        crib.closeConnections();
        const QString cribTrace = root.filePath(QStringLiteral("crib.trace"));
        runAgent(crib, machine, cribTrace, 2);
        readTrace(cribTrace, QStringLiteral("crib"), texts);

        // An older crib database (DeleteHst without Key3) and an older hosted one (Issue without
        // ComputerName, no transaction procedure): the start-up upgrades the one and creates the
        // procedure on the other.
        CribSites::Options older;
        older.schema.deleteHstWithoutKey3 = true;
        older.schema.withTransactionProcedure = false;
        older.schema.issueHasComputerName = false;
        CribSites site(root.filePath(QStringLiteral("older")), older);
        site.addComputer(machine);
        site.insertLocal(machine, "Issue", row({{"TranNo", number()}, {"MyLineNo", number()}, {"Item", "ITM-001"}}));
        site.orderCopy(machine, "Issue",
            site.insertRemote("Issue", row({{"TranNo", number()}, {"MyLineNo", 1}, {"Item", "ITM-001"}})));
        site.addLocalTransaction(machine, {number(), "B001", "ITM-001", "I", -1, 0, "E100", {}});
        site.closeConnections();
        const QString olderTrace = root.filePath(QStringLiteral("older.trace"));
        runAgent(site, machine, olderTrace, 1);
        readTrace(olderTrace, QStringLiteral("older"), texts);

        const QString demo = root.filePath(QStringLiteral("demo"));
        const QString demoTrace = root.filePath(QStringLiteral("demo.trace"));
        runDemo(demo, demoTrace);
        readTrace(demoTrace, QStringLiteral("demo"), texts);
        runPagedSteps(texts);

        texts.add(
            QStringLiteral("remote"), QStringLiteral("odbc schema stamp"), db::OdbcEngine::serverSchemaStampText());
        addRowStatements(crib.local(machine), QStringLiteral("local"), texts);
        addRowStatements(crib.remote(), QStringLiteral("remote"), texts);
        addRuleTemplates(texts);
        addNames(crib.local(machine), names);
        addNames(crib.remote(), names);
        // The older site holds the agent's own local procedure; catalogues list no trigger.
        addNames(site.local(machine), names);
        names.insert(QStringLiteral("DelRoboMinMax"), QStringLiteral("trigger"));
    } catch (const std::exception& e) {
        fail(QString::fromUtf8(e.what()));
    }

    QJsonArray list;
    for (const Text& t : texts.texts())
        list.append(QJsonObject{{"target", t.target}, {"origin", t.origin}, {"text", t.text}});
    QJsonArray numbers;
    for (int n = kFirstNumber; n < g_nextNumber; ++n)
        numbers.append(n);
    QJsonArray derived{kMarkTable, kOddTable};
    for (int i = 0; i < 6; ++i)
        derived.append(markColumn(i));
    for (const QString& c : kOddColumns)
        derived.append(c);
    const QJsonObject document{
        {"texts", list}, {"names", names}, {"valueMark", kMark}, {"valueNumbers", numbers}, {"derivedNames", derived}};
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(QStringLiteral("cannot write %1").arg(out.fileName()));
    out.write(QJsonDocument(document).toJson(QJsonDocument::Indented));
    std::printf("%lld texts\n", static_cast<long long>(list.size()));
    return 0;
}
