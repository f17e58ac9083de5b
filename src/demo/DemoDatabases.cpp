#include "demo/DemoDatabases.h"

#include "db/Connection.h"
#include "db/DbError.h"
#include "db/SqlTokenizer.h"
#include "demo/CribSchema.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {

QString q(const QString& value)
{
    return db::quotedLiteral(value);
}

/// One line of an employee's item list: item, three carried fields, running quantity, note.
QString itemLine(const QString& item, int quantity)
{
    return QStringList{item, QStringLiteral("EA"), QStringLiteral("1"), QStringLiteral("0"), QString::number(quantity),
        QStringLiteral("issued")}
        .join(QLatin1Char('\t'));
}

void open(db::Connection& c, const QString& folder, const QString& name)
{
    if (QFileInfo::exists(QDir(folder).filePath(name + QStringLiteral(".db"))))
        throw db::DbError(QStringLiteral("The demo database %1 already exists in %2").arg(name, folder));
    c.setConnectionString(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, name));
    c.open(db::Connection::OpenMode::CreateEmbeddedIfMissing);
}

/// Rows both databases share; `flag` is the side's sync flag column, set as already synchronised.
void shared(db::Connection& c, const QString& flag)
{
    auto run = [&c](const QString& sql) { c.execute(sql); };
    run(QStringLiteral("INSERT INTO Station (MyNo, Name, LimitAccess, %1) VALUES ('01', 'Main crib', 0, 1), "
                       "('02', 'Grinding cell', 1, 1)")
            .arg(flag));
    const QStringList items = {"DRL-0125", "DRL-0250", "END-0500", "INS-CNMG", "TAP-M8", "GLV-L", "SAF-GLS"};
    int price = 3;
    for (const QString& item : items) {
        run(QStringLiteral("INSERT INTO Item (MyNo, Description, ItemClass, UnitPrice, UnitCost, %1) "
                           "VALUES (%2, %3, 'TOOL', %4.50, %5.25, 1)")
                .arg(flag, q(item), q(QStringLiteral("Demo item ") + item))
                .arg(price)
                .arg(price - 1));
        price += 2;
    }
    int bin = 1;
    for (const QString& station : {QStringLiteral("01"), QStringLiteral("02")}) {
        for (const QString& item : items) {
            run(QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, Description, OnHand, BurnQty, OnOrder, MinQty, "
                               "MaxQty, %1) VALUES (%2, %3, %4, 'demo bin', %5, 0, 0, 2, 40, 1)")
                    .arg(flag, q(station), q(QStringLiteral("A%1").arg(bin, 2, 10, QLatin1Char('0'))), q(item))
                    .arg(10 + bin));
            ++bin;
        }
    }
    const QString alice
        = QStringList{itemLine("DRL-0125", 4), itemLine("GLV-L", 2), itemLine("TAP-M8", 1)}.join("\r\n");
    const QString bob = QStringList{itemLine("END-0500", 3), itemLine("INS-CNMG", 10)}.join("\r\n");
    run(QStringLiteral("INSERT INTO Emp (MyNo, Name, Department, Cribs, Items, Active, %1) VALUES "
                       "('E100', 'Alice Turner', 'MACH', '01,02', %2, 1, 1), "
                       "('E200', 'Bob Okafor', 'GRIND', '02', %3, 1, 1), "
                       "('E300', 'Chen Li', 'MAINT', '01', NULL, 1, 1)")
            .arg(flag, q(alice), q(bob)));
    run(QStringLiteral("INSERT INTO Company (Name, MasterID, MasterPin, Version, PoNo, Server, %1) VALUES "
                       "('Demo Works', 'M1', '1234', '7.2', 1000, 0, 1)")
            .arg(flag));
    run(QStringLiteral("INSERT INTO Safety (Message, %1) VALUES ('Wear safety glasses in the grinding cell', 1)")
            .arg(flag));
    run(QStringLiteral("INSERT INTO Report (MyGroup, Name, Description, %1) VALUES ('Stock', 'Low stock', "
                       "'Bins under their minimum', 1)")
            .arg(flag));
    run(QStringLiteral("INSERT INTO Issue (TranNo, MyLineNo, Item, Quantity, Emp, MyDate, %1) VALUES "
                       "(5000, 1, 'DRL-0125', 2, 'E100', '2026-11-30T09:15:00', 1)")
            .arg(flag));
}

