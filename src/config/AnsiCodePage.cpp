#include "config/AnsiCodePage.h"

#include <array>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Bytes 0x80 to 0x9F of Windows-1252; the five it leaves undefined stand for the C1 controls of the
// same value, as Windows converts them.
constexpr std::array<char16_t, 32> Windows1252High{0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

using Table = std::array<char16_t, 256>;

Table windows1252()
{
    Table table{};
    for (int b = 0; b < 256; ++b)
        table[b] = b >= 0x80 && b < 0xA0 ? Windows1252High[b - 0x80] : char16_t(b);
    return table;
}

Table makeTable()
{
    Table table = windows1252();
#ifdef Q_OS_WIN
    CPINFO info;
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1)
        return table;
    for (int b = 0x80; b < 256; ++b) {
        const char byte = char(b);
        wchar_t c = 0;
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &c, 1) == 1)
            table[b] = char16_t(c);
    }
#endif
    return table;
}

const Table& table()
{
    static const Table t = makeTable();
    return t;
}

} // namespace

namespace AnsiCodePage {

QChar charOf(uchar byte)
{
    return QChar(table()[byte]);
}

int byteOf(QChar c)
{
    if (c.unicode() < 0x80)
        return c.unicode();
    const Table& t = table();
    for (int b = 0x80; b < 256; ++b) {
        if (t[b] == c.unicode())
            return b;
    }
    return -1;
}

QString decode(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        text[i] = charOf(uchar(bytes[i]));
    return text;
}

std::optional<QByteArray> encode(const QString& text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = byteOf(text[i]);
        if (b < 0)
            return std::nullopt;
        bytes[i] = char(b);
    }
    return bytes;
}

} // namespace AnsiCodePage
