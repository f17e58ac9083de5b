#pragma once

#include <QString>

namespace db {

class RowQuery;

/// The connection strings of the crib's two databases, field by field in the order the client
/// tools expect. A value holding ';' or a quote is quoted (see ConnectionString::quoteValue), so
/// that it can neither end its field early nor add a field; any other value stands as it is.
class CribConnectionStrings
{
public:
    static QString localWindowsAuth(const QString& database, const QString& server, const QString& machineName);
    static QString localSqlAuth(const QString& password, const QString& login, const QString& database,
        const QString& server, const QString& machineName);
    static QString remote(const QString& password, const QString& login, const QString& catalog, const QString& address,
        const QString& port, const QString& machineName);
};

/// Registers a computer in the local `Control` table through `qryControl`: a missing row is
/// added with `Synch` true and `Port` 1; a row with `Synch` false gets it set true.
void RegisterComputer(RowQuery& qryControl, const QString& machineName);

} // namespace db
