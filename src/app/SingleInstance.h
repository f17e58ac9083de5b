#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

/// The lock that keeps one copy of the program per crib. The first copy holds it and listens on
/// a local socket; a later copy finds the lock held, asks the first one through the socket to
/// come forward, and ends. The lock is machine-wide, so that copies under other user accounts or
/// with another TMPDIR are excluded as well: a named mutex in the global namespace on Windows, a
/// flock on a file beside the settings elsewhere.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    /// "TabcSingleInstance in application " followed by the application's name. A copy kept in
    /// its own settings folder (`settingsFolder`, given on the command line) is a crib of its own
    /// and does not exclude copies kept elsewhere: a digest of the folder, however it is spelt
    /// (symbolic links, relative paths), is added to the name.
    static QString lockName(const QString& settingsFolder = {});

    /// The lock of the crib whose settings live in `settingsFolder` (created when missing), or,
    /// when it is empty, of the machine's settings.
    explicit SingleInstance(const QString& settingsFolder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// Takes the lock; false when another copy holds it or when the lock cannot be used at all
    /// (then error() says why).
    bool claim();
    /// Why the lock could not be used, such as a settings folder that cannot be written; empty
    /// when it was taken or another copy holds it.
    QString error() const { return m_error; }
    /// Asks the copy that holds the lock to come forward; false when it could not be reached.
    bool activateFirst();

Q_SIGNALS:
    void activationRequested();

private:
    void acceptConnection();
    bool lock();

    QString m_folder;
    QString m_name;
    QString m_serverName;
    QString m_error;
#ifdef Q_OS_WIN
    void* m_mutex = nullptr;
#else
    int m_lockFile = -1;
#endif
    QLocalServer* m_server = nullptr;
};
