// The loop behind the bulk changes, on a real database file: every row
// changed and saved once, the one-shot flag, and how it stops.
#include "BulkChanges.h"
#include "Db.h"
#include "Engine.h"
#include "ProductQuery.h"
#include "Schema.h"
#include "ServerBase.h"

#include <QFileInfo>
#include <QLocale>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::manager;

namespace {

class BulkWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("vendabase.accdb"));
        schema::CreateOptions options;
        options.slotCount = 6;
        QString error;
        test::useServerBase(QFileInfo(path).absolutePath());
        ASSERT_TRUE(schema::createDatabaseFile(path, options, &error)) << error.toStdString();
        conn = db::Connection::open(path, &error);
        ASSERT_TRUE(conn) << error.toStdString();
        exec("Update PLU Set Codigo = pluNo * 10, Prefixb = 7, pluCode = 'w' || pluNo");
        products.setDatabase(conn->database());
        products.setTable(QStringLiteral("PLU"), QStringLiteral("pluNo"));
        products.setSql(QStringLiteral("Select * From Plu Order By PluNo"));
        // A save procedure of the form's shape: rebuilds pluCode (size 5
        // with the second prefix) and notes whether the flag was set.
        products.beforePost = [this] {
            ++saves;
            flagAtSave = flgSemValidacao;
            products.setValue(QStringLiteral("pluCode"),
                              schema::buildPluCode(products.value(QStringLiteral("Codigo")).toLongLong(),
                                                   products.value(QStringLiteral("Prefixb")).toLongLong(), 5, true));
            if (!flgSemValidacao)
                return false;
            flgSemValidacao = false;
            return true;
        };
        ASSERT_TRUE(products.open(&error)) << error.toStdString();
    }

    void exec(const QString &sql)
    {
        QSqlQuery q(conn->database());
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
    }
    QVariantList column(const char *col)
    {
        QSqlQuery q(conn->database());
        EXPECT_TRUE(q.exec(QStringLiteral("Select %1 From PLU Order By pluNo").arg(QLatin1String(col))));
        QVariantList out;
        while (q.next())
            out << q.value(0);
        return out;
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<db::Connection> conn;
    ProductQuery products;
    bool flgSemValidacao = false;
    bool flagAtSave = false;
    int saves = 0;
};

RowChange setPrefixb(int digit)
{
    return [digit](ProductQuery &row, QString *) { return row.setValue(QStringLiteral("Prefixb"), digit); };
}

TEST_F(BulkWalk, ChangesEveryRowThroughTheSaveAndReturnsToTheFirst)
{
    products.last();
    int steps = 0;
    const RowWalkResult r = walkProducts(products, flgSemValidacao, setPrefixb(4), [&] { ++steps; });
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.rowsSaved, 6);
    EXPECT_EQ(steps, 6);
    EXPECT_EQ(saves, 6);
    EXPECT_TRUE(flagAtSave);
    EXPECT_FALSE(flgSemValidacao);
    EXPECT_EQ(products.recNo(), 0);
    EXPECT_FALSE(products.isEditing());
    EXPECT_EQ(column("Prefixb"), QVariantList(6, 4));
    EXPECT_EQ(column("pluCode").value(2).toString(), QStringLiteral("400030"));
    EXPECT_EQ(products.value(QStringLiteral("pluCode")).toString(), QStringLiteral("400010"));
}

