#include "app/HeadlessHost.h"

#include "cycle/CycleLog.h"

#include <QCoreApplication>
#include <cstdio>

HeadlessHost::HeadlessHost(LineWriter writer)
    : m_writer(std::move(writer))
{
    if (!m_writer) {
        m_writer = [](const QString& line) {
            std::fprintf(stderr, "%s\n", qPrintable(line));
            std::fflush(stderr);
        };
    }
}

void HeadlessHost::showMessage(const QString& text)
{
    // A message may quote a setting or a database's error text: one message, one line.
    writeLine(CycleLog::printable(text));
}

std::optional<LoginAnswer> HeadlessHost::askLocalLogin()
{
    writeLine(QStringLiteral("The settings name no local server, and the login dialog that asks for it cannot be "
                             "shown without a window: run once with the window, or store SERVER, DATABASENAME, "
                             "LOGIN, PASSWORD and WinAuth in the settings."));
    return std::nullopt;
}

std::optional<NetLoginValues> HeadlessHost::askRemoteLogin()
{
    writeLine(QStringLiteral("The remote database's catalog, login or password is missing or wrong, and the dialog "
                             "that asks for them cannot be shown without a window: run once with the window."));
    return std::nullopt;
}

void HeadlessHost::showEntry(Agent::Entry entry)
{
    writeLine(entry == Agent::Entry::Address
            ? QStringLiteral("The remote address can only be entered in the window, or stored as IPADDRESS.")
            : QStringLiteral("The remote port can only be entered in the window, or stored as PortNo."));
}

void HeadlessHost::processEvents()
{
    QCoreApplication::processEvents();
}

void HeadlessHost::endProgram(ExitStatus status)
{
    QCoreApplication::exit(static_cast<int>(status));
}
