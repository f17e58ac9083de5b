#include "support/CribSites.h"

#include "config/ConfigStore.h"
#include "config/Credential.h"
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/SqlTokenizer.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <stdexcept>

namespace {

QString connectionString(const QString& folder, const QString& catalog)
{
    return QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, catalog);
}

std::unique_ptr<db::Connection> openDatabase(
    const QString& folder, const QString& catalog, const QString& traceTarget, db::Connection::OpenMode mode)
{
    auto connection = std::make_unique<db::Connection>(traceTarget);
    connection->setConnectionString(connectionString(folder, catalog));
    connection->open(mode);
    return connection;
}

QVariant nullIfEmpty(const QString& text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariantMap transactionColumns(const CribTransaction& t, const QString& station)
{
    return {
        {QStringLiteral("TranNo"), t.tranNo},
        {QStringLiteral("MyDate"), QDateTime(t.when.date(), QTime(0, 0))},
        {QStringLiteral("MyTime"), QDateTime(QDate(1899, 12, 30), t.when.time())},
        {QStringLiteral("Station"), station},
        {QStringLiteral("Bin"), t.bin},
        {QStringLiteral("Type"), t.type},
        {QStringLiteral("Item"), t.item},
        {QStringLiteral("ItemType"), 1},
        {QStringLiteral("Quantity"), t.quantity},
        {QStringLiteral("PackQty"), 1},
        {QStringLiteral("IssueCost"), 0},
        {QStringLiteral("UnitPrice"), 3.5},
        {QStringLiteral("UnitCost"), 2.25},
        {QStringLiteral("Emp"), nullIfEmpty(t.emp)},
        {QStringLiteral("BurnQty"), t.burnQty},
        {QStringLiteral("PoNo"), nullIfEmpty(t.poNo)},
        {QStringLiteral("CurOnHand"), 0},
        {QStringLiteral("CurBurn"), 0},
        {QStringLiteral("DiscrepantQty"), 0},
        {QStringLiteral("ServerDateTime"), t.when},
    };
}

/// Sets `values` in the rows of `table` that `where` selects and marks them as not yet sent.
qint64 updatePending(db::Connection& connection, const QString& table, const QString& where, const QVariantMap& values,
    const QString& flag)
{
    QStringList sets;
    db::NamedValues named;
    int n = 0;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it, ++n) {
        sets << QStringLiteral("[%1] = :v%2").arg(it.key()).arg(n);
        named.set(QStringLiteral("v%1").arg(n), it.value());
    }
    sets << flag + QStringLiteral(" = 0");
    return connection.execute(
        QStringLiteral("UPDATE [%1] SET %2 WHERE %3").arg(table, sets.join(QStringLiteral(", ")), where), named);
}

} // namespace

QString CribSites::itemNo(int n)
{
    return QStringLiteral("ITM-%1").arg(n, 3, 10, QLatin1Char('0'));
}

QString CribSites::binNo(int n)
{
    return QStringLiteral("B%1").arg(n, 3, 10, QLatin1Char('0'));
}

QStringList CribSites::stampColumns()
{
    return {QStringLiteral("Company.LastSyncTime"), QStringLiteral("Company.ClientSyncTime"),
        QStringLiteral("Control.LastSyncTime")};
}

CribSites::CribSites(const QString& root)
    : CribSites(root, Options{})
{ }

CribSites::CribSites(const QString& root, const Options& options)
    : m_root(QFileInfo(root).absoluteFilePath())
    , m_options(options)
{
    QDir().mkpath(remoteFolder());
    m_remote = openDatabase(
        remoteFolder(), remoteCatalog(), QStringLiteral("remote"), db::Connection::OpenMode::CreateEmbeddedIfMissing);
    CribSchema::create(*m_remote, CribSchema::Side::Remote, m_options.schema);
    seedCompany(*m_remote, CribSchema::Side::Remote);
}

CribSites::~CribSites() = default;

QString CribSites::remoteFolder() const
{
    return QDir(m_root).filePath(QStringLiteral("remote"));
}

