#include "ScaleCompare.h"

#include "CodePage.h"
#include "Db.h"

#include <QSqlError>
#include <QSqlQuery>

#include <map>

namespace torvane::transmitter {

using scalelink::AnsiToField;
using scalelink::StringFromAnsiField;

namespace {

// The text a fixed field of the scale gives back for what was sent.
QString throughField(const QString &text, std::size_t size)
{
    uint8_t field[32] = {};
    AnsiToField(text.left(int(size)), field, size);
    return StringFromAnsiField(field, size);
}

struct Flag {
    unsigned bit;
    const char *name;
    const char *key;
};

constexpr Flag kFlags[] = {
    {DiffMissingOnScale, "falta na balança", "missing"},
    {DiffFreeInBase, "livre na base", "free-in-base"},
    {DiffCode, "código", "code"},
    {DiffDescription, "descrição", "description"},
    {DiffPrice, "preço", "price"},
    {DiffTare, "tara", "tare"},
    {DiffShelfLife, "validade", "shelf-life"},
    {DiffSaleType, "tipo de venda", "sale-type"},
    {DiffPrefix, "prefixo", "prefix"},
};

bool readProducts(const QSqlDatabase &db, const QString &sql, bool base, std::vector<CompareProduct> *out,
                  QString *error)
{
    out->clear();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql)) {
        if (error)
            *error = db::errorText(q.lastError());
        return false;
    }
    while (q.next()) {
        CompareProduct p;
        p.pluNo = q.value(0).toInt();
        p.preFix = q.value(1).toInt();
        p.pluCode = q.value(2).toString();
        p.pluDesc = q.value(3).toString();
        p.validDays = q.value(4).toInt();
        p.tareWeight = q.value(5).toInt();
        p.unitPrice = q.value(6).toInt();
        p.sellFlag = q.value(7).toInt();
        if (base)
            p.codigo = q.value(8).toLongLong();
        out->push_back(std::move(p));
    }
    if (q.lastError().isValid()) {
        if (error)
            *error = db::errorText(q.lastError());
        return false;
    }
    return true;
}

} // namespace

CompareProduct AsScaleStores(const CompareProduct &base)
{
    CompareProduct p = base;
    p.pluNo = base.pluNo & 0xFFFF;
    p.preFix = base.preFix & 0xFF;
    p.pluCode = throughField(base.pluCode, 6);
    p.pluDesc = throughField(base.pluDesc, 26);
    p.validDays = base.validDays & 0xFFFF;
    p.tareWeight = base.tareWeight & 0xFFFF;
    p.unitPrice = base.unitPrice & 0xFFFFFF;
    p.sellFlag = base.sellFlag & 0xFF;
    return p;
}

bool ScaleSlotHoldsProduct(const CompareProduct &scale)
{
    return !scale.pluDesc.isEmpty() || scale.unitPrice != 0;
}

std::vector<SlotComparison> CompareScale(const std::vector<CompareProduct> &base,
                                         const std::vector<CompareProduct> &scale)
{
    // Slot number -> product; a later row for the same slot wins, as it
    // would on the scale.
    std::map<int, CompareProduct> onScale;
    for (const auto &p : scale)
        onScale[p.pluNo] = p;
    std::map<int, CompareProduct> inBase;
    for (const auto &p : base) {
        const CompareProduct stored = AsScaleStores(p);
        inBase[stored.pluNo] = stored;
    }

    std::vector<SlotComparison> out;
    auto s = onScale.begin();
    auto b = inBase.begin();
    while (s != onScale.end() || b != inBase.end()) {
        SlotComparison c;
        if (b != inBase.end() && (s == onScale.end() || b->first <= s->first)) {
            c.pluNo = b->first;
            c.base = b->second;
            if (s != onScale.end() && s->first == b->first)
                c.scale = (s++)->second;
            ++b;
        } else {
            c.pluNo = s->first;
            c.scale = (s++)->second;
        }

        const bool baseHolds = c.base && c.base->codigo != 0;
        const bool scaleHolds = c.scale && ScaleSlotHoldsProduct(*c.scale);
        if (baseHolds && !scaleHolds) {
            c.differences = DiffMissingOnScale;
        } else if (!baseHolds && scaleHolds) {
            c.differences = DiffFreeInBase;
        } else if (baseHolds && scaleHolds) {
            const CompareProduct &x = *c.base;
            const CompareProduct &y = *c.scale;
            if (x.pluCode != y.pluCode)
                c.differences |= DiffCode;
            if (x.pluDesc != y.pluDesc)
                c.differences |= DiffDescription;
            if (x.unitPrice != y.unitPrice)
                c.differences |= DiffPrice;
            if (x.tareWeight != y.tareWeight)
                c.differences |= DiffTare;
            if (x.validDays != y.validDays)
                c.differences |= DiffShelfLife;
            if (x.sellFlag != y.sellFlag)
                c.differences |= DiffSaleType;
            if (x.preFix != y.preFix)
                c.differences |= DiffPrefix;
        }
        if (c.differences != DiffNone)
            out.push_back(std::move(c));
    }
    return out;
}

bool ReadBaseProducts(const QSqlDatabase &db, std::vector<CompareProduct> *out, QString *error)
{
    return readProducts(db,
                        QStringLiteral("SELECT pluNo, preFix, pluCode, pluDesc, validDays, tareWeight, unitPrice,"
                                       " sellFlag, Codigo FROM PLU"),
                        true, out, error);
}

bool ReadScaleProducts(const QSqlDatabase &db, std::vector<CompareProduct> *out, QString *error)
{
    return readProducts(db,
                        QStringLiteral("SELECT pluNo, preFix, pluCode, pluDesc, validDays, tareWeight, unitPrice,"
                                       " sellFlag FROM PLU_UPLOADED"),
                        false, out, error);
}

QStringList DifferenceNames(unsigned differences)
{
    QStringList names;
    for (const auto &f : kFlags)
        if (differences & f.bit)
            names << QString::fromUtf8(f.name);
    return names;
}

QStringList DifferenceKeys(unsigned differences)
{
    QStringList keys;
    for (const auto &f : kFlags)
        if (differences & f.bit)
            keys << QString::fromLatin1(f.key);
    return keys;
}

} // namespace torvane::transmitter
