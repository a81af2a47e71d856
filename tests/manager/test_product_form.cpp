// The product form as an operator uses it: Editar, type, Gravar, read the
// grid; every save rule with its message.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QTest>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;
using manager::DialogIcon;

namespace {

class ProductFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = std::make_unique<TempDatabase>(dbOptions(8));
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        ASSERT_TRUE(f->dialogs.messages().isEmpty()) << f->dialogs.messages().join('|').toStdString();
    }
    void TearDown() override
    {
        EXPECT_EQ(f->dialogs.unexpected(), 0);
        f.reset();
        db.reset();
    }
    manager::TfrmProdutos &form() { return *f->form; }
    // Edit the current row, type the given fields, press Gravar.
    void editAndSave(const QString &code, const QString &desc = {}, const QString &price = {},
                     const QString &tare = {})
    {
        f->click(form().btnEditar);
        f->type(form().edtCodigo, code);
        if (!desc.isNull())
            f->type(form().edtDesc, desc);
        if (!price.isNull())
            f->type(form().edtPU, price);
        if (!tare.isNull())
            f->type(form().edtTara, tare);
        f->click(form().btnGravar);
    }
    bool editing() const { return f->form->btnGravar->isEnabled(); }

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

} // namespace

TEST_F(ProductFormTest, StartShowsEverySlotInSlotOrderInBrowseState)
{
    EXPECT_EQ(form().windowTitle(), "Keldro Torvane - Software Gerenciador");
    EXPECT_EQ(form().strOrdem, "Order By PluNo ");
    EXPECT_EQ(form().qryProdutos->sql(), "Select * From Plu Order By PluNo ");
    ASSERT_EQ(form().DBGrid1->model()->rowCount(), 8);
    EXPECT_EQ(f->cell(0, "Código"), "1");
    EXPECT_EQ(f->cell(7, "Código"), "8");
    EXPECT_EQ(f->cell(0, "Preço/kg"), "0.00");
    EXPECT_EQ(f->cell(0, "Tara (kg)"), "0.000");
    EXPECT_EQ(f->cell(0, "Tipo Venda"), "Peso");
    EXPECT_EQ(f->cell(0, "Setor"), "Nenhum");
    EXPECT_TRUE(form().btnEditar->isEnabled());
    EXPECT_TRUE(form().btnExcluir->isEnabled());
    EXPECT_FALSE(form().btnGravar->isEnabled());
    EXPECT_FALSE(form().btnCancelar->isEnabled());
    EXPECT_FALSE(form().cbSetor->isEnabled());
    EXPECT_TRUE(form().DBGrid1->isEnabled());
    EXPECT_TRUE(form().edtCodigo->isReadOnly());
    EXPECT_EQ(form().edtCodigo->maxLength(), 5);
    EXPECT_FALSE(form().edtPrefixob->isVisibleTo(&form()));
}

