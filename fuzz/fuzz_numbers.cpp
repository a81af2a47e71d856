// The text utilities the product form checks its fields with: the number
// and date checks under the operator's locale and the token picker.  The
// first byte picks the locale and the token; the rest is UTF-8 text.
#include "Unitutil.h"
#include "FuzzRequire.h"

#include <QLocale>

#include <cmath>
#include <cstdint>

using torvane::fuzz::require;
using namespace torvane::manager;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // Comma or point as the decimal separator, day-month or month-day dates.
    static const QLocale locales[] = {QLocale(QLocale::Portuguese, QLocale::Brazil), QLocale::c(),
                                      QLocale(QLocale::English, QLocale::UnitedStates)};
    QLocale::setDefault(locales[data[0] % 3]);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const std::optional<double> number = ParseNumber(text);
    require(IsNumeric(text) == number.has_value());

    const std::optional<QDate> date = ParseDate(text);
    require(!date || date->isValid());
    require(IsValidDate(text) == date.has_value());

    const int n = data[0] / 3 % 8;
    const QString token = GetToken(text, n);
    require(n >= 1 || token.isEmpty());
    require(!token.contains(QLatin1Char(';')));
    return 0;
}
