#pragma once

#include <QCoreApplication>

/// The application object without a window: every failure an event handler lets escape goes to
/// the crash report, and the event loop goes on.
class HeadlessApplication : public QCoreApplication
{
    Q_OBJECT

public:
    HeadlessApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
