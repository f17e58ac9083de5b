#pragma once

#include "support/CribFixture.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <map>
#include <memory>

/// One crib computer of a site: its own local database, settings folder and crib (station).
struct CribComputer
{
    QString machineName;
    /// The computer's own crib: the Station of its bins.
    QString station;
    /// Everything of this computer lives below this folder.
    QString folder;
    /// settings.ini, paths.ini, cribsync.log and the standard error of its runs.
    QString configDir;
    /// Holds the local database file.
    QString localFolder;
};

/// A stock transaction as the crib application or the hosted application records it.
struct CribTransaction
{
    qint64 tranNo = 0;
    QString bin;
    QString item;
    QString type = QStringLiteral("I");
    int quantity = 0;
    int burnQty = 0;
    /// Empty: NULL.
    QString emp = QStringLiteral("E100");
    QString poNo;
    /// The time of the transaction; local transactions are sent in this order.
    QDateTime when = QDateTime(QDate(2026, 12, 1), QTime(8, 0));
};

/// A company's crib sites for tests that drive the executable: one hosted remote embedded
/// database shared by any number of crib computers, each with its own local embedded database
/// and its own settings folder pointing at the shared remote one.
///
/// Every database starts in step: the company's items and employees exist on all sides, and each
/// computer's crib (its station and bins) exists locally and remotely, all marked synchronised.
/// The seeding helpers then leave pending local changes and remote outbox orders the way the
/// crib application and the hosted application do.
///
/// Helpers throw db::DbError (or std::runtime_error) on failure.
class CribSites : public CribRows
{
public:
    struct Options
    {
        CribSchema::Options schema;
        /// "Time" of section "Corvane": the timer interval of headless runs.
        int intervalSeconds = 30;
        /// Items of the company, "ITM-001" on.
        int items = 6;
        /// Bins of every crib, "B001" on, holding the items in turn.
        int binsPerCrib = 6;
        /// OnHand of every bin at the start.
        int binOnHand = 20;
        /// Whether the cribs limit access (issues then update the employee's item list).
        bool limitAccess = true;
    };

    static QString localCatalog() { return QStringLiteral("CribLocal"); }
    static QString remoteCatalog() { return QStringLiteral("CribRemote"); }
    static QString remoteLogin() { return QStringLiteral("crib"); }
    static QString remotePassword() { return QStringLiteral("s3cret;pw"); }
    static QString itemNo(int n);
    static QString binNo(int n);
    /// Columns the agent stamps at the end of every cycle ("Table.Column"), which snapshot
    /// comparisons leave out.
    static QStringList stampColumns();

    /// Creates the remote database in `root`/remote.
    explicit CribSites(const QString& root);
    CribSites(const QString& root, const Options& options);
    ~CribSites();
    CribSites(const CribSites&) = delete;
    CribSites& operator=(const CribSites&) = delete;

    /// A new computer: its local database with the company's rows and its crib, the crib on the
    /// remote side, its Control rows and its settings. The n-th computer's station is "S<n>".
    const CribComputer& addComputer(const QString& machineName);
    const CribComputer& computer(const QString& machineName) const;
    QList<CribComputer> computers() const;
    QString root() const { return m_root; }
    QString remoteFolder() const;

    /// The test's own connections, opened on first use.
    db::Connection& remote();
    db::Connection& local(const QString& machineName);
    /// Closes the test's connections, for example before a computer's files are copied.
    void closeConnections();

    // Local changes, left pending (ASPProcessed = 0) as the crib application leaves them.

    /// Inserts a row; ASPProcessed is 0 unless `values` says otherwise. Returns its RecordID.
    qint64 insertLocal(const QString& machineName, const QString& table, const QVariantMap& values);
    /// Sets `values` and ASPProcessed = 0 on the rows matching `where`; returns how many.
    qint64 updateLocal(
        const QString& machineName, const QString& table, const QString& where, const QVariantMap& values);
    /// Deletes the rows matching `where` and records the deletion in DeleteHst with the keys.
    void deleteLocal(const QString& machineName, const QString& table, const QString& where, const QString& key1,
        const QString& key2 = {}, const QString& key3 = {});
    /// Renames a bin of the computer's crib through the local procedure, which records it.
    void renameLocalBin(const QString& machineName, const QString& bin, const QString& newBin);
    /// Renames an item through the local procedure, which records it.
    void renameLocalItem(const QString& machineName, const QString& item, const QString& newItem);
    /// A pending transaction at the computer's crib. Returns its RecordID.
    qint64 addLocalTransaction(const QString& machineName, const CribTransaction& transaction);

    // Central changes and the outbox orders that carry them to one computer.

    /// Inserts a remote row; Processed is 0 unless `values` says otherwise. Returns its RecordID.
    qint64 insertRemote(const QString& table, const QVariantMap& values);
    /// Sets `values` and Processed = 0 on the remote rows matching `where`; returns how many.
    qint64 updateRemote(const QString& table, const QString& where, const QVariantMap& values);
    /// A transaction made centrally at `station`. Returns its RecordID.
    qint64 addRemoteTransaction(const QString& station, const CribTransaction& transaction);
    /// The remote RecordID of the one row matching `where`; throws when there is none.
    qint64 remoteId(const QString& table, const QString& where);
    qint64 localId(const QString& machineName, const QString& table, const QString& where);

    /// An outbox row as the hosted application writes it. Returns its RecordID.
    qint64 addOutbox(const QString& machineName, const QString& table, const QString& type, const QString& id,
        const QString& key1 = {}, const QString& key2 = {}, const QString& key3 = {});
    /// Copy the remote row `sourceId` of `table` into the computer's database.
    qint64 orderCopy(const QString& machineName, const QString& table, qint64 sourceId);
    /// Delete the computer's row of `table` named by the keys.
    qint64 orderDelete(const QString& machineName, const QString& table, const QString& key1, const QString& key2 = {},
        const QString& key3 = {});
    /// Rename a bin of the crib of remote Bin row `sourceId`, or (table "Item") an item.
    qint64 orderRename(const QString& machineName, const QString& table, qint64 sourceId, const QString& oldKey,
        const QString& newKey);
    /// Copy the item list of the remote employee row `sourceId`.
    qint64 orderEmployeeList(const QString& machineName, qint64 sourceId);

    // Counting.

    /// Local rows of `table` with ASPProcessed = 0.
    qint64 pendingLocal(const QString& machineName, const QString& table);
    /// Outbox rows addressed to the computer with Processed = 0.
    qint64 pendingOutbox(const QString& machineName);

private:
    void seedCompany(db::Connection& connection, CribSchema::Side side);
    void seedCrib(db::Connection& connection, CribSchema::Side side, const CribComputer& computer);
    void writeSettings(const CribComputer& computer);

    QString m_root;
    Options m_options;
    QList<CribComputer> m_computers;
    std::unique_ptr<db::Connection> m_remote;
    std::map<QString, std::unique_ptr<db::Connection>> m_locals;
};
