#pragma once

#include <QObject>

class Agent;
class HeadlessHost;

/// Runs the agent without a window: start-up as soon as the event loop runs, then either the
/// timer's cycles until the program is stopped, or (once) a single cycle whose outcome is the
/// exit status. A start-up that cannot complete ends the program with status 2, since nobody
/// is there to press Connect.
class HeadlessRun : public QObject
{
    Q_OBJECT

public:
    HeadlessRun(Agent* agent, HeadlessHost* host, bool once, QObject* parent = nullptr);
    ~HeadlessRun() override;

    void start();

private:
    void startUp();

    Agent* m_agent;
    HeadlessHost* m_host;
    bool m_once;
};
