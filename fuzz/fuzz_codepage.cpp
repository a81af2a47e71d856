// The scale's code page: every byte decodes and encodes back to itself, any
// text encodes to one byte per character, and a fixed field is filled with
// whole characters and zero bytes after them.  The first byte is the field
// size; the rest is read both as code-page bytes and as UTF-8 text.
#include "CodePage.h"
#include "FuzzRequire.h"

#include <QList>

#include <cstdint>
#include <vector>

using torvane::fuzz::require;
using namespace torvane::scalelink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t fieldSize = data[0] % 40;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const std::size_t count = size - 1;

    const QByteArray raw(bytes, qsizetype(count));
    require(AnsiFromString(StringFromAnsi(bytes, count)) == raw);

    const QString text = QString::fromUtf8(bytes, qsizetype(count));
    const QByteArray encoded = AnsiFromString(text);
    require(encoded.size() == text.toUcs4().size());

    std::vector<uint8_t> field(fieldSize + 1, 0xEE);
    const std::size_t written = AnsiToField(text, field.data(), fieldSize);
    require(written <= fieldSize);
    for (std::size_t i = written; i < fieldSize; ++i)
        require(field[i] == 0);
    require(field[fieldSize] == 0xEE);   // nothing beyond the field
    const QString back = StringFromAnsiField(field.data(), fieldSize);
    require(back.size() <= qsizetype(written));
    return 0;
}
