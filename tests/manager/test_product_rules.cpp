// The save rules and the code-size plan, without a window.
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

TEST(ProductRules, ShrinkingOrDroppingThePrefixNeverMergesOrFreesAProduct)
{
    QVector<CodeRow> rows;
    for (int code = 101; code <= 109; ++code)
        rows.push_back({code, code, 0, QStringLiteral("P%1").arg(code), 1.0});
    rows.push_back({200, 7, 0, QStringLiteral("SETE"), 0});
    rows.push_back({201, 0, 0, QString(), 0}); // a free slot stays one
    CodeChangePlan plan = planCodeChange(rows, 5, false, 4, false);
    ASSERT_EQ(plan.collisions.size(), 10);
    EXPECT_EQ(plan.collisions[0].newCodigo, 10);
    EXPECT_EQ(plan.collisions[0].newPluCode, QStringLiteral("001000"));
    EXPECT_TRUE(plan.collisions[9].freed);
    EXPECT_TRUE(collisionMessage(plan).contains(QStringLiteral("Código 101 (P101) passaria a 10")));

    // Two prefixes keep 12 apart only while the second prefix is in use.
    rows = {{1, 12, 1, QStringLiteral("A"), 1}, {2, 12, 2, QStringLiteral("B"), 1}};
    EXPECT_TRUE(planCodeChange(rows, 5, true, 5, true).ok());
    EXPECT_EQ(planCodeChange(rows, 5, true, 5, false).collisions.size(), 2);

    // Without collisions every row gets its cut code.
    rows = {{1, 123456, 0, QStringLiteral("A"), 1}, {2, 123, 0, QStringLiteral("B"), 1}};
    plan = planCodeChange(rows, 6, false, 5, false);
    ASSERT_TRUE(plan.ok());
    EXPECT_EQ(plan.newCodes, (QVector<QVariant>{23456, 123}));
}
