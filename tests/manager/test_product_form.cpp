// The product form as an operator uses it: Editar, type, Gravar, read the
// grid; every save rule with its message.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"

#include <QComboBox>
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
