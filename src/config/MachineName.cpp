#include "config/MachineName.h"

#include <QSysInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString systemMachineName()
{
#ifdef Q_OS_WIN
    // The DNS host name that QSysInfo gives may be longer and differ in case from the NetBIOS name
    // that the crib's other programs register in Control and address the outbox to.
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &size))
        return QString::fromWCharArray(name, int(size));
#endif
    return QSysInfo::machineHostName();
}
