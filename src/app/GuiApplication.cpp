#include "app/GuiApplication.h"

#include "app/CrashReport.h"
#include "app/MessageBox.h"

GuiApplication::GuiApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setQuitOnLastWindowClosed(false);
    CrashReport::setReporter([](const QString& text) {
        QWidget* parent = activeModalWidget() ? activeModalWidget() : activeWindow();
        MessageBox::critical(parent, CrashReport::caption(), text);
    });
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
