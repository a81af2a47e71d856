// The copies of the base as the operator meets them: made before each
// command that changes many products and at the first start of the day,
// the question when none can be made, and "Restaurar cópia…" bringing the
// products of before back.
#include "ManagerTestSupport.h"

#include "BaseCopies.h"
#include "CopiesWindow.h"
#include "DataModule.h"
#include "Db.h"
#include "ProductForm.h"
#include "Unitselect.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;

namespace {

const QString kProducts[] = {
    "UPDATE PLU SET Codigo = 101, pluDesc = 'PÃO FRANCÊS', Preco = 12.99, unitPrice = 1299, Tara = 0.012, "
    "tareWeight = 12, validDays = 3, sellFlag = 2, Setor = 5, preFix = 2, Prefixb = 0, BarcodeMode = 2, pluCode = '001010' WHERE pluNo = 1",
    "UPDATE PLU SET Codigo = 102, pluDesc = 'CAFÉ', Preco = 0.1, unitPrice = 10, Tara = 0, tareWeight = 0, "
    "validDays = 0, sellFlag = 1, Setor = 0, preFix = 0, Prefixb = 0, BarcodeMode = 1, pluCode = '001020' WHERE pluNo = 3",
};

class CopiesFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (onServer())
            GTEST_SKIP() << "a server base has no copies of its own (see ServerBasesHaveNoCopies)";
    }
    void TearDown() override
    {
        if (f) {
            EXPECT_EQ(f->dialogs.unexpected(), 0);
            EXPECT_EQ(f->dialogs.pendingAnswers(), 0);
        }
        f.reset();
        db::BaseCopies::setSpaceProbe({});
    }
    void start(const QStringList &prepare = {})
    {
        if (!db) {
            db = std::make_unique<TempDatabase>(dbOptions(5));
            for (const QString &sql : kProducts)
                db->exec(sql);
        }
        for (const QString &sql : prepare)
            db->exec(sql);
        f.reset();
        f = std::make_unique<FormFixture>(db->path());
        f->start();
    }
    // Every column of every slot, each value with its type and its exact text.
    QString products(const QString &path = {}) const
    {
        QString error;
        auto conn = db::Connection::openFile(path.isEmpty() ? db->path() : path, &error, true);
        EXPECT_TRUE(conn) << error.toStdString();
        QStringList columns;
        QSqlQuery q(conn->database());
        q.exec("SELECT name FROM pragma_table_info('PLU')");
        while (q.next())
            columns << QStringLiteral("typeof(%1) || ':' || CASE typeof(%1) WHEN 'real' THEN printf('%!.17g', %1) "
                                      "ELSE quote(%1) END")
                           .arg(q.value(0).toString());
        q.exec("SELECT " + columns.join(" || '|' || ") + " FROM PLU ORDER BY pluNo");
        QStringList rows;
        while (q.next())
            rows << q.value(0).toString();
        return rows.join('\n');
    }
    QString valueIn(const QString &path, const QString &sql) const
    {
        QString error;
        auto conn = db::Connection::openFile(path, &error, true);
        QSqlQuery q(conn->database());
        return q.exec(sql) && q.next() ? q.value(0).toString() : QString();
    }
    QVector<db::BaseCopy> copies() const { return db::BaseCopies(db->path()).list(); }
    QStringList copyLabels() const
    {
        QStringList out;
        for (const db::BaseCopy &c : copies())
            out << c.after;
        return out;
    }
    QStringList confirmations() const
    {
        QStringList out;
        for (const ShownDialog &d : f->dialogs.shown())
            if (d.kind == ShownDialog::Kind::Confirm)
                out << d.text;
        return out;
    }
    void removeCopies() { QDir(db::BaseCopies(db->path()).folder()).removeRecursively(); }

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

} // namespace

