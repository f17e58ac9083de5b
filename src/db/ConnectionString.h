#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace db {

/// A connection string of "Key=Value;" fields, as the agent composes them for both databases.
///
/// Values that contain a semicolon, a quote or surrounding blanks are written in double quotes with
/// inner double quotes doubled, so a password can neither end its field early nor add a field.
class ConnectionString
{
public:
    ConnectionString() = default;

    /// Parses a connection string; throws DbError naming the fault when it is malformed.
    static ConnectionString parse(const QString& text);

    /// The value as it must stand after "Key=" so that parse() gives back exactly `value`.
    static QString quoteValue(const QString& value);

    bool contains(const QString& key) const;
    /// The value of the first field named `key` (case-insensitive), or an empty string.
    QString value(const QString& key) const;
    void setValue(const QString& key, const QString& value);
    QList<QPair<QString, QString>> fields() const { return m_fields; }
    QString toString() const;

private:
    QList<QPair<QString, QString>> m_fields;
};

/// Where a connection string leads: the embedded engine's file, or an ODBC data source.
struct ConnectionTarget
{
    enum class Engine { Sqlite, Odbc };
    Engine engine = Engine::Odbc;
    QString sqliteFile; // Engine::Sqlite
    QString odbcString; // Engine::Odbc, ready for SQLDriverConnect
    QString databaseName; // Initial Catalog
    QString applicationName; // Application Name
    QString workstation; // Workstation ID

    /// Maps the fields of `cs`: "Data Source=sqlite:<folder>" selects <folder>/<Initial Catalog>.db
    /// (a ",port" suffix is ignored); any other data source goes through ODBC with `odbcDriver`.
    /// Throws DbError naming the field when a value holds a NUL character.
    static ConnectionTarget fromConnectionString(const QString& cs, const QString& odbcDriver);

    /// Writes an ODBC attribute value so that the driver reads back exactly `value`: in braces,
    /// with '}' doubled, when it holds ';', '{', '}', '=' or surrounding blanks. FreeTDS reads
    /// "}}" inside braces as two characters, so for it a value is braced only when it must be,
    /// and a value holding both ';' and '}' is refused (DbError naming `field`).
    static QString quoteOdbcValue(const QString& value, const QString& driver, const QString& field);

    /// The driver's own keywords that bound a login to `loginSeconds` and a statement to
    /// `statementSeconds`, each starting with ';', for drivers that need them beside the ODBC
    /// attributes: FreeTDS gets a fixed protocol version (unless TDSVER chooses one), since its
    /// automatic choice retries an unanswered login with another protocol and then waits for
    /// ever, and its "Timeout"; Microsoft's driver gets "ConnectTimeout".
    static QString timeoutKeywords(const QString& driver, int loginSeconds, int statementSeconds);
};

} // namespace db
