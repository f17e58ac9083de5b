#include "schema/LocalSchema.h"

#include "db/embedded/EmbeddedProcedure.h"
#include "model/StartupStatements.h"
#include "model/Statements.h"

const QStringList& LocalSchema::ExcludedLocalTables()
{
    static const QStringList names = {"BinLab", "BinLabel", "BinSel", "EmpBadge", "EmpLabel", "EmpSel", "PrintTicket",
        "Purchase", "sIssueStatus", "sItemType", "sTransType", "TempBinHst", "TempHst", "TempIssue", "TempItemHst",
        "Tempkit", "TransferTmp2", "ComPort", "Inspection", "Outbox", "PalmIssue", "PalmPhys", "PalmPurch",
        "PalmReturn", "RoboTotalCapacity", "Currency", "Status", "StockTran", "CycleCount"};
    return names;
}

QString LocalSchema::localSyncOutBoxText()
{
    return joinLines({"CREATE PROCEDURE [dbo].[sp_LocalSyncOutBox]", "@TableName varchar(50),", "@RecordID int,",
        "@Key1 varchar(150),", "@Key2 varchar(150),", "@Key3 varchar(150) = null", "AS",
        "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED", "DECLARE @CompID int, @CompName varchar(50), @Server bit",
        "IF @RecordID IS NULL RETURN", "IF @Key1 = '' SET @Key1 = NULL", "IF @Key2 = '' SET @Key2 = NULL",
        "IF @Key3 = '' SET @Key3 = NULL", "SELECT @Server = Server FROM Company", "IF @Server = 1", "BEGIN",
        "\tSELECT @CompID = MIN(RecordID) FROM Control", "\tWHILE @CompID IS NOT NULL", "\tBEGIN",
        "\t\tSELECT @CompName = ComputerName FROM Control WHERE RecordID = @CompID",
        "\t\tINSERT INTO LocalSyncOutBox (ComputerName, TableName, RecID, Key1, Key2)",
        "\t\tVALUES (@CompName, @TableName, @RecordID, @Key1, @Key2)",
        "\t\tSELECT @CompID = MIN(RecordID) FROM Control WHERE RecordID > @CompID", "\tEND", "END", "ELSE", "BEGIN",
        "\tINSERT INTO LocalSyncOutBox (ComputerName, TableName, RecID, Key1, Key2)",
        "\tVALUES ('CLIENT', @TableName, @RecordID, @Key1, @Key2)", "\tIF (@Key1 IS NOT NULL) OR (@Key2 IS NOT NULL)",
        "\t\tINSERT INTO DeleteHst (TableName, Key1, Key2, Key3, LastUpdate)",
        "\t\tVALUES (@TableName, @Key1, @Key2, @Key3, getdate())", "END"});
}

QString LocalSchema::delRoboMinMaxText()
{
    // The trigger fires once for a statement that deletes several rows: every one of them is
    // recorded, not the one a SELECT into variables would keep.
    return joinLines({"CREATE TRIGGER [DelRoboMinMax] ON [dbo].[RoboMinMax]", "FOR DELETE", "AS", "SET NOCOUNT ON",
        "DECLARE @RecordID int, @Station varchar(50), @Item varchar(50), @PkgQty int",
        "DECLARE DeletedRows CURSOR LOCAL FAST_FORWARD FOR",
        "\tSELECT RecordID, Station, Item, PkgQty FROM deleted WHERE LocalSyncProcessed = 0 ORDER BY RecordID",
        "OPEN DeletedRows", "FETCH NEXT FROM DeletedRows INTO @RecordID, @Station, @Item, @PkgQty",
        "WHILE @@FETCH_STATUS = 0", "BEGIN",
        "\tEXEC sp_LocalSyncOutBox 'ROBOMINMAX', @RecordID, @Station, @Item, @PkgQty",
        "\tFETCH NEXT FROM DeletedRows INTO @RecordID, @Station, @Item, @PkgQty", "END", "CLOSE DeletedRows",
        "DEALLOCATE DeletedRows"});
}

