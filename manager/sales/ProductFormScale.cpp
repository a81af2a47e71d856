// The product form's two windows about the scale: its sales and what it
// holds against the base.  Each is created on first use and kept for the run.
#include "ProductForm.h"

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

} // namespace torvane::manager
