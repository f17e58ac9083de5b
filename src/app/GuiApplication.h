#pragma once

#include <QApplication>
#include <QPointer>

class QMessageBox;

/// The application object with a window: every failure an event handler lets escape is shown in
/// a message box, one at a time, and the event loop goes on. The program ends when its main window says so,
/// not when the last window closes, since it lives on in the tray with no window shown.
class GuiApplication : public QApplication
{
    Q_OBJECT

public:
    GuiApplication(int& argc, char** argv);
    ~GuiApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

private:
    void showReport(const QString& text);

    QPointer<QMessageBox> m_report;
    int m_unshown = 0;
};
