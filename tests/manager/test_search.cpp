// The search dialog driven as the operator drives it: "Localizar" on the
// product form's toolbar, a column picked, text typed, Enter or the buttons.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"
#include "ProductQuery.h"
#include "RadioGroup.h"
#include "SearchData.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;
using manager::FormSearchData;
using manager::TFormSearchData;

namespace {

const QString kNotFound = QString::fromUtf8("Dado não encontrado");

// Types text key by key, accented letters included (QTest's key clicks
// know only ASCII).
void typeText(QWidget *w, const QString &text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &release);
    }
}

class SearchTest : public ::testing::Test {
protected:
    void start(int slotCount, const QStringList &prepare = {})
    {
        db = std::make_unique<TempDatabase>(dbOptions(slotCount));
        for (const QString &sql : prepare)
            db->exec(sql);
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        f->dialogs.clear();
        f->click(f->form->ToolButton3);
        ASSERT_NE(FormSearchData, nullptr);
        ASSERT_TRUE(FormSearchData->isVisible());
    }
    void TearDown() override
    {
        if (f) {
            EXPECT_EQ(f->dialogs.unexpected(), 0);
        }
        f.reset();
        db.reset();
    }
    TFormSearchData &dlg() { return *FormSearchData; }
    void search(const QString &column, const QString &text, int option)
    {
        dlg().CBCampo->setCurrentIndex(dlg().CBCampo->findText(column));
        dlg().rgOpcoes->button(option)->click();
        dlg().EditDado->setFocus();
        dlg().EditDado->selectAll();
        QTest::keyClick(dlg().EditDado, Qt::Key_Delete);
        typeText(dlg().EditDado, text);
        f->dialogs.clear();
        QTest::mouseClick(dlg().btnLocalizar, Qt::LeftButton);
    }
    void next()
    {
        f->dialogs.clear();
        QTest::mouseClick(dlg().btnProximo, Qt::LeftButton);
    }
    qint64 currentPluNo() const { return f->form->qryProdutos->value("pluNo").toLongLong(); }
    QStringList messages() const { return f->dialogs.messages(); }

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

} // namespace

TEST(SearchTexts, KeyColumnsAndPatternText)
{
    EXPECT_EQ(manager::GetTextDelimited("00;", 0), 0);
    EXPECT_EQ(manager::GetTextDelimited("00;", 1), -1);
    EXPECT_EQ(manager::GetTextDelimited("1;2;", 1), 2);
    EXPECT_EQ(manager::GetTextDelimited("", 0), -1);
    EXPECT_EQ(manager::GetTextDelimited(";3", 0), -1);
    EXPECT_EQ(manager::searchPatternText(QString::fromUtf8("AÇÚCAR 10% É")), QString::fromUtf8("AçúCAR 10% é"));
    EXPECT_EQ(manager::booleanSearchText(QString::fromUtf8("não")), "0");
    EXPECT_EQ(manager::booleanSearchText("Nao"), "0");
    EXPECT_EQ(manager::booleanSearchText("false"), "0");
    EXPECT_EQ(manager::booleanSearchText("sim"), "1");
    EXPECT_EQ(manager::booleanSearchText("TRUE"), "1");
    EXPECT_EQ(manager::booleanSearchText("TALVEZ"), "TALVEZ");
}

