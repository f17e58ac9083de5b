#include "app/CrashReport.h"
#include "app/GuiApplication.h"
#include "app/MessageBox.h"
#include "app/TForm1.h"
#include "cycle/Agent.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "demo/DemoSetup.h"
#include "support/Files.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

/// A failure that no handler catches is shown as "Application Error!" and the program goes on.
class TestGuiCrashReport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        MessageBox::setAutoAnswer(true);
        MessageBox::clearShown();
    }

    void aFailureInTheEventLoopIsReportedAndTheLoopGoesOn()
    {
        bool later = false;
        QTimer::singleShot(0, [] { throw std::runtime_error("Table Bin is locked"); });
        QTimer::singleShot(0, [] { throw 42; });
        QTimer::singleShot(0, [&later] {
            later = true;
            QCoreApplication::exit(7);
        });
        QCOMPARE(QCoreApplication::exec(), 7);
        QVERIFY(later);
        QCOMPARE(MessageBox::shown().size(), 2);
        QCOMPARE(MessageBox::shown().front().caption, QStringLiteral("Application Error!"));
        QCOMPARE(MessageBox::shown().front().text, QStringLiteral("Table Bin is locked"));
        QCOMPARE(MessageBox::shown().last().text, QStringLiteral("Unknown failure"));
    }

    void aFailingButtonIsReportedAndTheWindowGoesOn()
    {
        QTemporaryDir dir;
        {
            QSettings key(dir.filePath("settings.ini"), QSettings::IniFormat);
            // Without an address start-up stops before the databases.
            for (const char* name : {"SERVER", "DATABASENAME", "LOGIN", "PortNo"})
                key.setValue(name, "x");
        }
        // The interval cannot be stored.
        QDir(dir.path()).mkdir("paths.ini");
        TForm1 form(ConfigStore::inFolder(dir.path()));
        MessageBox::clearShown();
        form.show();
        auto* change = form.findChild<QPushButton*>("btnChange");
        QTest::mouseClick(change, Qt::LeftButton);
        QTest::mouseClick(change, Qt::LeftButton);
        QCOMPARE(MessageBox::shown().size(), 2);
        QCOMPARE(MessageBox::shown().front().caption, QStringLiteral("Application Error!"));
        QVERIFY(MessageBox::shown().front().text.contains("paths.ini"));
        QVERIFY(!change->isDown());
        QVERIFY(!form.agent()->Timer1()->isActive());
        QVERIFY(form.isVisible());
    }

    /// The local database gone, every tick fails: one box stays open, the timer keeps running,
    /// and what it does not show goes to the log.
    void oneReportAtATime()
    {
        MessageBox::setAutoAnswer(false);
        QTemporaryDir dir;
        DemoSetup::prepare(dir.path(), QStringLiteral("CRIB-T"));
        TForm1 form(ConfigStore::inFolder(dir.path()), QStringLiteral("CRIB-T"));
        QVERIFY(moveDatabaseFile(
            dir.filePath("CribLocal.db"), dir.filePath("away.db"), {&form.agent()->engine().MSDEConnection()}));
        QTimer* timer = form.agent()->Timer1();
        timer->start(1);
        const CycleLog& log = form.agent()->log();

        // Watches from whatever event loop runs: a box shown modally would run the next tick
        // inside its own loop, and the next box inside that one.
        int mostOpen = 0;
        QString text;
        QEventLoop loop;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            QList<QMessageBox*> open;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                    open << box;
            }
            mostOpen = std::max(mostOpen, int(open.size()));
            if (log.cycleNumber() < 4)
                return;
            timer->stop();
            text = open.isEmpty() ? QString() : open.front()->informativeText();
            for (QMessageBox* box : open)
                box->done(0);
            loop.quit();
        });
        watch.start(5);
        loop.exec();

        QCOMPARE(mostOpen, 1);
        QVERIFY2(text.contains(QStringLiteral("%1 further failures").arg(log.cycleNumber() - 1)), qPrintable(text));
        QFile file(log.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()).count("Application Error! not shown"), log.cycleNumber() - 1);
    }

    void aFailingStartUpLeavesTheWindowOpen()
    {
        // Neither the key nor paths.ini can be written: first configuration fails to store.
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("settings.ini");
        QDir(dir.path()).mkdir("paths.ini");
        QTimer::singleShot(0, [] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            for (const char* name : {"Edit1", "Edit2", "Edit3"})
                dialog->findChild<QLineEdit*>(name)->setText("x");
            QTest::mouseClick(dialog->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
        });
        TForm1 form(ConfigStore::inFolder(dir.path()));
        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::shown().front().caption, QStringLiteral("Application Error!"));
        QVERIFY(MessageBox::shown().front().text.contains("paths.ini"));
        QVERIFY(!form.ending());
        QCOMPARE(form.agent()->startup(), Agent::Startup::InProgress);
        QVERIFY(!form.agent()->Timer1()->isActive());
        form.show();
        QVERIFY(form.isVisible());
    }
};

int main(int argc, char* argv[])
{
    GuiApplication app(argc, argv);
    TestGuiCrashReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestGuiCrashReport.moc"
