// The product form's windows about the scale (its sales, what it holds
// against the base) and the products' history.  Each is created on first
// use and kept for the run.
#include "ProductForm.h"

#include "HistoryWindow.h"
#include "ScaleCheckWindow.h"
#include "SalesWindow.h"

namespace torvane::manager {

namespace {

void bringUp(QWidget *w)
{
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

void TfrmProdutos::Vendas1Click()
{
    if (!frmVendas)
        frmVendas = new TfrmVendas(m_dm, this);
    frmVendas->Mostra();
    bringUp(frmVendas);
}

void TfrmProdutos::ConferirBalanca1Click()
{
    if (!frmConferirBalanca)
        frmConferirBalanca = new TfrmConferirBalanca(m_dm, this);
    bringUp(frmConferirBalanca);
}

void TfrmProdutos::Historico1Click()
{
    if (!frmHistorico)
        frmHistorico = new TfrmHistorico(m_dm, this);
    // The slots that hold a product, and the current one even when free
    // (what it held is in its history).
    const ProductQuery &q = *qryProdutos;
    const int pluNo = q.fieldIndex(QStringLiteral("pluNo")), codigo = q.fieldIndex(QStringLiteral("Codigo")),
              desc = q.fieldIndex(QStringLiteral("pluDesc"));
    std::optional<qint64> current;
    if (q.recNo() >= 0)
        current = q.value(q.recNo(), pluNo).toLongLong();
    std::vector<TfrmHistorico::Product> products;
    for (int r = 0; r < q.count(); ++r) {
        const qint64 slot = q.value(r, pluNo).toLongLong();
        const qint64 code = q.value(r, codigo).toLongLong();
        if (code != 0 || slot == current)
            products.push_back({slot, code != 0 ? QStringLiteral("%1 - %2 (PLU %3)")
                                                      .arg(code)
                                                      .arg(q.value(r, desc).toString().trimmed())
                                                      .arg(slot)
                                                : QStringLiteral("PLU %1 (livre)").arg(slot)});
    }
    frmHistorico->setProducts(products, current);
    frmHistorico->Mostra();
    bringUp(frmHistorico);
}

} // namespace torvane::manager
