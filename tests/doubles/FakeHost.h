#pragma once

#include "cycle/AgentHost.h"

#include <functional>

/// A front end that answers every question as the test set it up and records what it was told.
class FakeHost : public AgentHost
{
public:
    QStringList messages;
    QList<std::optional<NetLoginValues>> remoteLogins; // answered in order; nothing when empty
    int remoteLoginsAsked = 0;
    std::optional<ExitStatus> ended;
    bool changeEnabled = true;
    bool trayVisible = false;
    bool entriesHidden = false;
    QString progressCaption;
    QString progressText;
    QStringList remoteTables, localTables, remoteProcedures;
    std::function<void()> onProcessEvents;

    void showMessage(const QString& text) override { messages << text; }
    std::optional<LoginAnswer> askLocalLogin() override { return std::nullopt; }
    std::optional<NetLoginValues> askRemoteLogin() override
    {
        ++remoteLoginsAsked;
        return remoteLogins.isEmpty() ? std::nullopt : remoteLogins.takeFirst();
    }
    void showEntry(Entry) override { entriesHidden = false; }
    void hideEntries() override { entriesHidden = true; }
    void setTrayIconVisible(bool visible) override { trayVisible = visible; }
    void showInterval(int) override { }
    void setProgressCaption(const QString& text) override { progressCaption = text; }
    void setProgressText(const QString& text) override { progressText = text; }
    void setProgressMaximum(int) override { }
    void setProgressPosition(int) override { }
    void setChangeEnabled(bool enabled) override { changeEnabled = enabled; }
    void processEvents() override
    {
        if (onProcessEvents)
            onProcessEvents();
    }
    void showTableLists(const QStringList& remote, const QStringList& local, const QStringList& procedures) override
    {
        remoteTables = remote;
        localTables = local;
        remoteProcedures = procedures;
    }
    void endProgram(ExitStatus status) override { ended = status; }
};
