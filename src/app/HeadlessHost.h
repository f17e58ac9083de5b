#pragma once

#include "cycle/Agent.h"
#include "cycle/AgentHost.h"

#include <functional>

/// The front end without a window: messages are lines on standard error, and a step that would
/// need a dialog or the address boxes says so instead.
class HeadlessHost : public AgentHost
{
public:
    using LineWriter = std::function<void(const QString& line)>;

    /// By default lines go to standard error.
    explicit HeadlessHost(LineWriter writer = {});

    void showMessage(const QString& text) override;
    std::optional<LoginAnswer> askLocalLogin() override;
    std::optional<NetLoginValues> askRemoteLogin() override;
    void endProgram(ExitStatus status) override;

    /// Says where the missing setting can be given instead.
    void showEntry(Agent::Entry entry);
    /// Lets the event loop handle a signal that asks the program to end, between two records.
    void processEvents();

    void writeLine(const QString& line) const { m_writer(line); }

private:
    LineWriter m_writer;
};
