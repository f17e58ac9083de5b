#pragma once

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
    void showEntry(Entry entry) override;
    void hideEntries() override { }
    void setTrayIconVisible(bool) override { }
    void showInterval(int) override { }
    void setProgressCaption(const QString&) override { }
    void setProgressText(const QString&) override { }
    void setProgressMaximum(int) override { }
    void setProgressPosition(int) override { }
    void setChangeEnabled(bool) override { }
    void processEvents() override;
    void showTableLists(const QStringList&, const QStringList&, const QStringList&) override { }
    void endProgram(ExitStatus status) override;

    void writeLine(const QString& line) const { m_writer(line); }

private:
    LineWriter m_writer;
};
