#include "PushFixture.h"
#include "db/embedded/EmbeddedProcedure.h"
#include "model/TransactionProcedure.h"

#include <QTest>

/// Transactions through the remote procedure: the parameters it receives, what it answers, and
/// which local transactions are marked sent.
class TestTransactionPush : public QObject
{
    Q_OBJECT

private:
    static void insertTransaction(PushFixture& f, int tranNo, const QString& serverTime, const QString& emp = "'E1'")
    {
        f.local.execute(QStringLiteral("INSERT INTO MyTran (TranNo, MyDate, Station, Bin, Type, Item, Quantity, "
                                       "BurnQty, Emp, Department, DiscrepantQty, OGTranNo, ExternalPO, ComputerName, "
                                       "ServerDateTime, ASPProcessed) VALUES (%1, '2026-12-01T00:00:00', '01', 'A01', "
                                       "'I', 'DRL', -2, 0, %2, NULL, 5, 8800, 'PO-7', 'ELSEWHERE', '2026-12-01T%3', 0)")
                            .arg(tranNo)
                            .arg(emp, serverTime));
    }

    /// Replaces the remote procedure by one that takes every parameter (each optional) and runs `body`.
    static void replaceProcedure(PushFixture& f, const QString& body)
    {
        QStringList parameters
            = TransactionProcedure::parameters(TransactionProcedure::Version::Hosted).split(QStringLiteral(", "));
        for (QString& p : parameters)
            p += QStringLiteral(" = NULL");
        f.remote.installEmbeddedProcedure({TransactionProcedure::name(), parameters.join(QStringLiteral(", ")), body});
    }

    static QStringList sentTranNos(PushFixture& f)
    {
        return f
            .remoteValue(QStringLiteral("SELECT group_concat(TranNo) FROM (SELECT TranNo FROM MyTran ORDER BY "
                                        "RecordID)"))
            .toString()
            .split(QLatin1Char(','), Qt::SkipEmptyParts);
    }

    static QStringList pendingTranNos(PushFixture& f)
    {
        return f
            .localValue(QStringLiteral("SELECT group_concat(TranNo) FROM (SELECT TranNo FROM MyTran WHERE "
                                       "ASPProcessed = 0 ORDER BY TranNo)"))
            .toString()
            .split(QLatin1Char(','), Qt::SkipEmptyParts);
    }

