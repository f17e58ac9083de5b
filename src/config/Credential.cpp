#include "config/Credential.h"

#include "config/AnsiCodePage.h"

namespace {

// Shared with every program that reads or writes the store. Chosen so that the codes which would
// encode to NUL, CR or LF (the ones an INI line cannot hold) are C1 controls nobody types.
constexpr int CredentialShift = 0x71;

QString shifted(const QString& text, int shift)
{
    QString result = text;
    for (QChar& c : result) {
        const int byte = AnsiCodePage::byteOf(c);
        if (byte >= 0)
            c = AnsiCodePage::charOf(uchar((byte + shift + 256) % 256));
    }
    return result;
}

} // namespace

QString EncodeCredential(const QString& text)
{
    return shifted(text, CredentialShift);
}

QString DecodeCredential(const QString& text)
{
    return shifted(text, -CredentialShift);
}
