#include "crib/CribConnectionStrings.h"

#include "db/ConnectionString.h"
#include "db/RowQuery.h"

namespace db {

namespace {

QString v(const QString& value)
{
    return ConnectionString::quoteValue(value);
}

} // namespace

QString CribConnectionStrings::localWindowsAuth(
    const QString& database, const QString& server, const QString& machineName)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;User ID=admin;"
                          "Initial Catalog=")
        + v(database) + QStringLiteral(";Data Source=") + v(server)
        + QStringLiteral(";Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;Application Name=Corvane")
        + QStringLiteral(";Workstation ID=") + v(machineName)
        + QStringLiteral(";Use Encryption for Data=False;Tag with column collation when possible=False");
}

QString CribConnectionStrings::localSqlAuth(const QString& password, const QString& login, const QString& database,
    const QString& server, const QString& machineName)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Password=") + v(password) + QStringLiteral(";")
        + QStringLiteral("Persist Security Info=True;") + QStringLiteral("User ID=") + v(login)
        + QStringLiteral(";Initial Catalog=") + v(database) + QStringLiteral(";") + QStringLiteral("Data Source=")
        + v(server)
        + QStringLiteral(";Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;Application Name=Corvane;")
        + QStringLiteral("Workstation ID=") + v(machineName) + QStringLiteral(";")
        + QStringLiteral("Use Encryption for Data=False;Tag with column collation when possible=False");
}

QString CribConnectionStrings::remote(const QString& password, const QString& login, const QString& catalog,
    const QString& address, const QString& port, const QString& machineName)
{
    // Address and port form one value; quoting them apart would break "address,port".
    return QStringLiteral("Provider=SQLOLEDB.1;Password=") + v(password)
        + QStringLiteral(";Persist Security Info=True;User ID=") + v(login) + QStringLiteral(";Initial Catalog=")
        + v(catalog) + QStringLiteral(";Data Source=") + v(address + QLatin1Char(',') + port)
        + QStringLiteral(";Use Procedure for Prepare=1;Auto Translate=True;")
        + QStringLiteral("Packet Size=4096;Workstation ID=") + v(machineName) + QStringLiteral(";")
        + QStringLiteral("Use Encryption for Data=false");
}

void RegisterComputer(RowQuery& qryControl, const QString& machineName)
{
    qryControl.close();
    qryControl.setParameter(QStringLiteral("ComputerName"), machineName);
    qryControl.open();
    if (qryControl.isEmpty()) {
        qryControl.append();
        qryControl.setValue(QStringLiteral("ComputerName"), machineName);
        qryControl.setValue(QStringLiteral("Synch"), true);
        qryControl.setValue(QStringLiteral("Port"), 1);
        qryControl.post();
    } else if (!qryControl.asBool(QStringLiteral("Synch"))) {
        qryControl.edit();
        qryControl.setValue(QStringLiteral("Synch"), true);
        qryControl.post();
    }
    qryControl.close();
}

} // namespace db
