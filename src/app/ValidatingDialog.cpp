#include "app/ValidatingDialog.h"

#include "app/MessageBox.h"

bool ValidatingDialog::FormCloseQuery()
{
    const QString missing = missingField();
    if (missing.isEmpty())
        return true;
    MessageBox::information(this, missing);
    return false;
}

void ValidatingDialog::done(int result)
{
    if (!FormCloseQuery())
        return;
    m_closed = true;
    QDialog::done(result);
}
