#pragma once

#include <QString>

/// This computer's name as the crib's other programs know it: the NetBIOS name on Windows, the
/// host name elsewhere.
QString systemMachineName();