TEST_F(ProductFormTest, TypedProductIsSavedWithTheColumnsTheScaleReads)
{
    f->selectSlot(3);
    f->click(form().btnEditar);
    EXPECT_TRUE(editing());
    EXPECT_FALSE(form().btnEditar->isEnabled());
    EXPECT_FALSE(form().DBGrid1->isEnabled());
    EXPECT_TRUE(form().cbSetor->isEnabled());
    f->type(form().edtCodigo, "12");
    f->type(form().edtDesc, "QUEIJO PRATO");
    f->type(form().edtPU, "12.34");
    f->type(form().edtTara, "0.124");
    f->type(form().edtValidade, "30");
    f->click(form().dbrbTipo->button(1));
    form().cbSetor->setCurrentIndex(3);
    emit form().cbSetor->activated(3);
    f->type(form().edtPrefixo, "2");
    f->click(form().dbrbTP->button(1));
    f->click(form().btnGravar);

    EXPECT_TRUE(f->dialogs.messages().isEmpty()) << f->dialogs.messages().join('|').toStdString();
    EXPECT_FALSE(editing());
    EXPECT_EQ(f->cell(2, "Cod.Barras"), "12");
    EXPECT_EQ(f->cell(2, "Descrição"), "QUEIJO PRATO");
    EXPECT_EQ(f->cell(2, "Preço/kg"), "12.34");
    EXPECT_EQ(f->cell(2, "Tara (kg)"), "0.124");
    EXPECT_EQ(f->cell(2, "Validade"), "30");
    EXPECT_EQ(f->cell(2, "Tipo Venda"), "Unidade");
    EXPECT_EQ(f->cell(2, "Setor"), "Laticínios / Embutidos");
    EXPECT_EQ(f->cell(2, "Prefixo 1"), "2");

    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 3").toString(), "000120");
    EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 3").toInt(), 1234);
    EXPECT_EQ(db->scalar("Select tareWeight From PLU Where pluNo = 3").toInt(), 124);
    EXPECT_EQ(db->scalar("Select sellFlag From PLU Where pluNo = 3").toInt(), 2);
    EXPECT_EQ(db->scalar("Select BarcodeMode From PLU Where pluNo = 3").toInt(), 2);
    EXPECT_EQ(db->scalar("Select Setor From PLU Where pluNo = 3").toInt(), 3);
    EXPECT_EQ(db->scalar("Select validDays From PLU Where pluNo = 3").toInt(), 30);
    // The illustration follows the saved code.
    EXPECT_EQ(form().lblPrefixo->text(), "20");
    EXPECT_EQ(form().lblCodigo->text(), "00120");
    EXPECT_EQ(form().lblPeso->text(), "TTTTT");
}

// A save that fails (a full disk, a lock) and is pressed again must write
// what was typed, whatever columns it changes and whatever saves came before.
TEST_F(ProductFormTest, ASaveRetriedAfterAFailureWritesWhatWasTyped)
{
    struct Typed {
        const char *code, *desc, *price;
    };
    f->selectSlot(8);
    for (const Typed &t : {Typed{"8", "LEITE", "1.50"}, Typed{nullptr, "PAO", nullptr}, Typed{nullptr, nullptr, "2.75"},
                           Typed{"1108", nullptr, nullptr}, Typed{"1109", "QUEIJO", "9.10"}}) {
        SCOPED_TRACE(std::string(t.code ? t.code : "") + "/" + (t.desc ? t.desc : "") + "/" + (t.price ? t.price : ""));
        db->exec(test::faultTrigger(QStringLiteral("refuse8"), QStringLiteral("UPDATE"), QStringLiteral("PLU"),
                                    QStringLiteral("NEW.pluNo = 8"), QStringLiteral("disco cheio")));
        f->dialogs.clear();
        f->click(form().btnEditar);
        if (t.code)
            f->type(form().edtCodigo, t.code);
        if (t.desc)
            f->type(form().edtDesc, t.desc);
        if (t.price)
            f->type(form().edtPU, t.price);
        f->click(form().btnGravar);
        ASSERT_EQ(f->dialogs.messages().size(), 1);
        ASSERT_TRUE(editing());
        db->exec(test::onServer() ? "DROP TRIGGER refuse8 ON PLU; DROP FUNCTION refuse8()" : "Drop Trigger refuse8");
        f->dialogs.clear();
        f->click(form().btnGravar);
        EXPECT_TRUE(f->dialogs.messages().isEmpty()) << f->dialogs.messages().join('|').toStdString();
        EXPECT_FALSE(editing());
        if (t.code) {
            EXPECT_EQ(db->scalar("Select Codigo From PLU Where pluNo = 8").toString(), t.code);
        }
        if (t.desc) {
            EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 8").toString(), t.desc);
        }
        if (t.price) {
            EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 8").toInt(),
                      qRound(QString::fromLatin1(t.price).toDouble() * 100));
        }
    }
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 8").toString(), "011090");
}

