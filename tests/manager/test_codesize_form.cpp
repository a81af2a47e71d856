// "Arquivo" -> "Configurar" as the operator uses it: the size dialog, the
// second-prefix question, the confirmation, and every code rewritten.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"
#include "StatusWindow.h"
#include "Unitselect.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;
using manager::TfrmSelect;

namespace {

const QString kPrefixQuestion = QStringLiteral("Seu código de barras vai usar o segundo prefixo ?");
const QString kConfirm = QStringLiteral(
    "Você está alterando o tamanho do código do produto.\nAo confirmar, os código existentes serão modificados\n"
    "para atender o novo padrão e a alteração será irreversível.\n\nContinuar ?");

// What the operator does in the size dialog once it is up.
struct SizeAnswer {
    enum Kind { Pick, Cancel, CloseWindow } kind = Pick;
    int position = 0;
};

class CodeSizeFormTest : public ::testing::Test {
protected:
    // Slots 1..4 with the given codes (0 = free), Prefixb 7 everywhere.
    void start(int codeSize, bool prefix2, const QList<int> &codes, int slotCount = 6)
    {
        db = std::make_unique<TempDatabase>(dbOptions(slotCount));
        db->exec(QStringLiteral("Update Config Set CodeSize = %1, flgPrefixo2 = %2").arg(codeSize).arg(prefix2 ? 1 : 0));
        db->exec("Update PLU Set Codigo = 0, Prefixb = 7");
        for (int i = 0; i < codes.size(); ++i)
            db->exec(QStringLiteral("Update PLU Set Codigo = %1, pluDesc = 'P%2', pluCode = 'c%2' Where pluNo = %2").arg(codes[i]).arg(i + 1));
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        // Give every row the pluCode of the current settings, the way the
        // program would have saved them.
        db->exec("Update PLU Set pluCode = 'x' || pluNo");
        f->form->qryProdutos->close();
        ASSERT_TRUE(f->form->qryProdutos->open());
        resave();
        f->dialogs.clear();
    }
    void resave()
    {
        auto &q = *f->form->qryProdutos;
        for (int row = 0; row < q.count(); ++row) {
            q.moveTo(row);
            f->form->flgSemValidacao = true;
            q.edit();
            ASSERT_EQ(q.post(), manager::ProductQuery::PostResult::Posted);
        }
        q.first();
    }
    void TearDown() override
    {
        EXPECT_EQ(f->dialogs.unexpected(), 0);
        EXPECT_EQ(f->dialogs.pendingAnswers(), 0);
        f.reset();
        db.reset();
    }
    manager::TfrmProdutos &form() { return *f->form; }

    // Chooses "Configurar" and answers the size dialog as told; the
    // questions that follow are answered from the scripted dialogs.
    void configure(SizeAnswer answer)
    {
        dialogSeen = false;
        QTimer::singleShot(0, [this, answer] {
            auto *dlg = qobject_cast<TfrmSelect *>(QApplication::activeModalWidget());
            if (!dlg) {
                ADD_FAILURE() << "size dialog not shown";
                return;
            }
            dialogSeen = true;
            dialogTitle = dlg->rgSelect->title();
            dialogOptions = dlg->options();
            initialChoice = dlg->selectedOption();
            switch (answer.kind) {
            case SizeAnswer::Pick:
                dlg->selectOption(answer.position);
                dlg->btnOk->click();
                break;
            case SizeAnswer::Cancel:
                dlg->btnCancel->click();
                break;
            case SizeAnswer::CloseWindow:
                dlg->close();
                break;
            }
        });
        form().Configurar2->trigger();
        EXPECT_TRUE(dialogSeen);
    }
    static SizeAnswer pick(int size) { return {SizeAnswer::Pick, size - 4}; }