// The acceptance: an import of the wrong file, undone through the menu.
TEST_F(CopiesFormTest, AWrongImportIsRestoredToTheByteIdenticalProductsOfBefore)
{
    start();
    const QString before = products();
    ASSERT_EQ(copies().size(), 1);   // the start's own

    QTemporaryDir folder;
    const QString wrong = folder.filePath("errado.txt");
    QFile file(wrong);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("000555POUTRA LOJA            0000100\r\n");
    file.close();
    f->form->strDirPrograma = folder.path();
    f->dialogs.answerOpenFile(wrong);
    f->dialogs.answerConfirm(true);   // Limpar dados existentes ?
    f->form->Importar1->trigger();
    ASSERT_NE(products(), before);
    ASSERT_EQ(copyLabels().value(0), QString::fromUtf8("Importação de arquivo texto"));
    EXPECT_EQ(products(copies().first().path), before);

    // "Restaurar cópia…": the list, the copy made before the import, Restaurar.
    QStringList listed;
    QTimer::singleShot(0, [&] {
        auto *w = qobject_cast<manager::TfrmCopias *>(QApplication::activeModalWidget());
        if (!w) {
            ADD_FAILURE() << "no list of copies";
            return;
        }
        for (int r = 0; r < w->grdCopias->rowCount(); ++r)
            listed << w->grdCopias->item(r, 0)->text() + " | " + w->grdCopias->item(r, 1)->text();
        w->grdCopias->selectRow(0);
        w->btnRestaurar->click();
    });
    f->dialogs.clear();
    f->dialogs.answerConfirm(true);
    f->form->RestaurarCopia1->trigger();

    ASSERT_EQ(listed.size(), 2);
    EXPECT_TRUE(listed[0].endsWith(QString::fromUtf8("| Importação de arquivo texto"))) << listed[0].toStdString();
    EXPECT_TRUE(listed[0].startsWith(QDate::currentDate().toString("dd/MM/yyyy")));
    ASSERT_EQ(confirmations().size(), 1);
    EXPECT_TRUE(confirmations()[0].startsWith(QString::fromUtf8("Restaurar a cópia de "))) << confirmations()[0].toStdString();
    EXPECT_EQ(products(), before);
    // The form shows the products of before, and the base as it was just
    // before the restore is a copy of its own.
    EXPECT_EQ(f->cell(0, "Cod.Barras"), "101");
    EXPECT_EQ(copyLabels().value(0), QString::fromUtf8("Restauração de uma cópia"));
    EXPECT_TRUE(products(copies().first().path).contains("OUTRA LOJA"));
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_TRUE(f->dialogs.lastMessage()->text.startsWith(QString::fromUtf8("A cópia de "))) << f->dialogs.lastMessage()->text.toStdString();
    // The history keeps what the import did, and records the restore.
    QStringList codes;
    auto conn = db::Connection::openFile(db->path(), nullptr, true);
    QSqlQuery q(conn->database());
    q.exec("SELECT Operacao || ': ' || Antes || ' -> ' || Depois FROM Historico WHERE pluNo = 1 AND Campo = 'Codigo' ORDER BY ID");
    while (q.next())
        codes << q.value(0).toString();
    EXPECT_EQ(codes, (QStringList{"Importar: 101 -> 555", QString::fromUtf8("Restaurar cópia: 555 -> 101")}));
}

TEST_F(CopiesFormTest, EveryCommandThatChangesManyProductsCopiesTheBaseFirst)
{
    start();
    removeCopies();
    f->dialogs.answerConfirm(false);   // "Peso" answered No: nothing changes, no copy
    f->form->Peso1->trigger();
    EXPECT_TRUE(copies().isEmpty());

    f->dialogs.answerInput("7");
    f->form->Prefixo11->trigger();
    ASSERT_EQ(copies().size(), 1);
    // The copy holds the base as it was before the change.
    EXPECT_EQ(valueIn(copies().first().path, "SELECT preFix FROM PLU WHERE pluNo = 1"), "2");
    EXPECT_EQ(db->scalar("SELECT preFix FROM PLU WHERE pluNo = 1").toString(), "7");

    f->dialogs.answerInput("4");
    f->form->Prefixo21->trigger();
    f->dialogs.answerConfirm(true);
    f->form->Total1->trigger();
    QTimer::singleShot(0, [] {
        if (auto *dlg = qobject_cast<manager::TfrmSelect *>(QApplication::activeModalWidget())) {
            dlg->selectOption(2);   // size 6
            dlg->btnOk->click();
        }
    });
    f->dialogs.answerConfirm(true);
    f->form->Configurar2->trigger();
    f->dialogs.answerConfirm(true);
    f->form->LimparTodosProdutos1->trigger();
    EXPECT_EQ(copyLabels(), QStringList({QString::fromUtf8("Limpeza de todos os produtos"),
                                         QString::fromUtf8("Alteração do tamanho do código"),
                                         QString::fromUtf8("Alteração de peso ou total de todos os produtos"),
                                         QString::fromUtf8("Alteração do prefixo 2 de todos os produtos"),
                                         QString::fromUtf8("Alteração do prefixo 1 de todos os produtos")}));
}

