#pragma once

#include "db/Connection.h"
#include "demo/CribSchema.h"

#include <QTemporaryDir>
#include <QVariant>
#include <optional>

/// Reading and seeding helpers on any crib database connection; they throw db::DbError.
struct CribRows
{
    /// The first column of the first row, or an invalid value when there is no row.
    static QVariant value(db::Connection& connection, const QString& sql, const db::NamedValues& values = {});
    static qint64 count(db::Connection& connection, const QString& table, const QString& where = {});
    /// Inserts a row of `values` and returns its row id.
    static qint64 insert(db::Connection& connection, const QString& table, const QVariantMap& values);
    /// A quoted SQL literal.
    static QString q(const QString& text);
};

/// Values bound to ":v" and further placeholders (":v1", ":v2", ...).
db::NamedValues bind(const QVariantList& values);

/// One line of an employee's item list: item number, three carried fields, the running quantity
/// and a carried note.
QString itemLine(const QString& item, const QVariant& quantity, const QString& note = QStringLiteral("note"));

/// The crib's local and remote embedded databases side by side in a temporary folder, empty,
/// with the crib schema or as the demo pair, and the test's own connections to them. The
/// fixture of every suite that works on one computer's databases in this process.
class CribFixture : public CribRows
{
public:
    enum class Databases {
        /// Two empty database files.
        Bare,
        /// The crib schema on both sides, no rows.
        Schema,
        /// The demo pair for `machineName`, with pending work of every kind.
        Demo
    };

    struct Options
    {
        Databases databases = Databases::Schema;
        CribSchema::Options schema{};
        /// The local side's schema options, when they differ from the remote side's.
        std::optional<CribSchema::Options> localSchema{};
        QString machineName = QStringLiteral("CRIB-01");
        /// Whether every statement is traced to tracePath (CRIBSYNC_SQL_TRACE).
        bool trace = false;
        /// The name the test's own connections carry in the trace; empty: "local" and "remote",
        /// as the cycle's own.
        QString ownTraceName{};
    };

    explicit CribFixture(const Options& options);
    ~CribFixture();
    CribFixture(const CribFixture&) = delete;
    CribFixture& operator=(const CribFixture&) = delete;

    QString localFile() const { return dir.filePath(localName + QStringLiteral(".db")); }
    QString remoteFile() const { return dir.filePath(remoteName + QStringLiteral(".db")); }

    QVariant localValue(const QString& sql, const db::NamedValues& values = {}) { return value(local, sql, values); }
    QVariant remoteValue(const QString& sql, const db::NamedValues& values = {}) { return value(remote, sql, values); }
    /// Rows of `table` (a name as the statement needs it) matching `where`.
    /// Rows of `table` (named as the statement needs it) that match `where`.
    int localCount(const QString& table, const QString& where = QStringLiteral("1 = 1"));
    int remoteCount(const QString& table, const QString& where = QStringLiteral("1 = 1"));
    /// Runs `sql` on the remote database and returns the RecordID of the last row of `table`.
    int insertRemote(const QString& table, const QString& sql, const db::NamedValues& values = {});
    /// Runs `sql` on a database file directly, past the client layer (for triggers).
    static void executeRaw(const QString& file, const QString& sql);
    void executeRemoteRaw(const QString& sql) { executeRaw(remoteFile(), sql); }

    /// Forgets the statements traced so far.
    void clearTrace();
    /// Texts of the statements traced since the last clearTrace() to `target`; without one,
    /// every statement but the test's own, each with its target ("local: ...").
    QStringList traced(const QString& target = {}) const;

    QTemporaryDir dir;
    const Options options;
    QString machineName;
    QString localName;
    QString remoteName;
    QString localConnectionString;
    QString remoteConnectionString;
    QString tracePath;
    db::Connection local;
    db::Connection remote;
};
