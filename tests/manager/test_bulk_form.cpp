// The bulk commands of the product form as an operator uses them: the menu
// entries and the "Limpar" button, the prompts and confirmations answered,
// and what the file and the form show afterwards.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"
#include "StatusWindow.h"
#include "Unitselect.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace torvane;
using namespace torvane::test;
using manager::DialogIcon;

namespace {

// Six slots: 1..4 hold products, 5 and 6 are free.  Size 5 with the second
// prefix.
void fillProducts(TempDatabase &db)
{
    db.exec("Update Config Set CodeSize = 5, flgPrefixo2 = 1");
    db.exec("Update PLU Set Codigo = 0, Prefixb = 7, preFix = 2, BarcodeMode = 2, flgDel = 0, "
            "pluDesc = '', pluCode = '700000'");
    db.exec("Update PLU Set Codigo = 123, pluDesc = 'Queijo', Preco = 12.5, unitPrice = 1250, "
            "Tara = 0.01, tareWeight = 10, validDays = 5, sellFlag = 2, Setor = 3, pluCode = '700123' "
            "Where pluNo = 1");
    db.exec("Update PLU Set Codigo = 45, pluDesc = 'Alface', Preco = 3, pluCode = '700045' Where pluNo = 2");
    db.exec("Update PLU Set Codigo = 6789, pluDesc = 'Mortadela', Preco = 20, pluCode = '706789' Where pluNo = 3");
    db.exec("Update PLU Set Codigo = 10, pluDesc = 'Banana', Preco = 4, pluCode = '700010' Where pluNo = 4");
}

class BulkFormTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        savedLocale = QLocale();
        QLocale::setDefault(QLocale(QString::fromLatin1(GetParam())));
        db = std::make_unique<TempDatabase>(dbOptions(slotCount()));
        if (slotCount() > 0)
            fillProducts(*db);
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        ASSERT_TRUE(f->dialogs.messages().isEmpty());
    }
    void TearDown() override
    {
        EXPECT_EQ(f->dialogs.unexpected(), 0);
        EXPECT_EQ(f->dialogs.pendingAnswers(), 0);
        f.reset();
        db.reset();
        QLocale::setDefault(savedLocale);
    }
    virtual int slotCount() const { return 6; }
    manager::TfrmProdutos &form() { return *f->form; }
    QString dec(const char *pointForm) const
    {
        QString s = QString::fromLatin1(pointForm);
        if (QLocale().decimalPoint() == QLatin1String(","))
            s.replace(QLatin1Char('.'), QLatin1Char(','));
        return s;
    }
    // The toolbar, grid and menu of a form that is browsing, and no progress
    // window left over.
    void expectBrowsing()
    {
        EXPECT_FALSE(form().qryProdutos->isEditing());
        EXPECT_TRUE(form().btnEditar->isEnabled());
        EXPECT_TRUE(form().btnExcluir->isEnabled());
        EXPECT_FALSE(form().btnGravar->isEnabled());
        EXPECT_FALSE(form().btnCancelar->isEnabled());
        EXPECT_TRUE(form().DBGrid1->isEnabled());
        EXPECT_TRUE(form().Prefixo11->isEnabled());
        EXPECT_TRUE(form().LimparTodosProdutos1->isEnabled());
        EXPECT_TRUE(form().isEnabled());
        EXPECT_FALSE(f->status->isVisible());
        EXPECT_FALSE(form().flgSemValidacao);
    }
    QStringList strings(const QString &col) const
    {
        QStringList out;
        for (const QVariant &v : db->column(col))
            out << v.toString();
        return out;
    }

    QLocale savedLocale;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

