#include "demo/DemoSetup.h"

#include "config/ConfigStore.h"
#include "config/Credential.h"
#include "demo/DemoDatabases.h"

#include <QDir>
#include <QFileInfo>

ConfigStore DemoSetup::store(const QString& folder)
{
    return ConfigStore::inFolder(folder);
}

void DemoSetup::prepare(const QString& folder, const QString& machineName)
{
    QDir().mkpath(folder);
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    const QDir dir(absolute);
    if (!QFileInfo::exists(dir.filePath(DemoDatabases::localName() + QStringLiteral(".db")))
        && !QFileInfo::exists(dir.filePath(DemoDatabases::remoteName() + QStringLiteral(".db")))) {
        DemoDatabases::create(absolute, machineName, EncodeCredential(DemoDatabases::remoteName()),
            EncodeCredential(QStringLiteral("crib")), EncodeCredential(QStringLiteral("demo")));
    }

    ConfigStore config = store(absolute);
    config.open();
    if (!config.read(StoreKey::Server).isEmpty() && config.read(StoreKey::Server) != QLatin1String("ERROR"))
        return;
    // Both databases live in the folder: the embedded engine's server name is the folder.
    const QString server = QStringLiteral("sqlite:") + absolute;
    config.write(StoreKey::Server, server);
    config.write(StoreKey::DatabaseName, DemoDatabases::localName());
    config.write(StoreKey::WinAuth, QStringLiteral("1"));
    config.write(StoreKey::IpAddress, server);
    config.write(StoreKey::PortNo, QStringLiteral("1433"));
    config.writeSyncTime(30);
}
