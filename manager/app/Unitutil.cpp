#include "Unitutil.h"

#include "OperatorDialogs.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>

namespace torvane::manager {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Day, month and year positions (0, 1, 2) in the order the locale writes them.
struct DateOrder {
    int day = 0, month = 1, year = 2;
};

DateOrder localeDateOrder()
{
    const QString fmt = QLocale().dateFormat(QLocale::ShortFormat);
    const qsizetype d = fmt.indexOf(QLatin1Char('d'));
    const qsizetype m = fmt.indexOf(QLatin1Char('M'));
    const qsizetype y = fmt.indexOf(QLatin1Char('y'));
    if (d < 0 || m < 0 || y < 0)
        return {};
    DateOrder order;
    order.day = int((d > m) + (d > y));
    order.month = int((m > d) + (m > y));
    order.year = int((y > d) + (y > m));
    return order;
}

// A two-digit year lies in the hundred years that start fifty years ago.
int expandTwoDigitYear(int yy)
{
    const int current = QDate::currentDate().year();
    const int pivot = current - 50;
    int year = (pivot / 100) * 100 + yy;
    if (year < pivot)
        year += 100;
    return year;
}

} // namespace

QChar LocaleDateSeparator()
{
    // The first character of the short format that is neither a field letter
    // nor a blank; formats that spell the month out ("d MMM yyyy") have none,
    // and then the slash is used.
    const QString fmt = QLocale().dateFormat(QLocale::ShortFormat);
    for (QChar c : fmt) {
        if (!c.isLetter() && !isBlank(c) && c != QLatin1Char('\''))
            return c;
    }
    return QLatin1Char('/');
}

std::optional<QDate> ParseDate(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;

    const QChar sep = LocaleDateSeparator();
    const QStringList parts = trimmed.split(sep);
    if (parts.size() == 2 || parts.size() == 3) {
        std::array<int, 3> values{0, 0, 0};
        std::array<int, 3> widths{0, 0, 0};
        bool allNumbers = true;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const QString p = parts[i].trimmed();
            if (p.isEmpty() || p.size() > 4) {
                allNumbers = false;
                break;
            }
            for (QChar c : p) {
                if (!isDigit(c)) {
                    allNumbers = false;
                    break;
                }
            }
            if (!allNumbers)
                break;
            values[size_t(i)] = p.toInt();
            widths[size_t(i)] = int(p.size());
        }
        if (allNumbers) {
            DateOrder order = localeDateOrder();
            int day = 0, month = 0, year = 0;
            if (parts.size() == 3) {
                day = values[size_t(order.day)];
                month = values[size_t(order.month)];
                year = values[size_t(order.year)];
                if (widths[size_t(order.year)] <= 2)
                    year = expandTwoDigitYear(year);
                else if (widths[size_t(order.year)] == 3)
                    return std::nullopt;
            } else {
                // Day and month only: the current year, in the order the
                // locale puts day and month.
                const bool dayFirst = order.day < order.month;
                day = values[dayFirst ? 0 : 1];
                month = values[dayFirst ? 1 : 0];
                year = QDate::currentDate().year();
            }
            const QDate date(year, month, day);
            if (date.isValid())
                return date;
            return std::nullopt;
        }
    }
    // Formats that spell out the month name.
    const QDate date = QLocale().toDate(trimmed, QLocale::ShortFormat);
    if (date.isValid())
        return date;
    return std::nullopt;
}

bool IsValidDate(const QString &text, const QString &label)
{
    if (text.isEmpty())
        return false;
    if (ParseDate(text))
        return true;
    if (!label.isEmpty())
        showError(label + QStringLiteral(" não é uma data válida."));
    return false;
}

std::optional<double> ParseNumber(const QString &text)
{
    const QChar decimal = QLocale().decimalPoint().at(0);
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    // Rebuild the number in the C form so the conversion does not depend on
    // anything else the locale may do.
    QString c;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        c += text[i++];
    int digits = 0;
    while (i < n && isDigit(text[i])) {
        c += text[i++];
        ++digits;
    }
    if (i < n && text[i] == decimal) {
        c += QLatin1Char('.');
        ++i;
        while (i < n && isDigit(text[i])) {
            c += text[i++];
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        c += QLatin1Char('e');
        ++i;
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            c += text[i++];
        int expDigits = 0;
        while (i < n && isDigit(text[i])) {
            c += text[i++];
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    while (i < n && isBlank(text[i]))
        ++i;
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double value = c.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool IsNumeric(const QString &text)
{
    // Blanks, a sign and a few digits, what every field of an import line
    // holds, are always a number: the general conversion (the locale, the
    // text rebuilt, the double parsed) costs more than the rest of reading
    // the line.
    qsizetype i = 0;
    qsizetype n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    while (n > i && isBlank(text[n - 1]))
        --n;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    if (i < n && n - i <= 18 && std::all_of(text.begin() + i, text.begin() + n, isDigit))
        return true;
    return ParseNumber(text).has_value();
}

QString GetToken(const QString &text, int n, QChar separator)
{
    if (n < 1)
        return QString();
    qsizetype start = 0;
    for (int k = 1; start <= text.size(); ++k) {
        if (start == text.size())
            return QString(); // nothing after the last separator
        qsizetype end = text.indexOf(separator, start);
        if (end < 0)
            end = text.size();
        if (k == n)
            return text.mid(start, end - start);
        start = end + 1;
    }
    return QString();
}

QString FormatDateDMY(const QDate &date)
{
    const QChar sep = LocaleDateSeparator();
    return QStringLiteral("%1%2%3%4%5")
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(date.year(), 4, 10, QLatin1Char('0'));
}

bool InputValue(const QString &caption, const QString &prompt, QString &value, QChar kind,
                int min, int max, bool insist)
{
    OperatorDialogs &ui = operatorDialogs();
    // The kind is matched exactly: 'n' or 'd' ask for a text, as before.
    const QChar k = kind;
    for (;;) {
        QString answer = value;
        if (ui.inputText(caption, prompt, &answer))
            value = answer;
        else if (!insist)
            return false;

        if (k == QLatin1Char('N')) {
            const std::optional<double> number = ParseNumber(value);
            if (!number) {
                showError(QStringLiteral("O valor digitado não é um valor numérico válido."));
                continue;
            }
            if (min == 0 && max == 0)
                return true;
            if (*number >= min && *number <= max)
                return true;
            showError(QStringLiteral("O Valor deve estar entre %1 e %2.").arg(min).arg(max));
        } else if (k == QLatin1Char('D')) {
            if (!IsValidDate(value, QString()))
                continue;
            const QDate date = *ParseDate(value);
            const QDate today = QDate::currentDate();
            const QDate first = today.addDays(min);
            const QDate last = today.addDays(max);
            if (date >= first && date <= last)
                return true;
            showError(QStringLiteral("A Data deve estar entre %1 e %2.")
                             .arg(FormatDateDMY(first), FormatDateDMY(last)));
        } else {
            const qsizetype length = value.size();
            if ((min == 0 && max == 0) || (length >= min && length <= max))
                return true;
            showError(QStringLiteral("O informação deve ter no mínimo %1 carater(es) e no máximo %2 caracter(es).")
                             .arg(min)
                             .arg(max));
        }
    }
}

} // namespace torvane::manager