TEST_P(BulkFormTest, Prefix1ChangesEveryProductButNoCode)
{
    const QStringList codesBefore = strings("pluCode");
    f->dialogs.answerInput(QStringLiteral("10"));
    f->dialogs.answerInput(QStringLiteral("abc"));
    f->dialogs.answerInput(QStringLiteral("3"));
    form().qryProdutos->moveTo(2);
    form().Prefixo11->trigger();

    const auto &shown = f->dialogs.shown();
    ASSERT_GE(shown.size(), 3);
    EXPECT_EQ(shown[0].kind, ShownDialog::Kind::Input);
    EXPECT_EQ(shown[0].caption, QStringLiteral("Escolha o prefixo 1"));
    EXPECT_EQ(shown[0].text, QStringLiteral("Prefixo 1 (0 a 9):"));
    EXPECT_EQ(f->dialogs.messages(),
              (QStringList{QStringLiteral("O Valor deve estar entre 0 e 9."),
                           QStringLiteral("O valor digitado não é um valor numérico válido."),
                           QStringLiteral("Prefixo 1 alterado com sucesso!!!")}));
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QStringLiteral("Informação"));
    EXPECT_EQ(f->dialogs.lastMessage()->icon, DialogIcon::Exclamation);

    EXPECT_EQ(db->column("preFix"), QVariantList(6, 3));
    EXPECT_EQ(strings("pluCode"), codesBefore);
    // Back on the first row, whose illustration shows the new first digit.
    EXPECT_EQ(form().qryProdutos->recNo(), 0);
    EXPECT_EQ(form().edtPrefixo->text(), QStringLiteral("3"));
    EXPECT_EQ(form().lblPrefixo->text(), QStringLiteral("37"));
    EXPECT_EQ(f->status->lblMsg->text(), QStringLiteral("Alterando o prefixo 1 dos produtos..."));
    EXPECT_EQ(f->status->windowTitle(), QStringLiteral("Aguarde..."));
    EXPECT_EQ(f->status->ProgressBar->maximum(), 6);
    EXPECT_EQ(f->status->ProgressBar->value(), 6);
    expectBrowsing();
}

TEST_P(BulkFormTest, Prefix2ReachesTheCodeOnlyWhereTheSecondPrefixIsUsed)
{
    f->dialogs.answerInput(QStringLiteral("4"));
    form().Prefixo21->trigger();
    EXPECT_EQ(f->dialogs.shown().first().caption, QStringLiteral("Escolha o prefixo 2"));
    EXPECT_EQ(f->dialogs.shown().first().text, QStringLiteral("Prefixo 2 (0 a 9):"));
    EXPECT_EQ(f->dialogs.messages(), QStringList{QStringLiteral("Prefixo 2 alterado com sucesso!!!")});
    EXPECT_EQ(db->column("Prefixb"), QVariantList(6, 4));
    EXPECT_EQ(strings("pluCode"), (QStringList{"400123", "400045", "406789", "400010", "400000", "400000"}));
    EXPECT_EQ(f->status->lblMsg->text(), QStringLiteral("Alterando o prefixo 2 dos produtos..."));
    // Prices and tares are not touched by a save that skips validation.
    EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 1").toInt(), 1250);
    EXPECT_EQ(db->scalar("Select tareWeight From PLU Where pluNo = 1").toInt(), 10);
    expectBrowsing();

    // Without the second prefix the digit is stored but the code keeps its
    // pattern.
    db->exec("Update Config Set flgPrefixo2 = 0");
    form().dm()->qryConfig.close();
    QString error;
    ASSERT_TRUE(form().dm()->qryConfig.open(form().qryProdutos->database(), &error));
    f->dialogs.clear();
    f->dialogs.answerInput(QStringLiteral("9"));
    form().Prefixo21->trigger();
    EXPECT_EQ(db->column("Prefixb"), QVariantList(6, 9));
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 1").toString(), QStringLiteral("001230"));
}

TEST_P(BulkFormTest, CancellingThePromptChangesNothing)
{
    const QVariantList before = db->column("preFix");
    f->dialogs.answerInput(QString());
    form().Prefixo11->trigger();
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    EXPECT_EQ(db->column("preFix"), before);
    expectBrowsing();
}

TEST_P(BulkFormTest, AFractionTypedAsPrefixChangesNoProduct)
{
    form().qryProdutos->moveTo(1);
    f->dialogs.answerInput(dec("5.5"));
    form().Prefixo11->trigger();
    // The prompt accepts it (a number from 0 to 9), the column cannot take it.
    const QStringList messages = f->dialogs.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("'%1' não é um valor inteiro válido.").arg(dec("5.5")));
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QStringLiteral("Torvane"));
    EXPECT_EQ(f->dialogs.lastMessage()->icon, DialogIcon::Error);
    EXPECT_EQ(db->column("preFix"), QVariantList(6, 2));
    EXPECT_EQ(form().edtPrefixo->text(), QStringLiteral("2"));
    expectBrowsing();

    // A whole number written with a decimal part is a digit.
    f->dialogs.clear();
    f->dialogs.answerInput(dec("5.0"));
    form().Prefixo11->trigger();
    EXPECT_EQ(f->dialogs.messages(), QStringList{QStringLiteral("Prefixo 1 alterado com sucesso!!!")});
    EXPECT_EQ(db->column("preFix"), QVariantList(6, 5));
}

