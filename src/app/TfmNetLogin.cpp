#include "app/TfmNetLogin.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

TfmNetLogin::TfmNetLogin(QWidget* parent)
    : ValidatingDialog(parent)
{
    setObjectName(QStringLiteral("fmNetLogin"));
    setWindowTitle(QStringLiteral("Quellora.Net Login"));
    resize(280, 223);

    auto* layout = new QGridLayout(this);
    const auto addField = [this, layout](const QString& objectName, const QString& label) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(objectName);
        const int row = layout->rowCount();
        layout->addWidget(new QLabel(label, this), row, 0);
        layout->addWidget(edit, row, 1);
        return edit;
    };
    m_database = addField(QStringLiteral("edDatabase"), QStringLiteral("DATABASE"));
    m_login = addField(QStringLiteral("edlogin"), QStringLiteral("LOGIN"));
    m_password = addField(QStringLiteral("edPassword"), QStringLiteral("PASSWORD"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));

    addOkButton(layout);
}

NetLoginValues TfmNetLogin::values() const
{
    return {m_database->text(), m_login->text(), m_password->text()};
}

QString TfmNetLogin::missingField() const
{
    if (m_password->text().isEmpty())
        return QStringLiteral("need password");
    if (m_database->text().isEmpty())
        return QStringLiteral("need database name");
    if (m_login->text().isEmpty())
        return QStringLiteral("need login info");
    return {};
}