TEST_F(ProductFormTest, EmptyCodeIsRefusedAndTheRowStaysInEdit)
{
    editAndSave("", "SEM CODIGO");
    ASSERT_EQ(f->dialogs.messages(), QStringList({"O código deve ser preenchido"}));
    EXPECT_EQ(f->dialogs.lastMessage()->caption, "Erro");
    EXPECT_EQ(f->dialogs.lastMessage()->icon, DialogIcon::Error);
    EXPECT_TRUE(editing());
    EXPECT_TRUE(form().qryProdutos->isEditing());
    EXPECT_EQ(form().edtDesc->text(), "SEM CODIGO");
    // Nothing reached the file.
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 1").toString(), "");
    // The operator corrects the code and saves again.
    f->type(form().edtCodigo, "7");
    f->click(form().btnGravar);
    EXPECT_FALSE(editing());
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 1").toString(), "SEM CODIGO");
}

TEST_F(ProductFormTest, DuplicateCodeIsRefusedButTheSameRowMaySaveAgain)
{
    f->selectSlot(1);
    editAndSave("12", "PRIMEIRO");
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 1").toString(), "000120");

    f->selectSlot(2);
    editAndSave("12", "SEGUNDO");
    ASSERT_EQ(f->dialogs.messages(), QStringList({"Código já existente"}));
    EXPECT_TRUE(editing());
    f->click(form().btnCancelar);
    EXPECT_FALSE(editing());
    EXPECT_EQ(f->cell(1, "Descrição"), "");
    EXPECT_EQ(db->scalar("Select Codigo From PLU Where pluNo = 2").toInt(), 0);

    f->dialogs.clear();
    f->selectSlot(1);
    editAndSave("12", "PRIMEIRO DE NOVO");
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 1").toString(), "PRIMEIRO DE NOVO");
}

TEST_F(ProductFormTest, DuplicateCheckTakesTheCodeAsAValueNotAsSqlText)
{
    // A quote cannot reach the check through the code field (it is not a
    // number), and the check itself binds the code: an odd stored code
    // with a quote in it is compared, not executed.
    db->exec("Update PLU Set pluCode = 'x'' Or ''1''=''1', Codigo = 99 Where pluNo = 8");
    f->selectSlot(1);
    editAndSave("5", "NORMAL");
    EXPECT_TRUE(f->dialogs.messages().isEmpty()) << f->dialogs.messages().join('|').toStdString();
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 1").toString(), "000050");
}

TEST_F(ProductFormTest, SecondPrefixMakesEqualCodesDifferent)
{
    db->exec("Update Config Set flgPrefixo2 = true");
    f.reset();
    f = std::make_unique<FormFixture>(db->path());
    ASSERT_TRUE(f->start());
    EXPECT_TRUE(form().edtPrefixob->isVisibleTo(&form()));
    f->selectSlot(1);
    f->click(form().btnEditar);
    f->type(form().edtCodigo, "12");
    f->type(form().edtPrefixob, "1");
    f->click(form().btnGravar);
    f->selectSlot(2);
    f->click(form().btnEditar);
    f->type(form().edtCodigo, "12");
    f->type(form().edtPrefixob, "2");
    f->click(form().btnGravar);
    EXPECT_TRUE(f->dialogs.messages().isEmpty()) << f->dialogs.messages().join('|').toStdString();
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 1").toString(), "100012");
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 2").toString(), "200012");
    EXPECT_EQ(f->cell(1, "Prefixo 2"), "2");
}

