// The upgrade at start, through the real form: the three states of a
// database file, the exact statements and messages, and the back-fill.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"
#include "StatusWindow.h"
#include "ScaleRecordSchema.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace torvane;
using namespace torvane::test;
using manager::DialogIcon;

namespace {

const QString kRestart =
    QStringLiteral("Foram realizadas alterações no banco de dados e o programa\nprecisa ser reinicializado.");

const QStringList kProbes = {
    QStringLiteral("Select * From Config"),
    QStringLiteral("Select BarcodeMode From PLU"),
    QStringLiteral("Select flgPrefixo2 From Config"),
    QStringLiteral("Select flgDel From plu"),
    QStringLiteral("Select Scale From ScaleTransfer"),
    QStringLiteral("Select Scale From ScaleAck"),
    QStringLiteral("Select Port From ScaleTransfer"),
};

// The statements that add the record of what each scale acknowledged.
QStringList scaleRecordStatements()
{
    QStringList all;
    for (const auto &step : torvane::db::scaleRecordSteps())
        all << step.probe << step.create;
    return all;
}

} // namespace

TEST(Upgrade, DeliveredDatabaseGoesThroughItsThreeStates)
{
    TempDatabase db(dbOptions(12, false, schema::Layout::AsDelivered));

    // First start: Config and Codigo, the restart message, the window closes.
    {
        FormFixture f(db.path());
        EXPECT_FALSE(f.start());
        EXPECT_EQ(f.form->upgradeStatements(),
                  QStringList({"Select * From Config", "Create Table Config ( CodeSize smallint )",
                               "Alter Table PLU Add Codigo int"}));
        ASSERT_EQ(f.dialogs.shown().size(), 1);
        EXPECT_EQ(f.dialogs.shown()[0].caption, "Informação");
        EXPECT_EQ(f.dialogs.shown()[0].text, kRestart);
        EXPECT_EQ(f.dialogs.shown()[0].icon, DialogIcon::Exclamation);
        EXPECT_FALSE(f.form->isVisible());
        EXPECT_EQ(f.form->strOrdem, QString()); // nothing further ran
        EXPECT_EQ(db.scalar("Select count(*) From Config").toInt(), 0);
    }
    // Second start: the other columns, the settings row and the back-fill.
    {
        FormFixture f(db.path());
        EXPECT_TRUE(f.start());
        EXPECT_EQ(f.form->upgradeStatements(),
                  QStringList({"Select * From Config", "Select BarcodeMode From PLU",
                               "Alter Table PLU Add BarcodeMode int", "Alter Table PLU Add Prefixb int",
                               "Update PLU Set BarcodeMode = 1, Prefixb =0", "Select flgPrefixo2 From Config",
                               "Alter Table Config Add flgPrefixo2 bit ", "Update Config Set flgPrefixo2 = true",
                               "Select flgDel From plu", "Alter Table plu Add flgDel bit "})
                      + scaleRecordStatements()
                      + QStringList{"CREATE INDEX IF NOT EXISTS PLU_pluCode ON PLU (pluCode)"});
        EXPECT_TRUE(f.dialogs.shown().isEmpty()) << f.dialogs.messages().join('|').toStdString();
        EXPECT_EQ(db.scalar("Select count(*) From Config").toInt(), 1);
        EXPECT_EQ(db.scalar("Select CodeSize From Config").toInt(), 5);
        EXPECT_EQ(db.scalar("Select flgPrefixo2 From Config").toInt(), 0);
        // Slot n was delivered with the scale code of n: Codigo n, then the
        // code rebuilt for size 5 without the second prefix.
        const QVariantList codes = db.column("Codigo");
        const QVariantList pluCodes = db.column("pluCode");
        ASSERT_EQ(codes.size(), 12);
        for (int n = 1; n <= 12; ++n) {
            EXPECT_EQ(codes[n - 1].toInt(), n);
            EXPECT_EQ(pluCodes[n - 1].toString(), QString::number(n).rightJustified(5, u'0') + u'0');
        }
        EXPECT_EQ(db.scalar("Select count(*) From PLU Where BarcodeMode = 1 And Prefixb = 0").toInt(), 12);
        // The list is loaded, on its first row, the progress window gone.
        EXPECT_EQ(f.form->DBGrid1->model()->rowCount(), 12);
        EXPECT_EQ(f.form->qryProdutos->recNo(), 0);
        EXPECT_FALSE(f.status->isVisible());
        EXPECT_TRUE(f.form->isEnabled());
        EXPECT_EQ(f.status->lblMsg->text(), "Atualizando banco de dados...");
        EXPECT_EQ(f.status->windowTitle(), "Aguarde...");
        EXPECT_EQ(f.status->ProgressBar->maximum(), 12);
        EXPECT_EQ(f.status->ProgressBar->value(), 12);
    }
    // Later starts: only the probes, nothing changes, nothing is shown.
    {
        const QVariantList before = db.column("pluCode");
        FormFixture f(db.path());
        EXPECT_TRUE(f.start());
        EXPECT_EQ(f.form->upgradeStatements(), kProbes);
        EXPECT_TRUE(f.dialogs.shown().isEmpty());
        EXPECT_EQ(db.column("pluCode"), before);
        EXPECT_EQ(f.form->edtCodigo->maxLength(), 5);
    }
}

