#include "app/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

bool g_autoAnswer = false;
QList<MessageBox::Shown> g_shown;

bool answeredAutomatically(const QString& caption, const QString& text)
{
    if (!g_autoAnswer)
        return false;
    g_shown.append({caption, text});
    return true;
}

} // namespace

void MessageBox::information(QWidget* parent, const QString& text)
{
    const QString caption = QCoreApplication::applicationName();
    if (!answeredAutomatically(caption, text))
        QMessageBox::information(parent, caption, text);
}

void MessageBox::critical(QWidget* parent, const QString& caption, const QString& text)
{
    if (!answeredAutomatically(caption, text))
        QMessageBox::critical(parent, caption, text);
}

QMessageBox* MessageBox::openCritical(QWidget* parent, const QString& caption, const QString& text)
{
    if (answeredAutomatically(caption, text))
        return nullptr;
    auto* box = new QMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}

void MessageBox::setAutoAnswer(bool enabled)
{
    g_autoAnswer = enabled;
}

QList<MessageBox::Shown> MessageBox::shown()
{
    return g_shown;
}

QStringList MessageBox::shownTexts()
{
    QStringList texts;
    for (const Shown& box : g_shown)
        texts << box.text;
    return texts;
}

void MessageBox::clearShown()
{
    g_shown.clear();
}