const CribComputer& CribSites::addComputer(const QString& machineName)
{
    for (const CribComputer& c : m_computers) {
        if (c.machineName.compare(machineName, Qt::CaseInsensitive) == 0)
            throw std::invalid_argument(("CribSites: " + machineName + " exists already").toStdString());
    }
    CribComputer computer;
    computer.machineName = machineName;
    computer.station = QStringLiteral("S%1").arg(m_computers.size() + 1);
    computer.folder = QDir(m_root).filePath(machineName);
    computer.configDir = QDir(computer.folder).filePath(QStringLiteral("config"));
    computer.localFolder = QDir(computer.folder).filePath(QStringLiteral("local"));
    QDir().mkpath(computer.configDir);
    QDir().mkpath(computer.localFolder);

    auto local = openDatabase(computer.localFolder, localCatalog(), QStringLiteral("local"),
        db::Connection::OpenMode::CreateEmbeddedIfMissing);
    CribSchema::create(*local, CribSchema::Side::Local, m_options.schema);
    seedCompany(*local, CribSchema::Side::Local);
    seedCrib(*local, CribSchema::Side::Local, computer);
    seedCrib(remote(), CribSchema::Side::Remote, computer);
    writeSettings(computer);

    m_locals[machineName.toLower()] = std::move(local);
    m_computers.append(computer);
    return m_computers.last();
}

const CribComputer& CribSites::computer(const QString& machineName) const
{
    for (const CribComputer& c : m_computers) {
        if (c.machineName.compare(machineName, Qt::CaseInsensitive) == 0)
            return c;
    }
    throw std::invalid_argument(("CribSites: no computer " + machineName).toStdString());
}

QList<CribComputer> CribSites::computers() const
{
    return m_computers;
}

db::Connection& CribSites::remote()
{
    if (!m_remote)
        m_remote = openDatabase(
            remoteFolder(), remoteCatalog(), QStringLiteral("remote"), db::Connection::OpenMode::ExistingDatabase);
    return *m_remote;
}

db::Connection& CribSites::local(const QString& machineName)
{
    std::unique_ptr<db::Connection>& connection = m_locals[machineName.toLower()];
    if (!connection)
        connection = openDatabase(computer(machineName).localFolder, localCatalog(), QStringLiteral("local"),
            db::Connection::OpenMode::ExistingDatabase);
    return *connection;
}

void CribSites::closeConnections()
{
    m_remote.reset();
    m_locals.clear();
}

void CribSites::seedCompany(db::Connection& c, CribSchema::Side side)
{
    const bool isLocal = side == CribSchema::Side::Local;
    const QString flag = isLocal ? QStringLiteral("ASPProcessed") : QStringLiteral("Processed");
    for (int n = 1; n <= m_options.items; ++n) {
        insert(c, QStringLiteral("Item"),
            {{QStringLiteral("MyNo"), itemNo(n)}, {QStringLiteral("Description"), QStringLiteral("Item %1").arg(n)},
                {QStringLiteral("ItemClass"), QStringLiteral("TOOL")}, {QStringLiteral("UnitPrice"), n + 0.5},
                {QStringLiteral("UnitCost"), n}, {flag, 1}});
    }
    // Alice's list holds the first two items, Bob's the third; Chen has none.
    const QString alice = QStringList{itemLine(itemNo(1), 4, QStringLiteral("issued")),
        itemLine(itemNo(2), 2, QStringLiteral("issued"))}
                              .join(QStringLiteral("\r\n"));
    const QString bob = itemLine(itemNo(3), 3, QStringLiteral("issued"));
    const QList<QStringList> employees = {{"E100", "Alice Turner", "MACH", alice}, {"E200", "Bob Okafor", "GRIND", bob},
        {"E300", "Chen Li", "MAINT", QString()}};
    for (const QStringList& e : employees) {
        insert(c, QStringLiteral("Emp"),
            {{QStringLiteral("MyNo"), e[0]}, {QStringLiteral("Name"), e[1]}, {QStringLiteral("Department"), e[2]},
                {QStringLiteral("Cribs"), QStringLiteral("S1")}, {QStringLiteral("Items"), nullIfEmpty(e[3])},
                {QStringLiteral("Active"), 1}, {flag, 1}});
    }
    QVariantMap company
        = {{QStringLiteral("Name"), QStringLiteral("Test Works")}, {QStringLiteral("MasterID"), QStringLiteral("M1")},
            {QStringLiteral("MasterPin"), QStringLiteral("1234")}, {QStringLiteral("Version"), QStringLiteral("7.2")},
            {QStringLiteral("PoNo"), 1000}, {QStringLiteral("Server"), 0}, {flag, 1}};
    if (isLocal) {
        company.insert(QStringLiteral("ASPDataBaseName"), EncodeCredential(remoteCatalog()));
        company.insert(QStringLiteral("ASPLoginName"), EncodeCredential(remoteLogin()));
        company.insert(QStringLiteral("ASPPassword"), EncodeCredential(remotePassword()));
    }
    insert(c, QStringLiteral("Company"), company);
}

