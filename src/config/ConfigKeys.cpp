#include "config/ConfigKeys.h"

#include <QtGlobal>
#include <array>

namespace {

constexpr std::array<StoreKeyInfo, 11> StoreKeys{{
    {StoreKey::Server, "SERVER", "", "ERROR"},
    {StoreKey::DatabaseName, "DATABASENAME", "", "ERROR"},
    {StoreKey::Login, "LOGIN", "", "ERROR"},
    {StoreKey::Password, "PASSWORD", "", "ERROR"},
    {StoreKey::WinAuth, "WinAuth", "", "0"},
    {StoreKey::IpAddress, "IPADDRESS", "", ""},
    {StoreKey::PortNo, "PortNo", "", ""},
    {StoreKey::LastPolled, "lastpolled", "", ""},
    {StoreKey::Reports, "Reports", "", ""},
    {StoreKey::Custom, "Custom", "", ""},
    {StoreKey::Images, "Images", "", ""},
}};

constexpr std::array<FileKeyInfo, 6> FileKeys{{
    {FileKey::SyncTime, "Corvane", "Time", "30"},
    {FileKey::ExcludeCrib, "Emp", "ExcludeCrib", "0"},
#ifdef Q_OS_WIN
    // Empty: the newest of Microsoft's drivers that is installed.
    {FileKey::OdbcDriver, "Cribsync", "OdbcDriver", ""},
#else
    {FileKey::OdbcDriver, "Cribsync", "OdbcDriver", "FreeTDS"},
#endif
    {FileKey::LoginTimeout, "Cribsync", "LoginTimeout", "15"},
    {FileKey::StatementTimeout, "Cribsync", "StatementTimeout", "300"},
    {FileKey::TimeBudget, "Cribsync", "TimeBudget", "120"},
}};

} // namespace

const StoreKeyInfo& storeKeyInfo(StoreKey key)
{
    const StoreKeyInfo& info = StoreKeys[static_cast<std::size_t>(key)];
    Q_ASSERT(info.key == key);
    return info;
}

const FileKeyInfo& fileKeyInfo(FileKey key)
{
    const FileKeyInfo& info = FileKeys[static_cast<std::size_t>(key)];
    Q_ASSERT(info.key == key);
    return info;
}
