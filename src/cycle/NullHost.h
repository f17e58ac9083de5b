#pragma once

#include "cycle/AgentHost.h"

#include <QStringList>

/// A host nobody sits at, for benchmarks and tests: every dialog is left unanswered, messages and
/// the end of the program are only recorded.
class NullHost : public AgentHost
{
public:
    QStringList messages;
    std::optional<ExitStatus> ended;

    void showMessage(const QString& text) override { messages << text; }
    std::optional<LoginAnswer> askLocalLogin() override { return std::nullopt; }
    std::optional<NetLoginValues> askRemoteLogin() override { return std::nullopt; }
    void endProgram(ExitStatus status) override { ended = status; }
};
