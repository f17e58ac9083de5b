#include "app/MessageBox.h"
#include "app/TForm1.h"
#include "cycle/Agent.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "demo/DemoSetup.h"
#include "support/Files.h"
#include "support/RawConnection.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

/// The window on a desktop whose tray the test chooses.
class TrayForm : public TForm1
{
public:
    TrayForm(ConfigStore config, bool tray)
        : TForm1(std::move(config), QStringLiteral("CRIB-7"))
        , m_tray(tray)
    { }

protected:
    bool trayAvailable() const override { return m_tray; }

private:
    bool m_tray;
};

} // namespace

/// The main window: its controls, the start-up messages, Change, Connect, closing, and the login
/// dialog of the first configuration.
class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    template <typename T> static T* child(QWidget* parent, const char* name)
    {
        T* widget = parent->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no %s", name);
        return widget;
    }

    // The demo databases in `dir`; without an address start-up stops before connecting them.
    static void fillKey(const QTemporaryDir& dir, bool withAddress)
    {
        DemoSetup::prepare(dir.path(), QStringLiteral("CRIB-T"));
        QSettings key(dir.filePath("settings.ini"), QSettings::IniFormat);
        if (!withAddress) {
            key.setValue("IPADDRESS", "");
            key.setValue("PortNo", "");
        }
    }

    static QString keyValue(const QTemporaryDir& dir, const char* name)
    {
        return QSettings(dir.filePath("settings.ini"), QSettings::IniFormat).value(name).toString();
    }

    // Answers the next modal dialog once it is up.
    static void whenDialogShows(const std::function<void(QWidget*)>& answer)
    {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                poll->deleteLater();
                poll->stop();
                answer(dialog);
            }
        });
        poll->start(10);
    }

