#pragma once

#include "config/LoginValues.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

/// The local login dialog of the first configuration: server, database, login, password and
/// Windows authentication. It refuses to close until the required fields are filled.
class TfmLogin : public QDialog
{
    Q_OBJECT

public:
    explicit TfmLogin(QWidget* parent = nullptr);

    LoginValues values() const;

    /// Whether the dialog closed itself, rather than its event loop being ended from outside.
    bool closed() const { return m_closed; }

    /// Validation, run for every attempt to close; shows what is missing and returns false.
    bool FormCloseQuery();

public Q_SLOTS:
    void done(int result) override;
    void WinAuthClick();

private:
    QLineEdit* m_server;
    QLineEdit* m_database;
    QLineEdit* m_login;
    QLineEdit* m_password;
    QCheckBox* m_winAuth;
    QLineEdit* m_address;
    QLineEdit* m_port;
    QPushButton* m_ok;
    bool m_closed = false;
};
