// The search's Like matcher.  The first byte chooses the mode:
//  even: pattern and text are UTF-8 split at the first zero byte (accents,
//        case folding, every character there is);
//  odd:  both are drawn from a, b, A, %, _ and the escape "!", and the
//        answer is compared with a plain dynamic-programming matcher.
#include "LikeMatch.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Reference: match[i][j] = pattern from i matches text from j.  Case only
// (the alphabet has no accents), escape "!".
bool reference(const QString &p, const QString &t)
{
    struct Tok {
        int kind; // 0 literal, 1 one, 2 any
        QChar c;
    };
    std::vector<Tok> toks;
    for (qsizetype i = 0; i < p.size(); ++i) {
        const QChar c = p.at(i).toLower();
        if (c == u'!' && i + 1 < p.size())
            toks.push_back({0, p.at(++i).toLower()});
        else if (c == u'%')
            toks.push_back({2, c});
        else if (c == u'_')
            toks.push_back({1, c});
        else
            toks.push_back({0, c});
    }
    const std::size_t n = toks.size();
    const std::size_t m = std::size_t(t.size());
    std::vector<std::vector<char>> ok(n + 1, std::vector<char>(m + 1, 0));
    ok[n][m] = 1;
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m + 1; j-- > 0;) {
            const Tok &k = toks[i];
            if (k.kind == 2)
                ok[i][j] = ok[i + 1][j] || (j < m && ok[i][j + 1]);
            else
                ok[i][j] = j < m && (k.kind == 1 || k.c == t.at(qsizetype(j)).toLower()) && ok[i + 1][j + 1];
        }
    return ok[0][0];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const size_t rest = size - 1;
    size_t split = 0;
    while (split < rest && bytes[split] != 0)
        ++split;
    const size_t textStart = split < rest ? split + 1 : rest;
    if (data[0] % 2 == 0) {
        const QString pattern = QString::fromUtf8(bytes, qsizetype(split));
        const QString text = QString::fromUtf8(bytes + textStart, qsizetype(rest - textStart));
        const bool plain = torvane::db::accessLike(pattern, text);
        const bool escaped = torvane::db::accessLike(pattern, text, QLatin1Char('!'));
        (void)plain;
        (void)escaped;
        // Every text matches "%", and a text without wildcards matches itself.
        if (!torvane::db::accessLike(QStringLiteral("%"), text))
            std::abort();
        if (!text.contains(u'%') && !text.contains(u'_') && !torvane::db::accessLike(text, text))
            std::abort();
        return 0;
    }
    static const char alphabet[] = {'a', 'b', 'A', '%', '_', '!'};
    QString pattern, text;
    for (size_t i = 0; i < split; ++i)
        pattern += QLatin1Char(alphabet[uint8_t(bytes[i]) % 6]);
    for (size_t i = textStart; i < rest; ++i)
        text += QLatin1Char(alphabet[uint8_t(bytes[i]) % 3]);
    if (torvane::db::accessLike(pattern, text, QLatin1Char('!')) != reference(pattern, text))
        std::abort();
    return 0;
}
