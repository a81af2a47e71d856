// The progress window: layout per parts, bar limits, owner disabling,
// placement and Cancel.
#include "StatusWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

using torvane::manager::TfrmStatus;

TEST(StatusWindow, LayoutFollowsThePartsShown)
{
    QWidget owner;
    owner.show();
    TfrmStatus s;
    struct Case {
        int parts;
        bool bar, cancel;
        int barTop, cancelTop, height;
    };
    for (const Case &c : {Case{0, false, false, -1, -1, 89}, Case{1, true, false, 89, -1, 113},
                          Case{2, false, true, -1, 89, 122}, Case{3, true, true, 89, 113, 146},
                          Case{7, true, true, 89, 113, 146}}) {
        s.ShowProgress(&owner, "Aguarde...", c.parts, 10, 1);
        EXPECT_EQ(s.windowTitle(), "Aguarde...");
        EXPECT_EQ(s.lblMsg->geometry(), QRect(16, 8, 289, 73));
        EXPECT_EQ(!s.ProgressBar->isHidden(), c.bar) << c.parts;
        EXPECT_EQ(!s.btnCancelar->isHidden(), c.cancel) << c.parts;
        if (c.bar) {
            EXPECT_EQ(s.ProgressBar->y(), c.barTop) << c.parts;
        }
        if (c.cancel) {
            EXPECT_EQ(s.btnCancelar->y(), c.cancelTop) << c.parts;
        }
        EXPECT_EQ(s.height(), c.height) << c.parts;
        EXPECT_EQ(s.width(), 317);
        EXPECT_FALSE(owner.isEnabled());
        s.HideProgress();
        EXPECT_TRUE(owner.isEnabled());
        EXPECT_FALSE(s.isVisible());
    }
}

TEST(StatusWindow, BarStaysWithinItsMaximum)
{
    QWidget owner;
    TfrmStatus s;
    s.SetMessage("Atualizando banco de dados...");
    s.ShowProgress(&owner, "Aguarde...", 1, 0, 1);
    s.StepProgress();
    EXPECT_EQ(s.ProgressBar->value(), 0);
    s.HideProgress();

    s.ShowProgress(&owner, "Aguarde...", 1, 3, 1);
    EXPECT_EQ(s.ProgressBar->value(), 0);
    for (int i = 0; i < 5; ++i)
        s.StepProgress();
    EXPECT_EQ(s.ProgressBar->value(), 3);
    EXPECT_EQ(s.lblMsg->text(), "Atualizando banco de dados...");
    s.HideProgress();
    s.HideProgress(); // a second hide changes nothing
    EXPECT_TRUE(owner.isEnabled());
    EXPECT_FALSE(s.isVisible());
}

// A loop over thousands of rows steps the bar for each but draws it once a
// frame: a repaint a row costs more than the row.  A frame gone by, the
// next step draws it at once, with no event let through.
TEST(StatusWindow, DrawnOnceAFrameNotOnceAStep)
{
    struct PaintCount : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } count;
    QWidget owner;
    TfrmStatus s;
    s.ShowProgress(&owner, "Aguarde...", 1, 2000, 1);
    s.ProgressBar->installEventFilter(&count);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 1000; ++i)
        s.StepProgress();
    EXPECT_LE(count.paints, t.elapsed() / 16 + 2);
    count.paints = 0;
    QThread::msleep(20);
    s.StepProgress();
    EXPECT_EQ(count.paints, 1);
    for (int i = 0; i < 999; ++i)
        s.StepProgress();
    EXPECT_EQ(s.ProgressBar->value(), 2000);
    s.HideProgress();
}

TEST(StatusWindow, HideBeforeAnyShowDoesNothing)
{
    QWidget owner;
    owner.setEnabled(false);
    TfrmStatus s;
    s.HideProgress();
    EXPECT_FALSE(owner.isEnabled());
}

TEST(StatusWindow, PlacementCentreOrBottomLeft)
{
    QWidget owner;
    TfrmStatus s;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    s.ShowProgress(&owner, "Aguarde...", 1, 5, 1);
    EXPECT_NEAR(s.frameGeometry().center().x(), screen.center().x(), 1);
    EXPECT_NEAR(s.frameGeometry().center().y(), screen.center().y(), 1);
    s.HideProgress();
    s.ShowProgress(&owner, "Aguarde...", 1, 5, 0);
    EXPECT_EQ(s.frameGeometry().left(), screen.left() + 10);
    EXPECT_EQ(s.frameGeometry().bottom() + 1, screen.bottom() + 1 - 50);
    s.HideProgress();
}

TEST(StatusWindow, EventsRunOnlyAtQuartersAndOnlyWithCancel)
{
    QWidget owner;
    TfrmStatus s;
    int ran = 0;
    auto post = [&] { QTimer::singleShot(0, &s, [&] { ++ran; }); };

    s.ShowProgress(&owner, "Aguarde...", 1, 8, 1);
    post();
    for (int i = 0; i < 8; ++i)
        s.StepProgress();
    EXPECT_EQ(ran, 0); // bar only: the loop runs to its end untouched
    s.HideProgress();
    QCoreApplication::processEvents();
    ran = 0;

    s.ShowProgress(&owner, "Aguarde...", 3, 8, 1);
    std::vector<int> seenAt;
    for (int i = 1; i <= 8; ++i) {
        post();
        s.StepProgress();
        if (ran) {
            seenAt.push_back(i);
            ran = 0;
        }
    }
    EXPECT_EQ(seenAt, (std::vector<int>{2, 4, 6, 8}));
    EXPECT_EQ(s.nextQuarter(), 5);
    s.HideProgress();
}

TEST(StatusWindow, CancelClosesAtAQuarterAndTheLoopEndsHarmlessly)
{
    QWidget owner;
    TfrmStatus s;
    s.ShowProgress(&owner, "Aguarde...", 3, 4, 1);
    // The operator presses Cancel while the loop is busy; the click is
    // handled at the first quarter.
    QTimer::singleShot(0, s.btnCancelar, [&] { s.btnCancelar->click(); });
    s.StepProgress();
    EXPECT_FALSE(s.isVisible());
    EXPECT_TRUE(owner.isEnabled());
    for (int i = 0; i < 3; ++i)
        s.StepProgress();
    s.HideProgress();
    EXPECT_TRUE(owner.isEnabled());
    EXPECT_FALSE(s.isVisible());
}

TEST(StatusWindow, EscapePressesCancelOnlyWhenItIsShown)
{
    QWidget owner;
    TfrmStatus s;
    s.ShowProgress(&owner, "Aguarde...", 1, 4, 1);
    QTest::keyClick(&s, Qt::Key_Escape);
    EXPECT_TRUE(s.isVisible());
    EXPECT_FALSE(s.close()); // the operator cannot close it either
    EXPECT_TRUE(s.isVisible());
    s.HideProgress();
    s.ShowProgress(&owner, "Aguarde...", 3, 4, 1);
    QTest::keyClick(&s, Qt::Key_Escape);
    EXPECT_FALSE(s.isVisible());
    EXPECT_TRUE(owner.isEnabled());
}
