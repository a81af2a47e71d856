#pragma once
// A titled group of radio buttons addressed by item index, laid out in a
// given number of columns (the product form's "Tipo venda ?" and
// "Imprimir:").

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>
#include <QVector>

namespace torvane::manager {

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent = nullptr);

    int itemIndex() const; // -1 when nothing is selected
    void setItemIndex(int index);
    QRadioButton *button(int index) const { return m_buttons.value(index); }
    int count() const { return int(m_buttons.size()); }
    // Accepts the operator's clicks only while editable.
    void setEditable(bool editable);
    bool isEditable() const { return m_editable; }

signals:
    // The operator picked an item (not emitted by setItemIndex).
    void changed(int index);

private:
    QButtonGroup m_group;
    QVector<QRadioButton *> m_buttons;
    bool m_editable = true;
};

} // namespace torvane::manager
