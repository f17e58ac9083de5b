#include "app/TfmLogin.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

QLineEdit* addField(QGridLayout* layout, const QString& objectName, const QString& label, QWidget* parent,
    QLabel** labelWidget = nullptr)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    auto* caption = new QLabel(label, parent);
    const int row = layout->rowCount();
    layout->addWidget(caption, row, 0);
    layout->addWidget(edit, row, 1);
    if (labelWidget)
        *labelWidget = caption;
    return edit;
}

void maskWithStars(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
}

} // namespace

TfmLogin::TfmLogin(QWidget* parent)
    : ValidatingDialog(
        parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("fmLogin"));
    setWindowTitle(QStringLiteral("Login"));
    setFixedSize(283, 287);

    auto* layout = new QGridLayout(this);
    m_server = addField(layout, QStringLiteral("Edit1"), QStringLiteral("SERVER"), this);
    m_database = addField(layout, QStringLiteral("Edit2"), QStringLiteral("DATABASE"), this);
    m_login = addField(layout, QStringLiteral("Edit3"), QStringLiteral("LOGIN"), this);
    m_password = addField(layout, QStringLiteral("Edit4"), QStringLiteral("PASSWORD"), this);
    maskWithStars(m_password);

    m_winAuth = new QCheckBox(QStringLiteral("WINDOWS AUTHENTICATION"), this);
    m_winAuth->setObjectName(QStringLiteral("WinAuth"));
    m_winAuth->setLayoutDirection(Qt::RightToLeft);
    layout->addWidget(m_winAuth, layout->rowCount(), 0, 1, 2, Qt::AlignLeft);
    connect(m_winAuth, &QCheckBox::toggled, this, &TfmLogin::WinAuthClick);

    // The remote address and port are asked for in the main window instead.
    QLabel* addressLabel = nullptr;
    QLabel* portLabel = nullptr;
    m_address = addField(layout, QStringLiteral("Edit5"), QStringLiteral("IP Address"), this, &addressLabel);
    m_port = addField(layout, QStringLiteral("edPortNo"), QStringLiteral("Port"), this, &portLabel);
    for (QWidget* hidden : std::initializer_list<QWidget*>{addressLabel, m_address, portLabel, m_port})
        hidden->hide();

    addOkButton(layout);
}

LoginValues TfmLogin::values() const
{
    return {m_server->text(), m_database->text(), m_login->text(), m_password->text(), m_winAuth->isChecked(),
        m_address->text(), m_port->text()};
}

void TfmLogin::WinAuthClick()
{
    const bool windowsAuth = m_winAuth->isChecked();
    const QColor colour = palette().color(windowsAuth ? QPalette::Button : QPalette::Base);
    for (QLineEdit* edit : {m_login, m_password}) {
        edit->setEnabled(!windowsAuth);
        QPalette pal = edit->palette();
        pal.setColor(QPalette::Base, colour);
        edit->setPalette(pal);
    }
}

QString TfmLogin::missingField() const
{
    if (m_server->text().isEmpty())
        return QStringLiteral("need server name");
    if (m_database->text().isEmpty())
        return QStringLiteral("need database name");
    if (m_login->text().isEmpty() && !m_winAuth->isChecked())
        return QStringLiteral("need login info");
    return {};
}