void fillLocal(
    db::Connection& c, const QString& machine, const QString& catalog, const QString& login, const QString& password)
{
    shared(c, QStringLiteral("ASPProcessed"));
    auto run = [&c](const QString& sql) { c.execute(sql); };
    run(QStringLiteral("UPDATE Company SET ASPDataBaseName = %1, ASPLoginName = %2, ASPPassword = %3")
            .arg(q(catalog), q(login), q(password)));
    run(QStringLiteral("UPDATE Issue SET ASPProcessed = 1"));

    // Local changes not sent yet.
    run(QStringLiteral("UPDATE Bin SET Description = 'relabelled', MaxQty = 60, ASPProcessed = 0 WHERE MyNo = 'A02'"));
    run(QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, Description, OnHand, MinQty, MaxQty, ASPProcessed) "
                       "VALUES ('01', 'A50', 'SAF-GLS', 'new bin', 25, 5, 50, 0)"));
    run(QStringLiteral("INSERT INTO Item (MyNo, Description, ItemClass, UnitPrice, UnitCost, ASPProcessed) "
                       "VALUES ('RMR-0375', 'Reamer 3/8', 'TOOL', 21.00, 17.40, 0)"));
    run(QStringLiteral("UPDATE Emp SET Department = 'TOOLROOM', ASPProcessed = 0 WHERE MyNo = 'E300'"));
    run(QStringLiteral("INSERT INTO Issue (TranNo, MyLineNo, Item, Quantity, Emp, MyDate, ASPProcessed) VALUES "
                       "(5001, 1, 'END-0500', 1, 'E200', '2026-12-01T07:40:00', 0), "
                       "(5001, 2, 'INS-CNMG', 4, 'E200', '2026-12-01T07:40:00', 0)"));
    run(QStringLiteral("INSERT INTO DailyInventory (MyDate, Station, Item, OnHand, ASPProcessed) VALUES "
                       "('2026-12-01T00:00:00', '01', 'DRL-0125', 11, 0)"));
    run(QStringLiteral("INSERT INTO AdminTran (TranNo, Type, MyDate, Comment, ASPProcessed) VALUES "
                       "(77, 'AD', '2026-12-01T08:00:00', 'count adjusted', 0)"));
    run(QStringLiteral("INSERT INTO LastPoll (Station, MyDate, ASPProcessed) VALUES ('01', '2026-12-01T06:00:00', 0)"));
    const QString tran = QStringLiteral(
        "INSERT INTO MyTran (TranNo, MyDate, MyTime, Station, Bin, Type, Item, ItemType, Quantity, PackQty, "
        "IssueCost, UnitPrice, UnitCost, Emp, BurnQty, CurOnHand, CurBurn, DiscrepantQty, OGTranNo, ExternalPO, "
        "ComputerName, ServerDateTime, ASPProcessed) VALUES (%1, '2026-12-01T00:00:00', '1899-12-30T%2', '01', "
        "%3, %4, %5, 1, %6, 1, 0, 3.5, 2.25, %7, 0, 0, 0, 0, NULL, NULL, %8, '2026-12-01T%2', 0)");
    run(tran.arg(QStringLiteral("9001"), QStringLiteral("08:01:00"), q("A01"), q("I"), q("DRL-0125"),
        QStringLiteral("-2"), q("E100"), q(machine)));
    run(tran.arg(QStringLiteral("9002"), QStringLiteral("08:05:00"), q("A02"), q("R"), q("DRL-0250"),
        QStringLiteral("5"), q("E300"), q(machine)));
    run(tran.arg(QStringLiteral("9003"), QStringLiteral("08:09:00"), q("A03"), q("GI"), q("END-0500"),
        QStringLiteral("-3"), QStringLiteral("NULL"), q(machine)));

    // Local deletions and renames not sent yet: a deleted bin, a bin and an item rename, a
    // picture that is never sent, and a deleted issue line.
    run(QStringLiteral("DELETE FROM Bin WHERE Station = '01' AND MyNo = 'A07'"));
    run(QStringLiteral("UPDATE Bin SET MyNo = 'A66' WHERE Station = '01' AND MyNo = 'A06'"));
    run(QStringLiteral("UPDATE Item SET MyNo = 'GLV-XL' WHERE MyNo = 'GLV-L'"));
    run(QStringLiteral("UPDATE Bin SET Item = 'GLV-XL' WHERE Item = 'GLV-L'"));
    run(QStringLiteral("DELETE FROM Issue WHERE TranNo = 5000 AND MyLineNo = 1"));
    run(QStringLiteral("INSERT INTO DeleteHst (TableName, Key1, Key2, Key3, LastUpdate, ComputerName, ASPProcessed) "
                       "VALUES ('BIN', '01', 'A07', NULL, '2026-12-01T08:30:00', %1, 0), "
                       "('BinC', '01', 'A06', 'A66', '2026-12-01T08:31:00', %1, 0), "
                       "('ItemC', 'GLV-L', 'GLV-XL', NULL, '2026-12-01T08:32:00', %1, 0), "
                       "('ItemImage', 'GLV-L', NULL, NULL, '2026-12-01T08:33:00', %1, 0), "
                       "('ISSUE', '5000', '1', NULL, '2026-12-01T08:34:00', %1, 0)")
            .arg(q(machine)));

    run(QStringLiteral("INSERT INTO TempIssue (Station, Item, Quantity) VALUES ('01', 'DRL-0125', 1)"));
}

