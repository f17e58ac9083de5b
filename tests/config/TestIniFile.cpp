#include "config/ConfigError.h"
#include "config/IniFile.h"
#include "support/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

/// "paths.ini" as the platform's INI service reads and writes it.
class TestIniFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsNamesWithoutRegardToCase()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("paths.ini");
        writeFile(path,
            "; comment\r\n[paths]\r\n  server =  SQL01  \r\n;SERVER=commented\r\n[CORVANE]\r\nTIME=45\r\n"
            "[Other]\r\nSERVER=not this one\r\n");
        const IniFile ini(path);
        QCOMPARE(ini.value("Paths", "SERVER", "ERROR"), QStringLiteral("SQL01"));
        QCOMPARE(ini.value("Corvane", "Time", "30"), QStringLiteral("45"));
        QCOMPARE(ini.value("Paths", "LOGIN", "ERROR"), QStringLiteral("ERROR"));
        QCOMPARE(ini.value("Emp", "ExcludeCrib", "0"), QStringLiteral("0"));
        QCOMPARE(IniFile(dir.filePath("absent.ini")).value("Paths", "SERVER", "ERROR"), QStringLiteral("ERROR"));
    }

    void writesKeepEveryOtherLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("paths.ini");
        writeFile(path, "; keep me\r\n[Paths]\r\nServer=old\r\nLOGIN=sa\r\n\r\n[Corvane]\r\nTime=45\r\n");
        IniFile ini(path);
        ini.setValue("PATHS", "SERVER", "new");
        ini.setValue("Paths", "PortNo", "1433");
        ini.setValue("Emp", "ExcludeCrib", "1");
        QCOMPARE(readFile(path),
            QByteArray(
                "; keep me\r\n[Paths]\r\nServer=new\r\nLOGIN=sa\r\nPortNo=1433\r\n\r\n[Corvane]\r\nTime=45\r\n\r\n"
                "[Emp]\r\nExcludeCrib=1\r\n"));
    }

    void createsTheFileOnFirstWrite()
    {
        QTemporaryDir dir;
        IniFile ini(dir.filePath("paths.ini"));
        ini.setValue("Corvane", "Time", "10");
        QCOMPARE(ini.value("corvane", "time", "30"), QStringLiteral("10"));
    }

    void valuesWithOuterBlanksOrQuotesComeBackAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("leading blank") << QStringLiteral(" pass");
        QTest::newRow("trailing blank") << QStringLiteral("pass ");
        QTest::newRow("quoted") << QStringLiteral("\"pass\"");
        QTest::newRow("single quoted") << QStringLiteral("'x'");
        QTest::newRow("equals and semicolon") << QStringLiteral("a=b;c");
        QTest::newRow("latin-1") << QStringLiteral("\u00E9\u00FF\u00A0");
        QTest::newRow("windows-1252") << QStringLiteral("\u20AC\u2019\u0178");
    }

    void valuesWithOuterBlanksOrQuotesComeBackAsWritten()
    {
        QFETCH(QString, value);
        QTemporaryDir dir;
        IniFile ini(dir.filePath("paths.ini"));
        ini.setValue("Paths", "PASSWORD", value);
        QCOMPARE(ini.value("Paths", "PASSWORD", "ERROR"), value);
    }

    void eightBitFilesAreReadAsLatin1AndStayThat()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("paths.ini");
        writeFile(path, "[Paths]\nLOGIN=Jos\xE9\n");
        IniFile ini(path);
        QCOMPARE(ini.value("Paths", "LOGIN", ""), QStringLiteral("Jos\u00E9"));
        ini.setValue("Paths", "SERVER", QStringLiteral("S\u00FC"));
        QCOMPARE(readFile(path), QByteArray("[Paths]\nLOGIN=Jos\xE9\nSERVER=S\xFC\n"));
    }

    void bytesAreTheAnsiCodePagesAsTheIniServicesKeepThem_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QByteArray>("rewritten");
        QTest::newRow("windows-1252") << QByteArray("[Paths]\nLOGIN=\x80\x92\xE9\n")
                                      << QStringLiteral("\u20AC\u2019\u00E9")
                                      << QByteArray("[Paths]\nLOGIN=\x80\x92\xE9\nSERVER=\x80\n");
        QTest::newRow("utf-8 bytes are two characters")
            << QByteArray("[Paths]\nLOGIN=\xC3\xA9\n") << QStringLiteral("\u00C3\u00A9")
            << QByteArray("[Paths]\nLOGIN=\xC3\xA9\nSERVER=\x80\n");
        const QString utf16 = QStringLiteral("[Paths]\r\nLOGIN=\u4E2D\r\n");
        const QByteArray utf16Bytes(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2);
        const QString rewritten = QStringLiteral("SERVER=\u20AC\r\n");
        QTest::newRow("utf-16 after its mark") << QByteArray("\xFF\xFE") + utf16Bytes << QStringLiteral("\u4E2D")
                                               << QByteArray("\xFF\xFE") + utf16Bytes
                + QByteArray(reinterpret_cast<const char*>(rewritten.utf16()), rewritten.size() * 2);
    }

    void bytesAreTheAnsiCodePagesAsTheIniServicesKeepThem()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, login);
        QFETCH(QByteArray, rewritten);
        QTemporaryDir dir;
        const QString path = dir.filePath("paths.ini");
        writeFile(path, file);
        IniFile ini(path);
        QCOMPARE(ini.value("Paths", "LOGIN", ""), login);
        ini.setValue("Paths", "SERVER", QStringLiteral("\u20AC"));
        QCOMPARE(readFile(path), rewritten);
    }

    void refusesValuesAnIniLineCannotHold()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("paths.ini");
        writeFile(path, "[Paths]\nSERVER=a\n");
        IniFile ini(path);
        QVERIFY_THROWS_EXCEPTION(ConfigError, ini.setValue("Paths", "PASSWORD", "a\nSERVER=b"));
        QVERIFY_THROWS_EXCEPTION(ConfigError, ini.setValue("Paths", "PASSWORD", QString(QChar::Null)));
        // Not in the ANSI code page: the other programs would read a different value.
        QVERIFY_THROWS_EXCEPTION(ConfigError, ini.setValue("Paths", "PASSWORD", QStringLiteral("\u4E2D")));
        QCOMPARE(readFile(path), QByteArray("[Paths]\nSERVER=a\n"));
    }

    void reportsAFileThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing folder") << "missing-folder" << false << "does not exist";
        QTest::newRow("read-only folder") << "" << true << "is read-only";
    }

    void reportsAFileThatCannotBeWritten()
    {
        QFETCH(QString, folder);
        QFETCH(bool, readOnly);
        QFETCH(QString, cause);
        QTemporaryDir dir;
        if (readOnly) {
            if (!setFolderReadOnly(dir.path(), true))
                QSKIP("cannot make a folder read-only here");
        }
        const auto restore = qScopeGuard([&] {
            if (readOnly)
                setFolderReadOnly(dir.path(), false);
        });
        IniFile ini(folder.isEmpty() ? dir.filePath("paths.ini") : dir.filePath(folder + "/paths.ini"));
        try {
            ini.setValue("Corvane", "Time", "10");
            QFAIL("the write succeeded");
        } catch (const ConfigError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(cause), e.what());
        }
    }

