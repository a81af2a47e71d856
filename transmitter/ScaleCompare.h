#pragma once
// What differs, slot by slot, between the product base (PLU) and what a scale
// holds (its products as read back into PLU_UPLOADED).
//
// The base's products are first brought to the form the scale stores them
// in: code and description cut to 6 and 26 characters and passed through the
// scale's code page (a character it cannot hold reads back as "?"), shelf
// life and tare to their low 16 bits, price to its low 24 bits.  So a
// description the scale could never hold as typed is not reported over and
// over; only what a new download would change is.
//
// Equal means the scale holds what a download would put there, field by
// field, the barcode mode included.  A slot free on both sides is equal too
// (one definition of a free slot, SlotIsFree, for the check, the windows and
// the jobs).  No widgets, no database writes.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

struct ScalePlu;

namespace torvane::transmitter {

// One product with the fields the scale keeps.  For the base, codigo is the
// manager's product code (0: free slot); for the scale it is unused (-1).
struct CompareProduct {
    int pluNo = 0;
    qint64 codigo = -1;
    int preFix = 0;
    QString pluCode;
    QString pluDesc;
    int validDays = 0;
    int tareWeight = 0;
    int unitPrice = 0;
    int sellFlag = 0;
    int barcodeMode = 0; // 1 the label's barcode carries the weight, 2 the total to pay
};

// What differs in one slot, as bit flags.
enum SlotDifference : unsigned {
    DiffNone = 0,
    DiffMissingOnScale = 1u << 0, // the base holds a product, the scale's slot is empty or absent
    DiffFreeInBase = 1u << 1,     // the scale holds a product in a slot the base has free
    DiffCode = 1u << 2,
    DiffDescription = 1u << 3,
    DiffPrice = 1u << 4,
    DiffTare = 1u << 5,
    DiffShelfLife = 1u << 6,
    DiffSaleType = 1u << 7,
    DiffPrefix = 1u << 8,
    DiffBarcodeMode = 1u << 9,
};

struct SlotComparison {
    int pluNo = 0;
    unsigned differences = DiffNone;
    std::optional<CompareProduct> base;  // as the scale would store it
    std::optional<CompareProduct> scale; // as read back
};

// The base product as the scale would store it after a download.
CompareProduct AsScaleStores(const CompareProduct &base);

// A slot read back from the scale, as a product (codigo -1).
CompareProduct FromScaleSlot(const ScalePlu &slot);

// A slot holds no product.  In the base: its Codigo is 0.  The scale keeps
// no Codigo: its slot is free when it carries no description, no price and
// no product code other than zeros (a slot never written, or the image of a
// free base row).  A product with a code but neither description nor price
// is not free.
bool SlotIsFree(const CompareProduct &product);

// Only the slots that differ, in slot order.
std::vector<SlotComparison> CompareScale(const std::vector<CompareProduct> &base,
                                         const std::vector<CompareProduct> &scale);

// Reads PLU (with Codigo and BarcodeMode).  False with *error set (the
// engine's text) when the table cannot be read.
bool ReadBaseProducts(const QSqlDatabase &db, std::vector<CompareProduct> *out, QString *error);

// Portuguese names of the differences, in flag order ("falta na balança",
// "preço", ...), and their stable English keys for scripts ("missing",
// "price", ...).
QStringList DifferenceNames(unsigned differences);
QStringList DifferenceKeys(unsigned differences);

} // namespace torvane::transmitter
