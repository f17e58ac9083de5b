#include "config/ConfigStore.h"

#include "config/ConfigError.h"
#include "config/Credential.h"
#include "config/DateTimeValue.h"
#include "config/LoginValues.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QSettings>

#ifdef Q_OS_WIN
#include <optional>
#include <vector>
#include <windows.h>
#endif

namespace {

Q_LOGGING_CATEGORY(lcConfig, "cribsync.config", QtInfoMsg)

const QString PathsSection = QStringLiteral("Paths");

QString keyName(StoreKey key)
{
    return QString::fromLatin1(storeKeyInfo(key).name);
}

#ifdef Q_OS_WIN
const wchar_t* const RegistryKeyPath = L"Software\\Quellora\\Paths";

// QSettings writes a byte array as text and escapes a text that begins with '@'; the other
// programs of the store read the values as they are.
void writeRegistryValue(const QString& name, DWORD type, const QByteArray& bytes)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, RegistryKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, reinterpret_cast<const wchar_t*>(name.utf16()), 0, type,
            reinterpret_cast<const BYTE*>(bytes.constData()), DWORD(bytes.size()));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        throw ConfigError(
            QStringLiteral("Cannot write %1 into HKEY_LOCAL_MACHINE\\Software\\Quellora\\Paths (%2): give "
                           "the account the agent runs as the right to set values of that key, or set "
                           "the value there as an administrator")
                .arg(name, qt_error_string(int(status))));
}

// A text value as stored; nothing when the value is absent or no text.
std::optional<QString> readRegistryString(const QString& name)
{
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND | RRF_SUBKEY_WOW6464KEY;
    const auto* valueName = reinterpret_cast<const wchar_t*>(name.utf16());
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RegistryKeyPath, valueName, flags, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    DWORD bytes = DWORD(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RegistryKeyPath, valueName, flags, nullptr, text.data(), &bytes)
        != ERROR_SUCCESS)
        return std::nullopt;
    return QString::fromWCharArray(text.data());
}
#endif

/// The computer's key, HKEY_LOCAL_MACHINE\Software\Quellora\Paths: on Windows in the 64-bit
/// view as written, whatever the build.
std::unique_ptr<QSettings> machineKey()
{
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(
        QSettings::Registry64Format, QSettings::SystemScope, QStringLiteral("Quellora"), QStringLiteral("Paths"));
#else
    return std::make_unique<QSettings>(
        QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("Quellora"), QStringLiteral("Paths"));
#endif
}

} // namespace

ConfigStore ConfigStore::system()
{
    const QString paths = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("paths.ini"));
#ifdef Q_OS_WIN
    return ConfigStore(QString(), paths);
#else
    // The file QSettings keeps for the system scope, named here so that it can be checked before
    // QSettings reads it.
    return ConfigStore(QLibraryInfo::path(QLibraryInfo::SettingsPath) + QStringLiteral("/Quellora/Paths.conf"), paths);
#endif
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
    if (m_registryFile.isEmpty()) {
        m_registry = machineKey();
    } else {
        // A folder in its place is a key that cannot be opened: the INI form, as for the registry.
        if (!QFileInfo(m_registryFile).isDir())
            IniFile::checkFile(m_registryFile);
        m_registry = std::make_unique<QSettings>(m_registryFile, QSettings::IniFormat);
    }
    m_registry->setFallbacksEnabled(false);

    m_form = Form::Registry;
    m_readOnly = !m_registry->isWritable();
    // A key this account may read but not write (a service account, a root-owned file) holds the
    // settings all the same when it names the local server: a configured crib needs no write. An
    // empty one leaves them to paths.ini, as a key that cannot be opened does.
    if (!m_readOnly || !read(StoreKey::Server).isEmpty())
        return m_form;
    qCDebug(lcConfig) << "cannot open or create" << m_registry->fileName() << "- using" << m_paths.path();
    m_registry.reset();
    m_form = Form::Ini;
    m_readOnly = false;
    return m_form;
}