void LocalSchema::registerEmbeddedEquivalents()
{
    const QString server = QStringLiteral("(SELECT Server FROM Company ORDER BY rowid DESC LIMIT 1)");
    const QString now = QStringLiteral("strftime('%Y-%m-%dT%H:%M:%S','now','localtime')");
    db::EmbeddedEquivalents::add({db::EmbeddedEquivalent::Kind::Procedure, QStringLiteral("sp_LocalSyncOutBox"),
        QStringLiteral("@TableName varchar(50), @RecordID int, @Key1 varchar(150), @Key2 varchar(150), "
                       "@Key3 varchar(150) = NULL"),
        QStringList{
            QStringLiteral("IF @RecordID IS NULL THEN RETURN 0"),
            QStringLiteral("SET @Key1 = nullif(@Key1, '')"),
            QStringLiteral("SET @Key2 = nullif(@Key2, '')"),
            QStringLiteral("SET @Key3 = nullif(@Key3, '')"),
            QStringLiteral("SET @Server = %1").arg(server),
            QStringLiteral("IF @Server = 1 THEN INSERT INTO LocalSyncOutBox (ComputerName, TableName, RecID, Key1, "
                           "Key2) SELECT ComputerName, @TableName, @RecordID, @Key1, @Key2 FROM Control ORDER BY "
                           "RecordID"),
            QStringLiteral("IF coalesce(@Server, 0) <> 1 THEN INSERT INTO LocalSyncOutBox (ComputerName, TableName, "
                           "RecID, Key1, Key2) VALUES ('CLIENT', @TableName, @RecordID, @Key1, @Key2)"),
            QStringLiteral("IF coalesce(@Server, 0) <> 1 AND (@Key1 IS NOT NULL OR @Key2 IS NOT NULL) THEN INSERT "
                           "INTO DeleteHst (TableName, Key1, Key2, Key3, LastUpdate) VALUES (@TableName, @Key1, "
                           "@Key2, @Key3, %1)")
                .arg(now),
        }
            .join(QStringLiteral(";\n"))});

    // Once per statement, for every deleted row, as the server's trigger calls the procedure for
    // each: written set-wise, the embedded procedure format having no loop.
    const QString pending = QStringLiteral("d.LocalSyncProcessed = 0 AND d.RecordID IS NOT NULL");
    const QString key1 = QStringLiteral("nullif(d.Station, '')");
    const QString key2 = QStringLiteral("nullif(d.Item, '')");
    const QString key3 = QStringLiteral("nullif(CAST(d.PkgQty AS TEXT), '')");
    db::EmbeddedEquivalents::add({db::EmbeddedEquivalent::Kind::Trigger, QStringLiteral("DelRoboMinMax"), QString(),
        QStringList{
            QStringLiteral("SET @Server = %1").arg(server),
            QStringLiteral("IF @Server = 1 THEN INSERT INTO LocalSyncOutBox (ComputerName, TableName, RecID, Key1, "
                           "Key2) SELECT c.ComputerName, 'ROBOMINMAX', d.RecordID, %1, %2 FROM deleted AS d CROSS "
                           "JOIN Control AS c WHERE %3 ORDER BY d.RecordID, c.RecordID")
                .arg(key1, key2, pending),
            QStringLiteral("IF coalesce(@Server, 0) <> 1 THEN INSERT INTO LocalSyncOutBox (ComputerName, TableName, "
                           "RecID, Key1, Key2) SELECT 'CLIENT', 'ROBOMINMAX', d.RecordID, %1, %2 FROM deleted AS d "
                           "WHERE %3 ORDER BY d.RecordID")
                .arg(key1, key2, pending),
            QStringLiteral("IF coalesce(@Server, 0) <> 1 THEN INSERT INTO DeleteHst (TableName, Key1, Key2, Key3, "
                           "LastUpdate) SELECT 'ROBOMINMAX', %1, %2, %3, %4 FROM deleted AS d WHERE %5 AND (%1 IS NOT "
                           "NULL OR %2 IS NOT NULL) ORDER BY d.RecordID")
                .arg(key1, key2, key3, now, pending),
        }
            .join(QStringLiteral(";\n"))});
}

void LocalSchema::checkLocalSchema(StartupStatements& s)
{
    s.DeleteHst.open();
    if (!s.DeleteHst.hasColumn(QStringLiteral("Key3"))) {
        s.qryUpdDeleteHst.execute();
        s.DropTrigersVwStproc.execute();
        CreateLocalSyncObjects(s);
    }
    s.DeleteHst.close();
}

void LocalSchema::CreateLocalSyncObjects(StartupStatements& s)
{
    s.CreateStProc.setSql(localSyncOutBoxText());
    s.CreateStProc.execute();
    s.CreateStProc.setSql(delRoboMinMaxText());
    s.CreateStProc.execute();
}

void LocalSchema::PrepareTableLists(
    QStringList& localTables, const QStringList& remoteProcedures, StartupStatements& statements)
{
    for (const QString& excluded : ExcludedLocalTables()) {
        for (int i = 0; i < localTables.size(); ++i) {
            if (localTables[i].compare(excluded, Qt::CaseInsensitive) == 0) {
                localTables.removeAt(i);
                break;
            }
        }
    }
    for (const QString& p : remoteProcedures) {
        if (p.compare(QLatin1String("sp_CorvaneTran;1"), Qt::CaseInsensitive) == 0)
            return;
    }
    statements.CreateSPASPTran.execute();
}
