#pragma once
// The window "Vendas": the scale's sales of a period (today by default),
// newest first, with the totals per product and per day and the period's
// total; reads the scale's sales on the port chosen in the transmitter;
// exports the rows shown as CSV and prints them with a preview.
//
// The window only shows: the queries, totals and CSV are SalesLedger's, the
// printout SalesReport's, the transfers the transmitter's product and sales
// uploads run by ScaleJobRunner.

#include "SalesLedger.h"

#include <QDialog>

#include <memory>

class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class QTableWidget;

namespace torvane::manager {

class TDM;
class ScaleJobRunner;
class TransferFooter;
class SalesRowsModel;

class TfrmVendas : public QDialog {
    Q_OBJECT
public:
    explicit TfrmVendas(TDM *dm, QWidget *parent = nullptr);
    ~TfrmVendas() override;

    // Shows the period's sales; false (after the error box) when the tables
    // cannot be read.
    bool Mostra();
    const SalesPeriod &period() const { return m_period; }
    bool reading() const;

    QDateEdit *dtDe;
    QDateEdit *dtAte;
    QPushButton *btnMostrar;
    QPushButton *btnLerBalanca;
    QPushButton *btnExportar;
    QPushButton *btnImprimir;
    QPushButton *btnFechar;
    QTableView *gridVendas;
    QTableWidget *gridProdutos;
    QTableWidget *gridDias;
    QLabel *lblTotal;
    QLabel *lblStatus;
    QProgressBar *pbLeitura;

    void btnLerBalancaClick();
    void btnExportarClick();
    void btnImprimirClick();

signals:
    // After a read of the scale has ended and the list was shown again.
    void readFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // A read of the scale: its products first (each sale is stored by the
    // way the scale sells the product, at the scale's price), then its sales.
    enum class Phase { Idle, Products, Sales };

    void readEnded();
    void setBusy(bool busy);
    QSqlDatabase database(QString *error);

    TDM *m_dm;
    SalesPeriod m_period;
    SalesRowsModel *m_model;
    std::unique_ptr<ScaleJobRunner> m_runner;
    TransferFooter *m_footer;
    Phase m_phase = Phase::Idle;
    QString m_port;
};

} // namespace torvane::manager