TEST_F(ProductFormTest, PriceLimitsAndConversion)
{
    editAndSave("1", "CARO", "999.99");
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 1").toInt(), 99999);

    const QString refused = "O preço unitário deve ser maior que 0 e menor que 999.99";
    f->click(form().btnEditar);
    f->type(form().edtPU, "1000");
    f->click(form().btnGravar);
    EXPECT_EQ(f->dialogs.messages(), QStringList({refused}));
    EXPECT_TRUE(editing());
    EXPECT_EQ(form().focusWidget(), form().edtPU);
    f->type(form().edtPU, "-1");
    f->click(form().btnGravar);
    EXPECT_EQ(f->dialogs.messages().size(), 2);
    EXPECT_EQ(f->dialogs.messages().last(), refused);
    // Either decimal separator; 0.29 becomes 29 hundredths, not 28.
    f->type(form().edtPU, "0,29");
    f->click(form().btnGravar);
    EXPECT_FALSE(editing());
    EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 1").toInt(), 29);
    EXPECT_EQ(f->cell(0, "Preço/kg"), "0.29");
    // A third decimal: shown, stored and sent agree on the cent, rounded
    // half-up, and the operator is told.
    f->dialogs.clear();
    f->click(form().btnEditar);
    f->type(form().edtPU, "1,005");
    f->click(form().btnGravar);
    ASSERT_EQ(f->dialogs.shown().size(), 1);
    EXPECT_EQ(f->dialogs.shown()[0].caption, "Informação");
    EXPECT_TRUE(f->dialogs.shown()[0].text.startsWith("O preço foi arredondado"));
    EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 1").toInt(), 101);
    EXPECT_DOUBLE_EQ(db->scalar("Select Preco From PLU Where pluNo = 1").toDouble(), 1.01);
    EXPECT_EQ(f->cell(0, "Preço/kg"), "1.01");

    f->dialogs.clear();
    f->click(form().btnEditar);
    f->type(form().edtPU, "12a");
    f->click(form().btnGravar);
    ASSERT_EQ(f->dialogs.shown().size(), 1);
    EXPECT_EQ(f->dialogs.shown()[0].caption, "Torvane");
    EXPECT_EQ(f->dialogs.shown()[0].text, "'12a' não é um valor numérico válido.");
    EXPECT_TRUE(editing());
    f->click(form().btnCancelar);
    EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 1").toInt(), 101);
    EXPECT_EQ(form().edtPU->text(), "1.01");
}

TEST_F(ProductFormTest, TareLimitsAndRoundingToEvenGrams)
{
    editAndSave("1", "TARA", "1", "6.000");
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    EXPECT_EQ(db->scalar("Select tareWeight From PLU Where pluNo = 1").toInt(), 6000);

    f->click(form().btnEditar);
    f->type(form().edtTara, "6.002");
    f->click(form().btnGravar);
    EXPECT_EQ(f->dialogs.messages(), QStringList({"A tara deve ser menor que 6 kg"}));
    EXPECT_EQ(form().focusWidget(), form().edtTara);
    EXPECT_TRUE(editing());

    f->dialogs.clear();
    f->type(form().edtTara, "0.333");
    f->click(form().btnGravar);
    ASSERT_EQ(f->dialogs.shown().size(), 1);
    EXPECT_EQ(f->dialogs.shown()[0].caption, "Informação");
    EXPECT_EQ(f->dialogs.shown()[0].text, "A Tara foi arrendonda para multiplo de 2 g");
    EXPECT_EQ(f->dialogs.shown()[0].icon, DialogIcon::Exclamation);
    EXPECT_FALSE(editing());
    EXPECT_EQ(db->scalar("Select tareWeight From PLU Where pluNo = 1").toInt(), 332);
    EXPECT_DOUBLE_EQ(db->scalar("Select Tara From PLU Where pluNo = 1").toDouble(), 0.332);
    EXPECT_EQ(f->cell(0, "Tara (kg)"), "0.332");
    EXPECT_EQ(form().edtTara->text(), "0.332");

    struct Case {
        const char *typed;
        int grams;
        bool told;
    };
    for (const Case &c : {Case{"0.125", 124, true}, Case{"1.001", 1000, true}, Case{"0.124", 124, false},
                          Case{"0.001", 0, true}, Case{"0", 0, false}}) {
        f->dialogs.clear();
        f->click(form().btnEditar);
        f->type(form().edtTara, c.typed);
        f->click(form().btnGravar);
        EXPECT_FALSE(editing()) << c.typed;
        EXPECT_EQ(db->scalar("Select tareWeight From PLU Where pluNo = 1").toInt(), c.grams) << c.typed;
        EXPECT_EQ(f->dialogs.messages().size(), c.told ? 1 : 0) << c.typed;
    }

    f->dialogs.clear();
    f->click(form().btnEditar);
    f->type(form().edtTara, "-0.1");
    f->click(form().btnGravar);
    EXPECT_EQ(f->dialogs.messages(), QStringList({"A tara não pode ser negativa"}));
    f->click(form().btnCancelar);
}

