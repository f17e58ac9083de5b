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
            all += QChar(code);
        const QString encoded = EncodeCredential(all);
        QCOMPARE(encoded.size(), all.size());
        QCOMPARE(DecodeCredential(encoded), all);
        for (int code = 0; code < 256; ++code) {
            QVERIFY2(encoded[code].unicode() <= 0xFF, qPrintable(QString::number(code)));
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
        const QString text = QStringLiteral("p\u20ACss\u4E2D");
        const QString encoded = EncodeCredential(text);
        QCOMPARE(encoded.at(1), QChar(0x20AC));
        QCOMPARE(DecodeCredential(encoded), text);
    }
};

QTEST_GUILESS_MAIN(TestCredential)
#include "TestCredential.moc"