void CribSites::seedCrib(db::Connection& c, CribSchema::Side side, const CribComputer& computer)
{
    const bool isLocal = side == CribSchema::Side::Local;
    const QString flag = isLocal ? QStringLiteral("ASPProcessed") : QStringLiteral("Processed");
    insert(c, QStringLiteral("Station"),
        {{QStringLiteral("MyNo"), computer.station}, {QStringLiteral("Name"), "Crib of " + computer.machineName},
            {QStringLiteral("LimitAccess"), m_options.limitAccess ? 1 : 0}, {flag, 1}});
    for (int n = 1; n <= m_options.binsPerCrib; ++n) {
        QVariantMap bin = {{QStringLiteral("Station"), computer.station}, {QStringLiteral("MyNo"), binNo(n)},
            {QStringLiteral("Item"), itemNo((n - 1) % m_options.items + 1)},
            {QStringLiteral("Description"), QStringLiteral("bin %1").arg(n)},
            {QStringLiteral("OnHand"), m_options.binOnHand}, {QStringLiteral("BurnQty"), 0},
            {QStringLiteral("OnOrder"), 0}, {QStringLiteral("MinQty"), 2}, {QStringLiteral("MaxQty"), 40}, {flag, 1}};
        if (!isLocal)
            bin.insert(QStringLiteral("ComputerName"), computer.machineName);
        insert(c, QStringLiteral("Bin"), bin);
    }
    // Registered already, as after the agent's first start.
    insert(c, QStringLiteral("Control"),
        {{QStringLiteral("ComputerName"), computer.machineName}, {QStringLiteral("Synch"), 1},
            {QStringLiteral("Port"), 1}});
}

void CribSites::writeSettings(const CribComputer& computer)
{
    ConfigStore config = ConfigStore::inFolder(computer.configDir);
    config.open();
    config.write(StoreKey::Server, QStringLiteral("sqlite:") + computer.localFolder);
    config.write(StoreKey::DatabaseName, localCatalog());
    config.write(StoreKey::WinAuth, QStringLiteral("1"));
    config.write(StoreKey::IpAddress, QStringLiteral("sqlite:") + remoteFolder());
    config.write(StoreKey::PortNo, QStringLiteral("1433"));
    config.writeSyncTime(m_options.intervalSeconds);
}

qint64 CribSites::insertLocal(const QString& machineName, const QString& table, const QVariantMap& values)
{
    QVariantMap row = values;
    if (!row.contains(QStringLiteral("ASPProcessed")))
        row.insert(QStringLiteral("ASPProcessed"), 0);
    return insert(local(machineName), table, row);
}

qint64 CribSites::updateLocal(
    const QString& machineName, const QString& table, const QString& where, const QVariantMap& values)
{
    return updatePending(local(machineName), table, where, values, QStringLiteral("ASPProcessed"));
}

void CribSites::deleteLocal(const QString& machineName, const QString& table, const QString& where, const QString& key1,
    const QString& key2, const QString& key3)
{
    db::Connection& c = local(machineName);
    if (c.execute(QStringLiteral("DELETE FROM [%1] WHERE %2").arg(table, where)) < 1)
        throw db::DbError(QStringLiteral("CribSites: no %1 row where %2").arg(table, where));
    insert(c, QStringLiteral("DeleteHst"),
        {{QStringLiteral("TableName"), table}, {QStringLiteral("Key1"), nullIfEmpty(key1)},
            {QStringLiteral("Key2"), nullIfEmpty(key2)}, {QStringLiteral("Key3"), nullIfEmpty(key3)},
            {QStringLiteral("LastUpdate"), QDateTime(QDate(2026, 12, 1), QTime(9, 0))},
            {QStringLiteral("ComputerName"), machineName}, {QStringLiteral("ASPProcessed"), 0}});
}

void CribSites::renameLocalBin(const QString& machineName, const QString& bin, const QString& newBin)
{
    local(machineName)
        .callProcedure(QStringLiteral("BinChange"),
            {{QStringLiteral("@Station"), computer(machineName).station}, {QStringLiteral("@MyNo"), bin},
                {QStringLiteral("@NewBin"), newBin}, {QStringLiteral("@Change"), 1}});
}