TEST_F(ProductFormTest, ScaleCodeFollowsEveryCodeSize)
{
    struct Case {
        int size;
        bool second;
        const char *expected;
    };
    int slot = 0;
    for (const Case &c : {Case{6, false, "000005"}, Case{6, true, "000005"}, Case{5, true, "300005"},
                          Case{5, false, "000050"}, Case{4, true, "300050"}, Case{4, false, "000500"}}) {
        ++slot;
        db->exec(QStringLiteral("Update Config Set CodeSize = %1, flgPrefixo2 = %2")
                     .arg(c.size)
                     .arg(c.second ? "true" : "false"));
        f.reset();
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        EXPECT_EQ(form().edtCodigo->maxLength(), c.size);
        EXPECT_EQ(form().edtPrefixob->isVisibleTo(&form()), c.size != 6 && c.second);
        EXPECT_EQ(form().lblPrefixo2->isVisibleTo(&form()), c.size != 6 && c.second);
        f->selectSlot(slot);
        f->click(form().btnEditar);
        // Codes stay unique across the cases: each slot is saved once.
        db->exec(QStringLiteral("Update PLU Set Codigo = 0 Where pluNo <> %1").arg(slot));
        f->type(form().edtCodigo, "5");
        form().edtPrefixob->setText("3");
        form().edtPrefixob->setModified(true);
        f->click(form().btnGravar);
        EXPECT_TRUE(f->dialogs.messages().isEmpty()) << c.size << f->dialogs.messages().join('|').toStdString();
        EXPECT_EQ(db->scalar(QStringLiteral("Select pluCode From PLU Where pluNo = %1").arg(slot)).toString(),
                  c.expected)
            << c.size << ' ' << c.second;
    }
}

TEST_F(ProductFormTest, ClearingTheSelectedProductMakesAFreeSlot)
{
    db->exec("Update PLU Set Prefixb = 4, BarcodeMode = 2 Where pluNo = 2");
    f.reset();
    f = std::make_unique<FormFixture>(db->path());
    ASSERT_TRUE(f->start());
    f->selectSlot(2);
    editAndSave("77", "PRODUTO", "5.5", "0.010");
    f->dialogs.answerConfirm(false);
    f->click(form().btnExcluir);
    EXPECT_EQ(f->dialogs.shown().last().text, "Confirma limpar o produto selecionado ?");
    EXPECT_EQ(f->cell(1, "Descrição"), "PRODUTO");

    f->dialogs.answerConfirm(true);
    f->click(form().btnExcluir);
    EXPECT_EQ(f->cell(1, "Cod.Barras"), "0");
    EXPECT_EQ(f->cell(1, "Descrição"), "");
    EXPECT_EQ(f->cell(1, "Preço/kg"), "0.00");
    EXPECT_EQ(f->cell(1, "Tara (kg)"), "0.000");
    EXPECT_EQ(f->cell(1, "Tipo Venda"), "Peso");
    EXPECT_EQ(f->cell(1, "Setor"), "Nenhum");
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 2").toString(), "000000");
    EXPECT_EQ(db->scalar("Select unitPrice + tareWeight From PLU Where pluNo = 2").toInt(), 0);
    EXPECT_EQ(db->scalar("Select Prefixb From PLU Where pluNo = 2").toInt(), 4);
    EXPECT_EQ(db->scalar("Select BarcodeMode From PLU Where pluNo = 2").toInt(), 2);
    EXPECT_EQ(db->scalar("Select pluDesc Is Null From PLU Where pluNo = 2").toInt(), 0) << "the empty text, not NULL";
    EXPECT_FALSE(form().flgSemValidacao);
    EXPECT_FALSE(editing());
    // Code 0 marks a free slot, and free slots share one scale code: a
    // product typed with code 0 is refused like one without a code.
    editAndSave("0", "LIVRE");
    ASSERT_FALSE(f->dialogs.messages().isEmpty()) << "the save of code 0 said nothing";
    EXPECT_EQ(f->dialogs.messages().last(), "O código deve ser preenchido");
    EXPECT_TRUE(editing());
    f->click(form().btnCancelar);
    EXPECT_EQ(db->scalar("Select pluDesc From PLU Where pluNo = 2").toString(), "");
}

