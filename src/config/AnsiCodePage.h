#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <optional>

/// Text as the Windows INI services and the programs that share the settings keep it: one byte per
/// character in the ANSI code page, the system's own on Windows and Windows-1252 elsewhere.
/// A double-byte system code page is not supported: its single bytes are taken as Windows-1252.
namespace AnsiCodePage {

QChar charOf(uchar byte);
/// The character's byte, or -1 when the code page has no such character.
int byteOf(QChar c);
QString decode(const QByteArray& bytes);
/// Nothing when `text` holds a character the code page has not.
std::optional<QByteArray> encode(const QString& text);

} // namespace AnsiCodePage