void CribSites::renameLocalItem(const QString& machineName, const QString& item, const QString& newItem)
{
    local(machineName)
        .callProcedure(QStringLiteral("ItemChange"),
            {{QStringLiteral("@Item"), item}, {QStringLiteral("@NewItem"), newItem}, {QStringLiteral("@Change"), 1}});
}

qint64 CribSites::addLocalTransaction(const QString& machineName, const CribTransaction& transaction)
{
    QVariantMap row = transactionColumns(transaction, computer(machineName).station);
    row.insert(QStringLiteral("ComputerName"), machineName);
    row.insert(QStringLiteral("ASPProcessed"), 0);
    return insert(local(machineName), QStringLiteral("MyTran"), row);
}

qint64 CribSites::insertRemote(const QString& table, const QVariantMap& values)
{
    QVariantMap row = values;
    if (!row.contains(QStringLiteral("Processed")))
        row.insert(QStringLiteral("Processed"), 0);
    return insert(remote(), table, row);
}

qint64 CribSites::updateRemote(const QString& table, const QString& where, const QVariantMap& values)
{
    return updatePending(remote(), table, where, values, QStringLiteral("Processed"));
}

qint64 CribSites::addRemoteTransaction(const QString& station, const CribTransaction& transaction)
{
    QVariantMap row = transactionColumns(transaction, station);
    row.insert(QStringLiteral("ComputerName"), QStringLiteral("HOSTED"));
    row.insert(QStringLiteral("Processed"), 0);
    return insert(remote(), QStringLiteral("MyTran"), row);
}

namespace {

qint64 onlyId(db::Connection& c, const QString& table, const QString& where)
{
    const db::ResultSet rows = c.query(QStringLiteral("SELECT RecordID FROM [%1] WHERE %2").arg(table, where));
    if (rows.rows.size() != 1)
        throw db::DbError(
            QStringLiteral("CribSites: %1 rows of %2 where %3, not one").arg(rows.rows.size()).arg(table, where));
    return rows.rows.first().first().toLongLong();
}

} // namespace

qint64 CribSites::remoteId(const QString& table, const QString& where)
{
    return onlyId(remote(), table, where);
}

qint64 CribSites::localId(const QString& machineName, const QString& table, const QString& where)
{
    return onlyId(local(machineName), table, where);
}

qint64 CribSites::addOutbox(const QString& machineName, const QString& table, const QString& type, const QString& id,
    const QString& key1, const QString& key2, const QString& key3)
{
    return insert(remote(), QStringLiteral("Outbox"),
        {{QStringLiteral("ComputerName"), machineName}, {QStringLiteral("TableName"), table},
            {QStringLiteral("Type"), type}, {QStringLiteral("ID"), nullIfEmpty(id)},
            {QStringLiteral("Key1"), nullIfEmpty(key1)}, {QStringLiteral("Key2"), nullIfEmpty(key2)},
            {QStringLiteral("Key3"), nullIfEmpty(key3)}, {QStringLiteral("Processed"), 0}});
}

qint64 CribSites::orderCopy(const QString& machineName, const QString& table, qint64 sourceId)
{
    return addOutbox(machineName, table, QStringLiteral("A"), QString::number(sourceId));
}

qint64 CribSites::orderDelete(
    const QString& machineName, const QString& table, const QString& key1, const QString& key2, const QString& key3)
{
    return addOutbox(machineName, table, QStringLiteral("D"), {}, key1, key2, key3);
}

qint64 CribSites::orderRename(
    const QString& machineName, const QString& table, qint64 sourceId, const QString& oldKey, const QString& newKey)
{
    return addOutbox(machineName, table, QStringLiteral("C"), QString::number(sourceId), oldKey, newKey);
}

qint64 CribSites::orderEmployeeList(const QString& machineName, qint64 sourceId)
{
    return addOutbox(machineName, QStringLiteral("AC"), QStringLiteral("A"), QString::number(sourceId));
}

qint64 CribSites::pendingLocal(const QString& machineName, const QString& table)
{
    return count(local(machineName), table, QStringLiteral("ASPProcessed = 0"));
}

qint64 CribSites::pendingOutbox(const QString& machineName)
{
    return count(
        remote(), QStringLiteral("Outbox"), QStringLiteral("ComputerName = %1 AND Processed = 0").arg(q(machineName)));
}
