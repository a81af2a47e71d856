#pragma once
// frmStatus: the wait window of long loops over the product table.  A bold
// message, a progress bar and, on request, a Cancel button; the owner form
// is disabled while it is shown.  It stays on top and has no title-bar
// buttons: the operation closes it.

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvane::manager {

class TfrmStatus : public QDialog {
    Q_OBJECT
public:
    enum Parts { Bar = 1, CancelButton = 2 };
    enum Placement { BottomLeft = 0, ScreenCentre = 1 };

    explicit TfrmStatus(QWidget *parent = nullptr);

    // parts: bit 0 shows the bar, bit 1 shows Cancel.  placement 1 centres
    // the window on the screen; any other value puts it at the bottom left.
    void ShowProgress(QWidget *owner, const QString &caption, int parts, int maximum, int placement);
    void SetMessage(const QString &text);
    void StepProgress();
    void HideProgress();
    void btnCancelarClick();

    QLabel *lblMsg;
    QProgressBar *ProgressBar;
    QPushButton *btnCancelar;

    QWidget *ownerForm() const { return m_owner; }
    int nextQuarter() const { return m_nextQuarter; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;

private:
    void paintNow();

    QPointer<QWidget> m_owner;
    QElapsedTimer m_painted; // since the window was last drawn
    int m_position = 0;      // items stepped; the bar shows it to the pixel
    bool m_hadOwner = false;
    bool m_closing = false;
    int m_nextQuarter = 1;
};

} // namespace torvane::manager
