#include "app/CommandLine.h"
#include "app/GuiApplication.h"
#include "app/HeadlessApplication.h"
#include "app/HeadlessHost.h"
#include "app/HeadlessRun.h"
#include "app/SignalQuit.h"
#include "app/SingleInstance.h"
#include "app/TForm1.h"
#include "clock/SystemClock.h"
#include "clock/SystemTimeZoneList.h"
#include "cycle/Agent.h"
#include "cycle/StatusReport.h"
#include "cycle/SyncEngine.h"
#include "db/Failpoint.h"
#include "demo/DemoSetup.h"

#include <QDir>
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <cstdio>
#include <memory>

namespace {

void printLine(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

ConfigStore configStore(const CommandLine& commandLine)
{
    if (commandLine.demo())
        return DemoSetup::store(commandLine.demoFolder());
    if (commandLine.configFolder().isEmpty())
        return ConfigStore::system();
    QDir().mkpath(commandLine.configFolder());
    return ConfigStore::inFolder(commandLine.configFolder());
}

QString machineName(const CommandLine& commandLine)
{
    if (commandLine.demo() && commandLine.machineName().isEmpty())
        return DemoSetup::defaultMachineName();
    return commandLine.machineName();
}

/// Reads only: no folder is made, no lock taken, nothing written.
int printStatus(const CommandLine& commandLine)
{
    ConfigStore config = commandLine.demo()    ? DemoSetup::store(commandLine.demoFolder())
        : commandLine.configFolder().isEmpty() ? ConfigStore::system()
                                               : ConfigStore::inFolder(commandLine.configFolder());
    const SystemClock clock;
    const StatusReport report(config, clock, machineName(commandLine));
    if (commandLine.json())
        std::fputs(report.json().constData(), stdout);
    else
        std::fputs(report.text().toLocal8Bit().constData(), stdout);
    return static_cast<int>(report.health());
}

int runHeadless(const CommandLine& commandLine, SignalQuit& signalQuit)
{
    HeadlessHost host;
    const SystemClock clock;
    const SystemTimeZoneList zones;
    Agent agent(configStore(commandLine), &host, &clock, &zones, machineName(commandLine));
    HeadlessRun run(&agent, &host, commandLine.once());
    QObject::connect(&signalQuit, &SignalQuit::received, &run, [&run, &agent](int signalNumber) {
        agent.engine().requestStop();
        run.quit(128 + signalNumber);
    });
    run.start();
    return run.exec();
}

int runWindow(const CommandLine& commandLine, SingleInstance& instance, SignalQuit& signalQuit, const int& signalStatus)
{
    TForm1* window = nullptr;
    // A later copy may knock while start-up still shows a dialog.
    QObject::connect(&instance, &SingleInstance::activationRequested, [&window] { TForm1::bringForward(window); });
    TForm1 form(configStore(commandLine), machineName(commandLine));
    // A signal during start-up ended its dialogs' loops, but the main loop has not run yet; it
    // outranks the status of a start-up the signal itself cut short.
    if (signalStatus != 0)
        return signalStatus;
    if (form.ending())
        return static_cast<int>(form.exitStatus());
    window = &form;
    QObject::connect(&signalQuit, &SignalQuit::received, &form, [&form] { form.agent()->engine().requestStop(); });
    QObject::connect(&form, &TForm1::ended, qApp, [](int status) { QCoreApplication::exit(status); });
    form.show();
    const int status = QApplication::exec();
    return signalStatus != 0 ? signalStatus : status;
}

#ifdef Q_OS_WIN
/// A standard handle the starter sent to a file or a pipe (`2> log.txt`, a scheduler's capture).
bool redirected(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = GetFileType(handle);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

/// A windowed program has no console of its own: what was not redirected goes to the console of
/// the prompt it was started from. Attached even when both are redirected, as Qt sends its own
/// messages to the debugger instead of standard error while the program has no console.
void writeToParentConsole()
{
    const bool outputRedirected = redirected(STD_OUTPUT_HANDLE);
    const bool errorRedirected = redirected(STD_ERROR_HANDLE);
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!outputRedirected)
        std::freopen("CONOUT$", "w", stdout);
    if (!errorRedirected)
        std::freopen("CONOUT$", "w", stderr);
}
#endif

} // namespace

int main(int argc, char* argv[])
{
#ifdef Q_OS_WIN
    writeToParentConsole();
#endif
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    CommandLine commandLine;
    if (!commandLine.parse(arguments)) {
        printLine(commandLine.error());
        return static_cast<int>(ExitStatus::StartupIncomplete);
    }

    std::unique_ptr<QCoreApplication> app;
    if (commandLine.headless() || commandLine.helpRequested() || commandLine.versionRequested()
        || commandLine.failpointListRequested() || commandLine.statusRequested())
        app = std::make_unique<HeadlessApplication>(argc, argv);
    else
        app = std::make_unique<GuiApplication>(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(CRIBSYNC_VERSION));

    if (commandLine.helpRequested()) {
        std::fputs(qPrintable(commandLine.helpText()), stdout);
        return 0;
    }
    if (commandLine.versionRequested()) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()), CRIBSYNC_VERSION);
        return 0;
    }
    if (commandLine.failpointListRequested()) {
        for (Failpoint::Point point : Failpoint::all())
            std::printf("%s\t%s\n", qPrintable(Failpoint::name(point)), qPrintable(Failpoint::description(point)));
        return 0;
    }
    // Beside a running agent: before the single-instance rule.
    if (commandLine.statusRequested())
        return printStatus(commandLine);
    SingleInstance instance(commandLine.demo() ? commandLine.demoFolder() : commandLine.configFolder());
    if (!instance.claim()) {
        // Nothing ran: a scheduler must not count that as success.
        if (!instance.error().isEmpty()) {
            printLine(instance.error());
            return static_cast<int>(ExitStatus::StartupIncomplete);
        }
        instance.activateFirst();
        return 0;
    }

    if (commandLine.demo()) {
        try {
            DemoSetup::prepare(commandLine.demoFolder(), machineName(commandLine));
        } catch (const std::exception& e) {
            printLine(QStringLiteral("--demo: ") + QString::fromUtf8(e.what()));
            return static_cast<int>(ExitStatus::StartupIncomplete);
        }
    }

    SignalQuit signalQuit;
    if (commandLine.headless())
        return runHeadless(commandLine, signalQuit);
    int signalStatus = 0;
    QObject::connect(&signalQuit, &SignalQuit::received, [&signalStatus](int signalNumber) {
        signalStatus = 128 + signalNumber;
        QCoreApplication::exit(signalStatus);
    });
    return runWindow(commandLine, instance, signalQuit, signalStatus);
}
