#include "config/ConfigError.h"
#include "config/IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

/// "paths.ini" as the platform's INI service reads and writes it.
class TestIniFile : public QObject
{
    Q_OBJECT

private:
    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static QByteArray readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

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
        QTest::newRow("wide") << QStringLiteral("\u4E2D");
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

    void refusesValuesAnIniLineCannotHold()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("paths.ini");
        writeFile(path, "[Paths]\nSERVER=a\n");
        IniFile ini(path);
        QVERIFY_THROWS_EXCEPTION(ConfigError, ini.setValue("Paths", "PASSWORD", "a\nSERVER=b"));
        QVERIFY_THROWS_EXCEPTION(ConfigError, ini.setValue("Paths", "PASSWORD", QString(QChar::Null)));
        QCOMPARE(readFile(path), QByteArray("[Paths]\nSERVER=a\n"));
    }

    void reportsAFileThatCannotBeWritten()
    {
        QTemporaryDir dir;
        IniFile ini(dir.filePath("missing-folder/paths.ini"));
        QVERIFY_THROWS_EXCEPTION(ConfigError, ini.setValue("Corvane", "Time", "10"));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "TestIniFile.moc"
