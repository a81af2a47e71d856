// Bulk product changes, clearing, the code-size setting and the barcode
// illustration of the product form.
#include "ProductForm.h"

#include "OperatorDialogs.h"

#include <QLabel>
#include <QLineEdit>

namespace torvane::manager {

namespace {
const QString kNotYet = QStringLiteral("Esta função ainda não está disponível nesta versão.");
}

void TfrmProdutos::Prefixo11Click()
{
    showError(kNotYet);
}

void TfrmProdutos::Prefixo21Click()
{
    showError(kNotYet);
}

void TfrmProdutos::Peso1Click()
{
    showError(kNotYet);
}

void TfrmProdutos::Total1Click()
{
    showError(kNotYet);
}

void TfrmProdutos::LimparTodosProdutos1Click()
{
    showError(kNotYet);
}

void TfrmProdutos::btnExcluirClick()
{
    if (askChoice(QStringLiteral("Confirma limpar o produto selecionado ?")))
        LimpaRegistro();
}

void TfrmProdutos::Configurar2Click()
{
    showError(kNotYet);
}

void TfrmProdutos::SpeedButton1Click()
{
    showError(kNotYet);
}

// The digits of the current product's barcode, over the picture.
void TfrmProdutos::MontaCB()
{
    lblPeso->setText(dbrbTP->itemIndex() == 1 ? QStringLiteral("TTTTT") : QStringLiteral("PPPPP"));
    const QString pluCode = qryProdutos->value(QStringLiteral("pluCode")).toString();
    lblPrefixo->setText(edtPrefixo->text() + pluCode.left(1));
    lblCodigo->setText(pluCode.mid(1, 5));
    lblPrefixo->adjustSize();
    lblCodigo->adjustSize();
    lblPeso->adjustSize();
    lblCodigo->move(lblPrefixo->x() + 8 * int(lblPrefixo->text().size()), lblCodigo->y());
    lblPeso->move(lblCodigo->x() + 8 * int(lblCodigo->text().size()), lblPeso->y());
    lblDV->move(lblPeso->x() + 8 * int(lblPeso->text().size()), lblDV->y());
}

void TfrmProdutos::edtPrefixoExit()
{
    MontaCB();
}

void TfrmProdutos::dbrbTPChange()
{
    MontaCB();
}

} // namespace torvane::manager
