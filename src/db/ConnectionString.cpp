#include "db/ConnectionString.h"

#include "db/DbError.h"

#include <QDir>

namespace db {

ConnectionString ConnectionString::parse(const QString& text)
{
    ConnectionString cs;
    int i = 0;
    const int n = text.size();
    while (i < n) {
        while (i < n && (text[i].isSpace() || text[i] == QLatin1Char(';')))
            ++i;
        if (i >= n)
            break;
        const int keyStart = i;
        while (i < n && text[i] != QLatin1Char('=') && text[i] != QLatin1Char(';'))
            ++i;
        if (i >= n || text[i] != QLatin1Char('=')) {
            throw DbError(QStringLiteral("Malformed connection string: field \"%1\" has no value")
                              .arg(text.mid(keyStart, i - keyStart).trimmed()));
        }
        const QString key = text.mid(keyStart, i - keyStart).trimmed();
        if (key.isEmpty())
            throw DbError(QStringLiteral("Malformed connection string: a field has no name at position %1").arg(i));
        ++i; // '='
        while (i < n && text[i] == QLatin1Char(' '))
            ++i;
        QString value;
        if (i < n && (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\''))) {
            const QChar quote = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                throw DbError(
                    QStringLiteral("Malformed connection string: the value of \"%1\" has no closing quote").arg(key));
            while (i < n && text[i] == QLatin1Char(' '))
                ++i;
            if (i < n && text[i] != QLatin1Char(';'))
                throw DbError(
                    QStringLiteral("Malformed connection string: text after the quoted value of \"%1\"").arg(key));
        } else {
            const int valueStart = i;
            while (i < n && text[i] != QLatin1Char(';'))
                ++i;
            value = text.mid(valueStart, i - valueStart).trimmed();
        }
        cs.m_fields.append({key, value});
    }
    return cs;
}