    int storedSize() const { return db->scalar("Select CodeSize From Config").toInt(); }
    bool storedPrefix2() const { return db->scalar("Select flgPrefixo2 From Config").toBool(); }
    QStringList codes() const
    {
        QStringList out;
        for (const QVariant &v : db->column("pluCode"))
            out << v.toString();
        return out;
    }
    QVariantList codigos() const { return db->column("Codigo"); }
    QStringList confirmations() const
    {
        QStringList out;
        for (const ShownDialog &d : f->dialogs.shown())
            if (d.kind == ShownDialog::Kind::Confirm)
                out << d.text;
        return out;
    }
    bool secondPrefixShown() { return form().edtPrefixob->isVisibleTo(&form()); }

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
    bool dialogSeen = false;
    QString dialogTitle;
    QStringList dialogOptions;
    int initialChoice = -2;
};

TEST_F(CodeSizeFormTest, DroppingTheSecondPrefixRebuildsEveryCodeWithoutCuttingIt)
{
    start(5, true, {123, 45});
    ASSERT_EQ(codes().mid(0, 3), (QStringList{"700123", "700045", "700000"}));
    ASSERT_TRUE(secondPrefixShown());
    f->dialogs.answerConfirm(false); // no second prefix
    f->dialogs.answerConfirm(true);  // go ahead
    configure(pick(5));

    EXPECT_EQ(dialogTitle, QStringLiteral("Tamanho do código do produto:"));
    EXPECT_EQ(dialogOptions, (QStringList{"4", "5", "6"}));
    EXPECT_EQ(initialChoice, 1);
    EXPECT_EQ(confirmations(), (QStringList{kPrefixQuestion, kConfirm}));
    EXPECT_EQ(f->dialogs.shown()[0].caption, QStringLiteral("Escolha"));
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    EXPECT_EQ(storedSize(), 5);
    EXPECT_FALSE(storedPrefix2());
    EXPECT_EQ(codigos().mid(0, 2), (QVariantList{123, 45}));
    EXPECT_EQ(codes(), (QStringList{"001230", "000450", "000000", "000000", "000000", "000000"}));
    EXPECT_FALSE(secondPrefixShown());
    EXPECT_FALSE(form().lblPrefixo2->isVisibleTo(&form()));
    EXPECT_EQ(f->status->lblMsg->text(), QStringLiteral("Alterando os códigos dos produtos..."));
    EXPECT_FALSE(f->status->isVisible());
    EXPECT_TRUE(form().isEnabled());
    EXPECT_FALSE(form().flgSemValidacao);
    // The illustration shows the first row's new code.
    EXPECT_EQ(form().qryProdutos->recNo(), 0);
    EXPECT_EQ(form().lblCodigo->text(), QStringLiteral("01230"));
}

TEST_F(CodeSizeFormTest, SizeSixKeepsTheStoredPrefixChoiceAndHidesTheField)
{
    start(5, true, {123});
    f->dialogs.answerConfirm(true);
    configure(pick(6));
    EXPECT_EQ(confirmations(), QStringList{kConfirm});
    EXPECT_EQ(storedSize(), 6);
    EXPECT_TRUE(storedPrefix2());
    EXPECT_EQ(codes().first(), QStringLiteral("000123"));
    EXPECT_FALSE(secondPrefixShown());
    EXPECT_EQ(form().edtCodigo->maxLength(), 6);
}

TEST_F(CodeSizeFormTest, NothingToChangeAsksNoConfirmation)
{
    start(5, true, {123});
    const QStringList before = codes();
    f->dialogs.answerConfirm(true); // keeps the second prefix
    configure(pick(5));
    EXPECT_EQ(confirmations(), QStringList{kPrefixQuestion});
    EXPECT_EQ(codes(), before);
    EXPECT_EQ(storedSize(), 5);
    EXPECT_TRUE(storedPrefix2());

    // Size 6 chosen again at size 6: not even the prefix question.
    start(6, false, {123});
    configure(pick(6));
    EXPECT_TRUE(f->dialogs.shown().isEmpty());
}

TEST_F(CodeSizeFormTest, AShrinkThatWouldMergeOrFreeProductsChangesNothingAndSaysWhich)
{
    start(6, false, {123456, 993456, 12, 5});
    const QStringList before = codes();
    f->dialogs.answerConfirm(true); // the second prefix; no confirmation follows
    configure(pick(4));
    EXPECT_EQ(initialChoice, 2);
    const QStringList messages = f->dialogs.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QStringLiteral("Erro"));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Código 123456 (P1) passaria a 3456"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Código 993456 (P2) passaria a 3456")));
    EXPECT_FALSE(messages[0].contains(QStringLiteral("Código 12 ")));
    EXPECT_EQ(codigos().mid(0, 4), (QVariantList{123456, 993456, 12, 5}));
    EXPECT_EQ(codes(), before);
    EXPECT_EQ(storedSize(), 6);
    EXPECT_EQ(form().edtCodigo->maxLength(), 6);

    // From 5 to 4 a code of one digit would become 0, a free slot.
    f.reset();
    start(5, false, {7, 1234});
    f->dialogs.answerConfirm(false);
    configure(pick(4));
    ASSERT_EQ(f->dialogs.messages().size(), 1);
    EXPECT_TRUE(f->dialogs.messages()[0].contains(QStringLiteral("Código 7 (P1) passaria a 0")));
    EXPECT_EQ(codigos().mid(0, 2), (QVariantList{7, 1234}));
    EXPECT_EQ(storedSize(), 5);
}

TEST_F(CodeSizeFormTest, ShrinkingFromFiveToFourKeepsTheFirstFourDigits)
{
    start(5, true, {12345, 123});
    f->dialogs.answerConfirm(true);
    f->dialogs.answerConfirm(true);
    configure(pick(4));
    EXPECT_EQ(codigos().mid(0, 2), (QVariantList{1234, 12}));
    EXPECT_EQ(codes().mid(0, 2), (QStringList{"712340", "700120"}));
    EXPECT_TRUE(secondPrefixShown());
}

TEST_F(CodeSizeFormTest, GrowingKeepsEveryCode)
{
    start(4, true, {1234, 5});
    ASSERT_EQ(codes().first(), QStringLiteral("712340"));
    f->dialogs.answerConfirm(true);
    configure(pick(6));
    EXPECT_EQ(codigos().mid(0, 2), (QVariantList{1234, 5}));
    EXPECT_EQ(codes().mid(0, 2), (QStringList{"001234", "000005"}));
}

