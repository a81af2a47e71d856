#pragma once
// The product-code size and the barcode illustration: what a change of
// CodeSize does to each product code, and where the four labels under the
// barcode picture go.

#include <QString>
#include <QtGlobal>

namespace torvane::manager {

// The code a product keeps when the code size shrinks from oldSize to
// newSize: taken from the code written with six digits (leading zeros),
// starting at position oldSize - newSize + 1, newSize digits long.  So
// 123456 becomes 23456 (6 -> 5) or 3456 (6 -> 4), and 12345 becomes 1234
// (5 -> 4).  A size that does not shrink keeps the code.
qint64 shrinkCode(qint64 codigo, int oldSize, int newSize);

// Whether the second prefix field (and its label) is shown.
inline bool secondPrefixVisible(int codeSize, bool flgPrefixo2)
{
    return codeSize != 6 && flgPrefixo2;
}

// The second-prefix choice for a new size: size 6 does not use it, so the
// stored choice is kept as it is; other sizes take the operator's answer.
inline bool secondPrefixChoice(int newSize, bool stored, bool answer)
{
    return newSize == 6 ? stored : answer;
}

// Width of one character of the illustration labels (bold Courier New, 12 px).
inline constexpr int kBarcodeCharWidth = 8;

// Captions and left edges of the four illustration labels.
struct BarcodeLabels {
    QString prefixo, codigo, peso, dv;
    int prefixoLeft = 0, codigoLeft = 0, pesoLeft = 0, dvLeft = 0;
};

// prefix1: the text of the first prefix field; pluCode: the stored code of
// the row; total: "Total a Pagar" is selected under "Imprimir:"; dv: the
// check digit label's caption (kept as it is); prefixoLeft: where the first
// label stands.  The first label shows the prefix followed by the first
// character of pluCode, the second characters 2 to 6 of pluCode, the third
// "TTTTT" or "PPPPP"; each label follows the previous one at 8 pixels per
// character of its caption.
BarcodeLabels layoutBarcodeLabels(const QString &prefix1, const QString &pluCode, bool total,
                                  const QString &dv, int prefixoLeft);

// The barcode help text (the button next to the picture).
QString barcodeHelpText();

} // namespace torvane::manager
