// The upgrade at start, through the real form: the three states of a
// database file, the exact statements and messages, and the back-fill.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"
#include "StatusWindow.h"
#include "ScaleRecordSchema.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>

#include <gtest/gtest.h>

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
    // A valid size was already set: no back-fill, and the second prefix shows.
    EXPECT_TRUE(db.scalar("Select Codigo From PLU Where pluNo = 1").isNull());
    EXPECT_EQ(f.form->edtCodigo->maxLength(), 4);
    EXPECT_TRUE(f.form->edtPrefixob->isVisibleTo(f.form.get()));
    EXPECT_TRUE(f.form->lblPrefixo2->isVisibleTo(f.form.get()));
}

TEST(Upgrade, CodeSizeOutsideFourToSixIsReplacedAndCodesFilledAgain)
{
    TempDatabase db(dbOptions(6, true));
    db.exec("Update Config Set CodeSize = 7");
    FormFixture f(db.path());
    EXPECT_TRUE(f.start());
    EXPECT_EQ(f.form->upgradeStatements(),
              kProbes + QStringList{"CREATE INDEX IF NOT EXISTS PLU_pluCode ON PLU (pluCode)"});
    EXPECT_EQ(db.scalar("Select CodeSize From Config").toInt(), 5);
    // The demo product 101 was stored as 001010: its code becomes 1010.
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 1").toInt(), 1010);
    EXPECT_EQ(db.scalar("Select pluCode From PLU Where pluNo = 1").toString(), "010100");
    // Messages of the save procedure still apply (demo tares are even).
    EXPECT_TRUE(f.dialogs.shown().isEmpty()) << f.dialogs.messages().join('|').toStdString();
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

TEST(Upgrade, RefusedSaveStopsTheBackFillAndKeepsTheRowsBeforeIt)
{
    TempDatabase db(dbOptions(6, true));
    db.exec("Update Config Set CodeSize = 9");
    // Slot 3 already carries the code slot 2 gets from the back-fill.
    db.exec("Update PLU Set pluCode = '010200' Where pluNo = 3");
    FormFixture f(db.path());
    EXPECT_FALSE(f.start());
    ASSERT_EQ(f.dialogs.messages(), QStringList({"Código já existente"}));
    EXPECT_EQ(f.dialogs.lastMessage()->caption, "Erro");
    // Row 1 was saved; row 2 and later were not.
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 1").toInt(), 1010);
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 2").toInt(), 102);
    EXPECT_EQ(db.scalar("Select pluCode From PLU Where pluNo = 2").toString(), "001020");
    EXPECT_EQ(db.scalar("Select Codigo From PLU Where pluNo = 4").toInt(), 104);
    EXPECT_FALSE(f.status->isVisible());
    EXPECT_TRUE(f.form->isEnabled());
    EXPECT_FALSE(f.form->qryProdutos->isEditing());
    EXPECT_EQ(f.form->strOrdem, QString()); // the rest of the start was skipped
}

TEST(Upgrade, ScaleCodeThatIsNotANumberStopsWithTheConversionError)
{
    TempDatabase db(dbOptions(4));
    db.exec("Update Config Set CodeSize = 3");
    db.exec("Update PLU Set pluCode = 'AB12' Where pluNo = 2");
    FormFixture f(db.path());
    EXPECT_FALSE(f.start());
    ASSERT_EQ(f.dialogs.shown().size(), 1);
    EXPECT_EQ(f.dialogs.shown()[0].caption, "Torvane");
    EXPECT_EQ(f.dialogs.shown()[0].text, "'AB12' não é um valor inteiro válido.");
    EXPECT_EQ(db.scalar("Select pluCode From PLU Where pluNo = 1").toString(), "000000");
    EXPECT_FALSE(f.status->isVisible());
    EXPECT_TRUE(f.form->isEnabled());
}