// Rewritten one row at a time, 1230 takes the scale code 001230 while 123
// (second prefix 0) still holds it; only the codes at the end must differ.
TEST_F(CodeSizeFormTest, ACodeTakenOverHalfWayThroughIsNoCollision)
{
    start(4, true, {1230, 123});
    db->exec("Update PLU Set Prefixb = 0");
    f->form->qryProdutos->close();
    ASSERT_TRUE(f->form->qryProdutos->open());
    resave();
    ASSERT_EQ(codes().mid(0, 2), (QStringList{"012300", "001230"}));
    f->dialogs.answerConfirm(true);
    configure(pick(6));
    EXPECT_EQ(f->dialogs.messages(), QStringList()) << f->dialogs.messages().join('|').toStdString();
    EXPECT_EQ(codes().mid(0, 2), (QStringList{"001230", "000123"}));
}

TEST_F(CodeSizeFormTest, CancellingAtAnyPointChangesNothing)
{
    start(5, false, {123});
    const QStringList before = codes();
    configure({SizeAnswer::Cancel});
    configure({SizeAnswer::CloseWindow});
    EXPECT_TRUE(f->dialogs.shown().isEmpty());

    // Yes to the second prefix, then No to the confirmation.
    f->dialogs.answerConfirm(true);
    f->dialogs.answerConfirm(false);
    configure(pick(4));
    EXPECT_EQ(confirmations(), (QStringList{kPrefixQuestion, kConfirm}));
    EXPECT_EQ(storedSize(), 5);
    EXPECT_FALSE(storedPrefix2());
    EXPECT_EQ(codes(), before);
    EXPECT_EQ(form().edtCodigo->maxLength(), 5);
    EXPECT_FALSE(secondPrefixShown());
}

TEST_F(CodeSizeFormTest, AFailureHalfWayKeepsTheOldSettingsAndEveryCode)
{
    start(6, false, {100001, 100002, 100003, 100004});
    const QStringList before = codes();
    db->exec(test::faultTrigger(QStringLiteral("refuse3"), QStringLiteral("UPDATE"), QStringLiteral("PLU"),
                                QStringLiteral("NEW.pluNo = 3"), QStringLiteral("disco cheio")));
    f->dialogs.answerConfirm(true);
    f->dialogs.answerConfirm(true);
    configure(pick(5));
    const QStringList messages = f->dialogs.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("disco cheio")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("nenhum produto foi modificado")));
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QStringLiteral("Torvane"));
    EXPECT_EQ(storedSize(), 6);
    EXPECT_FALSE(storedPrefix2());
    EXPECT_EQ(codigos().mid(0, 4), (QVariantList{100001, 100002, 100003, 100004}));
    EXPECT_EQ(codes(), before);
    EXPECT_EQ(f->cell(0, "Cod.Barras"), "100001");
    EXPECT_EQ(form().edtCodigo->maxLength(), 6);
    EXPECT_FALSE(secondPrefixShown());
    // Repeating the change once the disk has room does the whole change.
    db->exec(test::onServer() ? "DROP TRIGGER refuse3 ON PLU" : "Drop Trigger refuse3");
    f->dialogs.clear();
    f->dialogs.answerConfirm(true);
    f->dialogs.answerConfirm(true);
    configure(pick(5));
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    EXPECT_EQ(storedSize(), 5);
    EXPECT_EQ(codigos().mid(0, 4), (QVariantList{1, 2, 3, 4}));
    EXPECT_FALSE(f->status->isVisible());
    EXPECT_TRUE(form().isEnabled());
    EXPECT_FALSE(form().flgSemValidacao);
    EXPECT_FALSE(form().qryProdutos->isEditing());
    EXPECT_TRUE(form().btnEditar->isEnabled());
}

TEST_F(CodeSizeFormTest, AnEmptyProductTableStillStoresTheSettings)
{
    start(5, false, {}, 0);
    f->dialogs.answerConfirm(true);
    f->dialogs.answerConfirm(true);
    configure(pick(4));
    EXPECT_EQ(storedSize(), 4);
    EXPECT_TRUE(storedPrefix2());
    EXPECT_TRUE(secondPrefixShown());
    EXPECT_EQ(form().edtCodigo->maxLength(), 4);
    EXPECT_TRUE(form().isEnabled());
}

TEST_F(CodeSizeFormTest, NewSavesFollowTheNewSettings)
{
    start(5, false, {123});
    f->dialogs.answerConfirm(true);
    f->dialogs.answerConfirm(true);
    configure(pick(4));
    // The operator types a product under the new layout.
    f->selectSlot(2);
    f->click(form().btnEditar);
    f->type(form().edtCodigo, QStringLiteral("98765"));
    EXPECT_EQ(form().edtCodigo->text(), QStringLiteral("9876"));
    f->type(form().edtPrefixob, QStringLiteral("3"));
    f->click(form().btnGravar);
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 2").toString(), QStringLiteral("398760"));
}

} // namespace
