#pragma once

/// Keys of the settings store: the registry key, or section "Paths" of "paths.ini".
enum class StoreKey {
    Server,
    DatabaseName,
    Login,
    Password,
    WinAuth,
    IpAddress,
    PortNo,
    LastPolled,
    Reports,
    Custom,
    Images,
};

/// Keys that always live in "paths.ini", whatever the store.
enum class FileKey {
    SyncTime,
    ExcludeCrib,
    OdbcDriver,
    LoginTimeout,
    StatementTimeout,
    TimeBudget,
};

struct StoreKeyInfo
{
    StoreKey key;
    const char* name;
    const char* registryDefault;
    const char* iniDefault;
};

struct FileKeyInfo
{
    FileKey key;
    const char* section;
    const char* name;
    const char* defaultValue;
};

const StoreKeyInfo& storeKeyInfo(StoreKey key);
const FileKeyInfo& fileKeyInfo(FileKey key);
