#pragma once

#include <QString>

class ConfigStore;

/// The demo: both embedded databases and the settings that point the agent at them, all kept in
/// one folder, so that the agent runs with nothing installed but itself.
class DemoSetup
{
public:
    /// The computer name the demo outbox is addressed to when none is given.
    static QString defaultMachineName() { return QStringLiteral("CRIB-DEMO"); }

    /// Creates in `folder` what is missing of the demo (the databases, made for `machineName`,
    /// and the settings) and leaves what is there as it is, so that a demo carries on where it
    /// stopped. Throws db::DbError or ConfigError when the folder cannot hold them.
    static void prepare(const QString& folder, const QString& machineName);
    /// The settings store kept in a demo folder.
    static ConfigStore store(const QString& folder);
};
