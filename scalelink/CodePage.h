#pragma once
// Conversion between the programs' strings and the scale's single-byte code
// page (Windows-1252), through iconv.
//
// Encoding: a character the code page cannot represent becomes "?" (one "?"
// per character, also for characters outside the Basic Multilingual Plane).
// Decoding: every byte decodes; the five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same
// value, so they survive a round trip.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace torvane::scalelink {

QByteArray AnsiFromString(const QString &text);

// Decodes count bytes (zero bytes included: the caller cuts at the first zero
// where the field ends there).
QString StringFromAnsi(const char *bytes, std::size_t count);
inline QString StringFromAnsi(const QByteArray &bytes)
{
    return StringFromAnsi(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Decodes a fixed field up to its first zero byte (at most size bytes).
QString StringFromAnsiField(const uint8_t *field, std::size_t size);

// Encodes text into a fixed field of size bytes: as many whole characters as
// fit, zero bytes after them.  Returns the number of text bytes written.
std::size_t AnsiToField(const QString &text, uint8_t *field, std::size_t size);

} // namespace torvane::scalelink
