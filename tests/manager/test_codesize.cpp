// What a change of code size does to a product code, and where the labels
// under the barcode picture go.
#include "CodeSize.h"

#include <gtest/gtest.h>

using namespace torvane::manager;

TEST(CodeSize, ShrinkingCutsFromTheSixDigitForm)
{
    EXPECT_EQ(shrinkCode(123456, 6, 5), 23456);
    EXPECT_EQ(shrinkCode(123456, 6, 4), 3456);
    EXPECT_EQ(shrinkCode(993456, 6, 4), 3456);
    EXPECT_EQ(shrinkCode(12345, 5, 4), 1234);
    EXPECT_EQ(shrinkCode(123, 5, 4), 12);   // 000123 -> 0012
    EXPECT_EQ(shrinkCode(123, 6, 4), 123);  // 000123 -> 0123
    EXPECT_EQ(shrinkCode(0, 6, 4), 0);
    EXPECT_EQ(shrinkCode(9, 5, 4), 0);      // 000009 -> 0000
}

TEST(CodeSize, GrowingOrKeepingTheSizeKeepsTheCode)
{
    EXPECT_EQ(shrinkCode(1234, 4, 6), 1234);
    EXPECT_EQ(shrinkCode(12345, 5, 5), 12345);
    EXPECT_EQ(shrinkCode(1234, 4, 5), 1234);
}

TEST(CodeSize, SecondPrefixFieldAndChoice)
{
    EXPECT_TRUE(secondPrefixVisible(4, true));
    EXPECT_TRUE(secondPrefixVisible(5, true));
    EXPECT_FALSE(secondPrefixVisible(6, true));
    EXPECT_FALSE(secondPrefixVisible(5, false));
    // Size 6 is never asked: the stored choice stays whatever the answer.
    EXPECT_TRUE(secondPrefixChoice(6, true, false));
    EXPECT_FALSE(secondPrefixChoice(6, false, true));
    EXPECT_TRUE(secondPrefixChoice(4, false, true));
}

TEST(CodeSize, IllustrationLabelsFollowEachOther)
{
    BarcodeLabels l = layoutBarcodeLabels(QStringLiteral("2"), QStringLiteral("001230"), false,
                                          QStringLiteral("D"), 208);
    EXPECT_EQ(l.prefixo, QStringLiteral("20"));
    EXPECT_EQ(l.codigo, QStringLiteral("01230"));
    EXPECT_EQ(l.peso, QStringLiteral("PPPPP"));
    EXPECT_EQ(l.dv, QStringLiteral("D"));
    EXPECT_EQ(l.prefixoLeft, 208);
    EXPECT_EQ(l.codigoLeft, 224);
    EXPECT_EQ(l.pesoLeft, 264);
    EXPECT_EQ(l.dvLeft, 304);

    l = layoutBarcodeLabels(QStringLiteral("2"), QStringLiteral("001230"), true, QStringLiteral("D"), 208);
    EXPECT_EQ(l.peso, QStringLiteral("TTTTT"));

    // An empty prefix field or a short stored code moves the later labels
    // left, one character width each.
    l = layoutBarcodeLabels(QString(), QStringLiteral("0012"), false, QStringLiteral("D"), 208);
    EXPECT_EQ(l.prefixo, QStringLiteral("0"));
    EXPECT_EQ(l.codigo, QStringLiteral("012"));
    EXPECT_EQ(l.codigoLeft, 216);
    EXPECT_EQ(l.pesoLeft, 240);
    EXPECT_EQ(l.dvLeft, 280);
    l = layoutBarcodeLabels(QStringLiteral("7"), QString(), false, QStringLiteral("D"), 208);
    EXPECT_EQ(l.prefixo, QStringLiteral("7"));
    EXPECT_TRUE(l.codigo.isEmpty());
    EXPECT_EQ(l.pesoLeft, 216);
}
