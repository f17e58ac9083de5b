#pragma once

#include "cycle/Agent.h"
#include "cycle/NullHost.h"
#include "cycle/SyncEngine.h"

/// A front end that answers the local login dialog as the test set it up and records, in order,
/// the messages it was told and what the window would show for an agent it watches.
class RecordingHost : public NullHost
{
public:
    QStringList calls;
    std::optional<LoginAnswer> loginAnswer;
    int loginsAsked = 0;
    int interval = 0;

    void showMessage(const QString& text) override { calls << QStringLiteral("message: ") + text; }
    std::optional<LoginAnswer> askLocalLogin() override
    {
        ++loginsAsked;
        return loginAnswer;
    }

    void watch(Agent& agent)
    {
        QObject::connect(&agent, &Agent::entryShown, [this](Agent::Entry entry) {
            calls << (entry == Agent::Entry::Address ? "entry: address" : "entry: port");
        });
        QObject::connect(&agent, &Agent::trayIconShown, [this] { calls << "tray shown"; });
        QObject::connect(&agent, &Agent::intervalShown, [this](int seconds) { interval = seconds; });
        QObject::connect(&agent.engine(), &SyncEngine::entriesHidden, [this] { calls << "entries hidden"; });
        QObject::connect(&agent.engine(), &SyncEngine::trayIconShown, [this] { calls << "tray shown"; });
    }
};
