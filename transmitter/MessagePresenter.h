#pragma once
// Every message box of the transmitter goes through this interface, so tests
// answer them without a screen.

#include "JobHost.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <vector>

class QWidget;

namespace torvane::transmitter {

// Caption of every message box: the program's name.
inline constexpr const char *kProgramName = "Rirodidovu";

class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // Shows a box with an OK button, modal to owner; returns when dismissed.
    virtual void showMessage(QWidget *owner, const QString &caption, const QString &text, MessageIcon icon) = 0;
    // Closes the boxes still open for owner, as if OK had been pressed: what
    // they said is no longer so.
    virtual void dismissMessages(QWidget *owner) { (void)owner; }
    // Asks for one line of text, *text holding the proposal; false when the
    // operator cancels.
    virtual bool askText(QWidget *owner, const QString &caption, const QString &label, QString *text)
    {
        (void)owner, (void)caption, (void)label, (void)text;
        return false;
    }
};

// Real QMessageBox boxes.
class QtMessagePresenter : public MessagePresenter {
public:
    void showMessage(QWidget *owner, const QString &caption, const QString &text, MessageIcon icon) override;
    void dismissMessages(QWidget *owner) override;
    bool askText(QWidget *owner, const QString &caption, const QString &label, QString *text) override;

private:
    std::vector<QPointer<QMessageBox>> m_open;
};

} // namespace torvane::transmitter
