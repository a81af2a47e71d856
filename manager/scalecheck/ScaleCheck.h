#pragma once
// What the scale holds against what the base holds, for the window
// "Conferir balança": the comparison is the transmitter's (ScaleCompare, the
// one `torvane-transfer check` prints); this adds what the window shows of
// it and which products "Enviar diferenças" sends.
//
// No widgets.  Reads PLU on the connection given; the scale's side is the
// slots the product upload read (as the scale sent them, barcode mode
// included).

#include "ScaleCompare.h"

#include <QSet>
#include <QSqlDatabase>
#include <QString>

#include <vector>

namespace torvane::manager {

struct ScaleCheckResult {
    std::vector<transmitter::SlotComparison> differing; // slot order
    std::vector<transmitter::CompareProduct> equal;     // base products the scale holds as they are
};

class ScaleCheck {
public:
    // Compares the base with the slots just read back from the scale.
    // False with *error set when the base cannot be read.
    static bool compare(const QSqlDatabase &db, const std::vector<ScalePlu> &scaleSlots, ScaleCheckResult *out,
                        QString *error);

    // The slots a download mends: every differing slot the base has a row
    // for (a free base row clears the scale's slot).
    static QSet<int> slotsToSend(const ScaleCheckResult &result, const QSqlDatabase &db);

    // One side of a slot as the window shows it: "000123 BANANA R$ 12,34/kg
    // tara 0,010 validade 5"; "(vazio)" when that side holds nothing.
    static QString describe(const std::optional<transmitter::CompareProduct> &product, bool holds);
};

} // namespace torvane::manager
