#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

/// The system-wide lock that keeps one copy of the program running. The first copy holds the lock
/// (a named mutex in the global namespace on Windows, so that every session of the computer sees
/// it; a lock file elsewhere) and listens on a local socket of the same name; a later copy finds
/// the lock held, asks the first one through the socket to come forward, and ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    /// "TabcSingleInstance in application " followed by the application's name. A copy kept in
    /// its own settings folder (`settingsFolder`, given on the command line) is a crib of its own
    /// and does not exclude copies kept elsewhere: the folder's digest is added to the name.
    static QString lockName(const QString& settingsFolder = {});

    explicit SingleInstance(const QString& name = lockName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    /// Takes the lock; false when another copy holds it.
    bool claim();
    /// Asks the copy that holds the lock to come forward; false when it could not be reached.
    bool activateFirst();

Q_SIGNALS:
    void activationRequested();

private:
    void acceptConnection();

    QString m_name;
#ifdef Q_OS_WIN
    void* m_mutex = nullptr;
#else
    QLockFile m_lock;
#endif
    QLocalServer* m_server = nullptr;
};
