#include "config/ConfigError.h"
#include "config/ConfigStore.h"
#include "config/Credential.h"
#include "config/DateTimeValue.h"
#include "config/LoginValues.h"
#include "config/MachineName.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#ifdef Q_OS_WIN
#include <QScopeGuard>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

/// The settings store in both forms: the choice of form, defaults, the file-only keys and what
/// first configuration writes.
class TestConfigStore : public QObject
{
    Q_OBJECT

private:
    // A folder whose "settings.ini" can be neither opened nor created, even by root.
    static ConfigStore iniOnlyStore(const QTemporaryDir& dir)
    {
        QDir(dir.path()).mkdir("settings.ini");
        return ConfigStore::inFolder(dir.path());
    }

    static void writePaths(const QTemporaryDir& dir, const QByteArray& bytes)
    {
        QFile file(dir.filePath("paths.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

#ifdef Q_OS_WIN
    // The machine's own key, which the Windows cases make and remove.
    static constexpr const wchar_t* MachineKey = L"Software\\Quellora\\Paths";

    struct RawValue
    {
        bool found = false;
        DWORD type = REG_NONE;
        QByteArray bytes;
        QString text() const { return QString::fromWCharArray(reinterpret_cast<const wchar_t*>(bytes.constData())); }
    };

    static RawValue rawValue(const wchar_t* name, REGSAM view = KEY_WOW64_64KEY)
    {
        RawValue value;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MachineKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
            return value;
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
            value.bytes.resize(size + 2);
            value.bytes.fill('\0');
            value.found
                = RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()), &size)
                == ERROR_SUCCESS;
            value.bytes.truncate(size);
            value.bytes.append(2, '\0');
        }
        RegCloseKey(key);
        return value;
    }

    // Gives everyone `rights` on the key, and nothing else; returns whether that worked.
    static bool setKeyAccess(DWORD rights)
    {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
            return false;
        alignas(DWORD) char buffer[256];
        auto* acl = reinterpret_cast<PACL>(buffer);
        SECURITY_DESCRIPTOR descriptor;
        const bool built = InitializeAcl(acl, sizeof(buffer), ACL_REVISION)
            && AddAccessAllowedAce(acl, ACL_REVISION, rights, everyone)
            && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
            && SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        LSTATUS status = ERROR_INVALID_PARAMETER;
        HKEY key = nullptr;
        if (built
            && RegOpenKeyExW(HKEY_LOCAL_MACHINE, MachineKey, 0, WRITE_DAC | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
            RegCloseKey(key);
        }
        FreeSid(everyone);
        return status == ERROR_SUCCESS;
    }

    static void removeMachineKey()
    {
        setKeyAccess(KEY_ALL_ACCESS);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, MachineKey, KEY_WOW64_64KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quellora", KEY_WOW64_64KEY, 0);
    }
#endif

    static QString typeableText()
    {
        QString text;
        for (int code = 0x21; code < 256; ++code) {
            if (code < 0x7F || code >= 0xA0)
                text += QChar(code);
        }
        return text;
    }

private Q_SLOTS:
    void choosesTheFormByWhetherTheKeyCanBeOpened()
    {
        QTemporaryDir dir;
        ConfigStore writable = ConfigStore::inFolder(dir.path());
        QCOMPARE(writable.open(), ConfigStore::Form::Registry);

        QTemporaryDir other;
        ConfigStore blocked = iniOnlyStore(other);
        QCOMPARE(blocked.open(), ConfigStore::Form::Ini);
        // The INI form keeps its keys in section "Paths" of paths.ini, never in the key.
        blocked.write(StoreKey::IpAddress, "10.0.0.9");
        QCOMPARE(QSettings(other.filePath("paths.ini"), QSettings::IniFormat).value("Paths/IPADDRESS").toString(),
            QStringLiteral("10.0.0.9"));
    }

    void absentKeysReadAsTheFormsDefaults()
    {
        QTemporaryDir dir;
        ConfigStore registry = ConfigStore::inFolder(dir.path());
        registry.open();
        for (StoreKey key : {StoreKey::Server, StoreKey::Login, StoreKey::DatabaseName, StoreKey::Password,
                 StoreKey::WinAuth, StoreKey::IpAddress, StoreKey::PortNo})
            QCOMPARE(registry.read(key), QString());

        QTemporaryDir other;
        ConfigStore ini = iniOnlyStore(other);
        ini.open();
        for (StoreKey key : {StoreKey::Server, StoreKey::Login, StoreKey::DatabaseName, StoreKey::Password})
            QCOMPARE(ini.read(key), QStringLiteral("ERROR"));
        QCOMPARE(ini.read(StoreKey::WinAuth), QStringLiteral("0"));
        QCOMPARE(ini.read(StoreKey::IpAddress), QString());
        QCOMPARE(ini.read(StoreKey::PortNo), QString());
    }

    void theFormsAreNeverMerged()
    {
        QTemporaryDir dir;
        writePaths(dir, "[Paths]\nSERVER=from-file\n");
        ConfigStore store = ConfigStore::inFolder(dir.path());
        store.open();
        QCOMPARE(store.read(StoreKey::Server), QString());
    }

    void fileKeys_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("time");
        QTest::addColumn<QString>("excludeCrib");
        QTest::addColumn<QString>("driver");
        QTest::newRow("absent") << QByteArray() << 30 << "0"
                                << "FreeTDS";
        QTest::newRow("small") << QByteArray("[Corvane]\nTime=5\n") << 5 << "0"
                               << "FreeTDS";
        QTest::newRow("set") << QByteArray("[corvane]\ntime = 45\n[EMP]\nexcludecrib=1\n[Cribsync]\n"
                                           "OdbcDriver=ODBC Driver 18 for SQL Server\n")
                             << 45 << "1"
                             << "ODBC Driver 18 for SQL Server";
        QTest::newRow("not an integer") << QByteArray("[Corvane]\nTime=fast\n") << 30 << "0"
                                        << "FreeTDS";
        QTest::newRow("fraction") << QByteArray("[Corvane]\nTime=45.5\n") << 30 << "0"
                                  << "FreeTDS";
        QTest::newRow("too large") << QByteArray("[Corvane]\nTime=99999999999\n") << 30 << "0"
                                   << "FreeTDS";
    }