TEST(Upgrade, SettingsRowThatPredatesTheSecondPrefixKeepsItInUse)
{
    TempDatabase db(dbOptions(3, false, schema::Layout::AsDelivered));
    db.exec("Create Table Config ( CodeSize smallint )");
    db.exec("Alter Table PLU Add Codigo int");
    db.exec("Insert Into Config (CodeSize) Values (4)");
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    EXPECT_EQ(db.scalar("Select flgPrefixo2 From Config").toInt(), 1);
    EXPECT_EQ(db.scalar("Select CodeSize From Config").toInt(), 4);
    // A valid size was already set, but the codes were never filled: they
    // are filled now, and the second prefix shows.
    EXPECT_EQ(db.scalar("Select count(*) From PLU Where Codigo Is Null").toInt(), 0);
    EXPECT_EQ(f.form->edtCodigo->maxLength(), 4);
    EXPECT_TRUE(f.form->edtPrefixob->isVisibleTo(f.form.get()));
    EXPECT_TRUE(f.form->lblPrefixo2->isVisibleTo(f.form.get()));
}

TEST(Upgrade, CodeSizeOutsideFourToSixIsReplacedOnceAndNoCodeIsRewritten)
{
    TempDatabase db(dbOptions(6, true));
    db.exec("Update Config Set CodeSize = 7");
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    EXPECT_EQ(db.scalar("Select CodeSize From Config").toInt(), 5);
    // The demo product 101 keeps its code: a code that is there is never
    // rewritten from its scale code (which would make it 1010).
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 1").toInt(), 101);
    EXPECT_EQ(db.scalar("Select pluCode From PLU Where pluNo = 1").toString(), "001010");
    ASSERT_EQ(f.dialogs.messages().size(), 1);
    EXPECT_TRUE(f.dialogs.messages()[0].startsWith("O tamanho do código gravado nas configurações (7)"));
    // The next start has nothing to say.
    FormFixture again(db.path());
    EXPECT_TRUE(again.start());
    EXPECT_TRUE(again.dialogs.shown().isEmpty());
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 1").toInt(), 101);
}

TEST(Upgrade, FreeSlotsSharingTheCodeOfZeroDoNotStopTheBackFill)
{
    TempDatabase db(dbOptions(20));
    db.exec("Update Config Set CodeSize = 0");
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    EXPECT_TRUE(f.dialogs.shown().isEmpty()) << f.dialogs.messages().join('|').toStdString();
    EXPECT_EQ(db.scalar("Select count(*) From PLU Where Codigo = 0 And pluCode = '000000'").toInt(), 20);
}

TEST(Upgrade, ARefusedBackFillSaysWhatIsLeftAndResumesAtTheNextStart)
{
    TempDatabase db(dbOptions(6, true));
    db.exec("Update PLU Set Codigo = Null Where pluNo <> 3");
    // Slot 3 already carries the code slot 2 gets from the back-fill.
    db.exec("Update PLU Set pluCode = '010200', Codigo = 1020 Where pluNo = 3");
    {
        FormFixture f(db.path());
        EXPECT_TRUE(f.start()); // the list is loaded so the row can be mended
        ASSERT_EQ(f.dialogs.messages().size(), 2);
        // Refused before any code is filled, naming both products.
        const QString refusal = f.dialogs.messages()[0];
        EXPECT_TRUE(refusal.startsWith("Os códigos dos produtos não foram preenchidos")) << refusal.toStdString();
        EXPECT_TRUE(refusal.contains("Código nas barras 001020")) << refusal.toStdString();
        EXPECT_TRUE(refusal.contains("Código 1020")) << refusal.toStdString();
        EXPECT_TRUE(f.dialogs.messages()[1].startsWith("5 produto(s) ficaram sem código")) << f.dialogs.messages()[1].toStdString();
        EXPECT_EQ(db.scalar("Select count(*) From PLU Where Codigo Is Null").toInt(), 5);
        EXPECT_FALSE(f.status->isVisible());
        EXPECT_FALSE(f.form->qryProdutos->isEditing());
    }
    db.exec("Update PLU Set pluCode = '000770', Codigo = 77 Where pluNo = 3");
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    EXPECT_TRUE(f.dialogs.shown().isEmpty()) << f.dialogs.messages().join('|').toStdString();
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 1").toInt(), 1010); // not filled twice
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 2").toInt(), 1020);
    EXPECT_EQ(db.scalar("Select count(*) From PLU Where Codigo Is Null").toInt(), 0);
}