TEST_F(ProductFormTest, TitleClicksSortAscendingThenDescending)
{
    const char *names[] = {"BETA", "ALFA", "GAMA"};
    for (int i = 0; i < 3; ++i)
        db->exec(QStringLiteral("Update PLU Set pluDesc = '%1', Setor = %2 Where pluNo = %3")
                     .arg(names[i])
                     .arg(8 - i)
                     .arg(i + 1));
    form().FiltraProdutos();
    const int desc = form().dsProdutos->columnOfTitle("Descrição");
    // A real click on the title.
    QHeaderView *header = form().DBGrid1->horizontalHeader();
    const QPoint title(header->sectionViewportPosition(desc) + header->sectionSize(desc) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
    EXPECT_EQ(form().strOrdem, "Order By pluDesc");
    EXPECT_EQ(f->cell(7, "Descrição"), "GAMA");
    EXPECT_EQ(f->cell(5, "Descrição"), "ALFA");
    form().DBGrid1TitleClick(desc);
    EXPECT_EQ(form().strOrdem, "Order By pluDesc Desc");
    EXPECT_EQ(f->cell(0, "Descrição"), "GAMA");
    EXPECT_EQ(form().qryProdutos->recNo(), 0);
    // The computed sector column sorts by Setor; the sale type not at all.
    form().DBGrid1TitleClick(form().dsProdutos->columnOfTitle("Setor"));
    EXPECT_EQ(form().strOrdem, "Order By Setor");
    form().DBGrid1TitleClick(form().dsProdutos->columnOfTitle("Tipo Venda"));
    EXPECT_EQ(form().strOrdem, "Order By Setor");
    // From the start order, the first click on "Código" sorts ascending.
    form().strOrdem = "Order By PluNo ";
    form().DBGrid1TitleClick(form().dsProdutos->columnOfTitle("Código"));
    EXPECT_EQ(form().strOrdem, "Order By pluNo");
}

TEST_F(ProductFormTest, ClosingAsksAndRefusesWhileARowIsInEdit)
{
    f->dialogs.answerConfirm(false);
    f->click(form().ToolButton4);
    EXPECT_EQ(f->dialogs.shown().last().text, "Confirma sair do programa ?");
    EXPECT_EQ(f->dialogs.shown().last().caption, "Escolha");
    EXPECT_TRUE(form().isVisible());

    f->click(form().btnEditar);
    EXPECT_FALSE(form().close());
    EXPECT_EQ(f->dialogs.messages(), QStringList({"Grave ou cancele o registro para sair."}));
    EXPECT_TRUE(form().isVisible());
    f->click(form().btnCancelar);

    f->dialogs.answerConfirm(true);
    f->click(form().ToolButton4);
    EXPECT_FALSE(form().isVisible());
    EXPECT_FALSE(form().qryProdutos->isOpen());
}

TEST_F(ProductFormTest, ClosingByTheTitleBarAsksNothing)
{
    EXPECT_TRUE(form().close());
    EXPECT_TRUE(f->dialogs.shown().isEmpty());
}

TEST_F(ProductFormTest, ToolbarFollowsTheRowWhenACommandSavesThePendingEdit)
{
    f->click(form().btnEditar);
    f->type(form().edtCodigo, "31");
    ASSERT_TRUE(form().GravaCampos());
    // A command that walks the rows moves away, which saves the row first.
    EXPECT_TRUE(form().qryProdutos->next());
    EXPECT_FALSE(editing());
    EXPECT_TRUE(form().btnEditar->isEnabled());
    EXPECT_TRUE(form().DBGrid1->isEnabled());
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 1").toString(), "000310");
    EXPECT_EQ(form().qryProdutos->recNo(), 1);
}

TEST_F(ProductFormTest, AStoredPriceWithMoreDecimalsIsSavedAsShownAndSent)
{
    // A price stored with more decimals than the field shows is brought to
    // the cent the scale gets when the row is saved, and the operator told.
    db->exec("Update PLU Set Preco = 1.2345, Codigo = 5 Where pluNo = 1");
    form().FiltraProdutos();
    EXPECT_EQ(form().edtPU->text(), "1.23");
    editAndSave("5", "SO A DESCRICAO");
    EXPECT_TRUE(f->dialogs.messages().value(0).startsWith("O preço foi arredondado"));
    EXPECT_DOUBLE_EQ(db->scalar("Select Preco From PLU Where pluNo = 1").toDouble(), 1.23);
    EXPECT_EQ(db->scalar("Select unitPrice From PLU Where pluNo = 1").toInt(), 123);
}

TEST_F(ProductFormTest, TransmitterStartsFromTheProgramFolderInTheSameWorkingFolder)
{
    f->click(form().ToolButton5);
    ASSERT_EQ(f->shell.started.size(), 1);
    EXPECT_EQ(f->shell.started[0].program, QCoreApplication::applicationDirPath() + "/Rirodidovu");
    EXPECT_EQ(f->shell.started[0].workingDirectory, QDir::currentPath());
    EXPECT_TRUE(f->dialogs.shown().isEmpty());
    f->shell.succeed = false;
    f->click(form().ToolButton5);
    ASSERT_EQ(f->dialogs.messages().size(), 1);
    EXPECT_TRUE(f->dialogs.messages()[0].startsWith("Não foi possível iniciar o programa"));
}

TEST_F(ProductFormTest, ValidityHelp)
{
    f->click(form().SpeedButton3);
    ASSERT_EQ(f->dialogs.shown().size(), 1);
    EXPECT_EQ(f->dialogs.shown()[0].caption, "Informação");
    EXPECT_EQ(f->dialogs.shown()[0].text,
              "Preencha com:\n0 - Não imprime data de validade\n1 a 999 - Calcula e imprime data de validade");
    EXPECT_EQ(form().SpeedButton3->toolTip(), "Instruções de preenchimento");
}

TEST_F(ProductFormTest, RowChangesFollowTheGridAndShowTheRowInTheFields)
{
    db->exec("Update PLU Set pluDesc = 'TERCEIRO', Setor = 6, sellFlag = 2 Where pluNo = 3");
    form().FiltraProdutos();
    f->selectSlot(3);
    EXPECT_EQ(form().qryProdutos->recNo(), 2);
    EXPECT_EQ(form().edtDesc->text(), "TERCEIRO");
    EXPECT_EQ(form().cbSetor->currentText(), "Peixaria");
    EXPECT_EQ(form().dbrbTipo->itemIndex(), 1);
    // Typing is refused while browsing.
    QTest::keyClicks(form().edtDesc, "XYZ");
    EXPECT_EQ(form().edtDesc->text(), "TERCEIRO");
}
