#include "ProductRules.h"

#include <cmath>

namespace torvane::manager::rules {

bool isProduct(const QString &pluDesc, double preco)
{
    return !pluDesc.trimmed().isEmpty() || preco != 0;
}

std::optional<Refusal> checkCode(const QVariant &codigo, const QString &pluDesc, double preco)
{
    if (codigo.isNull())
        return Refusal{kMissingCode, Field::Codigo};
    const qint64 code = codigo.toLongLong();
    if (code < 0)
        return Refusal{kNegativeCode, Field::Codigo};
    if (code == 0 && isProduct(pluDesc, preco))
        return Refusal{kMissingCode, Field::Codigo};
    return std::nullopt;
}

qint64 roundHalfUp(double value)
{
    // A typed 1.005 is held as 1.00499999...; the small allowance puts such
    // values back on the half they were typed as.
    const double magnitude = std::floor(std::fabs(value) + 0.5 + 1e-7);
    return qint64(value < 0 ? -magnitude : magnitude);
}

std::optional<Refusal> checkPrice(double typed, Price *out)
{
    const qint64 cents = roundHalfUp(typed * 100);
    if (!std::isfinite(typed) || typed < 0 || cents > qint64(std::llround(kMaxPrice * 100)))
        return Refusal{kPriceRange, Field::Preco};
    out->unitPrice = cents;
    out->preco = double(cents) / 100.0;
    out->rounded = std::fabs(out->preco - typed) > 1e-9;
    return std::nullopt;
}

std::optional<Refusal> checkTare(double typed, Tare *out)
{
    if (!std::isfinite(typed) || typed > kMaxTare)
        return Refusal{kTareRange, Field::Tara};
    if (typed < 0)
        return Refusal{kNegativeTare, Field::Tara};
    // The scale weighs tares in steps of 2 g.
    qint64 grams = roundHalfUp(typed * 1000);
    out->rounded = grams > 0 && grams % 2 != 0;
    if (out->rounded)
        --grams;
    out->tareWeight = grams;
    out->tara = double(grams) / 1000.0;
    return std::nullopt;
}

std::optional<Refusal> checkValidDays(const QVariant &validDays)
{
    const qint64 days = validDays.toLongLong();
    if (days < 0 || days > kMaxValidDays)
        return Refusal{kValidDaysRange, Field::Validade};
    return std::nullopt;
}

CheckedProduct checkProduct(const ProductInput &input)
{
    CheckedProduct r;
    const double typedPrice = input.preco.toDouble();
    r.refusal = checkCode(input.codigo, input.pluDesc, typedPrice);
    if (!r.refusal)
        r.refusal = checkPrice(typedPrice, &r.price);
    if (!r.refusal)
        r.refusal = checkTare(input.tara.toDouble(), &r.tare);
    if (!r.refusal)
        r.refusal = checkValidDays(input.validDays);
    return r;
}

qint64 cutCode(qint64 codigo, int oldSize, int newSize)
{
    if (newSize >= oldSize || newSize <= 0)
        return codigo;
    // Six digits with leading zeros, the sign first for the negative codes
    // only free typing produces.  The magnitude is taken unsigned so the
    // smallest 64-bit number has one too.
    const bool negative = codigo < 0;
    const quint64 magnitude = negative ? quint64(0) - quint64(codigo) : quint64(codigo);
    const QString six = negative ? QStringLiteral("-%1").arg(magnitude, 5, 10, QLatin1Char('0'))
                                 : QStringLiteral("%1").arg(magnitude, 6, 10, QLatin1Char('0'));
    const QString kept = six.mid(oldSize - newSize, newSize);
    bool ok = false;
    const qint64 value = kept.toLongLong(&ok);
    return ok ? value : 0;
}

} // namespace torvane::manager::rules
