#include "app/HeadlessApplication.h"

#include "app/CrashReport.h"

HeadlessApplication::HeadlessApplication(int& argc, char** argv)
    : QCoreApplication(argc, argv)
{ }

bool HeadlessApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    CrashReport::guard([&] { handled = QCoreApplication::notify(receiver, event); });
    return handled;
}