private Q_SLOTS:
    void init()
    {
        MessageBox::setAutoAnswer(true);
        MessageBox::clearShown();
    }

    void controlsStartAsDesigned()
    {
        QTemporaryDir dir;
        fillKey(dir, true);
        TForm1 form(ConfigStore::inFolder(dir.path()));
        QCOMPARE(form.windowTitle(), QStringLiteral("ASP Update"));
        QCOMPARE(form.size(), QSize(657, 369));
        QVERIFY(form.windowFlags().testFlag(Qt::Tool)); // no task-bar button
        QVERIFY(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QCOMPARE(child<QLabel>(&form, "StatusLine")->text(), QStringLiteral("No cycle has run yet."));
        QVERIFY(child<QTableView>(&form, "DBGrid1")->editTriggers() == QAbstractItemView::NoEditTriggers);
        QCOMPARE(child<QLabel>(&form, "Label1")->text(), QStringLiteral("Quellora to ASP Processing Table:"));
        QCOMPARE(child<QLabel>(&form, "Label2")->text(), QStringLiteral("waiting..."));
        QCOMPARE(child<QProgressBar>(&form, "Gauge1")->value(), 0);
        QCOMPARE(child<QLabel>(&form, "Label3")->text(), QStringLiteral("IP Address:"));
        QCOMPARE(child<QLabel>(&form, "Label4")->text(), QStringLiteral("Port"));
        QCOMPARE(child<QPushButton>(&form, "Button1")->text(), QStringLiteral("Connect"));
        QCOMPARE(child<QLabel>(&form, "Label5")->text(), QStringLiteral("Run Time in seconds:"));
        QCOMPARE(child<QSpinBox>(&form, "edtime")->buttonSymbols(), QAbstractSpinBox::NoButtons);
        QCOMPARE(child<QPushButton>(&form, "btnChange")->text(), QStringLiteral("Change"));
        QCOMPARE(child<QPushButton>(&form, "BitBtn1")->text(), QStringLiteral("Close"));
        for (const char* hidden : {"Label3", "Edit1", "Label4", "edPort", "Button1"})
            QVERIFY2(child<QWidget>(&form, hidden)->isHidden(), hidden);
        for (const char* hidden : {"ListBox1", "ListBox2", "ListBox3", "LBRestructure"})
            QVERIFY2(child<QListWidget>(&form, hidden)->isHidden(), hidden);
        for (const char* shown : {"DBGrid1", "Label1", "Label2", "Gauge1", "Label5", "edtime", "btnChange", "BitBtn1"})
            QVERIFY2(!child<QWidget>(&form, shown)->isHidden(), shown);
        QVERIFY(child<QPushButton>(&form, "btnChange")->isEnabled());
        // A start-up that reached the remote database arms the timer and shows the tray icon.
        QVERIFY(form.agent()->Timer1()->isActive());
        QCOMPARE(form.agent()->Timer1()->interval(), 30000);
        QVERIFY(form.trayIcon()->isVisible());
        QVERIFY(child<QListWidget>(&form, "ListBox3")->count() > 0);
        QVERIFY(MessageBox::shown().isEmpty());
    }

    void aCycleShowsItsOutboxAndItsResult()
    {
        QTemporaryDir dir;
        fillKey(dir, true);
        TForm1 form(ConfigStore::inFolder(dir.path()), QStringLiteral("CRIB-T"));
        const CycleLog& log = form.agent()->log();
        auto* status = child<QLabel>(&form, "StatusLine");
        // While the cycle runs, the caption, the status line, the tooltip, Label2 and the gauge say
        // how far it is, for the outbox as for a table's push.
        auto* label2 = child<QLabel>(&form, "Label2");
        auto* gauge = child<QProgressBar>(&form, "Gauge1");
        QStringList shown;
        connect(&form.agent()->engine(), &SyncEngine::progressReported, &form, [&](const QString& text) {
            if (text.startsWith(QLatin1String("pushing BIN")) || text.startsWith(QLatin1String("applying"))
                || text.endsWith(QLatin1String(" orders")))
                shown << form.windowTitle() << status->text().section(QLatin1Char('\n'), 0, 0)
                      << form.trayIcon()->toolTip() << label2->text()
                      << QStringLiteral("%1 of %2").arg(gauge->value()).arg(gauge->maximum());
        });
        form.agent()->Timer1Timer();
        QCOMPARE(shown.mid(0, 5),
            QStringList({"ASP Update - pushing BIN 0%", "Cycle running: pushing BIN: 0 of 2 rows (0%)",
                "ASP Update\npushing BIN: 0 of 2 rows (0%)", "Bin", "0 of 2"}));
        QCOMPARE(shown.mid(shown.size() - 10, 5),
            QStringList(
                {"ASP Update - applying the outbox 0%", "Cycle running: applying the outbox: 0 of 10 orders (0%)",
                    "ASP Update\napplying the outbox: 0 of 10 orders (0%)", "Outbox", "0 of 10"}));
        QCOMPARE(shown.mid(shown.size() - 2), QStringList({"Outbox record 10 out of 10", "10 of 10"}));
        QCOMPARE(label2->text(), QStringLiteral("waiting..."));
        QCOMPARE(form.windowTitle(), QStringLiteral("ASP Update"));
        const QAbstractItemModel* rows = child<QTableView>(&form, "DBGrid1")->model();
        QVERIFY(rows->rowCount() > 0);
        QVERIFY(form.trayIcon()->toolTip().contains("cycle 1 completed"));
        QCOMPARE(status->text(), log.lastSummaryLine());
        QCOMPARE(form.trayIcon()->icon().cacheKey(), form.windowIcon().cacheKey());

        QVERIFY(moveDatabaseFile(dir.filePath("CribRemote.db"), dir.filePath("away.db")));
        form.agent()->Timer1Timer();
        QVERIFY2(status->text().startsWith(log.lastSummaryLine() + "\nLast failure: cycle 2 failure in probe"),
            qPrintable(status->text()));
        QVERIFY(status->text().contains("remote database unreachable"));
        QVERIFY(form.trayIcon()->icon().cacheKey() != form.windowIcon().cacheKey());
        QVERIFY(form.trayIcon()->toolTip().contains("cycle 2 failure in probe"));

        QVERIFY(moveDatabaseFile(dir.filePath("away.db"), dir.filePath("CribRemote.db")));
        form.agent()->Timer1Timer();
        QCOMPARE(status->text(), log.lastSummaryLine());
        QCOMPARE(form.trayIcon()->icon().cacheKey(), form.windowIcon().cacheKey());
        QVERIFY(MessageBox::shown().isEmpty());

        // An item the hosted side refuses three cycles in a row is named as stuck.
        QVERIFY(RawConnection(dir.filePath("CribRemote.db"))
                    .exec("CREATE TRIGGER refuse_item BEFORE INSERT ON Item WHEN NEW.MyNo = 'STUCK-1' BEGIN SELECT "
                          "RAISE(ABORT, 'item refused'); END"));
        QVERIFY(RawConnection(dir.filePath("CribLocal.db"))
                    .exec("INSERT INTO Item (MyNo, ASPProcessed) VALUES ('STUCK-1', 0)"));
        for (int cycle = 0; cycle < 3; ++cycle)
            form.agent()->Timer1Timer();
        QVERIFY2(status->text().contains("\n1 stuck: Item MyNo=STUCK-1 refused since "), qPrintable(status->text()));
        QVERIFY2(status->text().endsWith(": item refused"), qPrintable(status->text()));
        QVERIFY2(form.trayIcon()->toolTip().contains("1 stuck: Item MyNo=STUCK-1 refused since "),
            qPrintable(form.trayIcon()->toolTip()));
    }

    void emptyAddressAndPortShowBothMessagesAndBoxes()
    {
        QTemporaryDir dir;
        fillKey(dir, false);
        TForm1 form(ConfigStore::inFolder(dir.path()));
        QCOMPARE(MessageBox::shownTexts(), QStringList({"Need to edit IP address!", "Need to edit PortNo!"}));
        QCOMPARE(MessageBox::shown().front().caption, QCoreApplication::applicationName());
        for (const char* shown : {"Label3", "Edit1", "Label4", "edPort", "Button1"})
            QVERIFY2(!child<QWidget>(&form, shown)->isHidden(), shown);
        QVERIFY(form.trayIcon()->isVisible());
        QVERIFY(!form.agent()->Timer1()->isActive());
        QVERIFY(!form.ending());
    }

    void showingPutsTheIntervalIntoTheBox()
    {
        QTemporaryDir dir;
        fillKey(dir, true);
        QFile paths(dir.filePath("paths.ini"));
        QVERIFY(paths.open(QIODevice::WriteOnly));
        paths.write("[Corvane]\nTime=45\n");
        paths.close();
        TForm1 form(ConfigStore::inFolder(dir.path()));
        form.show();
        QCOMPARE(child<QSpinBox>(&form, "edtime")->value(), 45);
    }

    void changeWithTenRunsAtThirty()
    {
        QTemporaryDir dir;
        fillKey(dir, true);
        TForm1 form(ConfigStore::inFolder(dir.path()));
        form.show();
        auto* edtime = child<QSpinBox>(&form, "edtime");
        edtime->selectAll();
        QTest::keyClicks(edtime, "10");
        QTest::mouseClick(child<QPushButton>(&form, "btnChange"), Qt::LeftButton);

        QCOMPARE(form.agent()->config().syncTime(), 10);
        QCOMPARE(edtime->value(), 30);
        QVERIFY(form.agent()->Timer1()->isActive());
        QCOMPARE(form.agent()->Timer1()->interval(), 30000);
    }

    void connectStoresAddressAndPort()
    {
        QTemporaryDir dir;
        fillKey(dir, false);
        TForm1 form(ConfigStore::inFolder(dir.path()));
        MessageBox::clearShown();
        const QString address = QStringLiteral("sqlite:") + dir.path();
        QTest::keyClicks(child<QLineEdit>(&form, "Edit1"), address);
        QTest::keyClicks(child<QLineEdit>(&form, "edPort"), "1444");
        QTest::mouseClick(child<QPushButton>(&form, "Button1"), Qt::LeftButton);
        QCOMPARE(keyValue(dir, "IPADDRESS"), address);
        QCOMPARE(keyValue(dir, "PortNo"), QStringLiteral("1444"));
        QCOMPARE(form.agent()->RemoteAddress(), address);
        QVERIFY(!form.agent()->MachineName().isEmpty());
        QVERIFY(form.agent()->Timer1()->isActive());
        QVERIFY(MessageBox::shown().isEmpty());
    }

    void closeBoxHidesIntoTheTrayAndCloseEnds()
    {
        QTemporaryDir dir;
        fillKey(dir, true);
        TrayForm form(ConfigStore::inFolder(dir.path()), true);
        form.show();
        QVERIFY(!form.close());
        QVERIFY(!form.isVisible());
        QVERIFY(form.trayIcon()->isVisible());

        form.show();
        QTest::mouseClick(child<QPushButton>(&form, "BitBtn1"), Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QVERIFY(!form.trayIcon()->isVisible());
    }

    void withoutATrayTheCloseBoxEnds()
    {
        QTemporaryDir dir;
        fillKey(dir, false);
        TrayForm form(ConfigStore::inFolder(dir.path()), false);
        form.show();
        QVERIFY(form.trayIcon()->isVisible());
        QVERIFY(form.close());
        QVERIFY(!form.trayIcon()->isVisible());
    }

    void firstConfigurationThroughTheLoginDialog()
    {
        QTemporaryDir dir;
        whenDialogShows([](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Login"));
            child<QLineEdit>(dialog, "Edit1")->setText("SQL01");
            child<QLineEdit>(dialog, "Edit2")->setText("Crib");
            child<QCheckBox>(dialog, "WinAuth")->setChecked(true);
            QTest::mouseClick(child<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
        });
        TForm1 form(ConfigStore::inFolder(dir.path()));
        QCOMPARE(keyValue(dir, "SERVER"), QStringLiteral("SQL01"));
        QCOMPARE(keyValue(dir, "WinAuth"), QStringLiteral("1"));
        QVERIFY(form.agent()->UseWindowsAuth());
        QCOMPARE(MessageBox::shownTexts(), QStringList({"Need to edit IP address!", "Need to edit PortNo!"}));
    }

    void iniFormLoginClosedWithoutOkEndsTheProgram()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("settings.ini");
        whenDialogShows([](QWidget* dialog) {
            child<QLineEdit>(dialog, "Edit1")->setText("SQL01");
            child<QLineEdit>(dialog, "Edit2")->setText("Crib");
            child<QLineEdit>(dialog, "Edit3")->setText("sa");
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        TForm1 form(ConfigStore::inFolder(dir.path()));
        QVERIFY(form.ending());
        QCOMPARE(form.exitStatus(), ExitStatus::StartupIncomplete);
        QVERIFY(!QFile::exists(dir.filePath("paths.ini")));
        QVERIFY(MessageBox::shown().isEmpty());
    }

    void aLoginDialogEndedWithTheProgramStoresNothing()
    {
        QTemporaryDir dir;
        // As a SIGTERM does: every running event loop is told to end.
        whenDialogShows([](QWidget*) { QCoreApplication::exit(143); });
        TForm1 form(ConfigStore::inFolder(dir.path()));
        QVERIFY(form.ending());
        QCOMPARE(QSettings(dir.filePath("settings.ini"), QSettings::IniFormat).allKeys(), QStringList());

        // Let later tests run event loops again.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