TEST_F(SearchTest, DialogLayoutColumnsAndInitialState)
{
    start(3);
    EXPECT_EQ(dlg().windowTitle(), "Localizar Registro");
    EXPECT_EQ(dlg().size(), QSize(321, 185));
    EXPECT_TRUE(dlg().windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(dlg().isModal());
    EXPECT_EQ(dlg().pos().y(), dlg().screen()->geometry().top());
    QStringList titles;
    for (int i = 0; i < dlg().CBCampo->count(); ++i)
        titles << dlg().CBCampo->itemText(i);
    EXPECT_EQ(titles, QStringList({QString::fromUtf8("Código"), "Cod.Barras", QString::fromUtf8("Descrição"),
                                   QString::fromUtf8("Preço/kg"), "Tara (kg)", "Validade", "Prefixo 1",
                                   "Prefixo 2"}));
    EXPECT_EQ(dlg().CBCampo->currentIndex(), 0);
    EXPECT_FALSE(dlg().CBCampo->isEditable());
    EXPECT_EQ(dlg().rgOpcoes->title(), QString::fromUtf8("Opções de Localização:"));
    EXPECT_EQ(dlg().rgOpcoes->itemIndex(), 0);
    EXPECT_EQ(dlg().rgOpcoes->button(2)->text(), "Procurar exatamente igual a frase");
    EXPECT_EQ(dlg().btnLocalizar->text(), "&Localizar");
    EXPECT_EQ(dlg().btnProximo->text(), QString::fromUtf8("&Próximo"));
    EXPECT_EQ(dlg().btnCancelar->text(), "&Retornar");
    EXPECT_FALSE(dlg().btnLocalizar->isEnabled());
    EXPECT_FALSE(dlg().btnProximo->isEnabled());
    EXPECT_TRUE(dlg().EditDado->text().isEmpty());
    EXPECT_EQ(dlg().FTableSql, "PLU");
    EXPECT_EQ(dlg().FKeyColumns, "00;");
}

TEST_F(SearchTest, AccentedTextMatchesWithoutRegardToCase)
{
    start(5, {QString::fromUtf8("UPDATE PLU SET Codigo = 7, pluDesc = 'açúcar refinado' WHERE pluNo = 4")});
    dlg().EditDado->setFocus();
    typeText(dlg().EditDado, QString::fromUtf8("açúcar"));
    EXPECT_EQ(dlg().EditDado->text(), QString::fromUtf8("AÇÚCAR"));
    search(QString::fromUtf8("Descrição"), QString::fromUtf8("açúcar"), 0);
    EXPECT_TRUE(messages().isEmpty()) << messages().join('|').toStdString();
    EXPECT_EQ(currentPluNo(), 4);
    EXPECT_EQ(dlg().qrySearch.SQL, QStringList({"Select * From PLU", " Where UCase( pluDesc) Like ?"}));
    EXPECT_EQ(dlg().qrySearch.bindings, QVariantList({QString::fromUtf8("%AçúCAR%")}));
    EXPECT_EQ(dlg().FUpperFunction, "UCase");
    EXPECT_TRUE(dlg().btnProximo->isEnabled());
}

TEST_F(SearchTest, BeginningOfThePluNumberStepsThroughEveryMatchThenStops)
{
    start(120);
    search(QString::fromUtf8("Código"), "1", 1);
    std::vector<qint64> seen{currentPluNo()};
    for (;;) {
        next();
        if (!messages().isEmpty())
            break;
        seen.push_back(currentPluNo());
    }
    std::vector<qint64> expected{1};
    for (int i = 10; i <= 19; ++i)
        expected.push_back(i);
    for (int i = 100; i <= 120; ++i)
        expected.push_back(i);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(messages(), QStringList(kNotFound));
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QString::fromUtf8("Informação"));
    // The grid stays on the last match; Próximo stays enabled and says it again.
    EXPECT_EQ(currentPluNo(), 120);
    EXPECT_TRUE(dlg().btnProximo->isEnabled());
    next();
    EXPECT_EQ(messages(), QStringList(kNotFound));
    EXPECT_EQ(currentPluNo(), 120);
}

TEST_F(SearchTest, ApostropheIsSearchedForAndWildcardsStillWork)
{
    start(4, {"UPDATE PLU SET Codigo = 1, pluDesc = 'PAO D''AGUA' WHERE pluNo = 2",
              "UPDATE PLU SET Codigo = 2, pluCode = 's3', pluDesc = 'BANANA' WHERE pluNo = 3",
              "UPDATE PLU SET Codigo = 3, pluCode = 's4', pluDesc = 'BANANADA' WHERE pluNo = 4"});
    search(QString::fromUtf8("Descrição"), "D'AGUA", 0);
    EXPECT_TRUE(messages().isEmpty()) << messages().join('|').toStdString();
    EXPECT_EQ(currentPluNo(), 2);

    // An apostrophe alone matches only the description that has one.
    search(QString::fromUtf8("Descrição"), "'", 0);
    EXPECT_EQ(currentPluNo(), 2);
    next();
    EXPECT_EQ(messages(), QStringList(kNotFound));

    // Option 2 is still a Like pattern: _ is one character, % any run.
    search(QString::fromUtf8("Descrição"), "BAN_NA", 2);
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_EQ(currentPluNo(), 3);
    next();
    EXPECT_EQ(messages(), QStringList(kNotFound));
    search(QString::fromUtf8("Descrição"), "BAN%", 2);
    EXPECT_EQ(currentPluNo(), 3);
    next();
    EXPECT_EQ(currentPluNo(), 4);

    // Exactly equal: BANANA does not match BANANADA.
    search(QString::fromUtf8("Descrição"), "BANANADA", 2);
    EXPECT_EQ(currentPluNo(), 4);
    search(QString::fromUtf8("Descrição"), "NANA", 2);
    EXPECT_EQ(messages(), QStringList(kNotFound));
    EXPECT_FALSE(dlg().btnProximo->isEnabled());
}

TEST_F(SearchTest, ChangingTextColumnOrOptionDisablesProximo)
{
    start(12);
    search(QString::fromUtf8("Código"), "1", 1);
    ASSERT_TRUE(dlg().btnProximo->isEnabled());
    QTest::keyClick(dlg().EditDado, Qt::Key_0);
    EXPECT_FALSE(dlg().btnProximo->isEnabled());
    search(QString::fromUtf8("Código"), "1", 1);
    dlg().CBCampo->setCurrentIndex(1);
    EXPECT_FALSE(dlg().btnProximo->isEnabled());
    search(QString::fromUtf8("Código"), "1", 1);
    dlg().rgOpcoes->button(2)->click();
    EXPECT_FALSE(dlg().btnProximo->isEnabled());
}

