#include "app/MessageBox.h"
#include "app/TfmLogin.h"
#include "app/TfmNetLogin.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

/// Both login dialogs refuse to close, by any way, until their required fields are filled.
class TestLoginDialogs : public QObject
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

    static void type(QWidget* dialog, const char* name, const QString& text)
    {
        child<QLineEdit>(dialog, name)->setText(text);
    }

    static void clickOk(QWidget* dialog) { QTest::mouseClick(child<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton); }

private Q_SLOTS:
    void init()
    {
        MessageBox::setAutoAnswer(true);
        MessageBox::clearShown();
    }

    void localLoginAsksInOrder()
    {
        TfmLogin dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Login"));
        QCOMPARE(child<QLineEdit>(&dialog, "Edit4")->echoMode(), QLineEdit::Password);
        dialog.show();

        clickOk(&dialog);
        type(&dialog, "Edit1", "SQL01");
        clickOk(&dialog);
        type(&dialog, "Edit2", "Crib");
        clickOk(&dialog);
        QCOMPARE(MessageBox::shownTexts(), QStringList({"need server name", "need database name", "need login info"}));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.values().server, QStringLiteral("SQL01"));

        type(&dialog, "Edit3", "sa");
        clickOk(&dialog);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(MessageBox::shownTexts().size(), 3);
        QCOMPARE(dialog.values().login, QStringLiteral("sa"));
        QCOMPARE(dialog.values().password, QString());
    }

    void windowsAuthenticationNeedsNoLogin()
    {
        TfmLogin dialog;
        dialog.show();
        type(&dialog, "Edit1", "SQL01");
        type(&dialog, "Edit2", "Crib");
        auto* winAuth = child<QCheckBox>(&dialog, "WinAuth");
        QTest::mouseClick(winAuth, Qt::LeftButton, {}, QPoint(winAuth->width() - 5, winAuth->height() / 2));
        QVERIFY(winAuth->isChecked());
        QVERIFY(!child<QLineEdit>(&dialog, "Edit3")->isEnabled());
        QVERIFY(!child<QLineEdit>(&dialog, "Edit4")->isEnabled());
        QCOMPARE(child<QLineEdit>(&dialog, "Edit3")->palette().color(QPalette::Base),
            dialog.palette().color(QPalette::Button));

        winAuth->setChecked(false);
        QVERIFY(child<QLineEdit>(&dialog, "Edit3")->isEnabled());
        QCOMPARE(child<QLineEdit>(&dialog, "Edit4")->palette().color(QPalette::Base),
            dialog.palette().color(QPalette::Base));
        clickOk(&dialog);
        QCOMPARE(MessageBox::shownTexts(), QStringList({"need login info"}));

        winAuth->setChecked(true);
        clickOk(&dialog);
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.values().windowsAuth);
    }

    void blanksCountAsFilled()
    {
        TfmLogin local;
        local.show();
        for (const char* name : {"Edit1", "Edit2", "Edit3"})
            type(&local, name, " ");
        clickOk(&local);
        QVERIFY(!local.isVisible());

        TfmNetLogin remote;
        remote.show();
        for (const char* name : {"edPassword", "edDatabase", "edlogin"})
            type(&remote, name, "  ");
        clickOk(&remote);
        QVERIFY(!remote.isVisible());
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void closingOtherwiseIsValidatedToo()
    {
        TfmLogin local;
        local.show();
        QVERIFY(!local.close());
        QTest::keyClick(&local, Qt::Key_Escape);
        QVERIFY(local.isVisible());

        TfmNetLogin remote;
        remote.show();
        QVERIFY(!remote.close());
        QVERIFY(remote.isVisible());
        QCOMPARE(MessageBox::shownTexts(), QStringList({"need server name", "need server name", "need password"}));

        // Once filled, a close by the title bar closes without the OK result.
        type(&remote, "edPassword", "pw");
        type(&remote, "edDatabase", "Web");
        type(&remote, "edlogin", "asp");
        QVERIFY(remote.close());
        QCOMPARE(remote.result(), int(QDialog::Rejected));
    }

    void remoteLoginAsksInOrder()
    {
        TfmNetLogin dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Quellora.Net Login"));
        QCOMPARE(child<QLineEdit>(&dialog, "edPassword")->echoMode(), QLineEdit::Password);
        dialog.show();
        clickOk(&dialog);
        type(&dialog, "edPassword", "pw");
        clickOk(&dialog);
        type(&dialog, "edDatabase", "Web");
        clickOk(&dialog);
        QCOMPARE(MessageBox::shownTexts(), QStringList({"need password", "need database name", "need login info"}));
        QVERIFY(dialog.isVisible());
        type(&dialog, "edlogin", "asp");
        clickOk(&dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.values().database, QStringLiteral("Web"));
        QCOMPARE(dialog.values().login, QStringLiteral("asp"));
        QCOMPARE(dialog.values().password, QStringLiteral("pw"));
    }
};

QTEST_MAIN(TestLoginDialogs)
#include "TestLoginDialogs.moc"
