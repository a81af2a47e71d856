#include "ScaleCompare.h"

#include "CodePage.h"
#include "Db.h"
#include "ScaleProtocol.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
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
    {DiffBarcodeMode, "código de barras (peso ou total)", "barcode-mode"},
};

bool readProducts(const QSqlDatabase &db, const QString &sql, std::vector<CompareProduct> *out, QString *error)
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
        p.codigo = q.value(8).toLongLong();
        p.barcodeMode = q.value(9).toInt();
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
    p.barcodeMode = base.barcodeMode & 0xFF;
    return p;
}

CompareProduct FromScaleSlot(const ScalePlu &slot)
{
    CompareProduct p;
    p.pluNo = slot.number;
    p.preFix = slot.prefix;
    p.pluCode = StringFromAnsiField(slot.code, sizeof slot.code);
    p.pluDesc = StringFromAnsiField(slot.description, sizeof slot.description);
    p.validDays = slot.shelfLifeDays;
    p.tareWeight = slot.tare;
    p.unitPrice = int(slot.unitPrice & 0xFFFFFF);
    p.sellFlag = slot.saleType;
    p.barcodeMode = slot.barcodeMode;
    return p;
}

bool SlotIsFree(const CompareProduct &product)
{
    if (product.codigo >= 0)
        return product.codigo == 0;
    const bool zeroCode = std::all_of(product.pluCode.begin(), product.pluCode.end(),
                                      [](QChar c) { return c == u'0'; });
    return product.pluDesc.isEmpty() && product.unitPrice == 0 && zeroCode;
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

        const bool baseHolds = c.base && !SlotIsFree(*c.base);
        const bool scaleHolds = c.scale && !SlotIsFree(*c.scale);
        unsigned fields = DiffNone;
        if (c.base && c.scale) {
            const CompareProduct &x = *c.base;
            const CompareProduct &y = *c.scale;
            if (x.pluCode != y.pluCode)
                fields |= DiffCode;
            if (x.pluDesc != y.pluDesc)
                fields |= DiffDescription;
            if (x.unitPrice != y.unitPrice)
                fields |= DiffPrice;
            if (x.tareWeight != y.tareWeight)
                fields |= DiffTare;
            if (x.validDays != y.validDays)
                fields |= DiffShelfLife;
            if (x.sellFlag != y.sellFlag)
                fields |= DiffSaleType;
            if (x.preFix != y.preFix)
                fields |= DiffPrefix;
            if (x.barcodeMode != y.barcodeMode)
                fields |= DiffBarcodeMode;
        }
        // What a download would put there already is there: equal, whether
        // or not a product is in it.  Otherwise a slot free on both sides
        // is equal too.
        if (c.base && c.scale && fields == DiffNone)
            c.differences = DiffNone;
        else if (baseHolds && !scaleHolds)
            c.differences = DiffMissingOnScale;
        else if (!baseHolds && scaleHolds)
            c.differences = DiffFreeInBase;
        else if (baseHolds && scaleHolds)
            c.differences = fields;
        if (c.differences != DiffNone)
            out.push_back(std::move(c));
    }
    return out;
}

bool ReadBaseProducts(const QSqlDatabase &db, std::vector<CompareProduct> *out, QString *error)
{
    return readProducts(db,
                        QStringLiteral("SELECT pluNo, preFix, pluCode, pluDesc, validDays, tareWeight, unitPrice,"
                                       " sellFlag, Codigo, BarcodeMode FROM PLU"),
                        out, error);
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
