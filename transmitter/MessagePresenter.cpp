#include "MessagePresenter.h"

#include <QInputDialog>
#include <QMessageBox>

namespace torvane::transmitter {

void QtMessagePresenter::showMessage(QWidget *owner, const QString &caption, const QString &text, MessageIcon icon)
{
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                    QMessageBox::Ok, owner);
    m_open.emplace_back(&box);
    box.exec();
    std::erase_if(m_open, [&](const QPointer<QMessageBox> &p) { return p.isNull() || p == &box; });
}

void QtMessagePresenter::dismissMessages(QWidget *owner)
{
    for (const QPointer<QMessageBox> &box : m_open)
        if (box && box->parentWidget() == owner)
            box->done(QMessageBox::Ok);
}

bool QtMessagePresenter::askText(QWidget *owner, const QString &caption, const QString &label, QString *text)
{
    QInputDialog dialog(owner);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(label);
    dialog.setTextValue(*text);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Cancelar"));
    dialog.resize(420, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *text = dialog.textValue().trimmed();
    return true;
}

} // namespace torvane::transmitter
