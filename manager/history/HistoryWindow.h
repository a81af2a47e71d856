#pragma once
// The window "Histórico": every change of the products' prices, tares,
// codes, descriptions, sale types and prefixes in a period (the last 30
// days at first), of one product or of all, newest first: when, on which
// computer, by which user, by which operation, what changed, before and
// after.  "Exportar CSV" writes the rows shown.
//
// The window only shows: the query and the CSV are PriceHistory's.

#include "PriceHistory.h"

#include <QDialog>

#include <optional>
#include <vector>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableView;

namespace torvane::manager {

class TDM;
class HistoryRowsModel;

class TfrmHistorico : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHistorico(TDM *dm, QWidget *parent = nullptr);

    // Offers the products (pluNo, code, description) and chooses one
    // (none: every product).
    struct Product {
        qint64 pluNo;
        QString label;
    };
    void setProducts(const std::vector<Product> &products, std::optional<qint64> chosen);
    // Shows the rows of the chosen product and period; false (after the
    // error box) when they cannot be read.
    bool Mostra();
    const std::vector<HistoryRow> &rows() const { return m_rows; }

    QComboBox *cbProduto;
    QDateEdit *dtDe;
    QDateEdit *dtAte;
    QPushButton *btnMostrar;
    QPushButton *btnExportar;
    QPushButton *btnFechar;
    QTableView *gridHistorico;
    QLabel *lblTotal;

    void btnExportarClick();

private:
    TDM *m_dm;
    std::vector<HistoryRow> m_rows;
    HistoryRowsModel *m_model;
};

} // namespace torvane::manager
