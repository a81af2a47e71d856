#pragma once
// The rules every save of a product row applies, whichever command makes it
// (the form's "&Gravar", the bulk changes, the code-size change, the
// import): a product needs a code other than 0, and prices and tares stay
// in their ranges and are stored exactly as the scale will get them.  That
// no change gives two products one code is the plan's (CodePlan.h).
//
// Plain functions without widgets or database: the callers read the row,
// ask here, show the message that comes back and write the values.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <QtGlobal>

#include <optional>

namespace torvane::manager::rules {

// ---- Operator texts -----------------------------------------------------------
inline const QString kMissingCode = QStringLiteral("O código deve ser preenchido");
inline const QString kNegativeCode = QStringLiteral("O código não pode ser negativo");
inline const QString kDuplicateCode = QStringLiteral("Código já existente");
inline const QString kPriceRange = QStringLiteral("O preço unitário deve ser maior que 0 e menor que 999.99");
inline const QString kPriceRounded =
    QStringLiteral("O preço foi arredondado para duas casas decimais (o centavo seguinte a partir de meio centavo)");
inline const QString kTareRange = QStringLiteral("A tara deve ser menor que 6 kg");
inline const QString kNegativeTare = QStringLiteral("A tara não pode ser negativa");
inline const QString kTareRounded = QStringLiteral("A Tara foi arrendonda para multiplo de 2 g");
inline const QString kValidDaysRange = QStringLiteral("A validade deve ser de 0 a 999 dias");

// ---- Ranges ---------------------------------------------------------------------
inline constexpr double kMaxPrice = 999.99;
inline constexpr double kMaxTare = 6.0;
inline constexpr int kMaxValidDays = 999;

// The field a refusal sends the operator back to.
enum class Field { Codigo, Preco, Tara, Validade };

struct Refusal {
    QString message;
    Field field;
};

// ---- The code -------------------------------------------------------------------
// A row is a product (not a free slot) when it has a description or a price.
bool isProduct(const QString &pluDesc, double preco);

// Code required: no code at all, or code 0 on a row that is a product, is
// refused with kMissingCode (code 0 marks a free slot, and free slots all
// share one scale code); a negative code is refused.  Clearing a slot does
// not pass through here.
std::optional<Refusal> checkCode(const QVariant &codigo, const QString &pluDesc, double preco);

// ---- Price and tare ---------------------------------------------------------------
struct Price {
    double preco = 0;      // what Preco stores: two decimals at most
    qint64 unitPrice = 0;  // hundredths, what the scale gets
    bool rounded = false;  // the typed value had more than two decimals
};
// The price rounded half-up to the cent (1.005 -> 1.01, so what is shown,
// stored and sent agree), refused outside 0 to 999.99.
std::optional<Refusal> checkPrice(double typed, Price *out);

struct Tare {
    double tara = 0;       // what Tara stores: an even number of grams
    qint64 tareWeight = 0; // grams, what the scale gets
    bool rounded = false;  // an odd number of grams was brought down by one
};
// Refused above 6 kg or below 0; an odd number of grams becomes the even
// number below it.
std::optional<Refusal> checkTare(double typed, Tare *out);

std::optional<Refusal> checkValidDays(const QVariant &validDays);

// The values a validated save checks, as the row holds them.
struct ProductInput {
    QVariant codigo;
    QString pluDesc;
    QVariant preco;
    QVariant tara;
    QVariant validDays;
};

// Every check of a validated save except the duplicate look-up (which needs
// the table), in the order the operator meets them.
struct CheckedProduct {
    std::optional<Refusal> refusal;
    Price price;
    Tare tare;
};
CheckedProduct checkProduct(const ProductInput &input);

// Rounds half-up to the nearest integer, also for values a binary double
// holds just under the half (100.4999... for 1.005 × 100).
qint64 roundHalfUp(double value);

// ---- Code size and second prefix -----------------------------------------------------
// The code a product keeps when the code size shrinks from oldSize to
// newSize: taken from the code written with six digits (leading zeros),
// starting at position oldSize - newSize + 1, newSize digits long.  So
// 123456 becomes 23456 (6 -> 5) or 3456 (6 -> 4), and 12345 becomes 1234
// (5 -> 4).  A size that does not shrink keeps the code.  Defined for every
// stored value: longer codes keep their leading digits the same way, a
// negative code is cut from its digits after the sign.
qint64 cutCode(qint64 codigo, int oldSize, int newSize);

} // namespace torvane::manager::rules
