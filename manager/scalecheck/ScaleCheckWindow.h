#pragma once
// The window "Conferir balança": reads the scale's products (the
// transmitter's product upload), shows per slot what differs from the base
// (equal slots hidden unless asked for, with their count), and "Enviar
// diferenças" sends only the differing products (the transmitter's product
// download for those slots), then reads and compares again.

#include "ScaleCheck.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace torvane::manager {

class TDM;
class ScaleJobRunner;
class TransferFooter;

class TfrmConferirBalanca : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConferirBalanca(TDM *dm, QWidget *parent = nullptr);
    ~TfrmConferirBalanca() override;

    const ScaleCheckResult &result() const { return m_result; }
    bool busy() const;

    QPushButton *btnLerBalanca;
    QPushButton *btnEnviar;
    QPushButton *btnFechar;
    QCheckBox *ckbIguais;
    QTableWidget *gridSlots;
    QLabel *lblResumo;
    QLabel *lblStatus;
    QProgressBar *pbTransfer;

    void btnLerBalancaClick();
    void btnEnviarClick();

signals:
    // A read and its comparison have ended (shown, or its error shown).
    void checkFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class Phase { Idle, Reading, Sending };
    void startRead();
    void jobEnded();
    void showResult();
    void setBusy(bool busy);

    TDM *m_dm;
    ScaleCheckResult m_result;
    bool m_compared = false;
    std::unique_ptr<ScaleJobRunner> m_runner;
    TransferFooter *m_footer;
    Phase m_phase = Phase::Idle;
    QString m_port;
};

} // namespace torvane::manager
