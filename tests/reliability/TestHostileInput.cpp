#include "EngineSite.h"
#include "HostileCorpus.h"
#include "config/Credential.h"
#include "db/RowQuery.h"
#include "db/SqlTokenizer.h"

#include <QRegularExpression>
#include <QTest>
#include <cmath>
#include <cstdio>

namespace {

/// What a key that goes into a statement unquoted must be (the database keeps a longer one as a
/// real number, which is refused too).
bool isWholeNumber(const QVariant& value)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    bool fits = false;
    value.toString().toLongLong(&fits);
    return !value.isNull() && number.match(value.toString()).hasMatch() && fits;
}

/// "c1 IS :v AND c2 IS :v1 ...": a NULL-safe match of every key column.
QString matchAll(const QStringList& columns)
{
    QStringList terms;
    for (int i = 0; i < columns.size(); ++i)
        terms << QStringLiteral("%1 IS :%2")
                     .arg(db::bracketed(columns[i]), i == 0 ? QStringLiteral("v") : QStringLiteral("v%1").arg(i));
    return terms.join(QStringLiteral(" AND "));
}

/// Rows of `before` that are gone or changed in `after`, outside the tables named in `skip`.
QStringList rowsDisturbed(
    const QMap<QString, QStringList>& before, const QMap<QString, QStringList>& after, const QStringList& skip)
{
    QStringList disturbed;
    if (before.value(QStringLiteral("schema")) != after.value(QStringLiteral("schema")))
        disturbed << QStringLiteral("the schema changed");
    for (auto table = before.cbegin(); table != before.cend(); ++table) {
        if (table.key() == QLatin1String("schema") || skip.contains(table.key(), Qt::CaseInsensitive))
            continue;
        const QStringList now = after.value(table.key());
        for (const QString& row : table.value()) {
            if (!now.contains(row))
                disturbed << table.key() + QStringLiteral(": ") + row.left(120);
        }
    }
    return disturbed;
}

/// A table whose rows a case pushes, with the key columns the push probes by.
struct PushCase
{
    QString table;
    QStringList keys;
    QStringList unquoted; // keys that go into the probe as numbers
    QString extraColumns; // further columns the row needs, with their values
    QString extraValues;
    bool remoteCopyFirst = false; // the table is never inserted remotely, only updated
};

const QList<PushCase>& pushCases()
{
    static const QList<PushCase> cases = {
        {"Bin", {"Station", "MyNo"}, {}, "Item, OnHand", "'DRL', 5"},
        {"BinHst", {"Station", "Bin"}, {}, "Quantity", "1"},
        {"Kit", {"KitNo", "Item"}, {}, "Quantity", "1"},
        {"Serial", {"Serial", "Item"}, {}, "", ""},
        {"Terminal", {"Terminal", "Station"}, {}, "", ""},
        {"JobItems", {"Job", "Item"}, {}, "", ""},
        {"Release", {"Station", "ReleaseNo"}, {}, "", ""},
        {"Issue", {"TranNo", "MyLineNo"}, {}, "Item", "'DRL'"},
        {"IssueAttrib1", {"TranNo", "MyLineNo"}, {}, "", ""},
        {"BinAttrib1", {"Station", "Bin", "Container", "Lot"}, {}, "ExpirDt", "'2026-12-01T00:00:00'"},
        {"RoboMinMax", {"Station", "Item", "PkgQty"}, {"PkgQty"}, "", ""},
        {"Transfer2", {"TransferID"}, {"TransferID"}, "", ""},
        {"MyTranExt1", {"TranNo"}, {"TranNo"}, "", ""},
        {"Regrind", {"RegrindID"}, {}, "", ""},
        {"CalHistory", {"CalibrateID"}, {}, "", ""},
        {"ClassImage", {"MyNo"}, {}, "", ""},
        {"ItemImage", {"Code"}, {}, "", ""},
        {"ItemAttrib1", {"Code"}, {}, "", ""},
        {"DeptMach", {"Dept", "Mach"}, {}, "", ""},
        {"MachJob", {"Mach", "Job"}, {}, "", ""},
        {"Report", {"MyGroup", "Name"}, {}, "", "", true},
        {"StockOuts", {"BoNo"}, {}, "", ""},
        {"Item", {"MyNo"}, {}, "Description", "'item'"},
        {"Emp", {"MyNo"}, {}, "Name", "'someone'"},
        {"Station", {"MyNo"}, {}, "Name", "'cell'"},
    };
    return cases;
}

} // namespace

