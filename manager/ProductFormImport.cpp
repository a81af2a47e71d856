// Import, search and the printed listing of the product form.
#include "ProductForm.h"

#include "OperatorDialogs.h"

namespace torvane::manager {

namespace {
const QString kNotYet = QStringLiteral("Esta função ainda não está disponível nesta versão.");
}

void TfrmProdutos::Importar1Click()
{
    showError(kNotYet);
}

void TfrmProdutos::ToolButton3Click()
{
    showError(kNotYet);
}

void TfrmProdutos::ToolButton1Click()
{
    if (qryProdutos->isEmpty()) {
        showError(QStringLiteral("Não há produtos a serem impressos."));
        return;
    }
    showError(kNotYet);
}

} // namespace torvane::manager
