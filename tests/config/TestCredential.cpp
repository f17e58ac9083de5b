#include "config/AnsiCodePage.h"
#include "config/Credential.h"

#include <QTest>

/// The scrambling of stored credentials.
class TestCredential : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyByteValueRoundTrips()
    {
        QString all;
        for (int code = 0; code < 256; ++code)
            all += AnsiCodePage::charOf(uchar(code));
        const QString encoded = EncodeCredential(all);
        QCOMPARE(encoded.size(), all.size());
        QCOMPARE(DecodeCredential(encoded), all);
        for (int code = 0; code < 256; ++code) {
            QVERIFY2(AnsiCodePage::byteOf(encoded[code]) >= 0, qPrintable(QString::number(code)));
            QVERIFY2(encoded[code] != all[code], "the constant must change every code");
        }
        // One constant for all: the same code always encodes alike, wherever it stands.
        QCOMPARE(EncodeCredential(QStringLiteral("aa")).at(1), EncodeCredential(QStringLiteral("a")).at(0));
    }

    void typedCharactersNeverEncodeToLineBreaksOrNul()
    {
        // What a keyboard gives: printable ASCII and the Latin-1 letters and signs.
        for (int code = 0x20; code < 256; ++code) {
            if (code >= 0x7F && code < 0xA0)
                continue;
            const QChar encoded = EncodeCredential(QString(QChar(code))).at(0);
            QVERIFY2(encoded != QLatin1Char('\n') && encoded != QLatin1Char('\r') && encoded != QChar::Null,
                qPrintable(QString::number(code, 16)));
        }
    }

    void charactersBeyondEightBitsPassThrough()
    {
        const QString text = QStringLiteral("p\u0394ss\u4E2D");
        const QString encoded = EncodeCredential(text);
        QCOMPARE(encoded.at(1), QChar(0x0394));
        QCOMPARE(DecodeCredential(encoded), text);
    }

    void codesAreThoseOfTheAnsiCodePage()
    {
        // The other programs add the constant to the bytes 0x80 (euro sign) and 0x92 (right quote) of
        // Windows-1252, which come out as the bytes 0xF1 and 0x03.
        QCOMPARE(EncodeCredential(QStringLiteral("\u20AC\u2019")), QStringLiteral("\u00F1\u0003"));
        QCOMPARE(DecodeCredential(QStringLiteral("\u2019")), QStringLiteral("!"));
    }
};

QTEST_GUILESS_MAIN(TestCredential)
#include "TestCredential.moc"
