#include "CodePage.h"

#include <QHash>

#include <array>
#include <cerrno>
#include <iconv.h>
#include <algorithm>

namespace torvane::scalelink {

namespace {

// The code page's 256 characters, built once through iconv.
struct Table {
    std::array<char32_t, 256> decode{};
    QHash<char32_t, uint8_t> encode;

    Table()
    {
        iconv_t cd = iconv_open("UTF-32LE", "WINDOWS-1252");
        for (int b = 0; b < 256; ++b) {
            char in = static_cast<char>(b);
            unsigned char out[8] = {};
            char *inp = &in;
            char *outp = reinterpret_cast<char *>(out);
            size_t inLeft = 1, outLeft = sizeof out;
            char32_t cp = static_cast<char32_t>(b); // undefined bytes keep their value
            if (cd != reinterpret_cast<iconv_t>(-1)) {
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 4)
                    cp = char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 | char32_t(out[3]) << 24;
            }
            decode[b] = cp;
        }
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
        for (int b = 255; b >= 0; --b)
            encode.insert(decode[b], static_cast<uint8_t>(b));
    }
};

const Table &table()
{
    static const Table t;
    return t;
}

} // namespace

QByteArray AnsiFromString(const QString &text)
{
    const Table &t = table();
    QByteArray out;
    out.reserve(text.size());
    for (const char32_t cp : text.toUcs4()) {
        const auto it = t.encode.constFind(cp);
        out.append(it == t.encode.constEnd() ? '?' : static_cast<char>(*it));
    }
    return out;
}

QString StringFromAnsi(const char *bytes, std::size_t count)
{
    const Table &t = table();
    QString out;
    out.reserve(static_cast<qsizetype>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t cp = t.decode[static_cast<uint8_t>(bytes[i])];
        out.append(QChar(static_cast<char16_t>(cp))); // every entry lies in the BMP
    }
    return out;
}

QString StringFromAnsiField(const uint8_t *field, std::size_t size)
{
    std::size_t n = 0;
    while (n < size && field[n] != 0)
        ++n;
    return StringFromAnsi(reinterpret_cast<const char *>(field), n);
}

std::size_t AnsiToField(const QString &text, uint8_t *field, std::size_t size)
{
    const QByteArray bytes = AnsiFromString(text);
    const std::size_t n = std::min<std::size_t>(size, static_cast<std::size_t>(bytes.size()));
    for (std::size_t i = 0; i < size; ++i)
        field[i] = i < n ? static_cast<uint8_t>(bytes[static_cast<qsizetype>(i)]) : 0;
    return n;
}

} // namespace torvane::scalelink
