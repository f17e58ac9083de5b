#pragma once

#include <QString>

/// The remote database's catalog, login and password as typed into the remote login dialog.
struct NetLoginValues
{
    QString database;
    QString login;
    QString password;
};
