#include "step/EmployeeItems.h"
#include "support/CribFixture.h"

#include <QTest>
#include <stdexcept>

/// The employee item list: its text form, the case-insensitive binary search, the quantity
/// update and the rename that keeps the lines in order.
class TestEmployeeItems : public QObject
{
    Q_OBJECT

private:
    /// A list of `n` lines with keys K00, K02, K04, ... and quantities 100 + index.
    static QStringList ordered(int n)
    {
        QStringList lines;
        for (int i = 0; i < n; ++i)
            lines << itemLine(QStringLiteral("K%1").arg(2 * i, 2, 10, QLatin1Char('0')), 100 + i);
        return lines;
    }

private Q_SLOTS:
    void textIsSplitAtEveryLineBreakAndJoinedWithCrLf()
    {
        EmployeeItems items(QStringLiteral("a\r\nb\nc\rd\r\n"));
        QCOMPARE(items.lines(), QStringList({"a", "b", "c", "d"}));
        QCOMPARE(items.text(), QStringLiteral("a\r\nb\r\nc\r\nd"));
        QCOMPARE(EmployeeItems(QString()).lines().size(), 0);
        QCOMPARE(EmployeeItems(QStringLiteral("x\r\n\r\ny")).lines(), QStringList({"x", "", "y"}));
    }

    void searchFindsEveryLineOfListsOfAnyLength()
    {
        for (int n = 0; n <= 9; ++n) {
            EmployeeItems items(ordered(n).join(QStringLiteral("\r\n")));
            for (int i = 0; i < n; ++i) {
                const QString key = QStringLiteral("k%1").arg(2 * i, 2, 10, QLatin1Char('0'));
                QVERIFY2(items.FindEmployeeItem(key), qPrintable(QStringLiteral("n=%1 key=%2").arg(n).arg(key)));
                QCOMPARE(items.FoundItemIndex(), i);
                QCOMPARE(items.FoundItemQuantity(), 100 + i);
            }
            // Keys before, between and after the lines are not found.
            for (int i = -1; i < n; ++i) {
                const QString key = QStringLiteral("K%1").arg(2 * i + 1, 2, 10, QLatin1Char('0'));
                QVERIFY2(!items.FindEmployeeItem(key), qPrintable(QStringLiteral("n=%1 key=%2").arg(n).arg(key)));
                QCOMPARE(items.FoundItemIndex(), -1);
                QCOMPARE(items.FoundItemQuantity(), 0);
            }
        }
    }

    void searchMatchesTheWholeItemNumber()
    {
        EmployeeItems items(QStringList{itemLine("DRL", 1), itemLine("DRL-0125", 2)}.join("\r\n"));
        QVERIFY(items.FindEmployeeItem(QStringLiteral("drl-0125")));
        QCOMPARE(items.FoundItemQuantity(), 2);
        QVERIFY(items.FindEmployeeItem(QStringLiteral("DRL")));
        QCOMPARE(items.FoundItemIndex(), 0);
        QVERIFY(!items.FindEmployeeItem(QStringLiteral("DRL-01")));
    }

    void quantityThatIsNotAnIntegerRaises()
    {
        EmployeeItems items(QStringList{itemLine("A", 1), "B\tEA\t1\t0\tmany\tx"}.join("\r\n"));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, items.FindEmployeeItem(QStringLiteral("B")));
        QCOMPARE(items.FoundItemIndex(), -1);
        items.SetFoundItemQuantity(5); // no found line: nothing changes
        QCOMPARE(items.lines().at(1), QStringLiteral("B\tEA\t1\t0\tmany\tx"));
    }

    void quantityUpdateRewritesOnlyFieldFive()
    {
        EmployeeItems items(QStringList{itemLine("A", 1), itemLine("B", 7, "keep\tthis")}.join("\r\n"));
        QVERIFY(items.FindEmployeeItem(QStringLiteral("b")));
        items.SetFoundItemQuantity(items.FoundItemQuantity() - 9);
        QCOMPARE(items.lines(), QStringList({itemLine("A", 1), itemLine("B", -2, "keep\tthis")}));
        QVERIFY(!items.FindEmployeeItem(QStringLiteral("C")));
        items.SetFoundItemQuantity(50);
        QCOMPARE(items.lines(), QStringList({itemLine("A", 1), itemLine("B", -2, "keep\tthis")}));
    }

    void renameMovesTheLineToItsPlaceComparingLetterCase()
    {
        EmployeeItems items(QStringList{itemLine("AAA", 1), itemLine("BBB", 2), itemLine("CCC", 3)}.join("\r\n"));
        QVERIFY(items.FindEmployeeItem(QStringLiteral("aaa")));
        items.RenameFoundItem(QStringLiteral("BZZ"));
        QCOMPARE(items.lines(), QStringList({itemLine("BBB", 2), itemLine("BZZ", 1), itemLine("CCC", 3)}));
        QCOMPARE(items.FoundItemIndex(), 1);

        // Lower case sorts after every upper-case key.
        QVERIFY(items.FindEmployeeItem(QStringLiteral("BBB")));
        items.RenameFoundItem(QStringLiteral("bbb"));
        QCOMPARE(items.lines(), QStringList({itemLine("BZZ", 1), itemLine("CCC", 3), itemLine("bbb", 2)}));

        QVERIFY(items.FindEmployeeItem(QStringLiteral("CCC")));
        items.RenameFoundItem(QStringLiteral("A"));
        QCOMPARE(items.lines(), QStringList({itemLine("A", 3), itemLine("BZZ", 1), itemLine("bbb", 2)}));

        QVERIFY(!items.FindEmployeeItem(QStringLiteral("ZZZ")));
        items.RenameFoundItem(QStringLiteral("ZZZ"));
        QCOMPARE(items.lines(), QStringList({itemLine("A", 3), itemLine("BZZ", 1), itemLine("bbb", 2)}));
    }
};

QTEST_GUILESS_MAIN(TestEmployeeItems)
#include "TestEmployeeItems.moc"