    void fileKeys()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, time);
        QFETCH(QString, excludeCrib);
        QFETCH(QString, driver);
        QTemporaryDir dir;
        if (!file.isEmpty())
            writePaths(dir, file);
        const ConfigStore store = ConfigStore::inFolder(dir.path());
        QCOMPARE(store.syncTime(), time);
        QCOMPARE(store.excludeCrib(), excludeCrib);
#ifndef Q_OS_WIN
        QCOMPARE(store.odbcDriver(), driver);
#endif
    }

    void firstConfigurationInTheRegistryForm()
    {
        QTemporaryDir dir;
        ConfigStore store = ConfigStore::inFolder(dir.path());
        store.open();
        const QDateTime now(QDate(2000, 1, 1), QTime(12, 0));
        store.writeFirstConfiguration({"SQL01", "Crib", "sa", "s3cret", true, "", ""}, now);

        QSettings key(dir.filePath("settings.ini"), QSettings::IniFormat);
        QCOMPARE(key.value("SERVER").toString(), QStringLiteral("SQL01"));
        QCOMPARE(key.value("DATABASENAME").toString(), QStringLiteral("Crib"));
        QCOMPARE(key.value("LOGIN").toString(), QStringLiteral("sa"));
        QCOMPARE(key.value("PASSWORD").toString(), EncodeCredential("s3cret"));
        QCOMPARE(key.value("WinAuth").toString(), QStringLiteral("1"));
        for (const char* empty : {"IPADDRESS", "PortNo", "Reports", "Custom", "Images"}) {
            QVERIFY2(key.contains(empty), empty);
            QCOMPARE(key.value(empty).toString(), QString());
        }
        const QByteArray lastPolled = key.value("lastpolled").toByteArray();
        // 36526.5 days as a little-endian double.
        QCOMPARE(lastPolled, QByteArray::fromHex("00000000d0d5e140"));
        QVERIFY(!QFile::exists(dir.filePath("paths.ini")));
    }

    void firstConfigurationInTheIniForm()
    {
        QTemporaryDir dir;
        ConfigStore store = iniOnlyStore(dir);
        store.open();
        const QDateTime now(QDate(2026, 12, 8), QTime(9, 30, 15));
        store.writeFirstConfiguration({"SQL01", "Crib", "", "", false, "", ""}, now);

        QCOMPARE(store.read(StoreKey::Server), QStringLiteral("SQL01"));
        QCOMPARE(store.read(StoreKey::Login), QString());
        QCOMPARE(store.read(StoreKey::WinAuth), QStringLiteral("0"));
        QCOMPARE(store.read(StoreKey::LastPolled), DateTimeValue::toText(now));
        const QString text = DateTimeValue::toText(now);
        QVERIFY2(text.contains("30") && text.contains("15"), qPrintable(text));
        QFile file(dir.filePath("paths.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QByteArray bytes = file.readAll();
        for (const char* key : {"IPADDRESS=\n", "PortNo=\n", "Reports=\n", "Custom=\n", "Images=\n"})
            QVERIFY2(bytes.contains(key), key);
    }

    void storedPasswordsRoundTripInBothForms()
    {
        const QString password = typeableText() + QStringLiteral(" x ");
        QTemporaryDir registryDir;
        QTemporaryDir iniDir;
        const auto roundTrip = [&password](const std::function<ConfigStore()>& makeStore) {
            ConfigStore writer = makeStore();
            writer.open();
            writer.write(StoreKey::Password, EncodeCredential(password));
            ConfigStore reader = makeStore();
            reader.open();
            return DecodeCredential(reader.read(StoreKey::Password));
        };
        QCOMPARE(roundTrip([&] { return ConfigStore::inFolder(registryDir.path()); }), password);
        QCOMPARE(roundTrip([&] { return iniOnlyStore(iniDir); }), password);
    }

    void keyNamesMatchWithoutRegardToCase()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("settings.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nserver=SQL01\nwinauth=1\n");
        file.close();
        ConfigStore store = ConfigStore::inFolder(dir.path());
        store.open();
        QCOMPARE(store.read(StoreKey::Server), QStringLiteral("SQL01"));
        QCOMPARE(store.read(StoreKey::WinAuth), QStringLiteral("1"));
        store.write(StoreKey::Server, "SQL02");
        const QSettings key(dir.filePath("settings.ini"), QSettings::IniFormat);
        QCOMPARE(key.allKeys(), QStringList({"server", "winauth"}));
        QCOMPARE(key.value("server").toString(), QStringLiteral("SQL02"));
    }

    void passwordBytesAreThoseOfTheOtherPrograms()
    {
        QTemporaryDir dir;
        ConfigStore store = iniOnlyStore(dir);
        store.open();
        // Euro sign, blank and '!' are 0x80, 0x20 and 0x21 in Windows-1252; the constant added.
        store.write(StoreKey::Password, EncodeCredential(QStringLiteral("\u20AC !")));
        QFile file(dir.filePath("paths.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QVERIFY2(file.readAll().contains("PASSWORD=\xF1\x91\x92\n"), "not the bytes of the INI services");
    }

    void unusableSettingsFilesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        // A folder in place of settings.ini is a key that cannot be opened: the INI form.
        for (const char* name : {"settings.ini", "paths.ini"}) {
            for (const char* kind : {"pipe", "huge"})
                QTest::addRow("%s %s", name, kind) << name << kind;
        }
        QTest::newRow("paths.ini folder") << "paths.ini"
                                          << "folder";
    }

    void unusableSettingsFilesAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (kind == "pipe") {
#ifdef Q_OS_WIN
            QSKIP("no named pipes in the file system");
#else
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        } else if (kind == "huge") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(64) << 20));
        } else {
            QVERIFY(QDir(dir.path()).mkdir(name));
        }
        ConfigStore store = ConfigStore::inFolder(dir.path());
        try {
            if (name == "settings.ini")
                store.open();
            else
                store.syncTime();
            QFAIL("the file was used");
        } catch (const ConfigError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(path), e.what());
        }
    }