void fillRemote(db::Connection& c, const QString& machine)
{
    shared(c, QStringLiteral("Processed"));
    auto run = [&c](const QString& sql) { c.execute(sql); };
    run(QStringLiteral("UPDATE Issue SET ComputerName = %1").arg(q(machine)));
    run(QStringLiteral("INSERT INTO Control (ComputerName, Synch, Port) VALUES (%1, 1, 1), ('CRIB-OTHER', 1, 1)")
            .arg(q(machine)));

    // Central changes, each with the outbox order that carries it to this computer.
    auto order = [&](const QString& table, const QString& type, const QString& id, const QString& key1,
                     const QString& key2, const QString& key3, const QString& computer) {
        run(QStringLiteral("INSERT INTO Outbox (ComputerName, TableName, Type, ID, Key1, Key2, Key3, Processed) "
                           "VALUES (%1, %2, %3, %4, %5, %6, %7, 0)")
                .arg(q(computer), q(table), q(type), q(id), q(key1), q(key2), q(key3)));
    };
    auto lastId = [&c](const QString& table) {
        return c.query(QStringLiteral("SELECT max(RecordID) FROM %1").arg(table)).rows.first().first().toString();
    };

    run(QStringLiteral("UPDATE Item SET Description = 'Drill 1/8 cobalt', UnitPrice = 4.10, Processed = 0 "
                       "WHERE MyNo = 'DRL-0125'"));
    order(QStringLiteral("Item"), QStringLiteral("U"),
        c.query(QStringLiteral("SELECT RecordID FROM Item WHERE MyNo = 'DRL-0125'")).rows.first().first().toString(),
        QString(), QString(), QString(), machine);

    run(QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, Description, OnHand, BurnQty, OnOrder, MinQty, MaxQty, "
                       "ComputerName, Processed) VALUES ('02', 'B20', 'TAP-M8', 'added centrally', 99, 0, 0, 1, 10, "
                       "'HOSTED', 0)"));
    order(QStringLiteral("Bin"), QStringLiteral("A"), lastId(QStringLiteral("Bin")), QString(), QString(), QString(),
        machine);

    run(QStringLiteral("INSERT INTO MyTran (TranNo, MyDate, MyTime, Station, Bin, Type, Item, ItemType, Quantity, "
                       "PackQty, UnitPrice, UnitCost, Emp, BurnQty, PoNo, ComputerName, Processed) VALUES (7001, "
                       "'2026-12-01T00:00:00', '1899-12-30T09:00:00', '02', 'A11', 'I', 'INS-CNMG', 1, -2, 1, 3.5, "
                       "2.25, 'E200', 0, NULL, 'HOSTED', 0)"));
    order(QStringLiteral("MyTran"), QStringLiteral("A"), lastId(QStringLiteral("MyTran")), QString(), QString(),
        QString(), machine);

    run(QStringLiteral("UPDATE Emp SET Items = %1, Processed = 0 WHERE MyNo = 'E300'")
            .arg(q(QStringList{itemLine("SAF-GLS", 1), itemLine("TAP-M8", 2)}.join("\r\n"))));
    order(QStringLiteral("AC"), QStringLiteral("A"),
        c.query(QStringLiteral("SELECT RecordID FROM Emp WHERE MyNo = 'E300'")).rows.first().first().toString(),
        QString(), QString(), QString(), machine);

    run(QStringLiteral("UPDATE Bin SET MyNo = 'A30', Processed = 0 WHERE Station = '01' AND MyNo = 'A05'"));
    order(QStringLiteral("Bin"), QStringLiteral("C"),
        c.query(QStringLiteral("SELECT RecordID FROM Bin WHERE Station = '01' AND MyNo = 'A30'"))
            .rows.first()
            .first()
            .toString(),
        QStringLiteral("A05"), QStringLiteral("A30"), QString(), machine);

    run(QStringLiteral("UPDATE Item SET MyNo = 'TAP-M8X1', Processed = 0 WHERE MyNo = 'TAP-M8'"));
    run(QStringLiteral("UPDATE Bin SET Item = 'TAP-M8X1' WHERE Item = 'TAP-M8'"));
    order(QStringLiteral("Item"), QStringLiteral("C"),
        c.query(QStringLiteral("SELECT RecordID FROM Item WHERE MyNo = 'TAP-M8X1'")).rows.first().first().toString(),
        QStringLiteral("TAP-M8"), QStringLiteral("TAP-M8X1"), QString(), machine);

    run(QStringLiteral("DELETE FROM Bin WHERE Station = '02' AND MyNo = 'A14'"));
    order(QStringLiteral("Bin"), QStringLiteral("D"), QString(), QStringLiteral("02"), QStringLiteral("A14"), QString(),
        machine);

    run(QStringLiteral("INSERT INTO Safety (Message, MyDate, Processed) VALUES ('Hearing protection required', "
                       "'2026-12-01T00:00:00', 0)"));
    order(QStringLiteral("Safety"), QStringLiteral("A"), lastId(QStringLiteral("Safety")), QString(), QString(),
        QString(), machine);

    run(QStringLiteral("INSERT INTO DailyInventory (MyDate, Station, Item, OnHand, Processed) VALUES "
                       "('2026-12-01T00:00:00', '02', 'END-0500', 17, 0)"));
    order(QStringLiteral("DailyInventory"), QStringLiteral("A"), lastId(QStringLiteral("DailyInventory")), QString(),
        QString(), QString(), machine);

    run(QStringLiteral("INSERT INTO Report (MyGroup, Name, Description, Processed) VALUES ('Usage', 'By employee', "
                       "'central report', 0)"));
    order(QStringLiteral("Report"), QStringLiteral("A"), lastId(QStringLiteral("Report")), QString(), QString(),
        QString(), machine);

    // An order for another crib computer, which this one must leave alone.
    order(QStringLiteral("Bin"), QStringLiteral("D"), QString(), QStringLiteral("01"), QStringLiteral("A01"), QString(),
        QStringLiteral("CRIB-OTHER"));
}

} // namespace

void DemoDatabases::create(const QString& folder, const QString& machineName, const QString& encodedCatalog,
    const QString& encodedLogin, const QString& encodedPassword)
{
    QDir().mkpath(folder);
    db::Connection local(QStringLiteral("local"));
    open(local, folder, localName());
    db::Connection remote(QStringLiteral("remote"));
    open(remote, folder, remoteName());
    CribSchema::create(local, CribSchema::Side::Local);
    CribSchema::create(remote, CribSchema::Side::Remote);
    fillLocal(local, machineName, encodedCatalog, encodedLogin, encodedPassword);
    fillRemote(remote, machineName);
}
