// The selection dialog as the operator meets it: shown modally, answered
// with its buttons or its title bar.
#include "Unitselect.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using torvane::manager::TfrmSelect;

namespace {

// Runs the dialog modally and lets `answer` act on it once it is up.
int runModal(TfrmSelect &dlg, std::function<void()> answer)
{
    QTimer::singleShot(0, &dlg, [&dlg, answer] {
        EXPECT_TRUE(dlg.isVisible());
        answer();
    });
    return dlg.exec();
}

QRect screenRect()
{
    return QGuiApplication::primaryScreen()->geometry();
}

TEST(SelectDialog, CodeSizeChoiceLayoutAndOk)
{
    TfrmSelect dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Selecione a opção desejada"));
    dlg.SetOptions(1, QStringLiteral("Tamanho do código do produto:"), QStringLiteral("4;5;6;"), 1);

    EXPECT_EQ(dlg.options(), (QStringList{"4", "5", "6"}));
    EXPECT_EQ(dlg.rgSelect->title(), QStringLiteral("Tamanho do código do produto:"));
    EXPECT_EQ(dlg.selectedOption(), 1);
    EXPECT_EQ(dlg.rgSelect->height(), 80);
    EXPECT_EQ(dlg.rgSelect->width(), 274);
    EXPECT_EQ(dlg.height(), 180);
    EXPECT_EQ(dlg.width(), 306);
    EXPECT_EQ(dlg.btnOk->y(), 98);
    EXPECT_EQ(dlg.btnCancel->y(), 98);
    const QRect s = screenRect();
    EXPECT_EQ(dlg.x(), s.x() + (s.width() - 306) / 2);
    EXPECT_EQ(dlg.y(), s.y() + (s.height() - 180) / 2);

    const int result = runModal(dlg, [&] {
        EXPECT_TRUE(dlg.rgSelect->isVisible());
        EXPECT_FALSE(dlg.gbSelect->isVisible());
        dlg.btnOk->click();
    });
    EXPECT_EQ(result, TfrmSelect::ResultOk);
    EXPECT_EQ(dlg.Selection, 1);

    // The operator picks another size before Ok.
    dlg.SetOptions(1, QStringLiteral("Tamanho do código do produto:"), QStringLiteral("4;5;6;"), 1);
    EXPECT_EQ(runModal(dlg, [&] {
                  dlg.selectOption(2);
                  dlg.btnOk->click();
              }),
              1);
    EXPECT_EQ(dlg.Selection, 2);
}

TEST(SelectDialog, InitialOutsideTheListSelectsNothing)
{
    TfrmSelect dlg;
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("4;5;6;"), 3);
    EXPECT_EQ(dlg.selectedOption(), -1);
    EXPECT_EQ(runModal(dlg, [&] { dlg.btnOk->click(); }), 1);
    EXPECT_EQ(dlg.Selection, -1);

    // A previous choice does not survive a new SetOptions.
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("4;5;6;"), 0);
    EXPECT_EQ(dlg.selectedOption(), 0);
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("4;5;6;"), 7);
    EXPECT_EQ(dlg.selectedOption(), -1);
}

TEST(SelectDialog, CheckListReturnsABitMask)
{
    TfrmSelect dlg;
    dlg.SetOptions(2, QStringLiteral("Colunas"), QStringLiteral("a;b;c;"), 5);
    EXPECT_EQ(dlg.gbSelect->title(), QStringLiteral("Colunas"));
    EXPECT_TRUE(dlg.isOptionChecked(0));
    EXPECT_FALSE(dlg.isOptionChecked(1));
    EXPECT_TRUE(dlg.isOptionChecked(2));
    EXPECT_EQ(dlg.gbSelect->height(), 80);
    const int result = runModal(dlg, [&] {
        EXPECT_TRUE(dlg.gbSelect->isVisible());
        EXPECT_FALSE(dlg.rgSelect->isVisible());
        dlg.setOptionChecked(0, false);
        dlg.setOptionChecked(1, true);
        dlg.setOptionChecked(2, false);
        dlg.btnOk->click();
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(dlg.Selection, 2);

    // Nothing checked gives 0.
    dlg.SetOptions(0, QStringLiteral("Colunas"), QStringLiteral("a;b;c;"), 0);
    EXPECT_EQ(runModal(dlg, [&] { dlg.btnOk->click(); }), 1);
    EXPECT_EQ(dlg.Selection, 0);
}

TEST(SelectDialog, SwitchingKindsReadsTheListOnShow)
{
    TfrmSelect dlg;
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("4;5;6;"), 2);
    dlg.SetOptions(3, QStringLiteral("y"), QStringLiteral("a;b;"), 3);
    EXPECT_EQ(runModal(dlg, [&] { dlg.btnOk->click(); }), 1);
    EXPECT_EQ(dlg.Selection, 3);
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("4;5;6;"), 0);
    EXPECT_EQ(runModal(dlg, [&] { dlg.btnOk->click(); }), 1);
    EXPECT_EQ(dlg.Selection, 0);
}

TEST(SelectDialog, CancelAndTitleBarCloseKeepTheSelection)
{
    TfrmSelect dlg;
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("4;5;6;"), 2);
    ASSERT_EQ(runModal(dlg, [&] { dlg.btnOk->click(); }), 1);
    ASSERT_EQ(dlg.Selection, 2);

    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("4;5;6;"), 0);
    EXPECT_EQ(runModal(dlg, [&] { dlg.btnCancel->click(); }), TfrmSelect::ResultCancel);
    EXPECT_EQ(dlg.Selection, 2);
    EXPECT_EQ(runModal(dlg, [&] { dlg.close(); }), TfrmSelect::ResultCancel);
    EXPECT_EQ(dlg.Selection, 2);
}

TEST(SelectDialog, LongOptionsWidenAndManyOptionsAreCapped)
{
    TfrmSelect dlg;
    const QString len39(39, QLatin1Char('x'));
    dlg.SetOptions(1, QStringLiteral("x"), len39 + QStringLiteral(";b;"), 0);
    EXPECT_EQ(dlg.rgSelect->width(), 274);
    EXPECT_EQ(dlg.width(), 306);

    const QString len40(40, QLatin1Char('y'));
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("a;") + len40 + QStringLiteral(";"), 0);
    EXPECT_EQ(dlg.rgSelect->width(), 280);
    EXPECT_EQ(dlg.gbSelect->width(), 280);
    EXPECT_EQ(dlg.width(), 320);
    const QRect s = screenRect();
    EXPECT_EQ(dlg.x(), s.x() + (s.width() - 320) / 2);

    // An empty option in the middle ends the list there.
    dlg.SetOptions(1, QStringLiteral("x"), QStringLiteral("a;;b;"), 0);
    EXPECT_EQ(dlg.options(), QStringList{"a"});
    EXPECT_EQ(dlg.rgSelect->height(), 40);

    QString many;
    for (int i = 0; i < 60; ++i)
        many += QString::number(i) + QLatin1Char(';');
    dlg.SetOptions(2, QStringLiteral("x"), many, 0);
    EXPECT_EQ(dlg.options().size(), 60);
    EXPECT_EQ(dlg.gbSelect->height(), 61 * 20);
    EXPECT_EQ(dlg.height(), s.height() * 2 / 3);
    EXPECT_EQ(dlg.y(), s.y() + (s.height() - s.height() * 2 / 3) / 2);
}

} // namespace
