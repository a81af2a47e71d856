#include "StatusWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace torvane::manager {

namespace {
constexpr int kClientWidth = 317;
constexpr int kMargin = 16;
constexpr int kTop = 8;
// One frame of the screen: the bar is drawn at most this often.
constexpr qint64 kFrameMs = 16;
} // namespace

TfrmStatus::TfrmStatus(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmStatus"));
    setWindowTitle(QStringLiteral("Informação"));
    // Title bar without buttons, always on top, fixed size.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setModal(false);

    QFont base(QStringLiteral("Liberation Sans"));
    base.setPointSize(8);
    setFont(base);

    lblMsg = new QLabel(this);
    lblMsg->setObjectName(QStringLiteral("lblMsg"));
    lblMsg->setGeometry(kMargin, kTop, 289, 73);
    QFont bold = base;
    bold.setBold(true);
    lblMsg->setFont(bold);
    QPalette pal = lblMsg->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    lblMsg->setPalette(pal);
    lblMsg->setAlignment(Qt::AlignCenter);
    lblMsg->setWordWrap(true);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(kMargin, 89, 289, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    btnCancelar = new QPushButton(QStringLiteral("Cancelar"), this);
    btnCancelar->setObjectName(QStringLiteral("btnCancelar"));
    btnCancelar->setGeometry(124, 113, 75, 25);
    btnCancelar->setAutoDefault(false);
    connect(btnCancelar, &QPushButton::clicked, this, &TfrmStatus::btnCancelarClick);

    setFixedSize(kClientWidth, 146);
}

void TfrmStatus::SetMessage(const QString &text)
{
    lblMsg->setText(text);
    if (isVisible())
        lblMsg->repaint();
}

void TfrmStatus::ShowProgress(QWidget *owner, const QString &caption, int parts, int maximum, int placement)
{
    const bool bar = parts & Bar;
    const bool cancel = parts & CancelButton;
    ProgressBar->setVisible(bar);
    btnCancelar->setVisible(cancel);
    setWindowTitle(caption);
    m_nextQuarter = 1;

    // Top to bottom with the controls' current heights.
    const int L = lblMsg->height();
    const int B = ProgressBar->height();
    const int C = btnCancelar->height();
    lblMsg->move(kMargin, kTop);
    int height = L + 16;
    if (bar && cancel) {
        ProgressBar->move(kMargin, L + 16);
        btnCancelar->move(btnCancelar->x(), L + B + 24);
        height = L + B + C + 32;
    } else if (bar) {
        ProgressBar->move(kMargin, L + 16);
        height = L + B + 24;
    } else if (cancel) {
        btnCancelar->move(btnCancelar->x(), L + 16);
        height = L + C + 24;
    }
    setFixedSize(kClientWidth, height);

    ProgressBar->setRange(0, qMax(0, maximum));
    ProgressBar->setValue(0);
    m_position = 0;

    m_owner = owner;
    m_hadOwner = true;
    if (owner)
        owner->setEnabled(false);

    QScreen *screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    show();
    const QSize frame = frameGeometry().size();
    if (placement == ScreenCentre)
        move(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
    else
        move(area.x() + 10, area.y() + area.height() - frame.height() - 50);
    raise();
    // Visible before the caller's loop starts; input waits for the loop.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
    // From here the bar is drawn by StepProgress, once a frame.
    ProgressBar->setUpdatesEnabled(false);
    m_painted.start();
}

void TfrmStatus::paintNow()
{
    ProgressBar->setUpdatesEnabled(true);
    repaint();
    ProgressBar->setUpdatesEnabled(false);
    m_painted.start();
}

void TfrmStatus::StepProgress()
{
    const int maximum = ProgressBar->maximum();
    m_position = qMin(m_position + 1, maximum);
    // The bar counts every item but is told only when it moves by a pixel
    // or more (it cannot show less, and telling it costs more than a row
    // of the table), and it is drawn once a frame, not once an item.  The
    // window is drawn whole, so it stays right even where another window
    // uncovered it, with no event let through.
    const qint64 width = qMax(1, ProgressBar->width());
    if (m_position == maximum || m_position * width / maximum != ProgressBar->value() * width / maximum)
        ProgressBar->setValue(m_position);
    if (isVisible() && (m_painted.hasExpired(kFrameMs) || m_position == maximum))
        paintNow();
    if (btnCancelar->isHidden())
        return;
    // Pending events run once at each quarter of the way, no more often.
    if (m_position >= maximum * m_nextQuarter / 4) {
        QCoreApplication::processEvents();
        ++m_nextQuarter;
    }
}

void TfrmStatus::HideProgress()
{
    if (!m_hadOwner)
        return;
    if (m_owner)
        m_owner->setEnabled(true);
    ProgressBar->setUpdatesEnabled(true);
    m_closing = true;
    hide();
    m_closing = false;
}

void TfrmStatus::btnCancelarClick()
{
    HideProgress();
}

void TfrmStatus::closeEvent(QCloseEvent *event)
{
    // Only the operation closes the window.
    if (!m_closing)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TfrmStatus::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        if (btnCancelar->isVisible())
            btnCancelar->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmStatus::reject()
{
    if (!btnCancelar->isHidden())
        btnCancelarClick();
}

} // namespace torvane::manager
