#pragma once

#include "config/LoginValues.h"
#include "config/NetLoginValues.h"

#include <QString>
#include <QStringList>
#include <optional>

/// How the program ends.
enum class ExitStatus {
    Completed = 0,
    StepFailed = 1,
    StartupIncomplete = 2,
};

/// The local login dialog's values and whether its OK button closed it.
struct LoginAnswer
{
    LoginValues values;
    bool accepted = false;
};

/// The front end the agent works through: the main window with its tray icon, or standard error
/// when running without a window.
class AgentHost
{
public:
    /// The address and port entry controls of the window: a label, a box, and Connect.
    enum class Entry { Address, Port };

    virtual ~AgentHost() = default;

    /// A message box with an OK button, or a line on standard error.
    virtual void showMessage(const QString& text) = 0;
    /// Shows the local login dialog modally; nothing when no dialog can be shown, in which case
    /// the host has said why and the program must end.
    virtual std::optional<LoginAnswer> askLocalLogin() = 0;
    /// Shows the remote login dialog modally; nothing as for askLocalLogin.
    virtual std::optional<NetLoginValues> askRemoteLogin() = 0;

    /// Shows the entry's label and box and the Connect button.
    virtual void showEntry(Entry entry) = 0;
    /// Hides both entries and Connect.
    virtual void hideEntries() = 0;
    virtual void setTrayIconVisible(bool visible) = 0;

    /// Puts the cycle interval into the interval box.
    virtual void showInterval(int seconds) = 0;
    /// Label1: the caption of the progress line.
    virtual void setProgressCaption(const QString& text) = 0;
    /// Label2: what the cycle is doing.
    virtual void setProgressText(const QString& text) = 0;
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual void setChangeEnabled(bool enabled) = 0;
    /// Lets the front end handle pending input during a long step.
    virtual void processEvents() = 0;
    /// The hidden table lists: remote tables and views, local ones, remote procedures.
    virtual void showTableLists(
        const QStringList& remoteTables, const QStringList& localTables, const QStringList& remoteProcedures)
        = 0;

    /// Ends the program once control returns to its event loop.
    virtual void endProgram(ExitStatus status) = 0;
};
