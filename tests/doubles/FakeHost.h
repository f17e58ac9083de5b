#pragma once

#include "cycle/NullHost.h"
#include "cycle/SyncEngine.h"

#include <functional>

/// A front end that answers the remote login dialog as the test set it up and records what it
/// was told and, once it watches an engine, what the window would show.
class FakeHost : public NullHost
{
public:
    QList<std::optional<NetLoginValues>> remoteLogins; // answered in order; nothing when empty
    int remoteLoginsAsked = 0;
    bool changeEnabled = true;
    bool trayVisible = false;
    bool entriesHidden = false;
    QString progressCaption;
    QString progressText;
    QStringList remoteTables, localTables, remoteProcedures;
    std::function<void()> onProcessEvents;

    std::optional<NetLoginValues> askRemoteLogin() override
    {
        ++remoteLoginsAsked;
        return remoteLogins.isEmpty() ? std::nullopt : remoteLogins.takeFirst();
    }

    void watch(SyncEngine& engine)
    {
        QObject::connect(&engine, &SyncEngine::changeEnabledChanged, [this](bool enabled) { changeEnabled = enabled; });
        QObject::connect(&engine, &SyncEngine::trayIconShown, [this] { trayVisible = true; });
        QObject::connect(&engine, &SyncEngine::entriesHidden, [this] { entriesHidden = true; });
        QObject::connect(
            &engine, &SyncEngine::progressCaptionChanged, [this](const QString& text) { progressCaption = text; });
        QObject::connect(
            &engine, &SyncEngine::progressTextChanged, [this](const QString& text) { progressText = text; });
        QObject::connect(&engine, &SyncEngine::eventsDue, [this] {
            if (onProcessEvents)
                onProcessEvents();
        });
        QObject::connect(&engine, &SyncEngine::tableListsChanged,
            [this](const QStringList& remote, const QStringList& local, const QStringList& procedures) {
                remoteTables = remote;
                localTables = local;
                remoteProcedures = procedures;
            });
    }
};
