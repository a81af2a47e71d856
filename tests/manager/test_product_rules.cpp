// The save rules and the plan every code change passes, without a window.
#include "CodePlan.h"
#include "ProductRules.h"

#include <climits>
#include <gtest/gtest.h>

using namespace torvane::manager::rules;

TEST(ProductRules, CodeZeroIsAFreeSlotNotAProduct)
{
    EXPECT_EQ(checkCode(0, QStringLiteral("PAO"), 0)->message, kMissingCode);
    EXPECT_EQ(checkCode(0, QString(), 2.5)->message, kMissingCode);
    EXPECT_EQ(checkCode(QVariant(), QString(), 0)->message, kMissingCode);
    EXPECT_FALSE(checkCode(0, QStringLiteral("  "), 0)); // an empty slot saved as it is
    EXPECT_FALSE(checkCode(7, QStringLiteral("PAO"), 2.5));
}

TEST(ProductRules, PriceWithAThirdDecimalIsRoundedHalfUpAndSaid)
{
    Price p;
    ASSERT_FALSE(checkPrice(1.005, &p));
    EXPECT_EQ(p.unitPrice, 101);
    EXPECT_DOUBLE_EQ(p.preco, 1.01);
    EXPECT_TRUE(p.rounded);
    ASSERT_FALSE(checkPrice(999.99, &p));
    EXPECT_EQ(p.unitPrice, 99999);
    EXPECT_FALSE(p.rounded);
    EXPECT_TRUE(checkPrice(999.995, &p)); // rounds to 1000.00
}

TEST(ProductRules, CodeCutIsDefinedForEveryStoredValue)
{
    // "-9223372036854775808" from its third character, four digits.
    EXPECT_EQ(cutCode(LLONG_MIN, 6, 4), 2233);
}

TEST(CodePlan, RefusesMergedOrFreedProductsAndOrdersTheRest)
{
    using torvane::manager::CodePlan;
    using torvane::manager::StoredCode;
    // Two prefixes keep 12 apart; one prefix for all would merge them.
    const QVector<StoredCode> twelve{{1, 12, 1, "100012", "PAO", 1}, {2, 12, 2, "200012", "LEITE", 1}};
    CodePlan merge(twelve, {5, true});
    merge.save(0, 12, 3);
    merge.save(1, 12, 3);
    ASSERT_FALSE(merge.check());
    const QString why = merge.refusal("O prefixo 2 não foi alterado");
    EXPECT_TRUE(why.startsWith("O prefixo 2 não foi alterado: ")) << why.toStdString();
    EXPECT_TRUE(why.contains("Código 12 (PAO): o código nas barras passaria de 100012 a 300012"));
    EXPECT_TRUE(why.contains("Código 12 (LEITE): o código nas barras passaria de 200012 a 300012"));

    // A product cut to code 0 would become a free slot; a free slot stays one.
    CodePlan freed({{1, 7, 0, "000070", "SETE", 0}, {2, 0, 0, "000000", "", 0}}, {4, false});
    freed.save(0, cutCode(7, 5, 4), 0);
    freed.save(1, 0, 0);
    ASSERT_FALSE(freed.check());
    ASSERT_EQ(freed.collisions().size(), 1);
    EXPECT_TRUE(freed.refusal("x").contains("Código 7 (SETE) passaria a 0"));

    // Codes an older file repeats already are not this change's doing.
    CodePlan older({{1, 12, 0, "000120", "A", 1}, {2, 12, 0, "000120", "B", 1}}, {5, false});
    older.save(0);
    older.save(1);
    EXPECT_TRUE(older.check());

    // Row 0 takes the code row 1 gives up: row 1 is written first.  Rows
    // that swap codes are a ring: one is parked as a free slot first.
    CodePlan chain({{1, 1230, 0, "012300", "A", 1}, {2, 123, 0, "001230", "B", 1}}, {6, false});
    chain.save(0);
    chain.save(1);
    ASSERT_TRUE(chain.check());
    EXPECT_EQ(chain.order(), (QVector<int>{1, 0}));
    EXPECT_TRUE(chain.parked().isEmpty());
    CodePlan ring({{1, 13, 0, "000120", "A", 1}, {2, 12, 0, "000130", "B", 1}, {3, 5, 0, "000050", "C", 1}},
                  {5, false});
    for (int r = 0; r < 3; ++r)
        ring.save(r);
    ASSERT_TRUE(ring.check());
    ASSERT_EQ(ring.parked().size(), 1);
    EXPECT_EQ(ring.order().size(), 3);
    // Replayed as the walk does it: no moment with one code on two products.
    QVector<QString> held{"000120", "000130", "000050"};
    for (int r : ring.parked())
        held[r] = QString();
    for (int r : ring.order()) {
        held[r] = QString();
        EXPECT_FALSE(held.contains(ring.newPluCode(r))) << r;
        held[r] = ring.newPluCode(r);
    }
}
