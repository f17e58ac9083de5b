#pragma once

#include <QList>
#include <QString>

class QMessageBox;
class QWidget;

/// Every message box of the program goes through here, so a test can answer them at once and
/// read what they said.
class MessageBox
{
public:
    struct Shown
    {
        QString caption;
        QString text;
    };

    /// A plain box with an OK button, captioned with the application's name.
    static void information(QWidget* parent, const QString& text);
    static void critical(QWidget* parent, const QString& caption, const QString& text);
    /// A critical box shown without waiting for it: it goes when it is answered. Returns it, or
    /// nothing when it was answered at once.
    static QMessageBox* openCritical(QWidget* parent, const QString& caption, const QString& text);

    /// With auto-answer on, no box is shown: each is answered with OK and kept in shown().
    static void setAutoAnswer(bool enabled);
    static QList<Shown> shown();
    static QStringList shownTexts();
    static void clearShown();
};