#ifdef Q_OS_WIN
    // The crib's other programs use Windows' own INI functions on the same file.
    void windowsIniFunctionsShareTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("paths.ini");
        const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
        const QString text = QStringLiteral("Caf\u00E9 \u20AC5 \u00FF");
        IniFile ini(path);
        ini.setValue("Paths", "PASSWORD", text);
        wchar_t read[256] = {};
        GetPrivateProfileStringW(L"paths", L"password", L"", read, 256, file.c_str());
        QCOMPARE(QString::fromWCharArray(read), text);

        QVERIFY(WritePrivateProfileStringW(L"Emp", L"Note", L"Gr\u00FC\u00DFe", file.c_str()));
        QVERIFY(WritePrivateProfileStringW(L"Paths", L"SERVER", L"SQL01", file.c_str()));
        QCOMPARE(ini.value("Emp", "Note", {}), QStringLiteral("Gr\u00FC\u00DFe"));
        QCOMPARE(ini.value("Paths", "Server", {}), QStringLiteral("SQL01"));
        QCOMPARE(ini.value("Paths", "PASSWORD", {}), text);
        if (GetACP() == 1252)
            QVERIFY2(readFile(path).contains("PASSWORD=Caf\xE9 \x80"
                                             "5 \xFF\r\n"),
                readFile(path).constData());
    }
#endif
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "TestIniFile.moc"
