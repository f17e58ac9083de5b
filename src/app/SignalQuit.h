#pragma once

#include <QObject>
#include <thread>

class QSocketNotifier;

/// Turns SIGINT and SIGTERM into a signal of the event loop, so the program ends between two
/// statements rather than inside one. One instance at a time; it restores the old handlers.
///
/// The first signal also arms a watchdog: when the program has not come back from a step blocked
/// in a database call, or from its running cycle, within the grace period (or a second signal
/// comes), the process ends at once with status 128 + signal, leaving unmarked what it did not
/// finish. Destroying the instance disarms it.
class SignalQuit : public QObject
{
    Q_OBJECT

public:
    static constexpr int GraceSeconds = 5;

    explicit SignalQuit(QObject* parent = nullptr);
    ~SignalQuit() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
    std::thread m_watchdog;
};
