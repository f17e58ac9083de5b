#pragma once

#include "config/ConfigKeys.h"
#include "config/IniFile.h"

#include <QDateTime>
#include <QString>
#include <memory>

class QSettings;
struct LoginValues;

/// The agent's settings: the registry key "\Software\Quellora\Paths" of the local machine (where
/// there is no registry, a system-wide settings file stands in for it) and "paths.ini" in the
/// program's folder. The key holds the local and remote settings when it can be opened or
/// created; otherwise section "Paths" of "paths.ini" does. The two forms are never merged.
class ConfigStore
{
public:
    enum class Form { Registry, Ini };

    /// This computer's store: the registry key and "paths.ini" beside the executable.
    static ConfigStore system();
    /// A store kept in `folder`: "settings.ini" stands in for the registry key and "paths.ini"
    /// for the file beside the executable.
    static ConfigStore inFolder(const QString& folder);

    /// An empty `registryFile` means the platform's own registry key.
    ConfigStore(const QString& registryFile, const QString& pathsFile);
    ConfigStore(ConfigStore&& other) noexcept;
    ConfigStore& operator=(ConfigStore&& other) noexcept;
    ~ConfigStore();

    /// Opens or creates the registry key and chooses the form anew; until the first call the
    /// store is the INI form. A key (or a file standing in for it) that can be read but not
    /// written is the store all the same, read-only, when it names the local server. Throws
    /// ConfigError when a file standing in for the key is no regular file or is far too large.
    Form open();
    /// Chooses the form as open() does, by reading alone, for a reader beside a running agent:
    /// the registry key (or the file standing in for it) when it holds any value, otherwise the
    /// INI form. Nothing is created or written, not even a folder. Throws as open() does.
    Form openForReading();
    Form form() const { return m_form; }
    /// The registry form on a key that this account may read but not write.
    bool readOnly() const { return m_readOnly; }
    /// Where the registry form's settings are: the key, or the file standing in for it.
    QString keyLocation() const;

    /// The key's value, or the form's default when the key is absent.
    QString read(StoreKey key) const;
    /// Throws ConfigError when the store cannot be written.
    void write(StoreKey key, const QString& value);
    void writeLastPolled(const QDateTime& localTime);
    /// Writes everything the first configuration gathered, in the order of the form.
    void writeFirstConfiguration(const LoginValues& login, const QDateTime& now);

    /// "Time" of section "Corvane": the cycle interval in seconds as stored, 30 when the
    /// value is absent or not an integer.
    int syncTime() const;
    void writeSyncTime(int seconds);
    QString excludeCrib() const;
    /// The ODBC driver for SQL Server connections.
    QString odbcDriver() const;
    /// "LoginTimeout" and "StatementTimeout" of section "Cribsync": how many seconds an ODBC
    /// login and an ODBC statement may wait for the server; the default when the value is absent
    /// or not a positive integer.
    int loginTimeout() const;
    int statementTimeout() const;
    /// "TimeBudget" of section "Cribsync": how many seconds one table's push, and the outbox, may
    /// take in a cycle before the rest waits for the next cycle; 0 for no limit; the default when
    /// the value is absent or not a whole number.
    int timeBudget() const;
    /// The folder that holds "paths.ini".
    QString folder() const;

private:
    /// The key's name as the store spells it, or as the agent does when it holds no such key.
    QString storedName(StoreKey key) const;
    /// Why a value named `name` could not be written into the file standing in for the key, and
    /// what to do.
    QString writeRefused(const QString& name) const;
    QString readFile(FileKey key) const;
    int readSeconds(FileKey key) const;

    QString m_registryFile;
    IniFile m_paths;
    std::unique_ptr<QSettings> m_registry;
    Form m_form = Form::Ini;
    bool m_readOnly = false;
};
