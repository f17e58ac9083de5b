#pragma once

#include <QString>

/// What the local login dialog gathered at first configuration.
struct LoginValues
{
    QString server;
    QString database;
    QString login;
    QString password;
    bool windowsAuth = false;
    QString address;
    QString port;
};
