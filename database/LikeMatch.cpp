#include "LikeMatch.h"

#include <QList>

#include <vector>

namespace torvane::db {

namespace {

// Case folded, accents kept, composed spelling.
std::vector<char32_t> foldForLike(const QString &s)
{
    std::vector<char32_t> out;
    for (uint c : s.normalized(QString::NormalizationForm_C).toCaseFolded().toUcs4())
        out.push_back(char32_t(c));
    return out;
}

// One position of the pattern after the escapes are resolved.
struct Token {
    enum Kind { Literal, One, Any } kind;
    char32_t c;
};

std::vector<Token> tokenize(const std::vector<char32_t> &p, char32_t esc, bool hasEsc)
{
    std::vector<Token> out;
    out.reserve(p.size());
    for (std::size_t i = 0; i < p.size(); ++i) {
        const char32_t c = p[i];
        if (hasEsc && c == esc && i + 1 < p.size()) {
            out.push_back({Token::Literal, p[++i]});
        } else if (c == U'%') {
            // A run of "%" means no more than one.
            if (out.empty() || out.back().kind != Token::Any)
                out.push_back({Token::Any, 0});
        } else if (c == U'_') {
            out.push_back({Token::One, 0});
        } else {
            out.push_back({Token::Literal, c});
        }
    }
    return out;
}

// Greedy matching that only ever returns to the last "%": whatever the
// earlier "%" swallowed can be swallowed by the last one as well, so
// retrying from there alone loses no match.  Each retry advances the text
// by one, which bounds the work by pattern x text.
bool match(const std::vector<Token> &p, const std::vector<char32_t> &t)
{
    std::size_t pi = 0;
    std::size_t ti = 0;
    std::size_t star = p.size(); // position of the last "%" seen, none yet
    std::size_t starText = 0;    // where the text stood when it was seen
    while (ti < t.size()) {
        if (pi < p.size() && p[pi].kind == Token::Any) {
            star = pi++;
            starText = ti;
        } else if (pi < p.size() && (p[pi].kind == Token::One || p[pi].c == t[ti])) {
            ++pi;
            ++ti;
        } else if (star < p.size()) {
            pi = star + 1;
            ti = ++starText;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi].kind == Token::Any)
        ++pi;
    return pi == p.size();
}

} // namespace

bool accessLike(const QString &pattern, const QString &text, QChar escape)
{
    char32_t esc = 0;
    if (!escape.isNull()) {
        const std::vector<char32_t> e = foldForLike(QString(escape));
        esc = e.empty() ? escape.unicode() : e.front();
    }
    return match(tokenize(foldForLike(pattern), esc, !escape.isNull()), foldForLike(text));
}

} // namespace torvane::db
