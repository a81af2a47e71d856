#include "Unitselect.h"
#include "Unitutil.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace torvane::manager {

TfrmSelect *frmSelect = nullptr;

namespace {
constexpr int kRowHeight = 20;     // per option, plus one row for the caption
constexpr int kPixelsPerChar = 7;  // width allowed for each character of an option
constexpr int kListWidth = 274;    // design width of the list
constexpr int kCheckItemHeight = 13;
} // namespace

TfrmSelect::TfrmSelect(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSelect"));
    setWindowTitle(QStringLiteral("Selecione a opção desejada"));
    setModal(true);
    resize(306, 225);

    rgSelect = new QGroupBox(this);
    rgSelect->setObjectName(QStringLiteral("rgSelect"));
    rgSelect->setGeometry(8, 8, kListWidth, 129);
    rgSelect->hide();
    m_radioLayout = new QVBoxLayout(rgSelect);
    m_radioLayout->setContentsMargins(8, 2, 8, 2);
    m_radioLayout->setSpacing(0);
    m_radios = new QButtonGroup(this);
    m_radios->setExclusive(true);

    gbSelect = new QGroupBox(this);
    gbSelect->setObjectName(QStringLiteral("gbSelect"));
    gbSelect->setGeometry(7, 10, 273, 126);
    gbSelect->hide();
    auto *checkLayout = new QVBoxLayout(gbSelect);
    checkLayout->setContentsMargins(2, 2, 2, 2);
    ckbSelect = new QListWidget(gbSelect);
    ckbSelect->setObjectName(QStringLiteral("ckbSelect"));
    ckbSelect->setUniformItemSizes(true);
    checkLayout->addWidget(ckbSelect);

    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(68, 152, 75, 25);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancelar"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(148, 152, 75, 25);
    connect(btnOk, &QPushButton::clicked, this, &TfrmSelect::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSelect::btnCancelClick);
}

void TfrmSelect::SetOptions(int kind, const QString &caption, const QString &options, int initial)
{
    const bool single = kind == kSingleChoice;
    // Only the list of this use is shown, so Ok reads the right one even
    // after an earlier use of the other kind.
    rgSelect->setVisible(single);
    gbSelect->setVisible(!single);

    QWidget *list = single ? static_cast<QWidget *>(rgSelect) : static_cast<QWidget *>(gbSelect);
    if (single) {
        rgSelect->setTitle(caption);
        for (QAbstractButton *b : m_radios->buttons()) {
            m_radios->removeButton(b);
            delete b;
        }
    } else {
        gbSelect->setTitle(caption);
        ckbSelect->clear();
    }

    int count = 0;
    qsizetype longest = 0;
    for (int n = 1;; ++n) {
        const QString option = GetToken(options, n);
        if (option.isEmpty())
            break;
        longest = std::max(longest, option.size());
        if (single) {
            auto *radio = new QRadioButton(option, rgSelect);
            m_radios->addButton(radio, count);
            m_radioLayout->addWidget(radio);
        } else {
            auto *item = new QListWidgetItem(option, ckbSelect);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Unchecked);
            const int h = std::max(kCheckItemHeight, ckbSelect->fontMetrics().height() + 2);
            item->setSizeHint(QSize(0, h));
        }
        ++count;
    }

    const int rows = count + 1;
    const int listHeight = rows * kRowHeight;
    list->resize(list->width(), listHeight);

    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry()
                                                          : QRect(0, 0, 1024, 768);
    int height = listHeight + 100;
    const int limit = screen.height() * 2 / 3;
    if (height > limit)
        height = limit;
    int width = this->width();
    if (longest * kPixelsPerChar > kListWidth) {
        const int listWidth = int(longest) * kPixelsPerChar;
        rgSelect->resize(listWidth, rgSelect->height());
        gbSelect->resize(listWidth, gbSelect->height());
        width = listWidth + 40;
    }
    resize(width, height);
    move(screen.x() + (screen.width() - width) / 2, screen.y() + (screen.height() - height) / 2);

    const int buttonsTop = rgSelect->y() + rows * kRowHeight + 10;
    btnOk->move(btnOk->x(), buttonsTop);
    btnCancel->move(btnCancel->x(), buttonsTop);

    if (single) {
        selectOption(initial < count ? initial : -1);
    } else {
        for (int i = 0; i < count; ++i)
            setOptionChecked(i, i < 31 && ((initial >> i) & 1));
    }
}

QStringList TfrmSelect::options() const
{
    QStringList out;
    if (rgSelect->isVisibleTo(this)) {
        for (QAbstractButton *b : m_radios->buttons())
            out << b->text();
    } else {
        for (int i = 0; i < ckbSelect->count(); ++i)
            out << ckbSelect->item(i)->text();
    }
    return out;
}

void TfrmSelect::selectOption(int index)
{
    QAbstractButton *chosen = index >= 0 ? m_radios->button(index) : nullptr;
    if (chosen) {
        chosen->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its last button by itself.
    m_radios->setExclusive(false);
    for (QAbstractButton *b : m_radios->buttons())
        b->setChecked(false);
    m_radios->setExclusive(true);
}

int TfrmSelect::selectedOption() const
{
    return m_radios->checkedId();
}

void TfrmSelect::setOptionChecked(int index, bool checked)
{
    if (QListWidgetItem *item = ckbSelect->item(index))
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool TfrmSelect::isOptionChecked(int index) const
{
    const QListWidgetItem *item = ckbSelect->item(index);
    return item && item->checkState() == Qt::Checked;
}

void TfrmSelect::btnOkClick()
{
    if (rgSelect->isVisibleTo(this)) {
        Selection = selectedOption();
    } else {
        int mask = 0;
        for (int i = 0; i < ckbSelect->count() && i < 31; ++i) {
            if (isOptionChecked(i))
                mask += 1 << i;
        }
        Selection = mask;
    }
    done(ResultOk);
}

void TfrmSelect::btnCancelClick()
{
    done(ResultCancel);
}

void TfrmSelect::reject()
{
    done(ResultCancel);
}

} // namespace torvane::manager
