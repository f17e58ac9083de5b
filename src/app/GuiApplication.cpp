#include "app/GuiApplication.h"

#include "app/CrashReport.h"
#include "app/MessageBox.h"

#include <QMessageBox>

GuiApplication::GuiApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setQuitOnLastWindowClosed(false);
    CrashReport::setReporter([this](const QString& text) { showReport(text); });
}

// The box gets no event loop of its own, so the timer keeps its rhythm while it is open; what
// fails meanwhile, as every later tick does when the local database is gone, is counted and logged
// instead of stacking one box on another.
void GuiApplication::showReport(const QString& text)
{
    if (m_report && m_report->isVisible()) {
        ++m_unshown;
        m_report->setInformativeText(m_unshown == 1
                ? QStringLiteral("1 further failure since this one: see the log.")
                : QStringLiteral("%1 further failures since this one: see the log.").arg(m_unshown));
        CrashReport::log(QStringLiteral("%1 not shown, %2 since the open one: %3")
                             .arg(CrashReport::caption())
                             .arg(m_unshown)
                             .arg(text));
        return;
    }
    m_unshown = 0;
    QWidget* parent = activeModalWidget() ? activeModalWidget() : activeWindow();
    m_report = MessageBox::openCritical(parent, CrashReport::caption(), text);
}

GuiApplication::~GuiApplication()
{
    CrashReport::setReporter({});
}

bool GuiApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    CrashReport::guard([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