ConfigStore::Form ConfigStore::openForReading()
{
    if (m_registryFile.isEmpty()) {
        m_registry = machineKey();
    } else if (QFileInfo(m_registryFile).isFile()) {
        IniFile::checkFile(m_registryFile);
        m_registry = std::make_unique<QSettings>(m_registryFile, QSettings::IniFormat);
    }
    if (m_registry)
        m_registry->setFallbacksEnabled(false);
    // Asking QSettings whether it can write makes the folder and a file to find out.
    if (m_registry && !m_registry->allKeys().isEmpty()) {
        m_form = Form::Registry;
    } else {
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

#ifdef Q_OS_WIN
    if (m_registryFile.isEmpty()) {
        if (const std::optional<QString> text = readRegistryString(keyName(key)))
            return *text;
    }
#endif
    const QVariant value = m_registry->value(storedName(key), QString::fromLatin1(info.registryDefault));
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
#ifdef Q_OS_WIN
    if (m_registryFile.isEmpty()) {
        writeRegistryValue(keyName(key), REG_SZ,
            QByteArray(reinterpret_cast<const char*>(value.utf16()), (value.size() + 1) * qsizetype(sizeof(char16_t))));
        return;
    }
#endif
    // Where a file stands in for the key, a write rewrites the whole file and drops what it cannot
    // keep (comments, lines it cannot read): a value that is already there is not written again.
    const QString name = storedName(key);
    if (m_registry->contains(name) && read(key) == value)
        return;
    m_registry->setValue(name, value);
    m_registry->sync();
    if (m_registry->status() != QSettings::NoError)
        throw ConfigError(writeRefused(keyName(key)));
}

void ConfigStore::writeLastPolled(const QDateTime& localTime)
{
    if (m_form == Form::Ini) {
        write(StoreKey::LastPolled, DateTimeValue::toText(localTime));
        return;
    }
#ifdef Q_OS_WIN
    if (m_registryFile.isEmpty()) {
        writeRegistryValue(keyName(StoreKey::LastPolled), REG_BINARY, DateTimeValue::toBinary(localTime));
        return;
    }
#endif
    m_registry->setValue(storedName(StoreKey::LastPolled), DateTimeValue::toBinary(localTime));
    m_registry->sync();
    if (m_registry->status() != QSettings::NoError)
        throw ConfigError(writeRefused(keyName(StoreKey::LastPolled)));
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

QString ConfigStore::writeRefused(const QString& name) const
{
    const QFileInfo file(m_registryFile);
    const QString folder = QDir::toNativeSeparators(file.absolutePath());
    const QString path = QDir::toNativeSeparators(file.absoluteFilePath());
    const QString text = QStringLiteral("Cannot write %1 into %2").arg(name, path);
    if (file.exists() && !file.isWritable())
        return text
            + QStringLiteral(": the file is read-only for this account; make it writable for the account the "
                             "agent runs as, or write %1 into it by hand (in the folder %2)")
                  .arg(name, folder);
    return text
        + QStringLiteral(": make the file and its folder %1 writable for the account the agent runs as").arg(folder);
}

QString ConfigStore::keyLocation() const
{
    if (m_registryFile.isEmpty())
        return QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Quellora\\Paths");
    return QDir::toNativeSeparators(QFileInfo(m_registryFile).absoluteFilePath());
}

QString ConfigStore::storedName(StoreKey key) const
{
    // Value names match without regard to case, in the registry and in the files that stand in for it.
    const QString name = keyName(key);
    const QStringList names = m_registry->childKeys();
    for (const QString& stored : names) {
        if (stored.compare(name, Qt::CaseInsensitive) == 0)
            return stored;
    }
    return name;
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

int ConfigStore::timeBudget() const
{
    bool ok = false;
    const int seconds = readFile(FileKey::TimeBudget).toInt(&ok);
    return ok && seconds >= 0 ? seconds : QString::fromLatin1(fileKeyInfo(FileKey::TimeBudget).defaultValue).toInt();
}

QString ConfigStore::folder() const
{
    return QFileInfo(m_paths.path()).absolutePath();
}
