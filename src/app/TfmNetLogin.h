#pragma once

#include "config/NetLoginValues.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

/// The remote login dialog: the hosted database's catalog, login and password. It refuses to
/// close until all three are filled.
class TfmNetLogin : public QDialog
{
    Q_OBJECT

public:
    explicit TfmNetLogin(QWidget* parent = nullptr);

    NetLoginValues values() const;

    /// Whether the dialog closed itself, rather than its event loop being ended from outside.
    bool closed() const { return m_closed; }

    /// Validation, run for every attempt to close; shows what is missing and returns false.
    bool FormCloseQuery();

public Q_SLOTS:
    void done(int result) override;

private:
    QLineEdit* m_database;
    QLineEdit* m_login;
    QLineEdit* m_password;
    QPushButton* m_ok;
    bool m_closed = false;
};
