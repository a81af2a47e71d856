#pragma once
// The Like rule of the shared database, as the Access engine applied it:
// "%" stands for any run of characters (none included), "_" for exactly one,
// every other character for itself.  Letters compare without case but with
// their accents ("AÇÚCAR" matches "açúcar", not "acucar"), and composed and
// decomposed spellings of one letter compare equal.
//
// The search dialog hands the operator's text to Like as it stands, so the
// pattern is hostile input: matching takes at most (pattern length + 1) x
// (text length + 1) steps whatever the pattern, never backtracks
// exponentially, and never throws.

#include <QChar>
#include <QString>

namespace torvane::db {

// True when the text matches the pattern.  A non-null escape character makes
// the character after it a literal (so "100!%" with "!" matches "100%" only);
// an escape at the very end of the pattern stands for itself.
bool accessLike(const QString &pattern, const QString &text, QChar escape = QChar());

} // namespace torvane::db
