#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

/// The program's options. None is needed: without them the agent runs with its window on this
/// computer's own settings.
class CommandLine
{
public:
    CommandLine();

    /// False when the arguments are wrong; error() says why.
    bool parse(const QStringList& arguments);
    QString error() const { return m_error; }
    /// Needs the application object for the program's name.
    QString helpText() const { return m_parser.helpText(); }

    bool helpRequested() const { return m_parser.isSet(m_help); }
    bool versionRequested() const { return m_parser.isSet(m_version); }
    bool failpointListRequested() const { return m_parser.isSet(m_listFailpoints); }
    /// --headless, or --once, which implies it.
    bool headless() const { return m_parser.isSet(m_headless) || once(); }
    bool once() const { return m_parser.isSet(m_once); }
    QString configFolder() const { return m_parser.value(m_config); }
    QString machineName() const { return m_parser.value(m_machineName); }
    bool demo() const { return m_parser.isSet(m_demo); }
    /// --status: how the agent stands, printed without disturbing a running one.
    bool statusRequested() const { return m_parser.isSet(m_status); }
    /// --json, with --status.
    bool json() const { return m_parser.isSet(m_json); }
    /// The folder given with --demo; "demo" in the working folder when none is.
    QString demoFolder() const;

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    QCommandLineOption m_listFailpoints;
    QCommandLineOption m_headless;
    QCommandLineOption m_once;
    QCommandLineOption m_config;
    QCommandLineOption m_machineName;
    QCommandLineOption m_demo;
    QCommandLineOption m_status;
    QCommandLineOption m_json;
    QString m_error;
};
