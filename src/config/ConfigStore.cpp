#include "config/ConfigStore.h"

#include "config/ConfigError.h"
#include "config/Credential.h"
#include "config/DateTimeValue.h"
#include "config/LoginValues.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSettings>

namespace {

Q_LOGGING_CATEGORY(lcConfig, "cribsync.config", QtInfoMsg)

const QString PathsSection = QStringLiteral("Paths");

QString keyName(StoreKey key)
{
    return QString::fromLatin1(storeKeyInfo(key).name);
}

} // namespace

ConfigStore ConfigStore::system()
{
    return ConfigStore(QString(), QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("paths.ini")));
}

ConfigStore ConfigStore::inFolder(const QString& folder)
{
    const QDir dir(folder);
    return ConfigStore(dir.filePath(QStringLiteral("settings.ini")), dir.filePath(QStringLiteral("paths.ini")));
}

ConfigStore::ConfigStore(const QString& registryFile, const QString& pathsFile)
    : m_registryFile(registryFile)
    , m_paths(pathsFile)
{ }

ConfigStore::ConfigStore(ConfigStore&& other) noexcept = default;
ConfigStore& ConfigStore::operator=(ConfigStore&& other) noexcept = default;
ConfigStore::~ConfigStore() = default;

ConfigStore::Form ConfigStore::open()
{
    if (m_registryFile.isEmpty())
        m_registry = std::make_unique<QSettings>(
            QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("Quellora"), QStringLiteral("Paths"));
    else
        m_registry = std::make_unique<QSettings>(m_registryFile, QSettings::IniFormat);
    m_registry->setFallbacksEnabled(false);

    if (m_registry->isWritable()) {
        m_form = Form::Registry;
    } else {
        qCDebug(lcConfig) << "cannot open or create" << m_registry->fileName() << "- using" << m_paths.path();
        m_registry.reset();
        m_form = Form::Ini;
    }
    return m_form;
}

QString ConfigStore::read(StoreKey key) const
{
    const StoreKeyInfo& info = storeKeyInfo(key);
    if (m_form == Form::Ini)
        return m_paths.value(PathsSection, keyName(key), QString::fromLatin1(info.iniDefault));

    const QVariant value = m_registry->value(keyName(key), QString::fromLatin1(info.registryDefault));
    // A hand-edited settings file reads an unquoted "a,b" as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void ConfigStore::write(StoreKey key, const QString& value)
{
    if (m_form == Form::Ini) {
        m_paths.setValue(PathsSection, keyName(key), value);
        return;
    }
    // Where a file stands in for the key, a write rewrites the whole file and drops what it cannot
    // keep (comments, lines it cannot read): a value that is already there is not written again.
    if (m_registry->contains(keyName(key)) && read(key) == value)
        return;
    m_registry->setValue(keyName(key), value);
    m_registry->sync();
    if (m_registry->status() != QSettings::NoError)
        throw ConfigError(QStringLiteral("Cannot write %1 into %2").arg(keyName(key), m_registry->fileName()));
}

void ConfigStore::writeLastPolled(const QDateTime& localTime)
{
    if (m_form == Form::Ini) {
        write(StoreKey::LastPolled, DateTimeValue::toText(localTime));
        return;
    }
    m_registry->setValue(keyName(StoreKey::LastPolled), DateTimeValue::toBinary(localTime));
    m_registry->sync();
    if (m_registry->status() != QSettings::NoError)
        throw ConfigError(QStringLiteral("Cannot write lastpolled into %1").arg(m_registry->fileName()));
}

void ConfigStore::writeFirstConfiguration(const LoginValues& login, const QDateTime& now)
{
    const QString winAuth = login.windowsAuth ? QStringLiteral("1") : QStringLiteral("0");
    write(StoreKey::Server, login.server);
    write(StoreKey::DatabaseName, login.database);
    write(StoreKey::Login, login.login);
    if (m_form == Form::Registry) {
        write(StoreKey::Password, EncodeCredential(login.password));
        write(StoreKey::IpAddress, login.address);
        writeLastPolled(now);
        write(StoreKey::PortNo, login.port);
    } else {
        write(StoreKey::IpAddress, login.address);
        write(StoreKey::Password, EncodeCredential(login.password));
        write(StoreKey::PortNo, login.port);
        writeLastPolled(now);
    }
    write(StoreKey::Reports, QString());
    write(StoreKey::Custom, QString());
    write(StoreKey::Images, QString());
    write(StoreKey::WinAuth, winAuth);
}

QString ConfigStore::readFile(FileKey key) const
{
    const FileKeyInfo& info = fileKeyInfo(key);
    return m_paths.value(
        QString::fromLatin1(info.section), QString::fromLatin1(info.name), QString::fromLatin1(info.defaultValue));
}

int ConfigStore::syncTime() const
{
    bool ok = false;
    const int seconds = readFile(FileKey::SyncTime).toInt(&ok);
    return ok ? seconds : QString::fromLatin1(fileKeyInfo(FileKey::SyncTime).defaultValue).toInt();
}

void ConfigStore::writeSyncTime(int seconds)
{
    const FileKeyInfo& info = fileKeyInfo(FileKey::SyncTime);
    m_paths.setValue(QString::fromLatin1(info.section), QString::fromLatin1(info.name), QString::number(seconds));
}

QString ConfigStore::excludeCrib() const
{
    return readFile(FileKey::ExcludeCrib);
}

QString ConfigStore::odbcDriver() const
{
    return readFile(FileKey::OdbcDriver);
}

int ConfigStore::readSeconds(FileKey key) const
{
    bool ok = false;
    const int seconds = readFile(key).toInt(&ok);
    return ok && seconds > 0 ? seconds : QString::fromLatin1(fileKeyInfo(key).defaultValue).toInt();
}

int ConfigStore::loginTimeout() const
{
    return readSeconds(FileKey::LoginTimeout);
}

int ConfigStore::statementTimeout() const
{
    return readSeconds(FileKey::StatementTimeout);
}

QString ConfigStore::folder() const
{
    return QFileInfo(m_paths.path()).absolutePath();
}
