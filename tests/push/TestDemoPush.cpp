#include "PushFixture.h"
#include "schema/LocalSchema.h"

#include <QTest>

/// One scan over the demo databases: every pending row and transaction reaches the remote copy.
class TestDemoPush : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyPendingRowArrives()
    {
        PushFixture f({}, PushFixture::Databases::Demo);
        f.context.remoteTables = f.remote.tables();
        f.context.localTables = f.local.tables();
        for (const QString& excluded : LocalSchema::ExcludedLocalTables())
            f.context.localTables.removeAll(excluded);
        f.scan.PushPendingChanges();

        QCOMPARE(f.events.failures.size(), 0);
        QCOMPARE(f.events.recoveries, 0);

        // Nothing is left pending but the rows that are never marked: the delete history goes first.
        for (const QString& table : f.context.localTables) {
            bool tracked = false;
            for (const db::ColumnInfo& c : f.local.columns(table))
                tracked = tracked || c.name == QLatin1String("ASPProcessed");
            if (!tracked)
                continue;
            const int expected = table == QLatin1String("LastPoll") ? 1 : 0;
            QVERIFY2(f.pendingCount(table) == expected, qPrintable(table));
        }

        const auto remoteRow = [&](const QString& sql) { return f.remote.query(sql).rows.value(0); };
        QCOMPARE(remoteRow(QStringLiteral("SELECT Description, MaxQty, OnHand, ComputerName FROM Bin WHERE Station = "
                                          "'01' AND MyNo = 'A02'")),
            QVariantList({"relabelled", 60, 17, "CRIB-01"}));
        QCOMPARE(remoteRow(QStringLiteral("SELECT Description, MaxQty, OnHand, ComputerName FROM Bin WHERE Station = "
                                          "'01' AND MyNo = 'A50'")),
            QVariantList({"new bin", 50, 0, "CRIB-01"}));
        QCOMPARE(f.remoteCount(QStringLiteral("Item"), QStringLiteral("MyNo = 'RMR-0375'")), 1);
        QCOMPARE(f.remoteValue(QStringLiteral("SELECT Department FROM Emp WHERE MyNo = 'E300'")).toString(),
            QStringLiteral("TOOLROOM"));
        QCOMPARE(
            f.remoteCount(QStringLiteral("Issue"), QStringLiteral("TranNo = 5001 AND ComputerName = 'CRIB-01'")), 2);
        QCOMPARE(f.remoteCount(QStringLiteral("DailyInventory"),
                     QStringLiteral("Station = '01' AND Item = 'DRL-0125' AND OnHand = 11")),
            1);
        QCOMPARE(
            f.remoteCount(QStringLiteral("AdminTran"), QStringLiteral("TranNo = 1 AND Comment = 'count adjusted'")), 1);
        QCOMPARE(f.remoteCount(QStringLiteral("LastPoll"), QStringLiteral("Station = '01'")), 1);

        QCOMPARE(f.remoteCount(QStringLiteral("MyTran"),
                     QStringLiteral("TranNo IN (9001, 9002, 9003) AND Processed = 1 AND ComputerName = 'CRIB-01'")),
            3);
        // The procedure moved the bins: an issue of 2, a return of 5 and a 'GI' of -3 taken as 3.
        QCOMPARE(f.remote
                     .query(QStringLiteral("SELECT MyNo, OnHand, BurnQty FROM Bin WHERE Station = '01' AND MyNo "
                                           "IN ('A01', 'A02', 'A03') ORDER BY MyNo"))
                     .rows,
            QList<QVariantList>({{"A01", 9, 0}, {"A02", 17, 0}, {"A03", 16, 0}}));
    }
};

QTEST_GUILESS_MAIN(TestDemoPush)
#include "TestDemoPush.moc"