TEST_P(BulkFormTest, AFailingSaveStopsTheLoopAndKeepsTheRowsBeforeIt)
{
    db->exec(test::faultTrigger(QStringLiteral("refuse3"), QStringLiteral("UPDATE"), QStringLiteral("PLU"),
                                QStringLiteral("NEW.pluNo = 3"), QStringLiteral("disco cheio")));
    f->dialogs.answerInput(QStringLiteral("1"));
    form().Prefixo21->trigger();
    const QStringList messages = f->dialogs.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("disco cheio"))) << messages[0].toStdString();
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QStringLiteral("Torvane"));
    EXPECT_EQ(db->column("Prefixb"), (QVariantList{1, 1, 7, 7, 7, 7}));
    EXPECT_EQ(strings("pluCode").mid(0, 3), (QStringList{"100123", "100045", "706789"}));
    // The failing row shows what the file holds.
    EXPECT_EQ(form().qryProdutos->value(QStringLiteral("pluNo")).toInt(), 3);
    EXPECT_EQ(form().edtPrefixob->text(), QStringLiteral("7"));
    expectBrowsing();
}

TEST_P(BulkFormTest, WeightOrTotalForAllKeepsTheSortOrder)
{
    form().OrdenaColuna(QStringLiteral("pluDesc"));
    ASSERT_EQ(form().qryProdutos->sql(), QStringLiteral("Select * From Plu Order By pluDesc"));
    form().qryProdutos->moveTo(4);

    f->dialogs.answerConfirm(false);
    form().Peso1->trigger();
    EXPECT_EQ(db->column("BarcodeMode"), QVariantList(6, 2));
    EXPECT_EQ(form().qryProdutos->recNo(), 4);

    f->dialogs.clear();
    f->dialogs.answerConfirm(true);
    form().Peso1->trigger();
    ASSERT_EQ(f->dialogs.shown().size(), 2);
    EXPECT_EQ(f->dialogs.shown()[0].kind, ShownDialog::Kind::Confirm);
    EXPECT_EQ(f->dialogs.shown()[0].caption, QStringLiteral("Escolha"));
    EXPECT_EQ(f->dialogs.shown()[0].text,
              QStringLiteral("Você está prestes a alterar todos os produtos para impressão\nde PESO no código de "
                             "barras.\nContinuar ?"));
    EXPECT_EQ(f->dialogs.messages(), QStringList{QStringLiteral("Imprimir Peso alterado com sucesso!!!")});
    EXPECT_EQ(db->column("BarcodeMode"), QVariantList(6, 1));
    // Same order, first row current (a free slot: empty descriptions first).
    EXPECT_EQ(form().qryProdutos->sql(), QStringLiteral("Select * From Plu Order By pluDesc"));
    EXPECT_EQ(form().qryProdutos->recNo(), 0);
    EXPECT_EQ(f->cell(2, QStringLiteral("Descrição")), QStringLiteral("Alface"));
    EXPECT_EQ(form().dbrbTP->itemIndex(), 0);
    EXPECT_EQ(form().lblPeso->text(), QStringLiteral("PPPPP"));
    expectBrowsing();

    f->dialogs.clear();
    f->dialogs.answerConfirm(true);
    form().Total1->trigger();
    EXPECT_EQ(f->dialogs.shown()[0].text,
              QStringLiteral("Você está prestes a alterar todos os produtos para impressão\nde TOTAL no código de "
                             "barras.\nContinuar ?"));
    EXPECT_EQ(f->dialogs.messages(), QStringList{QStringLiteral("Imprimir Total alterado com sucesso!!!")});
    EXPECT_EQ(db->column("BarcodeMode"), QVariantList(6, 2));
    EXPECT_EQ(form().lblPeso->text(), QStringLiteral("TTTTT"));
    expectBrowsing();
}

