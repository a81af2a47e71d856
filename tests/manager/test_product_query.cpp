// The product list snapshot on its own: moving, locating, saving back by
// pluNo, refusing, and what a failed save leaves behind.
#include "ManagerTestSupport.h"

#include "Db.h"
#include "ProductQuery.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;
using manager::ProductQuery;

namespace {

class ProductQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = std::make_unique<TempDatabase>(dbOptions(5, true));
        QString error;
        conn = db::Connection::open(db->path(), &error);
        ASSERT_TRUE(conn) << error.toStdString();
        q.setDatabase(conn->database());
        q.setSql("Select * From Plu Order By PluNo ");
        ASSERT_TRUE(q.open(&error)) << error.toStdString();
    }
    void TearDown() override
    {
        q.close();
        q.setDatabase(QSqlDatabase());
        conn.reset();
    }
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<db::Connection> conn;
    ProductQuery q;
};

} // namespace

TEST_F(ProductQueryTest, WalksRowsAndLocatesByValue)
{
    EXPECT_EQ(q.count(), 5);
    EXPECT_EQ(q.recNo(), 0);
    EXPECT_FALSE(q.eof());
    EXPECT_EQ(q.fieldIndex("PLUNO"), q.fieldIndex("pluNo")); // names are case-blind
    int seen = 0;
    for (q.first(); !q.eof(); q.next())
        ++seen;
    EXPECT_EQ(seen, 5);
    EXPECT_EQ(q.recNo(), 4);
    EXPECT_TRUE(q.locate({"pluNo"}, {3}));
    EXPECT_EQ(q.value("pluDesc").toString(), "PRESUNTO COZIDO");
    EXPECT_TRUE(q.locate({"Codigo", "sellFlag"}, {QString("104"), 1})); // text against a number
    EXPECT_EQ(q.value("pluNo").toInt(), 4);
    EXPECT_FALSE(q.locate({"pluNo"}, {99}));
    EXPECT_EQ(q.recNo(), 3); // a failed locate does not move
    EXPECT_FALSE(q.locate({"noSuchColumn"}, {1}));
}

TEST_F(ProductQueryTest, PostWritesTheRowBackByPluNoAndCancelRestores)
{
    QSignalSpy posted(&q, &ProductQuery::afterPost);
    q.moveTo(1);
    ASSERT_TRUE(q.edit());
    q.setValue("pluDesc", "QUEIJO COALHO");
    q.setValue("preFix", 7);
    EXPECT_EQ(q.post(), ProductQuery::PostResult::Posted);
    EXPECT_EQ(posted.count(), 1);
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 2").toString(), "QUEIJO COALHO");
    EXPECT_EQ(db->scalar("Select preFix From PLU Where pluNo = 2").toInt(), 7);
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 1").toString(), "PAO FRANCES");

    ASSERT_TRUE(q.edit());
    q.setValue("pluDesc", "DESCARTADO");
    q.cancel();
    EXPECT_EQ(q.value("pluDesc").toString(), "QUEIJO COALHO");
    EXPECT_FALSE(q.isEditing());
    EXPECT_FALSE(q.setValue("pluDesc", "FORA DE EDICAO"));
}

TEST_F(ProductQueryTest, RefusedSaveKeepsTheEditAndBlocksMoving)
{
    bool allow = false;
    q.beforePost = [&] { return allow; };
    ASSERT_TRUE(q.edit());
    q.setValue("pluDesc", "PENDENTE");
    EXPECT_EQ(q.post(), ProductQuery::PostResult::Refused);
    EXPECT_TRUE(q.isEditing());
    // Moving away saves first; a refused save keeps the row where it is.
    EXPECT_FALSE(q.next());
    EXPECT_EQ(q.recNo(), 0);
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 1").toString(), "PAO FRANCES");
    allow = true;
    EXPECT_TRUE(q.next());
    EXPECT_EQ(q.recNo(), 1);
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 1").toString(), "PENDENTE");
}

TEST_F(ProductQueryTest, SaveOfARowThatNoLongerExistsFailsAndKeepsTheEdit)
{
    db->exec("Delete From PLU Where pluNo = 1");
    ASSERT_TRUE(q.edit());
    q.setValue("pluDesc", "PERDIDO?");
    EXPECT_EQ(q.post(), ProductQuery::PostResult::Failed);
    EXPECT_FALSE(q.lastError().isEmpty());
    EXPECT_TRUE(q.isEditing());
    EXPECT_EQ(q.value("pluDesc").toString(), "PERDIDO?");
}

TEST_F(ProductQueryTest, BadSqlLeavesTheListClosedWithTheEngineText)
{
    q.setSql("Select * From Plu Order By NoSuchColumn");
    QString error;
    EXPECT_FALSE(q.open(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(q.isOpen());
    EXPECT_EQ(q.count(), 0);
    EXPECT_FALSE(q.edit());
}

TEST_F(ProductQueryTest, ScratchQueryRunsQuotedStatementsAndBindsValues)
{
    manager::AuxQuery aux;
    aux.setDatabase(conn->database());
    QString error;
    ASSERT_TRUE(aux.exec("Update plu Set flgDel = true", {}, &error)) << error.toStdString();
    EXPECT_EQ(db->scalar("Select count(*) From PLU Where flgDel = 1").toInt(), 5);
    ASSERT_TRUE(aux.open("Select PluNo From PLU Where PluCode = ?", {"001030"}, &error));
    ASSERT_EQ(aux.count(), 1);
    EXPECT_EQ(aux.value(0, "pluno").toInt(), 3);
    // A bound value is a value: a quote in it is not SQL.
    ASSERT_TRUE(aux.open("Select PluNo From PLU Where PluCode = ?", {"x' Or '1'='1"}, &error));
    EXPECT_EQ(aux.count(), 0);
    EXPECT_FALSE(aux.open("Select NoSuchColumn From PLU", {}, &error));
    EXPECT_FALSE(aux.lastError().isEmpty());
    aux.close();
    aux.setDatabase(QSqlDatabase());
}
