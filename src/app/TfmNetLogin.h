#pragma once

#include "app/ValidatingDialog.h"
#include "config/NetLoginValues.h"

class QLineEdit;

/// The remote login dialog: the hosted database's catalog, login and password. It refuses to
/// close until all three are filled.
class TfmNetLogin : public ValidatingDialog
{
    Q_OBJECT

public:
    explicit TfmNetLogin(QWidget* parent = nullptr);

    NetLoginValues values() const;

protected:
    QString missingField() const override;

private:
    QLineEdit* m_database;
    QLineEdit* m_login;
    QLineEdit* m_password;
};
