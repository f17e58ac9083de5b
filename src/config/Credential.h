#pragma once

#include <QString>

/// The reversible scrambling of stored credentials: every 8-bit character code of the ANSI code
/// page (as the other programs of the store see the text) has one fixed byte added (encode) or
/// subtracted (decode), modulo 256; the length is unchanged. Characters the code page has not
/// cannot come from the stores' 8-bit text and pass through unchanged.
/// It hides the text from a casual look; it protects nothing.
QString EncodeCredential(const QString& text);
QString DecodeCredential(const QString& text);
