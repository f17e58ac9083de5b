#include "app/CrashReport.h"
#include "app/GuiApplication.h"
#include "app/MessageBox.h"
#include "app/TForm1.h"
#include "cycle/Agent.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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