#ifdef Q_OS_WIN
    // What the crib's other programs find in the registry, and what they leave there.
    void theMachineKeyHoldsTextsAsTheyAreAndLastPolledAsBinary()
    {
        removeMachineKey();
        const auto cleanup = qScopeGuard(removeMachineKey);
        QTemporaryDir dir;
        ConfigStore store(QString(), dir.filePath("paths.ini"));
        QCOMPARE(store.open(), ConfigStore::Form::Registry);
        store.write(StoreKey::Server, "@SQL01");
        store.writeLastPolled(QDateTime(QDate(2000, 1, 1), QTime(12, 0)));

        const RawValue server = rawValue(L"SERVER");
        QCOMPARE(server.type, DWORD(REG_SZ));
        QCOMPARE(server.text(), QStringLiteral("@SQL01"));
        const RawValue lastPolled = rawValue(L"lastpolled");
        QCOMPARE(lastPolled.type, DWORD(REG_BINARY));
        // 36526.5 days as a little-endian double, 8 bytes.
        QCOMPARE(lastPolled.bytes.chopped(2), QByteArray::fromHex("00000000d0d5e140"));
        // The 64-bit view's key: a 32-bit program's view has its own.
        QVERIFY(!rawValue(L"SERVER", KEY_WOW64_32KEY).found);

        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, MachineKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key),
            LSTATUS(ERROR_SUCCESS));
        const wchar_t port[] = L"1433";
        RegSetValueExW(key, L"portno", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof(port));
        RegCloseKey(key);
        ConfigStore again(QString(), dir.filePath("paths.ini"));
        QCOMPARE(again.open(), ConfigStore::Form::Registry);
        QCOMPARE(again.read(StoreKey::PortNo), QStringLiteral("1433"));
        QCOMPARE(again.read(StoreKey::Server), QStringLiteral("@SQL01"));
        QVERIFY(!QFile::exists(dir.filePath("paths.ini")));
    }

    // As for a user without administrator rights: the key may be read but not written.
    void aMachineKeyThatCannotBeWrittenLeavesTheSettingsToPathsIni()
    {
        removeMachineKey();
        const auto cleanup = qScopeGuard(removeMachineKey);
        HKEY key = nullptr;
        QCOMPARE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, MachineKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                     nullptr, &key, nullptr),
            LSTATUS(ERROR_SUCCESS));
        RegCloseKey(key);
        QVERIFY(setKeyAccess(KEY_READ | WRITE_DAC | DELETE));

        QTemporaryDir dir;
        ConfigStore store(QString(), dir.filePath("paths.ini"));
        QCOMPARE(store.open(), ConfigStore::Form::Ini);
        store.write(StoreKey::IpAddress, "10.0.0.9");
        QCOMPARE(QSettings(dir.filePath("paths.ini"), QSettings::IniFormat).value("Paths/IPADDRESS").toString(),
            QStringLiteral("10.0.0.9"));
        QVERIFY(!rawValue(L"IPADDRESS").found);
    }

    // The name the crib's other programs register: the NetBIOS name, which Windows also puts
    // into COMPUTERNAME, not the DNS host name.
    void theMachineNameIsTheNetBiosName()
    {
        const QString name = systemMachineName();
        QCOMPARE(name, qEnvironmentVariable("COMPUTERNAME"));
        QVERIFY2(name.size() <= MAX_COMPUTERNAME_LENGTH && name == name.toUpper(), qPrintable(name));
    }
#endif

    void dateTextLeavesOutAMidnightTime()
    {
        const QDateTime midnight(QDate(2026, 12, 8), QTime(0, 0));
        QCOMPARE(DateTimeValue::toText(midnight), QLocale::system().toString(midnight.date(), QLocale::ShortFormat));
    }
};

QTEST_GUILESS_MAIN(TestConfigStore)
#include "TestConfigStore.moc"
