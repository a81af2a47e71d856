#include "RadioGroup.h"

#include <QGridLayout>

namespace torvane::manager {

RadioGroup::RadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(title, parent)
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 0, 6, 0);
    grid->setVerticalSpacing(0);
    const int perColumn = (int(items.size()) + columns - 1) / qMax(1, columns);
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], this);
        m_group.addButton(b, i);
        m_buttons << b;
        grid->addWidget(b, i % perColumn, i / perColumn);
    }
    connect(&m_group, &QButtonGroup::idClicked, this, [this](int id) {
        if (m_editable)
            emit changed(id);
    });
}

int RadioGroup::itemIndex() const
{
    return m_group.checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (index >= 0 && index < m_buttons.size()) {
        m_buttons[index]->setChecked(true);
        return;
    }
    // Clear every button (exclusive groups refuse an empty choice otherwise).
    m_group.setExclusive(false);
    for (QRadioButton *b : m_buttons)
        b->setChecked(false);
    m_group.setExclusive(true);
}

void RadioGroup::setEditable(bool editable)
{
    m_editable = editable;
    // Read-only rather than disabled, so the choice stays readable.
    for (QRadioButton *b : m_buttons) {
        b->setAttribute(Qt::WA_TransparentForMouseEvents, !editable);
        b->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
    }
}

} // namespace torvane::manager
