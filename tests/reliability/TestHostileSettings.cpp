#include "HostileCorpus.h"
#include "clock/SystemClock.h"
#include "clock/SystemTimeZoneList.h"
#include "config/ConfigKeys.h"
#include "config/ConfigStore.h"
#include "config/Credential.h"
#include "config/IniFile.h"
#include "config/NetLoginValues.h"
#include "crib/CribConnectionStrings.h"
#include "cycle/Agent.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "db/Connection.h"
#include "db/ConnectionPool.h"
#include "db/ConnectionString.h"
#include "db/DbError.h"
#include "demo/DemoDatabases.h"
#include "doubles/FakeHost.h"
#include "support/AgentProcess.h"
#include "support/EngineSite.h"
#include "support/Files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

const SystemClock systemClock;
const SystemTimeZoneList systemZones;

const QString kMachine = QStringLiteral("CRIB-01");
/// No such ODBC driver exists: a start-up that reaches ODBC fails at once instead of waiting on
/// the network, and the attributes it would have sent are checked apart.
const QString kNoDriver = QStringLiteral("NoSuchDriver");
const QStringList kOdbcDrivers = {QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 18 for SQL Server")};

const QList<StoreKey> kStoreKeys = {StoreKey::Server, StoreKey::DatabaseName, StoreKey::Login, StoreKey::Password,
    StoreKey::WinAuth, StoreKey::IpAddress, StoreKey::PortNo, StoreKey::LastPolled, StoreKey::Reports, StoreKey::Custom,
    StoreKey::Images};

QString keyName(StoreKey key)
{
    return QString::fromLatin1(storeKeyInfo(key).name);
}

/// The attributes of an ODBC connection string as a driver reads them: a C string (it ends at
/// the first NUL), fields separated by ';', a value in braces ending at its closing brace. The
/// standard reading takes "}}" inside braces as one brace; FreeTDS ends the value at the first
/// '}'. Empty when the text cannot be read; `fault` then says why.
QList<QPair<QString, QString>> odbcAttributes(QString text, bool freeTds, QString* fault)
{
    const qsizetype nul = text.indexOf(QChar::Null);
    if (nul >= 0)
        text.truncate(nul);
    QList<QPair<QString, QString>> attributes;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype eq = text.indexOf(QLatin1Char('='), i);
        if (eq < 0) {
            *fault = QStringLiteral("a field without '=' at %1").arg(i);
            return {};
        }
        const QString key = text.mid(i, eq - i);
        i = eq + 1;
        QString value;
        if (i < text.size() && text[i] == QLatin1Char('{')) {
            ++i;
            for (;;) {
                if (i >= text.size()) {
                    *fault = QStringLiteral("the value of %1 has no closing brace").arg(key);
                    return {};
                }
                if (text[i] == QLatin1Char('}')) {
                    if (!freeTds && i + 1 < text.size() && text[i + 1] == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i++];
            }
            if (i < text.size() && text[i] != QLatin1Char(';')) {
                *fault = QStringLiteral("text after the braced value of %1").arg(key);
                return {};
            }
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            value = text.mid(i, end < 0 ? -1 : end - i);
            i = end < 0 ? text.size() : end;
        }
        attributes.append({key, value});
        ++i; // ';'
    }
    return attributes;
}

QStringList namesOf(const QList<QPair<QString, QString>>& fields)
{
    QStringList names;
    for (const auto& f : fields)
        names << f.first;
    return names;
}

/// The field names a composed connection string must have, whatever its values.
QStringList expectedFields(const QString& composedWithPlainValues)
{
    return namesOf(db::ConnectionString::parse(composedWithPlainValues).fields());
}

/// The lines of an INI file without their line ends, leaving out those that start with `key`.
QList<QByteArray> otherLines(const QByteArray& file, const QByteArray& key)
{
    QList<QByteArray> lines;
    for (QByteArray line : file.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.trimmed().toLower().startsWith(key))
            lines << line;
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

/// Whether every line of a log or of standard error is one entry: it starts as `entry` says and
/// holds no control character but the tab (no CR to overwrite it, no escape to drive a terminal).
bool oneEntryALine(const QString& text, const QRegularExpression& entry)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return std::all_of(lines.begin(), lines.end(), [&](const QString& line) {
        return entry.match(line).hasMatch() && std::none_of(line.begin(), line.end(), [](QChar c) {
            return c != QLatin1Char('\t') && c.category() == QChar::Other_Control;
        });
    });
}

const QRegularExpression kLogEntry(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (start-up: |cycle \\d)"));

/// What one start-up did.
struct Startup
{
    Agent::Startup state = Agent::Startup::NotRun;
    std::optional<ExitStatus> ended;
    QStringList messages;
    int remoteLoginsAsked = 0;
    QString local; // the local connection string it composed
    QString remote; // the remote one, once the local database answered
    int interval = 0;
    int timerInterval = 0;
    bool windowsAuth = false;
    QString log;

    bool refused() const
    {
        return state == Agent::Startup::WaitingForAddress
            || (state == Agent::Startup::Ending && ended == ExitStatus::StartupIncomplete);
    }
    QString describe() const
    {
        return QStringLiteral("state %1, ended %2, messages: %3")
            .arg(int(state))
            .arg(ended ? int(*ended) : -1)
            .arg(messages.join(QStringLiteral(" | ")).left(300));
    }
};

} // namespace

/// Hostile settings and credentials: "Time", "WinAuth", missing keys, the connection keys and a
/// garbled paths.ini, in the registry form and the INI form, and remote and local credentials.
/// The agent starts or refuses cleanly, a value never adds a connection-string field or ODBC
/// attribute nor leads to a database it does not name, and no other key is rewritten.
class TestHostileSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_good; // the crib's databases
    QString m_decoy; // databases a smuggled field could lead to
    QMap<QString, QByteArray> m_decoys;
    QList<HostileValue> m_corpus;
    int m_configs = 0;

    int m_tried = 0;
    int m_added = 0; // connection-string fields or ODBC attributes a value added or changed
    int m_smuggled = 0; // start-ups that reached a database the settings do not name
    int m_rewritten = 0; // other keys changed by a start-up
    int m_refused = 0; // start-ups that ended cleanly without starting
    int m_driverRefusals = 0; // connection strings a driver's rules refuse, naming the field
    int m_unnamed = 0; // such refusals that name no field

    /// The settings of a working crib: both embedded databases in m_good.
    QVariantMap goodSettings() const
    {
        const QString server = QStringLiteral("sqlite:") + m_good;
        return {{"SERVER", server}, {"DATABASENAME", DemoDatabases::localName()}, {"LOGIN", "sa"},
            {"PASSWORD", EncodeCredential("pw")}, {"WinAuth", "1"}, {"IPADDRESS", server}, {"PortNo", "1433"}};
    }

    /// A fresh settings folder. The registry form keeps `values` in settings.ini (a null value
    /// leaves the key out); the INI form blocks settings.ini and keeps them in section "Paths" of
    /// paths.ini, written line by line as they stand. `paths` goes first into paths.ini.
    QString settingsFolder(const QVariantMap& values, bool iniForm, const QByteArray& paths = {})
    {
        const QString folder = m_dir.filePath(QStringLiteral("cfg%1").arg(++m_configs));
        QDir().mkpath(folder);
        QByteArray file = paths.isNull() ? QByteArray("[Cribsync]\nOdbcDriver=" + kNoDriver.toUtf8() + "\n") : paths;
        if (iniForm) {
            // A folder named settings.ini can be neither opened nor created as the key.
            QDir(folder).mkdir(QStringLiteral("settings.ini"));
            file += "[Paths]\n";
            for (auto it = values.begin(); it != values.end(); ++it) {
                if (!it.value().isNull())
                    file += it.key().toUtf8() + '=' + it.value().toString().toUtf8() + '\n';
            }
        } else {
            QSettings key(QDir(folder).filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
            for (auto it = values.begin(); it != values.end(); ++it) {
                if (!it.value().isNull())
                    key.setValue(it.key(), it.value());
            }
        }
        writeFile(QDir(folder).filePath(QStringLiteral("paths.ini")), file);
        return folder;
    }

    /// The store's keys as a fresh reader sees them.
    static QMap<QString, QString> storeValues(const QString& folder)
    {
        ConfigStore store = ConfigStore::inFolder(folder);
        QMap<QString, QString> values;
        // Opening the registry form would create settings.ini: read it only when it is there.
        if (QFileInfo(QDir(folder).filePath(QStringLiteral("settings.ini"))).isFile()) {
            QSettings key(QDir(folder).filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
            for (const QString& name : key.allKeys())
                values.insert(name, key.value(name).toString());
            return values;
        }
        for (StoreKey k : kStoreKeys)
            values.insert(keyName(k), store.read(k));
        return values;
    }

    /// One start-up of the agent on `folder`, as the program runs it; `dialog` answers the remote
    /// login dialog once (nothing closes it without values).
    Startup start(const QString& folder, const std::optional<NetLoginValues>& dialog = {})
    {
        Startup s;
        {
            FakeHost host;
            if (dialog)
                host.remoteLogins << dialog;
            Agent agent(ConfigStore::inFolder(folder), &host, &systemClock, &systemZones, kMachine);
            agent.FormCreate();
            s.state = agent.startup();
            s.ended = host.ended;
            s.messages = host.messages;
            s.remoteLoginsAsked = host.remoteLoginsAsked;
            s.local = agent.engine().MSDEConnection().connectionString();
            s.remote = agent.engine().RemoteConnectionString();
            s.interval = agent.SyncIntervalSeconds();
            s.timerInterval = agent.Timer1()->interval();
            s.windowsAuth = agent.UseWindowsAuth();
            s.log = QString::fromUtf8(readFile(agent.log().filePath()));
        }
        db::ConnectionPool::instance().clear();
        return s;
    }

    /// Faults of `connectionString` against what the settings put into it: the fields it must
    /// have, each value where it belongs, and for ODBC the attributes each driver would read
    /// (or a refusal that names the field).
    QStringList connectionFaults(const QString& what, const QString& connectionString, const QStringList& fields,
        const QMap<QString, QString>& values)
    {
        QStringList faults;
        db::ConnectionString cs;
        try {
            cs = db::ConnectionString::parse(connectionString);
        } catch (const db::DbError& e) {
            ++m_added;
            return {what + QStringLiteral(": the composed string does not parse: ") + e.message()};
        }
        if (namesOf(cs.fields()) != fields) {
            ++m_added;
            faults << what + QStringLiteral(": fields ") + namesOf(cs.fields()).join(QLatin1Char('|'));
        }
        for (auto it = values.begin(); it != values.end(); ++it) {
            if (cs.value(it.key()) != it.value()) {
                ++m_added;
                faults << what + QStringLiteral(": %1 reads '%2'").arg(it.key(), cs.value(it.key()).left(100));
            }
        }
        if (!faults.isEmpty())
            return faults;

        const QString dataSource = cs.value(QStringLiteral("Data Source"));
        const QString catalog = cs.value(QStringLiteral("Initial Catalog"));
        const bool embedded = dataSource.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive);
        for (const QString& driver : kOdbcDrivers) {
            db::ConnectionTarget target;
            try {
                target = db::ConnectionTarget::fromConnectionString(connectionString, driver);
            } catch (const db::DbError& e) {
                ++m_driverRefusals;
                static const QStringList named = {"Data Source", "Initial Catalog", "User ID", "Password",
                    "Workstation ID", "Application Name", "sqlite:"};
                bool namesField = false;
                for (const QString& field : named)
                    namesField = namesField || e.message().contains(field);
                if (!namesField) {
                    ++m_unnamed;
                    faults << what + QStringLiteral(": refused without naming the field: ") + e.message();
                }
                continue;
            }
            if (embedded) {
                QString folder = dataSource.mid(7);
                if (folder.lastIndexOf(QLatin1Char(',')) >= 0)
                    folder.truncate(folder.lastIndexOf(QLatin1Char(',')));
                if (target.engine != db::ConnectionTarget::Engine::Sqlite
                    || target.sqliteFile != QDir(folder).filePath(catalog + QStringLiteral(".db"))) {
                    ++m_added;
                    faults << what + QStringLiteral(": the embedded file is ") + target.sqliteFile.left(200);
                }
                break; // no driver is involved
            }
            // The data source is a server with its port after the last comma.
            const qsizetype comma = dataSource.lastIndexOf(QLatin1Char(','));
            const QString server = comma < 0 ? dataSource : dataSource.left(comma).trimmed();
            const QString port = comma < 0 ? QString() : dataSource.mid(comma + 1).trimmed();
            using Attribute = QPair<QString, QString>;
            const bool freeTds = driver == QLatin1String("FreeTDS");
            QList<Attribute> expected = {{"DRIVER", driver}};
            if (freeTds || port.isEmpty())
                expected << Attribute{"SERVER", server};
            else
                expected << Attribute{"SERVER", server + QLatin1Char(',') + port};
            if (freeTds && !port.isEmpty())
                expected << Attribute{"PORT", port};
            if (!catalog.isEmpty())
                expected << Attribute{"DATABASE", catalog};
            if (cs.contains(QStringLiteral("Integrated Security")))
                expected << Attribute{"Trusted_Connection", "Yes"};
            else
                expected << Attribute{"UID", cs.value(QStringLiteral("User ID"))}
                         << Attribute{"PWD", cs.value(QStringLiteral("Password"))};
            expected << Attribute{"WSID", kMachine};
            if (cs.contains(QStringLiteral("Application Name")))
                expected << Attribute{"APP", cs.value(QStringLiteral("Application Name"))};
            if (!freeTds && cs.contains(QStringLiteral("Use Encryption for Data")))
                expected << Attribute{"Encrypt", "no"} << Attribute{"TrustServerCertificate", "yes"};
            QString fault;
            const auto read = odbcAttributes(target.odbcString, freeTds, &fault);
            if (read != expected) {
                ++m_added;
                faults << what
                        + QStringLiteral(" (%1): the driver reads %2 %3")
                              .arg(driver, namesOf(read).join(QLatin1Char('|')), fault);
            }
        }
        return faults;
    }

    /// The decoy databases' files: a start-up must never open them (opening one adds its -wal).
    QMap<QString, QByteArray> decoyFiles() const
    {
        QMap<QString, QByteArray> files = filesOf(m_decoy);
        for (const QString& name : {QStringLiteral("Decoy.db"), QStringLiteral("Decoy.db-wal")}) {
            const QString path = QDir(m_good).filePath(name);
            if (QFileInfo::exists(path))
                files.insert(path, readFile(path));
        }
        return files;
    }

    QStringList decoyFaults(const QString& what)
    {
        if (decoyFiles() == m_decoys)
            return {};
        ++m_smuggled;
        return {what + QStringLiteral(": a decoy database was opened")};
    }

    /// Credentials as stored: the corpus encoded as the agent encodes them (NULL stays NULL),
    /// values that would add a field once decoded, and stored text no encoding gives.
    QList<HostileValue> storedCredentials() const
    {
        QList<HostileValue> values;
        for (const HostileValue& hostile : m_corpus)
            values << HostileValue{hostile.label,
                hostile.value.isNull() ? QVariant() : QVariant(EncodeCredential(hostile.value.toString()))};
        const QString decoy = QStringLiteral("sqlite:") + m_decoy;
        values << HostileValue{"smuggled catalog", EncodeCredential("pw;Initial Catalog=Decoy")}
               << HostileValue{"smuggled data source", EncodeCredential("pw;Data Source=" + decoy)}
               << HostileValue{"smuggled ODBC attribute", EncodeCredential("pw};UID={sa")}
               << HostileValue{"braces and a semicolon", EncodeCredential("{pw;x}")}
               << HostileValue{"beyond 8 bits", QStringLiteral("日本🔧")}
               << HostileValue{"decodes to NUL", QStringLiteral("q")}
               << HostileValue{"NUL then a field", QStringLiteral("xq") + EncodeCredential(";Data Source=" + decoy)};
        return values;
    }

    /// connectionFaults of `connectionString` as it stands and with a server in place of its
    /// embedded data source, so that the drivers' attributes are checked too.
    QStringList credentialFaults(
        const QString& what, const QString& connectionString, const QStringList& fields, QMap<QString, QString> values)
    {
        QStringList faults = connectionFaults(what, connectionString, fields, values);
        if (!faults.isEmpty())
            return faults;
        db::ConnectionString server = db::ConnectionString::parse(connectionString);
        server.setValue(QStringLiteral("Data Source"), QStringLiteral("192.0.2.10,1433"));
        values.insert(QStringLiteral("Data Source"), QStringLiteral("192.0.2.10,1433"));
        return connectionFaults(what + QStringLiteral(" (server)"), server.toString(), fields, values);
    }

    void expectNoFaults(const QStringList& faults)
    {
        for (const QString& fault : faults)
            qWarning("%s", qPrintable(fault));
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("%1 faults, listed above").arg(faults.size())));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_corpus = hostileCorpus();
        m_good = m_dir.filePath(QStringLiteral("good"));
        m_decoy = m_dir.filePath(QStringLiteral("decoy"));
        QDir().mkpath(m_good);
        QDir().mkpath(m_decoy);
        DemoDatabases::create(m_good, kMachine, EncodeCredential(DemoDatabases::remoteName()),
            EncodeCredential(QStringLiteral("crib")), EncodeCredential(QStringLiteral("secret")));
        DemoDatabases::create(m_decoy, kMachine, EncodeCredential(DemoDatabases::remoteName()),
            EncodeCredential(QStringLiteral("crib")), EncodeCredential(QStringLiteral("secret")));
        db::ConnectionPool::instance().clear();
        // A catalog a smuggled "Initial Catalog" could name, beside the good ones.
        QVERIFY(QFile::copy(QDir(m_decoy).filePath(DemoDatabases::localName() + QStringLiteral(".db")),
            QDir(m_good).filePath(QStringLiteral("Decoy.db"))));
        m_decoys = decoyFiles();

        // The good settings start: the suite's refusals are the values' doing.
        const Startup s = start(settingsFolder(goodSettings(), false));
        QVERIFY2(s.state == Agent::Startup::Armed, qPrintable(s.describe()));
    }

    // SERVER, DATABASENAME, IPADDRESS and PortNo holding the corpus and values that try to add a
    // field of their own, in both forms of the store: each value stays in its one field (or the
    // driver's attribute), leads to no other database, and the start-up connects or refuses.
    void connectionKeysHoldingHostileText()
    {
        const QString good = QStringLiteral("sqlite:") + m_good;
        const QString decoy = QStringLiteral("sqlite:") + m_decoy;
        QList<HostileValue> values;
        for (const HostileValue& hostile : m_corpus) {
            // A key left out is the missing-keys case.
            if (!hostile.value.isNull())
                values << hostile;
        }
        values << HostileValue{"smuggled catalog", good + ";Initial Catalog=Decoy"}
               << HostileValue{"smuggled data source", DemoDatabases::localName() + ";Data Source=" + decoy}
               << HostileValue{"quoted smuggling", "x\";Data Source=\"" + decoy}
               << HostileValue{"single-quoted smuggling", "x';Data Source='" + decoy}
               << HostileValue{"braces", "{" + good + "};Initial Catalog=Decoy"}
               << HostileValue{"leading semicolon", ";Data Source=" + decoy}
               << HostileValue{"port then a field", "1433;Data Source=" + decoy}
               << HostileValue{"NUL", DemoDatabases::localName() + QStringLiteral(".db") + QChar::Null};
        const QStringList localFields = expectedFields(db::CribConnectionStrings::localWindowsAuth("d", "s", "m"));
        const QStringList remoteFields
            = expectedFields(db::CribConnectionStrings::remote("p", "l", "c", "a", "1", "m"));
        QStringList faults;
        for (const bool iniForm : {false, true}) {
            for (const char* key : {"SERVER", "DATABASENAME", "IPADDRESS", "PortNo"}) {
                for (const HostileValue& hostile : values) {
                    const QString what
                        = QStringLiteral("%1 %2 = %3").arg(iniForm ? "paths.ini" : "key", key, hostile.label);
                    QVariantMap settings = goodSettings();
                    settings[QLatin1String(key)] = hostile.value;
                    const QString folder = settingsFolder(settings, iniForm);
                    // What the store holds is what the agent reads: an INI line ends at a line break.
                    const QMap<QString, QString> stored = storeValues(folder);
                    const QMap<QString, QByteArray> files = filesOf(folder);
                    ++m_tried;
                    const Startup s = start(folder);
                    if (s.state != Agent::Startup::Armed && !s.refused())
                        faults << what + QStringLiteral(": neither started nor refused: ") + s.describe();
                    if (s.refused())
                        ++m_refused;
                    if (!s.local.isEmpty())
                        faults << connectionFaults(what + QStringLiteral(" (local)"), s.local, localFields,
                            {{"Data Source", stored.value("SERVER")}, {"Initial Catalog", stored.value("DATABASENAME")},
                                {"Workstation ID", kMachine}});
                    if (!s.remote.isEmpty())
                        faults << connectionFaults(what + QStringLiteral(" (remote)"), s.remote, remoteFields,
                            {{"Data Source", stored.value("IPADDRESS") + QLatin1Char(',') + stored.value("PortNo")},
                                {"Initial Catalog", DemoDatabases::remoteName()}, {"User ID", "crib"},
                                {"Password", "secret"}, {"Workstation ID", kMachine}});
                    faults << decoyFaults(what);
                    if (!oneEntryALine(s.log, kLogEntry))
                        faults << what + QStringLiteral(": a log entry spans lines or holds control characters");
                    // Only a port, which an embedded remote database ignores, leaves the crib's
                    // databases named; any other value here names none. A NUL is refused anywhere.
                    const QString port = stored.value("PortNo");
                    const bool usable = QLatin1String(key) == QLatin1String("PortNo") && !port.isEmpty()
                        && !port.contains(QLatin1Char(',')) && !port.contains(QChar::Null);
                    if (s.state == Agent::Startup::Armed && !usable) {
                        ++m_smuggled;
                        faults << what + QStringLiteral(": started on databases the settings do not name");
                    } else if (usable && s.state != Agent::Startup::Armed) {
                        faults << what + QStringLiteral(": refused a port it can do without: ") + s.describe();
                    }
                    QMap<QString, QByteArray> after = filesOf(folder);
                    after.remove(QDir(folder).filePath(QStringLiteral("cribsync.log")));
                    if (after != files) {
                        ++m_rewritten;
                        faults << what + QStringLiteral(": the settings files changed");
                    }
                }
            }
        }
        expectNoFaults(faults);
    }

    // "Time" of paths.ini: an integer is the interval, raised to 30 and held to what the timer can
    // count; anything else gives 30. The file is never rewritten.
    void syncTimeAsHostileText()
    {
        QList<HostileValue> values;
        for (const HostileValue& hostile : m_corpus)
            values << hostile;
        for (const char* text : {"5", "30", "45", "-5", "0", "+45", "2147483", "2147484", "2147483647", "-2147483648",
                 "4.5", "0x20", "1e3", "45 ", "\xd9\xa4\xd9\xa5", "\xef\xbc\x94\xef\xbc\x95"})
            values << HostileValue{QString::fromUtf8(text), QString::fromUtf8(text)};
        static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
        QStringList faults;
        for (const HostileValue& hostile : values) {
            const QString what = QStringLiteral("Time = ") + hostile.label;
            QByteArray paths = "[Cribsync]\nOdbcDriver=" + kNoDriver.toUtf8() + "\n";
            if (!hostile.value.isNull())
                paths += "[Corvane]\nTime=" + hostile.value.toString().toUtf8() + "\n";
            const QString folder = settingsFolder(goodSettings(), false, paths);
            const QString pathsFile = QDir(folder).filePath(QStringLiteral("paths.ini"));
            const QString stored = IniFile(pathsFile).value(QStringLiteral("Corvane"), QStringLiteral("Time"), {});
            bool fits = false;
            const int number = stored.toInt(&fits);
            const int expected = integer.match(stored).hasMatch() && fits
                ? std::clamp(number, int(Agent::MinimumInterval), int(Agent::MaximumInterval))
                : 30;
            ++m_tried;
            const Startup s = start(folder);
            if (s.state != Agent::Startup::Armed)
                faults << what + QStringLiteral(": did not start: ") + s.describe();
            else if (s.interval != expected || s.timerInterval != expected * 1000)
                faults << what
                        + QStringLiteral(": interval %1 s, timer %2 ms, %3 s expected")
                              .arg(s.interval)
                              .arg(s.timerInterval)
                              .arg(expected);
            if (readFile(pathsFile) != paths) {
                ++m_rewritten;
                faults << what + QStringLiteral(": paths.ini was rewritten");
            }
        }
        expectNoFaults(faults);
    }

    // "WinAuth" holding anything but "1" means SQL authentication and is stored back as "0", in
    // both forms; no other key or line changes, and the login and password go into their fields.
    void winAuthAsHostileText()
    {
        QList<HostileValue> values;
        for (const HostileValue& hostile : m_corpus) {
            if (!hostile.value.isNull())
                values << hostile;
        }
        for (const char* text : {"1", "yes", "TRUE", "1 ", " 1", "01", "1;", "\"1\"", "\xef\xbc\x91"})
            values << HostileValue{QString::fromUtf8(text), QString::fromUtf8(text)};
        const QStringList sqlFields = expectedFields(db::CribConnectionStrings::localSqlAuth("p", "l", "d", "s", "m"));
        const QStringList windowsFields = expectedFields(db::CribConnectionStrings::localWindowsAuth("d", "s", "m"));
        QStringList faults;
        for (const bool iniForm : {false, true}) {
            for (const HostileValue& hostile : values) {
                const QString what
                    = QStringLiteral("%1 WinAuth = %2").arg(iniForm ? "paths.ini" : "key", hostile.label);
                QVariantMap settings = goodSettings();
                settings["WinAuth"] = hostile.value;
                const QString folder = settingsFolder(settings, iniForm);
                const QMap<QString, QString> before = storeValues(folder);
                const QString pathsFile = QDir(folder).filePath(QStringLiteral("paths.ini"));
                const QByteArray pathsBefore = readFile(pathsFile);
                const bool windows = before.value("WinAuth") == QLatin1String("1");
                ++m_tried;
                const Startup s = start(folder);
                if (s.state != Agent::Startup::Armed || s.windowsAuth != windows)
                    faults << what
                            + QStringLiteral(": windows authentication %1, %2").arg(s.windowsAuth).arg(s.describe());
                faults << connectionFaults(what, s.local, windows ? windowsFields : sqlFields,
                    windows ? QMap<QString, QString>{{"Data Source", before.value("SERVER")}}
                            : QMap<QString, QString>{{"Data Source", before.value("SERVER")},
                                {"User ID", before.value("LOGIN")},
                                {"Password", DecodeCredential(before.value("PASSWORD"))}});
                QMap<QString, QString> expected = before;
                expected["WinAuth"] = windows ? QStringLiteral("1") : QStringLiteral("0");
                if (storeValues(folder) != expected) {
                    ++m_rewritten;
                    faults << what
                            + QStringLiteral(": the store reads %1")
                                  .arg(QStringList(storeValues(folder).values()).join(QLatin1Char('|')).left(200));
                }
                // The INI form rewrites the WinAuth line and keeps every other line as it was
                // (a file that holds one CR LF gets CR LF after every line).
                const QList<QByteArray> linesBefore = otherLines(pathsBefore, "winauth=");
                const QList<QByteArray> linesAfter = otherLines(readFile(pathsFile), "winauth=");
                if (linesBefore != linesAfter || (!iniForm && readFile(pathsFile) != pathsBefore)) {
                    ++m_rewritten;
                    faults << what + QStringLiteral(": other lines of paths.ini changed");
                }
            }
        }
        expectNoFaults(faults);
    }

    // Each key left out, in both forms, with SQL authentication: the agent asks for what the rules
    // say (the local login, which cannot be shown here, or the address), fails to open a database
    // the defaults do not name, or starts; only WinAuth is written.
    void missingKeys()
    {
        enum Outcome { Starts, Ends, Waits };
        struct Missing
        {
            const char* key;
            Outcome registry;
            Outcome ini;
        };
        const QList<Missing> keys = {{"SERVER", Ends, Ends}, {"DATABASENAME", Ends, Ends}, {"LOGIN", Starts, Starts},
            {"PASSWORD", Starts, Starts}, {"WinAuth", Starts, Starts}, {"IPADDRESS", Waits, Waits},
            {"PortNo", Waits, Waits}};
        const QStringList sqlFields = expectedFields(db::CribConnectionStrings::localSqlAuth("p", "l", "d", "s", "m"));
        QStringList faults;
        for (const bool iniForm : {false, true}) {
            for (const Missing& m : keys) {
                const QString what = QStringLiteral("%1 without %2").arg(iniForm ? "paths.ini" : "key", m.key);
                QVariantMap settings = goodSettings();
                settings["WinAuth"] = QStringLiteral("0");
                settings[QLatin1String(m.key)] = QVariant();
                const QString folder = settingsFolder(settings, iniForm);
                const QMap<QString, QString> before = storeValues(folder);
                const QString pathsFile = QDir(folder).filePath(QStringLiteral("paths.ini"));
                const QByteArray pathsBefore = readFile(pathsFile);
                ++m_tried;
                const Startup s = start(folder);
                const Outcome expected = iniForm ? m.ini : m.registry;
                const Outcome got = s.state == Agent::Startup::Armed                                ? Starts
                    : s.state == Agent::Startup::WaitingForAddress                                  ? Waits
                    : s.state == Agent::Startup::Ending && s.ended == ExitStatus::StartupIncomplete ? Ends
                                                                                                    : Outcome(-1);
                if (got != expected)
                    faults << what + QStringLiteral(": ") + s.describe();
                if (got != Starts)
                    ++m_refused;
                if (!s.local.isEmpty())
                    faults << connectionFaults(what, s.local, sqlFields,
                        {{"Data Source", before.value("SERVER")}, {"Initial Catalog", before.value("DATABASENAME")},
                            {"User ID", before.value("LOGIN")},
                            {"Password", DecodeCredential(before.value("PASSWORD"))}});
                QMap<QString, QString> expectedStore = before;
                if (QLatin1String(m.key) == QLatin1String("WinAuth") || iniForm)
                    expectedStore["WinAuth"] = QStringLiteral("0");
                if (s.state == Agent::Startup::Ending && QLatin1String(m.key) == QLatin1String("SERVER"))
                    expectedStore = before; // the settings were never read
                // A key the INI form reads as its default is not written as such either.
                if (storeValues(folder) != expectedStore
                    || otherLines(readFile(pathsFile), "winauth=") != otherLines(pathsBefore, "winauth=")) {
                    ++m_rewritten;
                    faults << what + QStringLiteral(": keys written: ")
                            + QStringList(storeValues(folder).keys()).join(QLatin1Char('|'));
                }
            }
        }
        expectNoFaults(faults);
    }

    // paths.ini garbled: binary garbage, keys without a section, keys and sections given twice,
    // garbage lines among good ones with mixed line ends. The first of two equal keys counts, a
    // garbled store asks for the settings (which ends the program here), and nothing but a
    // WinAuth that is not "1" is ever written.
    void garbledPathsIni()
    {
        const QString good = QStringLiteral("sqlite:") + m_good;
        const QString decoy = QStringLiteral("sqlite:") + m_decoy;
        QByteArray garbage(4096, '\0');
        QRandomGenerator random(20261208);
        for (char& byte : garbage)
            byte = char(random.bounded(256));
        // Written by an 8-bit program: the encoded password is one byte a character.
        const auto lines = [](const QVariantMap& values) {
            QByteArray text;
            for (auto it = values.begin(); it != values.end(); ++it)
                text += it.key().toLatin1() + '=' + it.value().toString().toLatin1() + '\n';
            return text;
        };
        QVariantMap sqlAuth = goodSettings();
        sqlAuth.remove("WinAuth");
        const QByteArray driver = "[Cribsync]\nOdbcDriver=" + kNoDriver.toUtf8() + "\n";
        struct Case
        {
            QString label;
            bool iniForm;
            QByteArray paths;
            Agent::Startup expected;
            int interval = 30;
        };
        const QList<Case> cases = {
            {"registry form, binary garbage", false, garbage, Agent::Startup::Armed},
            {"registry form, Time twice", false,
                driver + "[Corvane]\nTime=45\nTime=5\n[Corvane]\nTime=600\n[Cribsync]\nOdbcDriver=FreeTDS\n",
                Agent::Startup::Armed, 45},
            {"registry form, Time without a section", false, "Time=45\n" + driver, Agent::Startup::Armed},
            {"INI form, binary garbage", true, garbage, Agent::Startup::Ending},
            {"INI form, no sections", true, lines(goodSettings()), Agent::Startup::Ending},
            {"INI form, keys twice", true,
                driver + "[Paths]\n" + lines(sqlAuth) + "WinAuth=junk\nSERVER=" + decoy.toUtf8()
                    + "\nDATABASENAME=Decoy\nWinAuth=1\n[Paths]\nSERVER=" + decoy.toUtf8() + "\nWinAuth=1\n",
                Agent::Startup::Armed},
            {"INI form, garbage among the keys", true,
                garbage.left(300) + "\r\n" + driver + "[Paths]\r\n" + garbage.mid(300, 200) + "\n" + lines(sqlAuth)
                    + "\rWinAuth=junk\r\n" + garbage.mid(500, 200) + "\n[Corvane]\r\nTime=45\n",
                Agent::Startup::Armed, 45},
        };
        QStringList faults;
        for (const Case& c : cases) {
            const QString folder = settingsFolder(goodSettings(), false, c.paths);
            if (c.iniForm) {
                QFile::remove(QDir(folder).filePath(QStringLiteral("settings.ini")));
                QDir(folder).mkdir(QStringLiteral("settings.ini"));
            }
            const QString pathsFile = QDir(folder).filePath(QStringLiteral("paths.ini"));
            const QString winAuthBefore = IniFile(pathsFile).value("Paths", "WinAuth", "0");
            ++m_tried;
            const Startup s = start(folder);
            if (s.state != c.expected
                || (s.state == Agent::Startup::Ending && s.ended != ExitStatus::StartupIncomplete))
                faults << c.label + QStringLiteral(": ") + s.describe();
            if (s.refused())
                ++m_refused;
            if (s.state == Agent::Startup::Armed && s.interval != c.interval)
                faults << c.label + QStringLiteral(": interval %1").arg(s.interval);
            if (s.state == Agent::Startup::Armed
                && !s.local.startsWith(QStringLiteral("Provider=SQLOLEDB.1;Password=pw;")) == c.iniForm)
                faults << c.label + QStringLiteral(": the local string is ") + s.local.left(200);
            faults << decoyFaults(c.label);
            // Only a started INI form writes, and only its first WinAuth line, as "0".
            const bool rewrites = c.iniForm && s.state == Agent::Startup::Armed && winAuthBefore != QLatin1String("1");
            const QByteArray after = readFile(pathsFile);
            if (rewrites ? otherLines(after, "winauth=") != otherLines(c.paths, "winauth=") : after != c.paths) {
                ++m_rewritten;
                faults << c.label + QStringLiteral(": other lines of paths.ini changed");
            }
            if (rewrites) {
                const auto winAuthLines = [](const QByteArray& file) {
                    QList<QByteArray> lines;
                    for (const QByteArray& line : file.split('\n')) {
                        if (line.trimmed().toLower().startsWith("winauth="))
                            lines << line.trimmed();
                    }
                    return lines;
                };
                const QList<QByteArray> winAuth = winAuthLines(after);
                if (winAuth.value(0) != "WinAuth=0" || winAuth.mid(1) != winAuthLines(c.paths).mid(1))
                    faults << c.label + QStringLiteral(": the WinAuth lines read ") + winAuth.join('|');
            }
        }
        expectNoFaults(faults);
    }

    // The remote catalog, login and password of the local Company row, encoded as the agent
    // stores them, holding the corpus and values that try to add a field, and encoded text no
    // encoding gives (characters beyond 8 bits, a 'q' that decodes to NUL): each reaches the
    // remote connection string as its one field and each driver's attribute, or the start-up
    // refuses and the driver's refusal names the field. The Company row is never rewritten.
    void remoteCredentialsHoldingHostileText()
    {
        db::Connection company(QStringLiteral("seed"));
        company.setConnectionString(
            QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(m_good, DemoDatabases::localName()));
        company.open();
        const QStringList columns = {"ASPDataBaseName", "ASPLoginName", "ASPPassword"};
        const auto row = [&] {
            return company.query(QStringLiteral("SELECT ASPDataBaseName, ASPLoginName, ASPPassword FROM Company"))
                .rows.value(0);
        };
        const QVariantList original = row();
        const QList<HostileValue> values = storedCredentials();
        const QStringList remoteFields
            = expectedFields(db::CribConnectionStrings::remote("p", "l", "c", "a", "1", "m"));
        const QString folder = settingsFolder(goodSettings(), false);
        QStringList faults;
        for (int column = 0; column < columns.size(); ++column) {
            for (const HostileValue& hostile : values) {
                const QString what = QStringLiteral("%1 = %2").arg(columns[column], hostile.label);
                try {
                    company.execute(
                        QStringLiteral("UPDATE Company SET %1 = :v").arg(columns[column]), bind({hostile.value}));
                } catch (const db::DbError& e) {
                    // Longer than the column (varchar(50)): no crib database holds it.
                    if (e.sqlState() != QLatin1String("22001"))
                        throw;
                    continue;
                }
                const QVariantList stored = row();
                ++m_tried;
                const Startup s = start(folder);
                const QString catalog = DecodeCredential(stored[0].toString());
                const QString login = DecodeCredential(stored[1].toString());
                const QString password = DecodeCredential(stored[2].toString());
                // The embedded remote database takes any login and password, but only its own name.
                const QString decoded = DecodeCredential(hostile.value.toString());
                const bool usable = column > 0 && !hostile.value.toString().isEmpty() && !decoded.contains(QChar::Null);
                if (s.state == Agent::Startup::Armed ? !usable : !s.refused())
                    faults << what + QStringLiteral(": ") + s.describe();
                if (s.state == Agent::Startup::Armed && !usable)
                    ++m_smuggled;
                if (s.refused())
                    ++m_refused;
                if (!s.remote.isEmpty())
                    faults << credentialFaults(what, s.remote, remoteFields,
                        {{"Password", password}, {"User ID", login}, {"Initial Catalog", catalog},
                            {"Workstation ID", kMachine}});
                else if (!hostile.value.toString().isEmpty())
                    faults << what + QStringLiteral(": no remote connection string was composed");
                faults << decoyFaults(what);
                if (!oneEntryALine(s.log, kLogEntry))
                    faults << what + QStringLiteral(": a log entry spans lines or holds control characters");
                if (row() != stored) {
                    ++m_rewritten;
                    faults << what + QStringLiteral(": the Company row was rewritten");
                }
            }
            company.execute(
                QStringLiteral("UPDATE Company SET %1 = :v").arg(columns[column]), bind({original[column]}));
        }
        company.close();
        expectNoFaults(faults);
    }

    // The remote login dialog, asked when the stored credentials do not connect, typed full of
    // the corpus: the three values are stored encoded exactly as typed and reach the remote
    // connection string as one field each, or the driver's refusal names the field.
    void remoteLoginDialogValues()
    {
        db::Connection company(QStringLiteral("seed"));
        company.setConnectionString(
            QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(m_good, DemoDatabases::localName()));
        company.open();
        const auto row = [&] {
            return company.query(QStringLiteral("SELECT ASPDataBaseName, ASPLoginName, ASPPassword FROM Company"))
                .rows.value(0);
        };
        const QVariantList original = row();
        const QStringList remoteFields
            = expectedFields(db::CribConnectionStrings::remote("p", "l", "c", "a", "1", "m"));
        const QString folder = settingsFolder(goodSettings(), false);
        QStringList faults;
        for (const bool goodCatalog : {false, true}) {
            for (const HostileValue& hostile : m_corpus) {
                const QString v = hostile.value.toString();
                // Company keeps each credential in a varchar(50) column: a longer one cannot be stored.
                if (EncodeCredential(v).size() > 50)
                    continue;
                const QString what
                    = QStringLiteral("dialog %1= %2").arg(goodCatalog ? "login and password " : "", hostile.label);
                // Stored credentials that do not connect: the catalog names no database.
                company.execute(QStringLiteral("UPDATE Company SET ASPDataBaseName = :v"),
                    bind({EncodeCredential(QStringLiteral("NoSuchCatalog"))}));
                const NetLoginValues typed{goodCatalog ? DemoDatabases::remoteName() : v, v, v};
                ++m_tried;
                const Startup s = start(folder, typed);
                // The embedded remote database takes any login and password, even empty ones.
                const bool usable = goodCatalog && !v.contains(QChar::Null);
                if (s.state == Agent::Startup::Armed ? !usable : !s.refused())
                    faults << what + QStringLiteral(": ") + s.describe();
                if (s.refused())
                    ++m_refused;
                const QVariantList stored = row();
                if (stored
                    != QVariantList{EncodeCredential(typed.database), EncodeCredential(typed.login),
                        EncodeCredential(typed.password)}) {
                    ++m_rewritten;
                    faults << what + QStringLiteral(": Company holds other values than those typed");
                }
                faults << credentialFaults(what, s.remote, remoteFields,
                    {{"Password", typed.password}, {"User ID", typed.login}, {"Initial Catalog", typed.database},
                        {"Workstation ID", kMachine}});
                faults << decoyFaults(what);
            }
        }
        company.execute(
            QStringLiteral("UPDATE Company SET ASPDataBaseName = :v, ASPLoginName = :v1, ASPPassword = :v2"),
            bind(original));
        company.close();
        expectNoFaults(faults);
    }

    // The local LOGIN and PASSWORD with SQL authentication, in both forms, holding the same
    // values: each reaches the local connection string as its one field and each driver's
    // attribute, or the driver's refusal names the field.
    void localCredentialsHoldingHostileText()
    {
        const QStringList sqlFields = expectedFields(db::CribConnectionStrings::localSqlAuth("p", "l", "d", "s", "m"));
        QStringList faults;
        for (const bool iniForm : {false, true}) {
            for (const char* key : {"LOGIN", "PASSWORD"}) {
                for (const HostileValue& hostile : storedCredentials()) {
                    if (hostile.value.isNull())
                        continue; // a key left out is the missing-keys case
                    const QString what
                        = QStringLiteral("%1 %2 = %3").arg(iniForm ? "paths.ini" : "key", key, hostile.label);
                    QVariantMap settings = goodSettings();
                    settings["WinAuth"] = QStringLiteral("0");
                    // A login is stored as typed, a password encoded.
                    settings[QLatin1String(key)] = QLatin1String(key) == QLatin1String("LOGIN")
                        ? QVariant(DecodeCredential(hostile.value.toString()))
                        : hostile.value;
                    const QString folder = settingsFolder(settings, iniForm);
                    const QMap<QString, QString> stored = storeValues(folder);
                    const QString login = stored.value("LOGIN");
                    const QString password = DecodeCredential(stored.value("PASSWORD"));
                    ++m_tried;
                    const Startup s = start(folder);
                    const bool usable = !login.contains(QChar::Null) && !password.contains(QChar::Null);
                    if (s.state == Agent::Startup::Armed ? !usable : !s.refused())
                        faults << what + QStringLiteral(": ") + s.describe();
                    if (s.refused())
                        ++m_refused;
                    faults << credentialFaults(what, s.local, sqlFields,
                        {{"Password", password}, {"User ID", login}, {"Initial Catalog", stored.value("DATABASENAME")},
                            {"Workstation ID", kMachine}});
                    faults << decoyFaults(what);
                }
            }
        }
        expectNoFaults(faults);
    }

    // settings.ini edited by hand as the command-line guide shows it, with comments: a start-up
    // that finds WinAuth already "0" leaves the file as it was, comments and all.
    void handEditedKeyFileKeepsItsLines()
    {
        const QString folder = settingsFolder({}, false);
        const QString keyFile = QDir(folder).filePath(QStringLiteral("settings.ini"));
        const QByteArray text = "[General]\nSERVER=sqlite:" + m_good.toUtf8() + "\nDATABASENAME="
            + DemoDatabases::localName().toUtf8() + "\nLOGIN=sa\nPASSWORD=" + EncodeCredential("pw").toUtf8()
            + "        ; scrambled, as the login dialog stored it\nWinAuth=0\n; the hosted copy\nIPADDRESS=sqlite:"
            + m_good.toUtf8() + "\nPortNo=1433\n";
        QVERIFY(writeFile(keyFile, text));
        ++m_tried;
        const Startup s = start(folder);
        QVERIFY2(s.state == Agent::Startup::Armed && !s.windowsAuth, qPrintable(s.describe()));
        if (readFile(keyFile) != text) {
            ++m_rewritten;
            QFAIL(qPrintable(QStringLiteral("settings.ini was rewritten:\n") + QString::fromUtf8(readFile(keyFile))));
        }
    }

    // The program itself, headless: a refusal ends it with status 2 and says why on standard
    // error; a port with a field of its own, a WinAuth and a Time of garbage still give a cycle.
    void headlessRunsEndWithStatusTwoAndSayWhy()
    {
        const QString decoy = QStringLiteral("sqlite:") + m_decoy;
        QByteArray garbage(2048, '\0');
        QRandomGenerator random(8122026);
        for (char& byte : garbage)
            byte = char(random.bounded(256));
        struct Case
        {
            QString label;
            QString folder;
            int status;
            QString says;
        };
        QVariantMap missingCatalog = goodSettings();
        missingCatalog.remove("DATABASENAME");
        QVariantMap smuggled = goodSettings();
        smuggled["SERVER"] = QStringLiteral("sqlite:") + m_good + QStringLiteral(";Initial Catalog=Decoy");
        QVariantMap forged = goodSettings();
        forged["DATABASENAME"] = QStringLiteral("x\r\n2026-01-01 00:00:00 cycle 9 completed: forged\x1b[2J");
        QVariantMap garbled = goodSettings();
        garbled["PortNo"] = QStringLiteral("1433;Data Source=") + decoy;
        garbled["WinAuth"] = QStringLiteral("\x01junk");
        QList<Case> cases = {
            {"garbage paths.ini", settingsFolder(goodSettings(), true, garbage), 2, "name no local server"},
            {"no DATABASENAME", settingsFolder(missingCatalog, false), 2, "cannot open the local database"},
            {"a smuggled catalog", settingsFolder(smuggled, false), 2, "cannot open the local database"},
            {"a forged log line", settingsFolder(forged, false), 2, "forged"},
            {"a port with a field and garbage WinAuth and Time",
                settingsFolder(
                    garbled, false, "[Corvane]\nTime=-5\n[Cribsync]\nOdbcDriver=" + kNoDriver.toUtf8() + "\n"),
                0, "cycle 1 completed"},
        };
        // Garbage in place of paths.ini's own keys.
        QFile::remove(QDir(cases[0].folder).filePath(QStringLiteral("paths.ini")));
        writeFile(QDir(cases[0].folder).filePath(QStringLiteral("paths.ini")), garbage);
        QStringList faults;
        AgentProcess agent;
        for (const Case& c : cases) {
            const QMap<QString, QString> before = storeValues(c.folder);
            const QByteArray paths = readFile(QDir(c.folder).filePath(QStringLiteral("paths.ini")));
            ++m_tried;
            const AgentResult result = agent.runOnce(c.folder, kMachine, 120000);
            if (!result.exitedWith(c.status) || !result.standardError.contains(c.says))
                faults << c.label + QStringLiteral(": ") + result.describe();
            // Standard error holds the log lines and the messages, one a line.
            static const QRegularExpression line(QStringLiteral("^(?!2026-01-01)"));
            if (!oneEntryALine(result.standardError, line))
                faults << c.label + QStringLiteral(": standard error holds a forged line or control characters");
            if (c.status == 2)
                ++m_refused;
            faults << decoyFaults(c.label);
            QMap<QString, QString> expected = before;
            if (c.status == 0)
                expected["WinAuth"] = QStringLiteral("0");
            if (storeValues(c.folder) != expected || readFile(QDir(c.folder).filePath("paths.ini")) != paths) {
                ++m_rewritten;
                faults << c.label + QStringLiteral(": the settings changed");
            }
        }
        expectNoFaults(faults);
    }

    void cleanupTestCase()
    {
        std::printf("hostile settings: inputs tried=%d fields added or changed=%d databases reached that the settings "
                    "do not name=%d other keys rewritten=%d start-ups refused=%d driver refusals=%d refusals not "
                    "naming the field=%d\n",
            m_tried, m_added, m_smuggled, m_rewritten, m_refused, m_driverRefusals, m_unnamed);
        std::fflush(stdout);
    }
};

QTEST_GUILESS_MAIN(TestHostileSettings)
#include "TestHostileSettings.moc"
