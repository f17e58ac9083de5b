#pragma once

#include <QObject>

class Agent;
class HeadlessHost;

/// Runs the agent without a window: start-up as soon as the event loop runs, then either the
/// timer's cycles until the program is stopped, or (once) a single cycle whose outcome is the
/// exit status. A start-up that cannot complete ends the program with status 2, since nobody
/// is there to press Connect; only an unreachable remote server is waited for (not once), with
/// the start-up repeated at the cycle interval.
class HeadlessRun : public QObject
{
    Q_OBJECT

public:
    HeadlessRun(Agent* agent, HeadlessHost* host, bool once, QObject* parent = nullptr);
    ~HeadlessRun() override;

    void start();
    /// Runs the event loop and returns the exit status: the one given to quit() if it was called,
    /// whatever ended the loop after it (a --once cycle that was running returns later).
    int exec();
    /// Ends the program with `status` (128 + signal) once control returns to the event loop.
    void quit(int status);

private:
    void startUp();

    Agent* m_agent;
    HeadlessHost* m_host;
    bool m_once;
    int m_quitStatus = 0;
};