// A base from before the engine refused a repeated code, with one repeated:
// the start says which products share it, and the products stay usable.
TEST(Upgrade, ABaseWhoseCodesRepeatIsToldWhichAndStaysUsable)
{
    TempDatabase db(dbOptions(4, true));
    db.exec(test::onServer() ? "Alter Table PLU Drop Constraint plu_codigo_unico" : "Drop Index plu_codigo_unico");
    db.exec("Update PLU Set Codigo = 101, pluCode = '001010' Where pluNo = 2");
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    ASSERT_EQ(f.dialogs.messages().size(), 1);
    const QString told = f.dialogs.messages()[0];
    EXPECT_TRUE(told.startsWith("Há produtos com o mesmo código")) << told.toStdString();
    EXPECT_TRUE(told.contains("código nas barras 001010: código 101 (")) << told.toStdString();
    EXPECT_TRUE(told.contains(", PLU 1)") && told.contains(", PLU 2)")) << told.toStdString();
    EXPECT_EQ(f.form->qryProdutos->count(), 4);
    // Mending one of them is an ordinary save; the next start says nothing.
    f.selectSlot(2);
    f.click(f.form->btnEditar);
    f.type(f.form->edtCodigo, "202");
    f.click(f.form->btnGravar);
    EXPECT_EQ(f.dialogs.messages().size(), 1) << f.dialogs.messages().join('|').toStdString();
    FormFixture again(db.path());
    EXPECT_TRUE(again.start());
    EXPECT_TRUE(again.dialogs.messages().isEmpty()) << again.dialogs.messages().join('|').toStdString();
}

TEST(Upgrade, ScaleCodeThatIsNotANumberStopsWithTheConversionError)
{
    TempDatabase db(dbOptions(4));
    db.exec("Update Config Set CodeSize = 3");
    db.exec("Update PLU Set Codigo = Null");
    db.exec("Update PLU Set pluCode = 'AB12' Where pluNo = 2");
    FormFixture f(db.path());
    EXPECT_FALSE(f.start());
    ASSERT_EQ(f.dialogs.shown().size(), 2); // the size 3 replaced, then the stop
    EXPECT_EQ(f.dialogs.shown()[1].caption, "Torvane");
    EXPECT_TRUE(f.dialogs.shown()[1].text.startsWith("'AB12' não é um valor inteiro válido. 3 produto(s) ficaram sem código"))
        << f.dialogs.shown()[1].text.toStdString();
    EXPECT_EQ(db.scalar("Select pluCode From PLU Where pluNo = 1").toString(), "000000");
    EXPECT_FALSE(f.status->isVisible());
    EXPECT_TRUE(f.form->isEnabled());
}

TEST(Upgrade, AFullDiskLeavesNeitherTheCodeSizeNorHalfTheCodesAndTheNextStartFillsThemAll)
{
    if (test::onServer())
        GTEST_SKIP() << "a file-size limit fills the file's disk; the server writes its own files";
    TempDatabase db(dbOptions(400, false, schema::Layout::AsDelivered));
    db.exec("Create Table Config ( CodeSize smallint )");
    db.exec("Alter Table PLU Add Codigo int");
    {
        // The disk fills up while the codes are written: a file-size limit
        // a little above what the file holds now.
        FormFixture f(db.path());
        const qint64 size = QFileInfo(db.path()).size();
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = rlim_t(size + 8192);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool started = f.start();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(started);
        ASSERT_FALSE(f.dialogs.shown().isEmpty());
        EXPECT_TRUE(f.dialogs.shown().last().text.contains("disco")) << f.dialogs.shown().last().text.toStdString();
    }
    EXPECT_TRUE(db.scalar("Select CodeSize From Config").isNull());
    EXPECT_EQ(db.scalar("Select count(*) From PLU Where Codigo Is Null").toInt(), 400);
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    EXPECT_EQ(db.scalar("Select CodeSize From Config").toInt(), 5);
    EXPECT_EQ(db.scalar("Select count(*) From PLU Where Codigo Is Null").toInt(), 0);
}

TEST(Upgrade, ADeliveredDemoFileWithMoreThanAHundredSlotsUpgradesWithoutACollision)
{
    TempDatabase db(dbOptions(120, true, schema::Layout::AsDelivered));
    EXPECT_EQ(db.scalar("Select count(*) From PLU Where pluDesc Is Null").toInt(), 0);
    { FormFixture f(db.path()); f.start(); }
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    EXPECT_TRUE(f.dialogs.shown().isEmpty()) << f.dialogs.messages().join('|').toStdString();
    EXPECT_EQ(db.scalar("Select count(Distinct pluCode) From PLU").toInt(), 120);
}
