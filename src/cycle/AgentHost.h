#pragma once

#include "config/LoginValues.h"
#include "config/NetLoginValues.h"

#include <QString>
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

/// What the agent needs from a person: the main window's message boxes and dialogs, or standard
/// error when running without a window. What the window merely shows comes as signals of the
/// agent and its engine.
class AgentHost
{
public:
    virtual ~AgentHost() = default;

    /// A message box with an OK button, or a line on standard error.
    virtual void showMessage(const QString& text) = 0;
    /// Shows the local login dialog modally; nothing when no dialog can be shown, in which case
    /// the host has said why and the program must end.
    virtual std::optional<LoginAnswer> askLocalLogin() = 0;
    /// Shows the remote login dialog modally; nothing as for askLocalLogin.
    virtual std::optional<NetLoginValues> askRemoteLogin() = 0;
    /// Ends the program once control returns to its event loop.
    virtual void endProgram(ExitStatus status) = 0;
};