// A full disk: the command says so and asks; No changes nothing.  At start,
// the upgrade does the same before its first change.
TEST_F(CopiesFormTest, WhenNoCopyCanBeMadeTheOperatorIsToldAndAskedBeforeGoingOn)
{
    start();
    removeCopies();
    const QString before = products();
    db::BaseCopies::setSpaceProbe([](const QString &) { return qint64(0); });
    f->dialogs.answerInput("7");
    f->dialogs.answerConfirm(false);
    f->form->Prefixo11->trigger();
    ASSERT_EQ(confirmations().size(), 1);
    EXPECT_TRUE(confirmations()[0].contains(QString::fromUtf8("não há espaço livre no disco"))) << confirmations()[0].toStdString();
    EXPECT_TRUE(confirmations()[0].endsWith(QString::fromUtf8("Continuar sem cópia de segurança ?")));
    EXPECT_EQ(products(), before);

    f->dialogs.answerInput("7");
    f->dialogs.answerConfirm(true);
    f->form->Prefixo11->trigger();
    EXPECT_NE(products(), before);
    EXPECT_TRUE(copies().isEmpty());

    // An upgrade needed at start: asked before its first change; No leaves
    // the base as it was and says why.
    f.reset();
    db->exec("UPDATE Config SET CodeSize = 7");
    auto again = std::make_unique<FormFixture>(db->path());
    again->dialogs.answerConfirm(false);
    EXPECT_FALSE(again->start());
    EXPECT_EQ(db->scalar("SELECT CodeSize FROM Config").toInt(), 7);
    ASSERT_NE(again->dialogs.lastMessage(), nullptr);
    EXPECT_TRUE(again->dialogs.lastMessage()->text.contains(QString::fromUtf8("a atualização não foi feita")));
    EXPECT_EQ(again->dialogs.unexpected(), 0);
}

TEST_F(CopiesFormTest, AStartCopiesBeforeAnUpgradeAndOnlyOnceADay)
{
    db = std::make_unique<TempDatabase>(dbOptions(3));
    db->exec("UPDATE Config SET CodeSize = 7");
    start();
    // The upgrade's copy is the day's copy too; it holds the size of before.
    ASSERT_EQ(copyLabels(), QStringList(QString::fromUtf8("Atualização do banco de dados")));
    EXPECT_EQ(valueIn(copies().first().path, "SELECT CodeSize FROM Config"), "7");

    f->dialogs.clear();
    start();
    EXPECT_EQ(copies().size(), 1);
    removeCopies();
    start();
    EXPECT_EQ(copyLabels(), QStringList(QString::fromUtf8("Cópia do dia (primeira abertura)")));
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
}

// A server base is copied by the server's tools: the manager makes no
// copies, offers none to restore, and says nothing about them.
TEST(CopiesOnServer, ServerBasesHaveNoCopies)
{
    if (!onServer())
        GTEST_SKIP() << "runs against the server (scripts/with-pg.sh)";
    TempDatabase db(dbOptions(3));
    FormFixture f(db.path());
    ASSERT_TRUE(f.start());
    f.dialogs.answerInput("7");
    f.form->Prefixo11->trigger();
    EXPECT_FALSE(f.form->RestaurarCopia1->isVisible());
    EXPECT_FALSE(QFile::exists(QDir(db.dirPath()).filePath("copias")));
    EXPECT_EQ(f.dialogs.unexpected(), 0);
    EXPECT_EQ(f.dialogs.messages().size(), 1);   // the success message only
}