TEST_P(BulkFormTest, ClearingAllProductsLeavesFreeSlots)
{
    f->dialogs.answerConfirm(false);
    form().LimparTodosProdutos1->trigger();
    EXPECT_EQ(db->scalar("Select Count(*) From PLU Where Codigo <> 0").toInt(), 4);

    f->dialogs.clear();
    f->dialogs.answerConfirm(true);
    form().LimparTodosProdutos1->trigger();
    EXPECT_EQ(f->dialogs.shown()[0].text, QStringLiteral("Confirma limpar todos produtos ?\nEssa operação é irreversível"));
    EXPECT_EQ(f->dialogs.messages(), QStringList{QStringLiteral("Limpeza concluída com sucesso!!!")});
    EXPECT_EQ(db->column("Codigo"), QVariantList(6, 0));
    EXPECT_EQ(strings("pluCode"), QStringList(6, QStringLiteral("700000")));
    EXPECT_EQ(strings("pluDesc"), QStringList(6, QString()));
    EXPECT_EQ(db->column("unitPrice"), QVariantList(6, 0));
    EXPECT_EQ(db->column("tareWeight"), QVariantList(6, 0));
    EXPECT_EQ(db->column("sellFlag"), QVariantList(6, 1));
    EXPECT_EQ(db->column("Setor"), QVariantList(6, 0));
    EXPECT_EQ(db->column("preFix"), QVariantList(6, 0));
    // Slot, second prefix, barcode content and import mark stay.
    EXPECT_EQ(db->column("pluNo"), (QVariantList{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(db->column("Prefixb"), QVariantList(6, 7));
    EXPECT_EQ(db->column("BarcodeMode"), QVariantList(6, 2));
    EXPECT_EQ(form().qryProdutos->recNo(), 0);
    EXPECT_EQ(f->cell(0, QStringLiteral("Tipo Venda")), QStringLiteral("Peso"));
    EXPECT_EQ(f->cell(0, QStringLiteral("Setor")), QStringLiteral("Nenhum"));
    expectBrowsing();
}

TEST_P(BulkFormTest, ClearingTheSelectedProduct)
{
    f->selectSlot(3);
    f->dialogs.answerConfirm(false);
    f->click(form().btnExcluir);
    EXPECT_EQ(f->dialogs.shown()[0].text, QStringLiteral("Confirma limpar o produto selecionado ?"));
    EXPECT_EQ(db->scalar("Select Codigo From PLU Where pluNo = 3").toInt(), 6789);

    f->dialogs.answerConfirm(true);
    f->click(form().btnExcluir);
    EXPECT_EQ(db->scalar("Select Codigo From PLU Where pluNo = 3").toInt(), 0);
    EXPECT_EQ(db->scalar("Select Codigo From PLU Where pluNo = 2").toInt(), 45);
    EXPECT_EQ(form().qryProdutos->value(QStringLiteral("pluNo")).toInt(), 3);
    EXPECT_EQ(form().edtCodigo->text(), QStringLiteral("0"));
    EXPECT_EQ(f->dialogs.messages(), QStringList());
    expectBrowsing();
}

TEST_P(BulkFormTest, TheMenuWaitsWhileARowIsInEdit)
{
    f->click(form().btnEditar);
    f->type(form().edtDesc, QStringLiteral("Queijo minas"));
    for (QAction *a : {form().AlterarTodosProdutos1->menuAction(), form().Prefixo11, form().Prefixo21,
                       form().Peso1, form().Total1, form().LimparTodosProdutos1, form().Configurar2,
                       form().Importar1})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    // Clicked anyway: nothing happens, and called directly neither; the edit
    // stays as typed.
    form().Prefixo11->trigger();
    form().Prefixo11Click();
    form().Peso1Click();
    form().LimparTodosProdutos1Click();
    form().Prefixo21Click();
    form().Configurar2Click();
    EXPECT_TRUE(f->dialogs.shown().isEmpty());
    EXPECT_TRUE(form().qryProdutos->isEditing());
    EXPECT_EQ(form().edtDesc->text(), QStringLiteral("Queijo minas"));
    EXPECT_TRUE(form().btnGravar->isEnabled());

    f->click(form().btnGravar);
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 1").toString(), QStringLiteral("Queijo minas"));
    EXPECT_TRUE(form().AlterarTodosProdutos1->menuAction()->isEnabled());
    EXPECT_TRUE(form().Configurar2->isEnabled());
    expectBrowsing();

    f->click(form().btnEditar);
    EXPECT_FALSE(form().Configurar2->isEnabled());
    f->click(form().btnCancelar);
    EXPECT_TRUE(form().Configurar2->isEnabled());
}

// A file whose product table has no rows.
class EmptyListTest : public BulkFormTest {
protected:
    int slotCount() const override { return 0; }
};

TEST_P(EmptyListTest, EveryCommandVisitsNoRowAndStillReportsSuccess)
{
    ASSERT_TRUE(form().qryProdutos->isEmpty());
    f->dialogs.answerInput(QStringLiteral("3"));
    form().Prefixo11->trigger();
    f->dialogs.answerInput(dec("5.5"));
    form().Prefixo21->trigger();
    f->dialogs.answerConfirm(true);
    form().LimparTodosProdutos1->trigger();
    f->dialogs.answerConfirm(true);
    form().Total1->trigger();
    // No row to clear: "Limpar" asks nothing.
    f->click(form().btnExcluir);
    EXPECT_EQ(f->dialogs.messages(),
              (QStringList{QStringLiteral("Prefixo 1 alterado com sucesso!!!"),
                           QStringLiteral("Prefixo 2 alterado com sucesso!!!"),
                           QStringLiteral("Limpeza concluída com sucesso!!!"),
                           QStringLiteral("Imprimir Total alterado com sucesso!!!")}));
    EXPECT_EQ(f->status->ProgressBar->maximum(), 0);
    EXPECT_FALSE(f->status->isVisible());
    EXPECT_TRUE(form().isEnabled());
    EXPECT_TRUE(form().btnEditar->isEnabled());
    EXPECT_TRUE(form().edtCodigo->text().isEmpty());
}

// One pair of products, 12 with the second prefix 1 and 12 with the second
// prefix 2 (scale codes 100012 and 200012), and every command that would
// put them on one scale code: each refuses, says which products, and the
// base is as it was, to the byte on the file.
TEST(CodeGate, EveryChangeThatWouldMergeTwoProductsIsRefusedAndChangesNothing)
{
    TempDatabase db(dbOptions(6));
    db.exec("Update Config Set CodeSize = 5, flgPrefixo2 = 1");
    db.exec("Update PLU Set Codigo = 12, Prefixb = 1, pluCode = '100012', pluDesc = 'PAO', Preco = 1 Where pluNo = 1");
    db.exec("Update PLU Set Codigo = 12, Prefixb = 2, pluCode = '200012', pluDesc = 'LEITE', Preco = 2 Where pluNo = 2");
    db.exec("Update PLU Set Codigo = 7, Prefixb = 1, pluCode = '100007', pluDesc = 'SAL', Preco = 3 Where pluNo = 3");
    auto refuses = [&](const char *caller, const QString &start, const std::function<void(FormFixture &)> &act) {
        SCOPED_TRACE(caller);
        const QByteArray before = db.state();
        QStringList messages;
        {
            FormFixture f(db.path());
            ASSERT_TRUE(f.start());
            act(f);
            messages = f.dialogs.messages();
            EXPECT_FALSE(f.form->qryProdutos->isEditing());
        }
        ASSERT_FALSE(messages.isEmpty());
        EXPECT_TRUE(messages[0].startsWith(start)) << messages[0].toStdString();
        if (start != QStringLiteral("Código já existente")) {
            EXPECT_TRUE(messages[0].contains("(PAO)")) << messages[0].toStdString();
            EXPECT_TRUE(messages[0].contains("(LEITE)")) << messages[0].toStdString();
            EXPECT_FALSE(messages[0].contains("(SAL)")) << messages[0].toStdString();
        }
        EXPECT_EQ(db.state(), before);
    };
    {
        // The base as the manager leaves it after its first start.
        FormFixture f(db.path());
        ASSERT_TRUE(f.start());
    }
    refuses("form", "Código já existente", [](FormFixture &f) {
        f.selectSlot(2);
        f.click(f.form->btnEditar);
        f.type(f.form->edtPrefixob, "1");
        f.click(f.form->btnGravar);
        f.click(f.form->btnCancelar);
    });
    refuses("Prefixo 2", "O prefixo 2 não foi alterado", [](FormFixture &f) {
        f.dialogs.answerInput(QStringLiteral("3"));
        f.form->Prefixo21->trigger();
    });
    refuses("Configurar", "O tamanho do código não foi alterado", [](FormFixture &f) {
        QTimer::singleShot(0, [] {
            auto *size = qobject_cast<manager::TfrmSelect *>(QApplication::activeModalWidget());
            ASSERT_TRUE(size);
            size->selectOption(2); // 6 digits: one code for both
            size->btnOk->click();
        });
        f.form->Configurar2->trigger();
    });
    // Another program left the second prefix out of the settings without
    // rewriting the codes: saving every row again under them would merge.
    db.exec("Update Config Set flgPrefixo2 = 0");
    refuses("Prefixo 1", "O prefixo 1 não foi alterado", [](FormFixture &f) {
        f.dialogs.answerInput(QStringLiteral("4"));
        f.form->Prefixo11->trigger();
    });
    // A product without a code whose scale code gives it 12 beside PAO.
    db.exec("Update Config Set flgPrefixo2 = 1");
    db.exec("Update PLU Set Codigo = Null, Prefixb = 1, pluCode = '000012' Where pluNo = 2");
    refuses("start", "Os códigos dos produtos não foram preenchidos", [](FormFixture &) {});
}

INSTANTIATE_TEST_SUITE_P(Locales, BulkFormTest, ::testing::Values("pt_BR", "en_US"),
                         [](const auto &info) { return std::string(info.param); });
INSTANTIATE_TEST_SUITE_P(Locales, EmptyListTest, ::testing::Values("pt_BR", "en_US"),
                         [](const auto &info) { return std::string(info.param); });

} // namespace
