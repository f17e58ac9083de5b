#include "app/SignalQuit.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

Q_LOGGING_CATEGORY(lcSignal, "cribsync.signal", QtInfoMsg)

#ifdef Q_OS_UNIX
int g_pipe[2] = {-1, -1};
struct sigaction g_oldInt;
struct sigaction g_oldTerm;

// Only async-signal-safe work here: the byte wakes the event loop.
void onSignal(int signalNumber)
{
    const auto byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
}
#endif

} // namespace

SignalQuit::SignalQuit(QObject* parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0) {
        qCWarning(lcSignal) << "cannot watch SIGINT and SIGTERM";
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalQuit::readSignal);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_oldInt);
    sigaction(SIGTERM, &action, &g_oldTerm);
#endif
}

SignalQuit::~SignalQuit()
{
#ifdef Q_OS_UNIX
    if (!m_notifier)
        return;
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
}

void SignalQuit::readSignal()
{
#ifdef Q_OS_UNIX
    char byte = 0;
    if (::read(g_pipe[1], &byte, 1) == 1) {
        qCInfo(lcSignal) << "ending on signal" << int(byte);
        Q_EMIT received(byte);
    }
#endif
}