    /// The parameter names of the last procedure call, as traced.
    static QStringList passedParameters(PushFixture& f)
    {
        QStringList calls = f.traced(QStringLiteral("remote")).filter(QStringLiteral("EXEC sp_CorvaneTran"));
        return calls.isEmpty() ? QStringList()
                               : calls.last().mid(QStringLiteral("EXEC sp_CorvaneTran ").size()).split(", ");
    }

private Q_SLOTS:
    void acceptedTransactionMovesStockAndIsMarked()
    {
        PushFixture f;
        f.remote.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, OnHand, BurnQty, Processed) VALUES "
                                        "('01', 'A01', 'DRL', 10, 0, 1)"));
        insertTransaction(f, 1, QStringLiteral("08:00:00"), QStringLiteral("NULL"));
        f.push({QStringLiteral("MyTran")});

        QCOMPARE(pendingTranNos(f), QStringList());
        QCOMPARE(f.remoteValue(QStringLiteral("SELECT OnHand FROM Bin WHERE MyNo = 'A01'")).toInt(), 8);
        const QVariantList sent
            = f.remote
                  .query(QStringLiteral("SELECT Emp, Department, ComputerName, DiscrepantQty, OGTranNo, ExternalPO, "
                                        "Processed, CurOnHand2 FROM MyTran"))
                  .rows.value(0);
        QCOMPARE(sent.size(), 8);
        // A NULL employee goes as an empty text, every other NULL as NULL.
        QCOMPARE(sent[0].toString(), QStringLiteral(""));
        QVERIFY(!sent[0].isNull());
        QVERIFY(sent[1].isNull());
        QCOMPARE(sent[2].toString(), QStringLiteral("CRIB-01"));
        QCOMPARE(sent[3].toInt(), 5);
        QCOMPARE(sent[4].toInt(), 8800);
        QCOMPARE(sent[5].toString(), QStringLiteral("PO-7"));
        QCOMPARE(sent[6].toBool(), true);
        QCOMPARE(sent[7].toInt(), 8);
        QCOMPARE(f.events.done, QStringList{QStringLiteral("transaction sent:MYTRAN")});
        QCOMPARE(f.events.failures.size(), 0);
    }

    void parametersFollowTheVersionFlags_data()
    {
        QTest::addColumn<bool>("discrepantQty");
        QTest::addColumn<bool>("computerName");
        QTest::newRow("neither") << false << false;
        QTest::newRow("discrepant quantity") << true << false;
        QTest::newRow("computer name") << false << true;
        QTest::newRow("both") << true << true;
    }

    void parametersFollowTheVersionFlags()
    {
        QFETCH(bool, discrepantQty);
        QFETCH(bool, computerName);
        PushFixture f;
        replaceProcedure(f, QStringLiteral("RETURN 0"));
        f.prepare();
        f.context.flags.ProcHasDiscrepantQty = discrepantQty;
        f.context.flags.ProcHasComputerName = computerName;
        insertTransaction(f, 1, QStringLiteral("08:00:00"));
        f.clearTrace();
        f.push({QStringLiteral("MyTran")});

        const QStringList passed = passedParameters(f);
        QCOMPARE(passed.size(), 38 + (discrepantQty ? 2 : 0) + (computerName ? 1 : 0) + 1);
        QCOMPARE(passed.first(), QStringLiteral("@TranNo"));
        QCOMPARE(passed.contains(QStringLiteral("@DiscrepantQty")), discrepantQty);
        QCOMPARE(passed.contains(QStringLiteral("@OGTranNo")), discrepantQty);
        QCOMPARE(passed.contains(QStringLiteral("@ComputerName")), computerName);
        QVERIFY(passed.contains(QStringLiteral("@ExternalPO")));
        QCOMPARE(pendingTranNos(f), QStringList());
    }

    void refusedTransactionLeavesTheLaterOnesPending_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::newRow("rolled back") << "RETURN 1";
        QTest::newRow("another number") << "RETURN 7";
        QTest::newRow("no number") << "RETURN NULL";
    }

    void refusedTransactionLeavesTheLaterOnesPending()
    {
        QFETCH(QString, refusal);
        PushFixture f;
        replaceProcedure(f,
            QStringLiteral("IF @TranNo = 2 THEN %1;\nINSERT INTO MyTran (TranNo, Processed) VALUES (@TranNo, 1);\n"
                           "RETURN 0")
                .arg(refusal));
        f.prepare();
        // Read in server-time order: 1, 2, 3, whatever their numbers say.
        insertTransaction(f, 3, QStringLiteral("08:30:00"));
        insertTransaction(f, 1, QStringLiteral("08:10:00"));
        insertTransaction(f, 2, QStringLiteral("08:20:00"));
        f.push({QStringLiteral("MyTran")});

        QCOMPARE(sentTranNos(f), QStringList{QStringLiteral("1")});
        QCOMPARE(pendingTranNos(f), QStringList({"2", "3"}));
        QCOMPARE(f.events.recoveries, 0);
        QCOMPARE(f.events.failures.size(), 1);
        QCOMPARE(f.events.failures[0].step, QStringLiteral("transaction"));
        QCOMPARE(f.events.progressTexts.last(), QStringLiteral("MYTRAN record 2 out of 3"));
        QCOMPARE(f.events.position, 2);
    }

    // SQL Server's datetime has no zone: a transaction dated in the local zone's spring gap goes
    // as stored, and the 19 after it are not held back.
    void aDateInTheLocalSpringGapHoldsNothingBack()
    {
        const LocalZone berlin("Europe/Berlin");
        PushFixture f;
        f.remote.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, OnHand, BurnQty, Processed) VALUES "
                                        "('01', 'A01', 'DRL', 17, 0, 1)"));
        for (int i = 1; i <= 20; ++i)
            insertTransaction(f, i, QStringLiteral("08:%1:00").arg(i, 2, 10, QLatin1Char('0')));
        f.local.execute(QStringLiteral("UPDATE MyTran SET Type = 'R', Quantity = 1"));
        f.local.execute(QStringLiteral("UPDATE MyTran SET MyDate = '2026-03-29T02:30:00' WHERE TranNo = 1"));
        f.push({QStringLiteral("MyTran")});

        QCOMPARE(pendingTranNos(f), QStringList());
        QCOMPARE(f.remoteValue(QStringLiteral("SELECT OnHand FROM Bin WHERE MyNo = 'A01'")).toInt(), 37);
        QCOMPARE(f.remoteValue(QStringLiteral("SELECT MyDate || '' FROM MyTran WHERE TranNo = 1")).toString(),
            QStringLiteral("2026-03-29T02:30:00"));
    }

    void procedureWithoutExternalPOFailsWithTheErrorFlag()
    {
        PushFixture f;
        f.remote.installEmbeddedProcedure({TransactionProcedure::name(),
            TransactionProcedure::parameters(TransactionProcedure::Version::AgentOwn)
                .remove(QStringLiteral(", @ExternalPO varchar(50) = NULL")),
            QStringLiteral("RETURN 0")});
        f.prepare();
        insertTransaction(f, 1, QStringLiteral("08:10:00"));
        insertTransaction(f, 2, QStringLiteral("08:20:00"));
        f.push({QStringLiteral("MyTran")});

        QCOMPARE(pendingTranNos(f), QStringList({"1", "2"}));
        QCOMPARE(f.events.recoveries, 1);
        QCOMPARE(f.events.failures.size(), 1);
        QVERIFY(f.events.failures[0].message.contains(QLatin1String("@ExternalPO")));
    }

    void failingProcedureLeavesTheTransactionPending()
    {
        PushFixture f;
        replaceProcedure(f, QStringLiteral("RAISERROR 'bin locked'"));
        f.prepare();
        insertTransaction(f, 1, QStringLiteral("08:10:00"));
        f.push({QStringLiteral("MyTran")});

        QCOMPARE(pendingTranNos(f), QStringList{QStringLiteral("1")});
        QCOMPARE(f.events.recoveries, 1);
        QVERIFY(f.events.failures.value(0).message.contains(QLatin1String("bin locked")));

        // A stock move the bin's int cannot hold is undone with the whole transaction and reported.
        PushFixture g;
        g.remote.execute(QStringLiteral("INSERT INTO Bin (Station, MyNo, Item, OnHand, BurnQty, Processed) VALUES "
                                        "('01', 'A01', 'DRL', -2147483647, 0, 1)"));
        insertTransaction(g, 1, QStringLiteral("08:10:00"));
        g.push({QStringLiteral("MyTran")});
        QCOMPARE(pendingTranNos(g), QStringList{QStringLiteral("1")});
        QCOMPARE(sentTranNos(g), QStringList());
        QCOMPARE(g.remoteValue(QStringLiteral("SELECT OnHand FROM Bin WHERE MyNo = 'A01'")).toInt(), -2147483647);
        QVERIFY(g.events.failures.value(0).message.contains(QLatin1String("overflow")));
    }

    void agentOwnProcedureTakesTransactionsWithoutDiscrepancies()
    {
        PushFixture f;
        f.remote.installEmbeddedProcedure(
            {TransactionProcedure::name(), TransactionProcedure::parameters(TransactionProcedure::Version::AgentOwn),
                TransactionProcedure::body(TransactionProcedure::Version::AgentOwn)});
        f.prepare();
        QVERIFY(!f.context.flags.ProcHasDiscrepantQty);
        QVERIFY(f.context.flags.ProcHasComputerName);
        insertTransaction(f, 1, QStringLiteral("08:10:00"));
        f.push({QStringLiteral("MyTran")});

        QCOMPARE(pendingTranNos(f), QStringList());
        QCOMPARE(sentTranNos(f), QStringList{QStringLiteral("1")});
    }
};

QTEST_GUILESS_MAIN(TestTransactionPush)
#include "TestTransactionPush.moc"
