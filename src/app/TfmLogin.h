#pragma once

#include "app/ValidatingDialog.h"
#include "config/LoginValues.h"

class QCheckBox;
class QLineEdit;

/// The local login dialog of the first configuration: server, database, login, password and
/// Windows authentication. It refuses to close until the required fields are filled.
class TfmLogin : public ValidatingDialog
{
    Q_OBJECT

public:
    explicit TfmLogin(QWidget* parent = nullptr);

    LoginValues values() const;

public Q_SLOTS:
    void WinAuthClick();

protected:
    QString missingField() const override;

private:
    QLineEdit* m_server;
    QLineEdit* m_database;
    QLineEdit* m_login;
    QLineEdit* m_password;
    QCheckBox* m_winAuth;
    QLineEdit* m_address;
    QLineEdit* m_port;
};