TEST_F(BulkWalk, FollowsTheListOrder)
{
    products.close();
    products.setSql(QStringLiteral("Select * From Plu Order By PluNo Desc"));
    ASSERT_TRUE(products.open());
    QVariantList visited;
    walkProducts(products, flgSemValidacao, [&](ProductQuery &row, QString *) {
        visited << row.value(QStringLiteral("pluNo"));
        return true;
    });
    EXPECT_EQ(visited, (QVariantList{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(products.value(QStringLiteral("pluNo")).toInt(), 6);
}

TEST_F(BulkWalk, AnEmptyListCompletesWithoutSaving)
{
    products.close();
    products.setSql(QStringLiteral("Select * From Plu Where pluNo < 0"));
    ASSERT_TRUE(products.open());
    int steps = 0;
    const RowWalkResult r = walkProducts(products, flgSemValidacao, setPrefixb(4), [&] { ++steps; });
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(steps, 0);
    EXPECT_EQ(saves, 0);
    EXPECT_FALSE(flgSemValidacao);
}

TEST_F(BulkWalk, AChangeThatCannotBeStoredStopsAtTheFirstRowUnchanged)
{
    const RowWalkResult r = walkProducts(products, flgSemValidacao, [](ProductQuery &, QString *error) {
        *error = notAnIntegerMessage(QStringLiteral("5,5"));
        return false;
    });
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.rowsSaved, 0);
    EXPECT_EQ(r.error, QStringLiteral("'5,5' não é um valor inteiro válido"));
    EXPECT_EQ(saves, 0);
    EXPECT_FALSE(flgSemValidacao);
    EXPECT_FALSE(products.isEditing());
    EXPECT_EQ(products.recNo(), 0);
    EXPECT_EQ(column("Prefixb"), QVariantList(6, 7));
}

TEST_F(BulkWalk, ADatabaseFailureKeepsTheRowsSavedBeforeIt)
{
    exec(test::faultTrigger(QStringLiteral("refuse3"), QStringLiteral("UPDATE"), QStringLiteral("PLU"),
                            QStringLiteral("NEW.pluNo = 3"), QStringLiteral("disco cheio")));
    int steps = 0;
    const RowWalkResult r = walkProducts(products, flgSemValidacao, setPrefixb(1), [&] { ++steps; });
    EXPECT_FALSE(r.completed);
    EXPECT_FALSE(r.rolledBack);
    EXPECT_EQ(r.rowsSaved, 2);
    // On a server the saves are checked when their batch is sent: the bar
    // has passed the failed row by then.
    EXPECT_EQ(steps, test::onServer() ? 6 : 2);
    EXPECT_TRUE(r.error.contains(QStringLiteral("disco cheio"))) << r.error.toStdString();
    EXPECT_FALSE(flgSemValidacao);
    EXPECT_FALSE(products.isEditing());
    EXPECT_EQ(products.value(QStringLiteral("pluNo")).toInt(), 3);
    EXPECT_EQ(products.value(QStringLiteral("Prefixb")).toInt(), 7);
    // Committed: another connection sees rows 1 and 2 changed, the rest not.
    QString error;
    auto other = db::Connection::open(path, &error);
    ASSERT_TRUE(other);
    QSqlQuery q(other->database());
    ASSERT_TRUE(q.exec(QStringLiteral("Select Prefixb From PLU Order By pluNo")));
    QVariantList seen;
    while (q.next())
        seen << q.value(0).toInt();
    EXPECT_EQ(seen, (QVariantList{1, 1, 7, 7, 7, 7}));
}

TEST_F(BulkWalk, ARowChangedElsewhereFarIntoTheWalkStopsItThereAndKeepsTheRowsBefore)
{
    // Enough rows that a server sends the saves in several batches, and
    // the row is found changed only when a full batch goes out.
    exec("Insert Into PLU (pluNo, Codigo, Prefixb, pluCode) "
         "With Recursive n(i) As (Select 7 Union All Select i + 1 From n Where i < 600) "
         "Select i, i * 10, 7, 'w' || i From n");
    ASSERT_TRUE(products.open());
    QString error;
    auto other = db::Connection::open(path, &error);
    ASSERT_TRUE(other) << error.toStdString();
    QSqlQuery q(other->database());
    ASSERT_TRUE(q.exec(QStringLiteral("Update PLU Set Prefixb = 9 Where pluNo = 430")));
    // The list just read leaves no transaction open: the walk begins its own.
    EXPECT_FALSE(db::transactionOpen(conn->database()));

    const RowWalkResult r = walkProducts(products, flgSemValidacao, setPrefixb(1));
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.rowsSaved, 429);
    EXPECT_TRUE(r.error.contains(QStringLiteral("foi alterado em outro computador"))) << r.error.toStdString();
    EXPECT_EQ(products.value(QStringLiteral("pluNo")).toInt(), 430);
    EXPECT_EQ(products.value(QStringLiteral("Prefixb")).toInt(), 9);
    EXPECT_EQ(products.value(550, QStringLiteral("Prefixb")).toInt(), 7);
    const QVariantList stored = column("Prefixb");
    EXPECT_EQ(stored.mid(0, 429), QVariantList(429, 1));
    EXPECT_EQ(stored.value(429), 9);
    EXPECT_EQ(stored.mid(430), QVariantList(170, 7));
}

TEST_F(BulkWalk, ARefusedSaveStopsWithoutAMessageOfItsOwn)
{
    products.beforePost = [] { return false; };
    const RowWalkResult r = walkProducts(products, flgSemValidacao, setPrefixb(2));
    EXPECT_FALSE(r.completed);
    EXPECT_TRUE(r.error.isEmpty());
    EXPECT_FALSE(products.isEditing());
    EXPECT_FALSE(flgSemValidacao);
}

TEST(PrefixDigit, WholeNumbersInEitherLocale)
{
    const QLocale saved;
    for (const char *name : {"pt_BR", "en_US"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        const bool comma = QLocale().decimalPoint() == QLatin1String(",");
        EXPECT_EQ(prefixDigit(QStringLiteral("5")), 5);
        EXPECT_EQ(prefixDigit(QStringLiteral(" 3 ")), 3);
        EXPECT_EQ(prefixDigit(QStringLiteral("1E0")), 1);
        EXPECT_EQ(prefixDigit(comma ? QStringLiteral("5,0") : QStringLiteral("5.0")), 5);
        EXPECT_EQ(prefixDigit(comma ? QStringLiteral("5,5") : QStringLiteral("5.5")), std::nullopt);
        EXPECT_EQ(prefixDigit(QStringLiteral("x")), std::nullopt);
    }
    QLocale::setDefault(saved);
}

} // namespace