/// Hostile text in every place where the agent writes a value into a statement, both ways, and
/// in the settings: the value travels as data or is refused; no other statement runs, nothing is
/// lost, a refused row or entry stays pending and the cycle log names it.
class TestHostileInput : public QObject
{
    Q_OBJECT

private:
    int m_tried = 0;
    int m_beyond = 0;
    int m_lost = 0;
    int m_refused = 0;
    int m_unnamed = 0;
    QList<HostileValue> m_corpus;

    QList<HostileValue> corpus() const { return m_corpus; }

    void countBeyond(EngineSite& site)
    {
        const QStringList beyond = statementsBeyondIntent(site.traced());
        m_beyond += int(beyond.size());
        QVERIFY2(beyond.isEmpty(), qPrintable(beyond.join(QStringLiteral("\n"))));
        site.clearTrace();
    }

    void expectNamed(EngineSite& site, const QString& table, const QString& key)
    {
        const QString log = site.logText();
        const QString needle = QStringLiteral("table %1, key %2").arg(table, key);
        if (!log.contains(needle, Qt::CaseInsensitive)) {
            ++m_unnamed;
            QFAIL(qPrintable(QStringLiteral("the log does not name %1 in:\n%2").arg(needle, log.right(2000))));
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The corpus is small enough to run whole in the reduced form as well.
        m_corpus = hostileCorpus();
    }

    void cleanupTestCase()
    {
        std::printf("hostile input: inputs tried=%d statements beyond intent=%d rows lost=%d refused and pending=%d "
                    "refusals not named in the log=%d\n",
            m_tried, m_beyond, m_lost, m_refused, m_unnamed);
        std::fflush(stdout);
    }

    // Every key position of every probe: the row arrives once, and pushed again it is found
    // again (an update, not a second row); a key that goes into the text unquoted must be a
    // number, or the row stays pending and the log says why.
    void pushProbesCarryKeysAsData()
    {
        EngineSite site;
        QVERIFY(site.start());
        QVERIFY(site.cycle());
        site.clearTrace();
        int round = 0;
        for (const HostileValue& hostile : corpus()) {
            ++round;
            struct Row
            {
                const PushCase* c;
                QVariantList keyValues;
                int recordId;
                bool refused;
            };
            QList<Row> rows;
            // Rows with a numeric key go last: a refused row ends its table's push for the cycle.
            QList<QPair<const PushCase*, int>> order;
            for (const PushCase& c : pushCases()) {
                for (int k = 0; k < c.keys.size(); ++k)
                    order.append({&c, k});
            }
            std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
                return !a.first->unquoted.contains(a.first->keys[a.second])
                    && b.first->unquoted.contains(b.first->keys[b.second]);
            });
            for (const auto& [c, at] : order) {
                QVariantList keyValues;
                for (int k = 0; k < c->keys.size(); ++k) {
                    if (k == at)
                        keyValues << hostile.value;
                    else if (c->unquoted.contains(c->keys[k]))
                        keyValues << QString::number(round * 1000 + at * 10 + k);
                    else
                        keyValues << QStringLiteral("r%1k%2x%3").arg(round).arg(at).arg(k);
                }
                QStringList placeholders;
                for (int k = 0; k < keyValues.size(); ++k)
                    placeholders << (k == 0 ? QStringLiteral(":v") : QStringLiteral(":v%1").arg(k));
                const QString columns = c->keys.join(QStringLiteral(", "))
                    + (c->extraColumns.isEmpty() ? QString() : QStringLiteral(", ") + c->extraColumns);
                const QString values = placeholders.join(QStringLiteral(", "))
                    + (c->extraValues.isEmpty() ? QString() : QStringLiteral(", ") + c->extraValues);
                if (c->remoteCopyFirst)
                    site.remote.execute(
                        QStringLiteral("INSERT INTO %1 (%2, Processed) VALUES (%3, 1)").arg(c->table, columns, values),
                        bind(keyValues));
                site.local.execute(
                    QStringLiteral("INSERT INTO %1 (%2, ASPProcessed) VALUES (%3, 0)").arg(c->table, columns, values),
                    bind(keyValues));
                const int recordId = site.localValue(QStringLiteral("SELECT max(RecordID) FROM ") + c->table).toInt();
                const bool refused = c->unquoted.contains(c->keys[at]) && !isWholeNumber(hostile.value)
                    && !(c->table == QLatin1String("MyTranExt1") && hostile.value.isNull());
                rows.append({c, keyValues, recordId, refused});
                ++m_tried;
            }
            const auto remoteBefore = snapshotOf(site.remote);
            const auto localBefore = snapshotOf(site.local);

            site.cycle();
            countBeyond(site);
            QStringList touched{"Company", "Control"};
            for (const Row& row : rows)
                touched << row.c->table;
            QStringList disturbed = rowsDisturbed(remoteBefore, snapshotOf(site.remote), touched);
            disturbed += rowsDisturbed(localBefore, snapshotOf(site.local), touched);
            QVERIFY2(disturbed.isEmpty(), qPrintable(hostile.label + QStringLiteral(": ") + disturbed.join("\n")));

            for (const Row& row : rows) {
                const QString where = matchAll(row.c->keys);
                const int remote
                    = site.remoteValue(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(row.c->table, where),
                              bind(row.keyValues))
                          .toInt();
                const int pending
                    = site.localValue(QStringLiteral("SELECT 1 - ASPProcessed FROM %1 WHERE RecordID = %2")
                                          .arg(row.c->table)
                                          .arg(row.recordId))
                          .toInt();
                const QString what = QStringLiteral("%1 (%2 in %3)").arg(row.c->table, hostile.label, where);
                if (row.refused) {
                    ++m_refused;
                    QVERIFY2(pending == 1, qPrintable(what));
                    QCOMPARE(remote, 0);
                    expectNamed(site, row.c->table, QString::number(row.recordId));
                    site.local.execute(
                        QStringLiteral("DELETE FROM %1 WHERE RecordID = %2").arg(row.c->table).arg(row.recordId));
                    continue;
                }
                if (pending != 0 || remote != 1)
                    ++m_lost;
                QVERIFY2(pending == 0, qPrintable(what + QStringLiteral(" stayed pending")));
                QVERIFY2(remote == 1, qPrintable(what + QStringLiteral(": %1 remote rows").arg(remote)));
            }

            // A NULL key is probed as empty text, as the rules say, so it cannot be found again.
            if (hostile.value.isNull())
                continue;
            site.local.execute(QStringLiteral("UPDATE Bin SET ASPProcessed = 0 WHERE RecordID > 0 AND Item = 'DRL'"));
            for (const Row& row : rows) {
                if (!row.refused)
                    site.local.execute(QStringLiteral("UPDATE %1 SET ASPProcessed = 0 WHERE RecordID = %2")
                                           .arg(row.c->table)
                                           .arg(row.recordId));
            }
            site.cycle();
            countBeyond(site);
            for (const Row& row : rows) {
                if (row.refused)
                    continue;
                // An integer column keeps "1e309" as infinity, which no text form finds again;
                // a server's integer column would not have taken it at all.
                bool infinite = false;
                for (const QString& key : row.c->keys) {
                    const QVariant stored = site.localValue(QStringLiteral("SELECT %1 FROM %2 WHERE RecordID = %3")
                                                                .arg(key, row.c->table)
                                                                .arg(row.recordId));
                    infinite = infinite || (stored.typeId() == QMetaType::Double && !std::isfinite(stored.toDouble()));
                }
                if (infinite)
                    continue;
                const QString where = matchAll(row.c->keys);
                const int remote
                    = site.remoteValue(QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(row.c->table, where),
                              bind(row.keyValues))
                          .toInt();
                QVERIFY2(remote == 1,
                    qPrintable(QStringLiteral("%1 (%2) pushed again: %3 remote rows")
                                   .arg(row.c->table, hostile.label)
                                   .arg(remote)));
            }
        }
    }

    // Transactions carry their text as procedure parameters; a quantity that is no number stops
    // the transaction push with the row pending, named in the log.
    void transactionsPassTextAsParameters()
    {
        EngineSite site;
        QVERIFY(site.start());
        QVERIFY(site.cycle());
        site.clearTrace();
        int tranNo = 100;
        for (const HostileValue& hostile : corpus()) {
            const QStringList columns = {"Station", "Bin", "Item", "Emp", "Comment", "Quantity"};
            QList<int> recordIds;
            for (int at = 0; at < columns.size(); ++at) {
                ++tranNo;
                QVariantList values{QStringLiteral("01"), QStringLiteral("NB%1").arg(tranNo), QStringLiteral("DRL"),
                    QStringLiteral("E1"), QStringLiteral("c"), 1};
                values[at] = hostile.value;
                site.local.execute(
                    QStringLiteral(
                        "INSERT INTO MyTran (TranNo, MyDate, MyTime, Type, ServerDateTime, %1, ComputerName, "
                        "ASPProcessed) VALUES (%2, '2026-12-01T00:00:00', '1899-12-30T08:00:00', 'I', "
                        "'2026-12-01T08:%3:00', :v, :v1, :v2, :v3, :v4, :v5, 'CRIB-01', 0)")
                        .arg(columns.join(QStringLiteral(", ")))
                        .arg(tranNo)
                        .arg(at, 2, 10, QLatin1Char('0')),
                    bind(values));
                recordIds << site.localValue(QStringLiteral("SELECT max(RecordID) FROM MyTran")).toInt();
                ++m_tried;
            }
            const auto remoteBefore = snapshotOf(site.remote);
            site.cycle();
            countBeyond(site);
            QStringList disturbed
                = rowsDisturbed(remoteBefore, snapshotOf(site.remote), {"Company", "Control", "MyTran"});
            QVERIFY2(disturbed.isEmpty(), qPrintable(disturbed.join("\n")));
            for (int at = 0; at < columns.size(); ++at) {
                const int sent = site.remoteValue(QStringLiteral("SELECT count(*) FROM MyTran WHERE TranNo = %1")
                                                      .arg(tranNo - columns.size() + 1 + at))
                                     .toInt();
                const int pending
                    = site.localValue(QStringLiteral("SELECT 1 - ASPProcessed FROM MyTran WHERE RecordID = %1")
                                          .arg(recordIds[at]))
                          .toInt();
                bool isInt = false;
                hostile.value.toString().toInt(&isInt);
                const bool refused = columns[at] == QLatin1String("Quantity") && !hostile.value.isNull() && !isInt;
                const QString what = QStringLiteral("MyTran %1 = %2").arg(columns[at], hostile.label);
                if (refused) {
                    ++m_refused;
                    QVERIFY2(pending == 1 && sent == 0, qPrintable(what));
                    expectNamed(site, QStringLiteral("MyTran"), QString::number(recordIds[at]));
                    site.local.execute(QStringLiteral("DELETE FROM MyTran WHERE RecordID = %1").arg(recordIds[at]));
                    continue;
                }
                if (pending != 0 || sent != 1)
                    ++m_lost;
                QVERIFY2(pending == 0 && sent == 1,
                    qPrintable(what + QStringLiteral(": sent %1, pending %2").arg(sent).arg(pending)));
                const QVariant stored = site.remoteValue(QStringLiteral("SELECT %1 FROM MyTran WHERE TranNo = %2")
                                                             .arg(columns[at])
                                                             .arg(tranNo - columns.size() + 1 + at));
                if (columns[at] != QLatin1String("Quantity"))
                    QCOMPARE(db::valueText(stored), hostile.value.toString());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestHostileInput)
#include "TestHostileInput.moc"
