// The copies of a base file: made and restored with the online backup while
// another program has the base open, kept to the newest N, refused when the
// disk has no room, and a restore that keeps what the copy cannot know.
#include "BaseCopies.h"
#include "Db.h"
#include "SalesRead.h"
#include "Schema.h"
#include "ServerBase.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace torvane;

namespace {

class CopiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (test::onServer())
            GTEST_SKIP() << "a server base has no copies of its own";
        path = dir.filePath("vendabase.accdb");
        QString err;
        schema::CreateOptions o;
        o.slotCount = 5;
        ASSERT_TRUE(schema::createDatabaseFile(path, o, &err)) << err.toStdString();
        conn = db::Connection::open(path, &err);   // WAL, as the programs use it
        ASSERT_TRUE(conn) << err.toStdString();
    }
    void TearDown() override { db::BaseCopies::setSpaceProbe({}); }
    void exec(const QString &sql, db::Connection *c = nullptr)
    {
        QSqlQuery q((c ? c : conn.get())->database());
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    QString value(const QString &sql, db::Connection *c = nullptr)
    {
        QSqlQuery q((c ? c : conn.get())->database());
        return q.exec(sql) && q.next() ? q.value(0).toString() : QStringLiteral("<none>");
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<db::Connection> conn;
};

} // namespace

// What sits only in the write-ahead log is in the copy (a file copy would
// miss it), and the restore reaches a program that keeps the base open.
TEST_F(CopiesTest, CopyAndRestoreGoThroughTheLiveBaseWhileAnotherProgramHasItOpen)
{
    exec("UPDATE PLU SET Codigo = 101, pluDesc = 'ANTES' WHERE pluNo = 1");
    QString err;
    auto transmitter = db::Connection::open(path, &err);
    ASSERT_TRUE(transmitter) << err.toStdString();
    ASSERT_EQ(value("SELECT pluDesc FROM PLU WHERE pluNo = 1", transmitter.get()), "ANTES");

    const db::BaseCopies copies(path);
    QString made;
    ASSERT_TRUE(copies.make(db::CopyReason::Import, 20, &err, &made)) << err.toStdString();
    EXPECT_TRUE(made.startsWith(QDir(dir.path()).filePath("copias/vendabase-")));
    EXPECT_TRUE(made.endsWith("-importacao.accdb")) << made.toStdString();
    EXPECT_FALSE(QFile::exists(made + "-wal")) << "a copy is one file on its own";
    ASSERT_EQ(copies.list().size(), 1);
    EXPECT_EQ(copies.list().first().after, QString::fromUtf8("Importação de arquivo texto"));
    EXPECT_EQ(copies.list().first().when.date(), QDate::currentDate());

    exec("UPDATE PLU SET pluDesc = 'ERRADO' WHERE pluNo = 1");
    ASSERT_TRUE(copies.restore(made, QString(), &err)) << err.toStdString();
    EXPECT_EQ(value("SELECT pluDesc FROM PLU WHERE pluNo = 1"), "ANTES");
    EXPECT_EQ(value("SELECT pluDesc FROM PLU WHERE pluNo = 1", transmitter.get()), "ANTES");
    EXPECT_EQ(value("PRAGMA journal_mode"), "wal");
}

TEST_F(CopiesTest, OnlyTheNewestCopiesAreKept)
{
    const db::BaseCopies copies(path);
    QString err, first;
    ASSERT_TRUE(copies.make(db::CopyReason::Daily, 3, &err, &first));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(copies.make(i % 2 ? db::CopyReason::Prefix1 : db::CopyReason::CodeSize, 3, &err)) << err.toStdString();
    const auto list = copies.list();
    ASSERT_EQ(list.size(), 3);
    EXPECT_FALSE(QFile::exists(first));
    // Newest first, also within one second.
    EXPECT_EQ(list[0].after, QString::fromUtf8("Alteração do prefixo 1 de todos os produtos"));
    EXPECT_EQ(list[1].after, QString::fromUtf8("Alteração do tamanho do código"));
}

TEST_F(CopiesTest, NoRoomOnTheDiskMakesNoCopyAndSaysSo)
{
    db::BaseCopies::setSpaceProbe([](const QString &) { return qint64(4096); });
    const db::BaseCopies copies(path);
    QString err;
    EXPECT_FALSE(copies.make(db::CopyReason::Import, 20, &err));
    EXPECT_TRUE(err.contains(QString::fromUtf8("não há espaço livre no disco"))) << err.toStdString();
    EXPECT_TRUE(QDir(copies.folder()).entryList(QDir::Files).isEmpty());
}

// The copy does not know the sales read after it, nor what each scale was
// sent since: the sales stay with their runs (the scale still holds them,
// and its next read must find them stored), and every scale gets a full
// send next time.
TEST_F(CopiesTest, RestoreKeepsTheSalesReadAfterTheCopyAndResendsEverything)
{
    exec("INSERT INTO ScaleTransfer (Scale, Complete) VALUES ('frios', 1)");
    auto read = [&](QStringList descs) {
        db::SalesRead r(path, QStringLiteral("frios"), QStringLiteral("caixa:/dev/ttyUSB0"));
        EXPECT_TRUE(r.open()) << r.error().toStdString();
        for (const QString &desc : descs) {
            db::ReadSale s;
            s.pluNo = 1;
            s.pluDesc = desc;
            s.weight = 100 * r.count() + 100;
            r.add(s);
        }
        EXPECT_TRUE(r.store(true)) << r.error().toStdString();
        return r.newSales();
    };
    ASSERT_EQ(read({"VELHA"}), 1);
    const db::BaseCopies copies(path);
    QString err, before, current;
    ASSERT_TRUE(copies.make(db::CopyReason::Import, 20, &err, &before));
    ASSERT_EQ(read({"VELHA", "NOVA"}), 1);
    exec("UPDATE PLU SET pluDesc = 'ERRADO'");
    ASSERT_TRUE(copies.make(db::CopyReason::Restore, 20, &err, &current));

    ASSERT_TRUE(copies.restore(before, current, &err)) << err.toStdString();
    EXPECT_EQ(value("SELECT group_concat(pluDesc, ',') FROM (SELECT pluDesc FROM RECORD ORDER BY ID)"), "VELHA,NOVA");
    EXPECT_EQ(value("SELECT count(*) FROM PLU WHERE pluDesc = 'ERRADO'"), "0");
    EXPECT_EQ(value("SELECT Complete FROM ScaleTransfer"), "0");
    EXPECT_EQ(read({"VELHA", "NOVA", "OUTRA"}), 1);
    EXPECT_EQ(value("SELECT count(*) FROM RECORD"), "3");
}

TEST_F(CopiesTest, ADamagedCopyIsRefusedAndTheBaseLeftAlone)
{
    exec("UPDATE PLU SET pluDesc = 'FICA' WHERE pluNo = 1");
    const db::BaseCopies copies(path);
    QString err, made;
    ASSERT_TRUE(copies.make(db::CopyReason::Import, 20, &err, &made));
    QFile f(made);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_GT(f.size(), 4096);
    f.seek(4096);   // every page after the schema's
    f.write(QByteArray(int(f.size() - 4096), '\x5A'));
    f.close();
    EXPECT_FALSE(copies.restore(made, QString(), &err));
    EXPECT_TRUE(err.startsWith(QString::fromUtf8("A cópia não foi restaurada"))) << err.toStdString();
    EXPECT_EQ(value("SELECT pluDesc FROM PLU WHERE pluNo = 1"), "FICA");
}
