#pragma once

#include <QDialog>
#include <QString>

class QGridLayout;

/// A modal dialog that refuses to close until its fields are filled, and tells a close of its
/// own from its event loop being ended from outside.
class ValidatingDialog : public QDialog
{
    Q_OBJECT

public:
    using QDialog::QDialog;

    /// Whether the dialog closed itself, rather than its event loop being ended from outside.
    bool closed() const { return m_closed; }

    /// Validation, run for every attempt to close; shows what is missing and returns false.
    bool FormCloseQuery();

public Q_SLOTS:
    void done(int result) override;

protected:
    /// The OK button ("BitBtn1") centred below the fields of `layout`; it tries to accept.
    void addOkButton(QGridLayout* layout);
    /// What the first unfilled field needs, or nothing when every field is filled.
    virtual QString missingField() const = 0;

private:
    bool m_closed = false;
};
