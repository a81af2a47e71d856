#include "ProductRules.h"

#include "Schema.h"

#include <QHash>

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

CodeChangePlan planCodeChange(const QVector<CodeRow> &rows, int oldSize, bool oldPrefix2, int newSize,
                              bool newPrefix2)
{
    CodeChangePlan plan;
    plan.newCodes.reserve(rows.size());
    QVector<QString> newPluCodes(rows.size());
    QVector<bool> inCollision(rows.size(), false);
    // Rows that keep a code other than 0, grouped by the scale code they get.
    QHash<QString, QVector<int>> byPluCode;
    byPluCode.reserve(rows.size());

    for (int i = 0; i < rows.size(); ++i) {
        const CodeRow &row = rows[i];
        if (row.codigo.isNull()) {
            plan.newCodes.push_back(QVariant());
            continue;
        }
        const qint64 code = row.codigo.toLongLong();
        const qint64 newCode = newSize < oldSize ? cutCode(code, oldSize, newSize) : code;
        plan.newCodes.push_back(newCode);
        newPluCodes[i] = schema::buildPluCode(newCode, row.prefixb, newSize, newPrefix2);
        if (code == 0)
            continue; // a free slot stays one
        if (newCode == 0) {
            inCollision[i] = isProduct(row.pluDesc, row.preco);
            continue;
        }
        byPluCode[newPluCodes[i]].push_back(i);
    }
    for (auto it = byPluCode.cbegin(); it != byPluCode.cend(); ++it) {
        const QVector<int> &group = it.value();
        if (group.size() < 2)
            continue;
        // Rows that already shared one scale code before the change are not
        // merged by it; only a group the change brings together is refused.
        const QString first = schema::buildPluCode(rows[group[0]].codigo.toLongLong(), rows[group[0]].prefixb,
                                                   oldSize, oldPrefix2);
        bool merged = false;
        for (int i : group)
            merged = merged ||
                     schema::buildPluCode(rows[i].codigo.toLongLong(), rows[i].prefixb, oldSize, oldPrefix2) != first;
        if (merged)
            for (int i : group)
                inCollision[i] = true;
    }
    for (int i = 0; i < rows.size(); ++i) {
        if (!inCollision[i])
            continue;
        CodeCollision c;
        c.pluNo = rows[i].pluNo;
        c.codigo = rows[i].codigo.toLongLong();
        c.pluDesc = rows[i].pluDesc;
        c.newCodigo = plan.newCodes[i].toLongLong();
        c.newPluCode = newPluCodes[i];
        c.freed = c.newCodigo == 0;
        plan.collisions.push_back(c);
    }
    return plan;
}

QString collisionMessage(const CodeChangePlan &plan)
{
    QStringList lines;
    lines << QStringLiteral("O tamanho do código não foi alterado: com o novo padrão os produtos abaixo "
                            "ficariam com o mesmo código ou sem código. Nenhum produto foi modificado; altere "
                            "os códigos destes produtos e tente de novo.")
          << QString();
    for (const CodeCollision &c : plan.collisions) {
        const QString desc = c.pluDesc.trimmed().isEmpty() ? QStringLiteral("sem descrição") : c.pluDesc.trimmed();
        lines << (c.freed ? QStringLiteral("Código %1 (%2) passaria a 0: o produto ficaria sem código")
                                .arg(c.codigo)
                                .arg(desc)
                          : QStringLiteral("Código %1 (%2) passaria a %3 (código nas barras %4)")
                                .arg(c.codigo)
                                .arg(desc)
                                .arg(c.newCodigo)
                                .arg(c.newPluCode));
    }
    return lines.join(u'\n');
}

} // namespace torvane::manager::rules
