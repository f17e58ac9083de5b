#include "app/CommandLine.h"

CommandLine::CommandLine()
    : m_help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help and ends."))
    , m_version(QStringLiteral("version"), QStringLiteral("Shows the version and ends."))
    , m_listFailpoints(QStringLiteral("list-failpoints"),
          QStringLiteral("Lists the failpoints that CRIBSYNC_FAILPOINT can name, one a line, and ends."))
    , m_headless(QStringLiteral("headless"),
          QStringLiteral("Runs without window, tray icon or dialogs; messages go to standard error."))
    , m_once(QStringLiteral("once"), QStringLiteral("Runs headless: start-up, one cycle, then ends."))
    , m_config(QStringLiteral("config"),
          QStringLiteral("Keeps the settings in <dir>: settings.ini for the registry key, paths.ini for the "
                         "file beside the program."),
          QStringLiteral("dir"))
    , m_machineName(QStringLiteral("machine-name"), QStringLiteral("Uses <name> as this computer's name."),
          QStringLiteral("name"))
    , m_demo(QStringLiteral("demo"), QStringLiteral("Runs on demo databases kept in [dir]."))
    , m_status(QStringLiteral("status"),
          QStringLiteral("Prints how the agent stands (pending rows, stuck rows, outbox backlog, last completed "
                         "cycle) without disturbing a running one, and ends: 0 healthy, 1 needs attention, 2 cannot "
                         "tell."))
    , m_json(QStringLiteral("json"), QStringLiteral("With --status: prints it as JSON."))
{
    m_parser.setApplicationDescription(QStringLiteral("Keeps a crib's local database and its hosted copy in step."));
    m_parser.addOptions(
        {m_help, m_version, m_listFailpoints, m_headless, m_once, m_config, m_machineName, m_demo, m_status, m_json});
    m_parser.addPositionalArgument(
        QStringLiteral("dir"), QStringLiteral("The demo folder, with --demo."), QStringLiteral("[dir]"));
}

bool CommandLine::parse(const QStringList& arguments)
{
    if (!m_parser.parse(arguments)) {
        m_error = m_parser.errorText();
        return false;
    }
    const QStringList positional = m_parser.positionalArguments();
    if (positional.size() > (demo() ? 1 : 0)) {
        m_error = QStringLiteral("Unexpected argument: %1").arg(positional.constLast());
        return false;
    }
    if (m_parser.isSet(m_config) && configFolder().isEmpty()) {
        m_error = QStringLiteral("--config needs a folder");
        return false;
    }
    if (json() && !statusRequested()) {
        m_error = QStringLiteral("--json needs --status");
        return false;
    }
    if (statusRequested() && (m_parser.isSet(m_headless) || once())) {
        m_error = QStringLiteral("--status runs no agent: it cannot go with --headless or --once");
        return false;
    }
    return true;
}

QString CommandLine::demoFolder() const
{
    const QStringList positional = m_parser.positionalArguments();
    return positional.isEmpty() ? QStringLiteral("demo") : positional.constFirst();
}