QString ConnectionString::quoteValue(const QString& value)
{
    const bool needsQuotes = value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('"'))
        || value.contains(QLatin1Char('\''))
        || (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace()));
    if (!needsQuotes)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool ConnectionString::contains(const QString& key) const
{
    for (const auto& f : m_fields) {
        if (f.first.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString ConnectionString::value(const QString& key) const
{
    for (const auto& f : m_fields) {
        if (f.first.compare(key, Qt::CaseInsensitive) == 0)
            return f.second;
    }
    return {};
}

void ConnectionString::setValue(const QString& key, const QString& value)
{
    for (auto& f : m_fields) {
        if (f.first.compare(key, Qt::CaseInsensitive) == 0) {
            f.second = value;
            return;
        }
    }
    m_fields.append({key, value});
}

QString ConnectionString::toString() const
{
    QStringList parts;
    for (const auto& f : m_fields)
        parts << f.first + QLatin1Char('=') + quoteValue(f.second);
    return parts.join(QLatin1Char(';'));
}

QString ConnectionTarget::quoteOdbcValue(const QString& value, const QString& driver, const QString& field)
{
    const bool hasSemicolon = value.contains(QLatin1Char(';'));
    const bool hasBrace = value.contains(QLatin1Char('{')) || value.contains(QLatin1Char('}'));
    if (driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive)) {
        // FreeTDS reads an unbraced value up to the next ';', blanks and braces included.
        if (!hasSemicolon && !value.startsWith(QLatin1Char('{')))
            return value;
        if (value.contains(QLatin1Char('}')))
            throw DbError(
                QStringLiteral("The FreeTDS ODBC driver cannot take a %1 that contains both ';' and '}'").arg(field));
        return QLatin1Char('{') + value + QLatin1Char('}');
    }
    if (!hasSemicolon && !hasBrace && !value.contains(QLatin1Char('=')) && value.trimmed() == value)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + quoted + QLatin1Char('}');
}

QString ConnectionTarget::timeoutKeywords(const QString& driver, int loginSeconds, int statementSeconds)
{
    if (driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive)) {
        QString keywords;
        if (qEnvironmentVariableIsEmpty("TDSVER"))
            keywords += QStringLiteral(";TDS_Version=7.4");
        return keywords + QStringLiteral(";Timeout=%1").arg(statementSeconds);
    }
    if (driver.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        return QStringLiteral(";ConnectTimeout=%1").arg(loginSeconds);
    return {};
}

ConnectionTarget ConnectionTarget::fromConnectionString(const QString& text, const QString& odbcDriver)
{
    const ConnectionString cs = ConnectionString::parse(text);
    // A file name or a driver's attribute string ends at a NUL: the rest of the value, or the
    // fields after it, would be lost on the way.
    for (const auto& field : cs.fields()) {
        if (field.second.contains(QChar::Null))
            throw DbError(QStringLiteral("Malformed connection string: the value of \"%1\" holds a NUL character")
                              .arg(field.first));
    }
    ConnectionTarget target;
    target.databaseName = cs.value(QStringLiteral("Initial Catalog"));
    target.applicationName = cs.value(QStringLiteral("Application Name"));
    target.workstation = cs.value(QStringLiteral("Workstation ID"));
    const QString dataSource = cs.value(QStringLiteral("Data Source"));
    if (dataSource.isEmpty())
        throw DbError(QStringLiteral("Malformed connection string: it names no Data Source"));

    if (dataSource.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        QString folder = dataSource.mid(7);
        // A remote data source is written "address,port"; the port means nothing to a file.
        const int comma = folder.lastIndexOf(QLatin1Char(','));
        if (comma >= 0)
            folder.truncate(comma);
        if (folder.isEmpty())
            throw DbError(QStringLiteral("Malformed connection string: \"sqlite:\" names no folder"));
        if (target.databaseName.isEmpty())
            throw DbError(QStringLiteral("Malformed connection string: it names no Initial Catalog"));
        target.engine = Engine::Sqlite;
        target.sqliteFile = QDir(folder).filePath(target.databaseName + QStringLiteral(".db"));
        return target;
    }

    target.engine = Engine::Odbc;
    QString server = dataSource;
    QString port;
    const int comma = server.lastIndexOf(QLatin1Char(','));
    if (comma >= 0) {
        port = server.mid(comma + 1).trimmed();
        server = server.left(comma).trimmed();
    }
    QStringList attrs;
    const QString fieldNames[][2] = {{QStringLiteral("SERVER"), QStringLiteral("Data Source")},
        {QStringLiteral("PORT"), QStringLiteral("Data Source")},
        {QStringLiteral("DATABASE"), QStringLiteral("Initial Catalog")},
        {QStringLiteral("UID"), QStringLiteral("User ID")}, {QStringLiteral("PWD"), QStringLiteral("Password")},
        {QStringLiteral("WSID"), QStringLiteral("Workstation ID")},
        {QStringLiteral("APP"), QStringLiteral("Application Name")}};
    auto add = [&](const QString& key, const QString& value) {
        QString field = key;
        for (const auto& names : fieldNames) {
            if (names[0] == key)
                field = names[1];
        }
        attrs << key + QLatin1Char('=') + quoteOdbcValue(value, odbcDriver, field);
    };
    // Microsoft's drivers have no PORT keyword and would silently use the default port: they take
    // it after the server name.
    const bool microsoft = odbcDriver.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive)
        && !odbcDriver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive);
    add(QStringLiteral("DRIVER"), odbcDriver);
    if (microsoft && !port.isEmpty()) {
        add(QStringLiteral("SERVER"), server + QLatin1Char(',') + port);
    } else {
        add(QStringLiteral("SERVER"), server);
        if (!port.isEmpty())
            add(QStringLiteral("PORT"), port);
    }
    if (!target.databaseName.isEmpty())
        add(QStringLiteral("DATABASE"), target.databaseName);
    const QString integrated = cs.value(QStringLiteral("Integrated Security"));
    if (!integrated.isEmpty() && integrated.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0) {
        add(QStringLiteral("Trusted_Connection"), QStringLiteral("Yes"));
    } else {
        add(QStringLiteral("UID"), cs.value(QStringLiteral("User ID")));
        add(QStringLiteral("PWD"), cs.value(QStringLiteral("Password")));
    }
    if (!target.workstation.isEmpty())
        add(QStringLiteral("WSID"), target.workstation);
    if (!target.applicationName.isEmpty())
        add(QStringLiteral("APP"), target.applicationName);
    // Microsoft's driver 18 encrypts and checks the server's certificate unless told otherwise, which
    // a crib server with a self-signed certificate fails; the connection string says which is meant.
    const QString encryption = cs.value(QStringLiteral("Use Encryption for Data"));
    if (microsoft && !encryption.isEmpty()) {
        const bool encrypt = encryption.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
            || encryption.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
        add(QStringLiteral("Encrypt"), encrypt ? QStringLiteral("yes") : QStringLiteral("no"));
        // Driver 17 does not check the certificate of a server that forces encryption on its own;
        // driver 18 does unless told to trust it.
        if (!encrypt)
            add(QStringLiteral("TrustServerCertificate"), QStringLiteral("yes"));
    }
    target.odbcString = attrs.join(QLatin1Char(';'));
    return target;
}

} // namespace db