TEST_F(SearchTest, KeysEnterSearchesOnlyWithTextAndEscReturnsToTheGrid)
{
    start(3);
    // Enter with an empty text does nothing.
    QTest::keyClick(dlg().EditDado, Qt::Key_Return);
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_TRUE(dlg().isVisible());
    QTest::keyClicks(dlg().EditDado, "3");
    QTest::keyClick(dlg().EditDado, Qt::Key_Return);
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_EQ(currentPluNo(), 3);
    EXPECT_TRUE(dlg().btnProximo->isEnabled());
    // Esc from any control: closed, result query closed.
    QTest::keyClick(dlg().CBCampo, Qt::Key_Escape);
    EXPECT_FALSE(dlg().isVisible());
    EXPECT_FALSE(dlg().qrySearch.isOpen());

    // Shown again: text emptied, first column, Localizar disabled.
    f->click(f->form->ToolButton3);
    EXPECT_TRUE(dlg().isVisible());
    EXPECT_TRUE(dlg().EditDado->text().isEmpty());
    EXPECT_FALSE(dlg().btnLocalizar->isEnabled());
    QTest::mouseClick(dlg().btnCancelar, Qt::LeftButton);
    EXPECT_FALSE(dlg().isVisible());
}

TEST_F(SearchTest, NoRowsAndNoMatch)
{
    start(3);
    search("Validade", "77", 0);
    EXPECT_EQ(messages(), QStringList(kNotFound));
    EXPECT_FALSE(dlg().btnProximo->isEnabled());
    EXPECT_TRUE(dlg().isVisible());

    // A dataset without rows.
    f->form->qryProdutos->setSql("Select * From Plu Where pluNo < 0");
    ASSERT_TRUE(f->form->qryProdutos->open());
    search("Validade", "77", 0);
    EXPECT_EQ(messages(), QStringList(QString::fromUtf8("Não há registros a serem localizados.")));
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QString::fromUtf8("Informação"));
}

TEST_F(SearchTest, WholeStatementWithWhereGetsAndAndTheExtraCondition)
{
    start(30, {"UPDATE PLU SET Codigo = pluNo, pluCode = 's' || pluNo WHERE pluNo > 20"});
    dlg().qrySearch.setDatabase(f->dm->ADOC()->database());
    dlg().SetSearch(f->form->DBGrid1, f->form->qryProdutos, "select * from plu where Codigo > 0", "00;",
                    "pluNo < 29");
    search(QString::fromUtf8("Código"), "2", 1);
    EXPECT_EQ(dlg().qrySearch.SQL,
              QStringList({"SELECT * FROM PLU WHERE CODIGO > 0", " And pluNo < 29 And UCase( pluNo) Like ?"}));
    EXPECT_EQ(dlg().FTableSql, "SELECT * FROM PLU WHERE CODIGO > 0");
    std::vector<qint64> seen{currentPluNo()};
    for (next(); messages().isEmpty(); next())
        seen.push_back(currentPluNo());
    EXPECT_EQ(seen, std::vector<qint64>({21, 22, 23, 24, 25, 26, 27, 28}));
}

TEST_F(SearchTest, BooleanColumnSearchesForZeroOrOne)
{
    start(4, {"UPDATE PLU SET flgDel = 1 WHERE pluNo = 3"});
    // A grid of our own that shows the yes/no column, its fields named in
    // the header's user role.
    manager::ProductQuery query;
    query.setDatabase(f->dm->ADOC()->database());
    query.setSql("Select pluNo, pluDesc, flgDel From PLU Order By pluNo");
    ASSERT_TRUE(query.open());
    QStandardItemModel model(int(query.count()), 3);
    const QStringList titles{"Slot", "Nome", "Apagado"};
    const QStringList fields{"pluNo", "pluDesc", "flgDel"};
    for (int c = 0; c < 3; ++c) {
        model.setHeaderData(c, Qt::Horizontal, titles[c]);
        model.setHeaderData(c, Qt::Horizontal, fields[c], Qt::UserRole);
    }
    QTableView grid;
    grid.setModel(&model);
    dlg().SetSearch(&grid, &query, "PLU", "00;", "");
    search("Apagado", "SIM", 2);
    EXPECT_EQ(dlg().qrySearch.bindings, QVariantList({"1"}));
    EXPECT_EQ(query.value("pluNo").toLongLong(), 3);
    search("Apagado", QString::fromUtf8("NÃO"), 2);
    EXPECT_EQ(dlg().qrySearch.bindings, QVariantList({"0"}));
    EXPECT_EQ(query.value("pluNo").toLongLong(), 1);
    search("Apagado", "FALSE", 2);
    EXPECT_EQ(dlg().qrySearch.bindings, QVariantList({"0"}));
    // Text columns keep SIM as it is.
    search("Nome", "SIM", 0);
    EXPECT_EQ(dlg().qrySearch.bindings, QVariantList({"%SIM%"}));
    dlg().close();
}

TEST_F(SearchTest, AnotherWindowOfTheProgramTakingOverClosesTheDialog)
{
    start(3);
    f->form->activateWindow();
    QApplication::setActiveWindow(f->form.get());
    QApplication::processEvents();
    EXPECT_FALSE(dlg().isVisible());
}
