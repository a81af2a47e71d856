#include "ScaleCheck.h"

#include "SalesLedger.h"
#include "ScaleProtocol.h"

#include <QSqlQuery>

namespace torvane::manager {

using transmitter::CompareProduct;

bool ScaleCheck::compare(const QSqlDatabase &db, const std::vector<ScalePlu> &scaleSlots, ScaleCheckResult *out,
                         QString *error)
{
    *out = ScaleCheckResult();
    std::vector<CompareProduct> base, scale;
    if (!transmitter::ReadBaseProducts(db, &base, error))
        return false;
    for (const ScalePlu &slot : scaleSlots)
        scale.push_back(transmitter::FromScaleSlot(slot));
    out->differing = transmitter::CompareScale(base, scale);
    QSet<int> differing;
    for (const auto &c : out->differing)
        differing.insert(c.pluNo);
    for (const CompareProduct &p : base)
        if (!transmitter::SlotIsFree(p) && !differing.contains(p.pluNo))
            out->equal.push_back(transmitter::AsScaleStores(p));
    return true;
}

QSet<int> ScaleCheck::slotsToSend(const ScaleCheckResult &result, const QSqlDatabase &db)
{
    QSet<int> rows;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT pluNo FROM PLU")))
        while (q.next())
            rows.insert(q.value(0).toInt() & 0xFFFF);
    QSet<int> out;
    for (const auto &c : result.differing)
        if (rows.contains(c.pluNo))
            out.insert(c.pluNo);
    return out;
}

QString ScaleCheck::describe(const std::optional<CompareProduct> &product, bool holds)
{
    if (!product || !holds)
        return QStringLiteral("(vazio)");
    const CompareProduct &p = *product;
    return QStringLiteral("%1 %2 R$ %3%4 tara %5 validade %6 prefixo %7 %8")
        .arg(p.pluCode, p.pluDesc, FormatMoney(p.unitPrice),
             p.sellFlag == 1 ? QStringLiteral("/kg") : QStringLiteral("/un"), FormatKg(p.tareWeight))
        .arg(p.validDays)
        .arg(p.preFix)
        .arg(p.barcodeMode == 2 ? QStringLiteral("(total)") : QStringLiteral("(peso)"));
}

} // namespace torvane::manager
