#pragma once
// Small checks and prompts shared by the manager's windows: is a text a
// number or a date under the operator's locale, pick one token out of a
// ";"-separated option text, and an input box that keeps asking until the
// answer is valid.
//
// The operator's locale (QLocale(), which follows QLocale::setDefault) decides
// the decimal separator and the order and separator of dates.  Messages and
// the input box go through the operator dialogs (OperatorDialogs.h).

#include <QChar>
#include <QDate>
#include <QString>
#include <optional>

namespace torvane::manager {

// True when text is a date in the operator's short date format (day, month
// and year in the locale's order and with its separator; a two-digit year or
// a missing year are taken as the date box of the old system took them).
// When it is not a date and label is not empty, shows
// label + " não é uma data válida.".  An empty text is never a date and
// never gives a message.
bool IsValidDate(const QString &text, const QString &label = QString());

// The date the text stands for under the operator's locale, if any.
std::optional<QDate> ParseDate(const QString &text);

// True when text is a floating-point number under the operator's locale:
// optional blanks around it, an optional sign, digits with optionally the
// locale's decimal separator, optionally an exponent.  Thousands separators
// are not accepted.
bool IsNumeric(const QString &text);

// The value of a text that IsNumeric accepts; nothing otherwise.
std::optional<double> ParseNumber(const QString &text);

// The n-th token (counted from 1) of a text whose tokens each end with the
// separator (the last one may also end at the end of the text).  Empty when
// there are fewer than n tokens or n < 1.  A text with no separator at all
// is one token.
QString GetToken(const QString &text, int n, QChar separator = QLatin1Char(';'));

// Asks for a value until a valid answer is given.
//   kind 'N': a number from min to max (any number when both are 0);
//   kind 'D': a date from today + min to today + max days;
//   any other kind: a text of min to max characters (any when both are 0).
// value is the starting text and receives the accepted answer as typed.
// Cancel returns false at once, unless insist is set: then Cancel re-checks
// the unchanged value, so the box cannot be left while it is invalid.
bool InputValue(const QString &caption, const QString &prompt, QString &value, QChar kind,
                int min, int max, bool insist);

// Writes a date as two-digit day, two-digit month, four-digit year with the
// locale's date separator, as the messages show it.
QString FormatDateDMY(const QDate &date);

// The date separator and the day/month/year order of the operator's locale.
QChar LocaleDateSeparator();

} // namespace torvane::manager
