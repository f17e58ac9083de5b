#include "app/SignalQuit.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <chrono>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

Q_LOGGING_CATEGORY(lcSignal, "cribsync.signal", QtInfoMsg)

#ifdef Q_OS_UNIX
int g_pipe[2] = {-1, -1};
// The watchdog's wake-up: a signal number, or 0 when the program ends without a signal.
int g_watch[2] = {-1, -1};
struct sigaction g_oldInt;
struct sigaction g_oldTerm;

// Only async-signal-safe work here: the bytes wake the event loop and the watchdog.
void onSignal(int signalNumber)
{
    const auto byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
    [[maybe_unused]] const ssize_t woken = ::write(g_watch[0], &byte, 1);
}

// Waits for the first signal, then gives the program its grace period to return to the event
// loop and end by itself (the destructor then sends 0).
void watch(int fd)
{
    char first = 0;
    if (::read(fd, &first, 1) != 1 || first == 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(SignalQuit::GraceSeconds);
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&p, 1, int(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char next = 0;
        if (::read(fd, &next, 1) == 1 && next == 0)
            return;
    }
    static const char line[] = "cribsync: ending without waiting for the running step\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, sizeof(line) - 1);
    ::_exit(128 + first);
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
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_watch) != 0) {
        qCWarning(lcSignal) << "cannot watch SIGINT and SIGTERM";
        ::close(g_pipe[0]);
        ::close(g_pipe[1]);
        return;
    }
    m_watchdog = std::thread(watch, g_watch[1]);
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
    const char stop = 0;
    [[maybe_unused]] const ssize_t written = ::write(g_watch[0], &stop, 1);
    m_watchdog.join();
    ::close(g_watch[0]);
    ::close(g_watch[1]);
    g_watch[0] = g_watch[1] = -1;
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
