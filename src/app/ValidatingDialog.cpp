#include "app/ValidatingDialog.h"

#include "app/MessageBox.h"

#include <QGridLayout>
#include <QPushButton>
#include <QStyle>

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

void ValidatingDialog::addOkButton(QGridLayout* layout)
{
    auto* ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    layout->setRowStretch(layout->rowCount(), 1);
    layout->addWidget(ok, layout->rowCount(), 0, 1, 2, Qt::AlignCenter);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
