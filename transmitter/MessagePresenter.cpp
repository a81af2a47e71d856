#include "MessagePresenter.h"

#include <QMessageBox>

namespace torvane::transmitter {

void QtMessagePresenter::showMessage(QWidget *owner, const QString &caption, const QString &text, MessageIcon icon)
{
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                    QMessageBox::Ok, owner);
    box.exec();
}

} // namespace torvane::transmitter
