#include "Globals.h"

namespace torvane::manager {

TDM *DM = nullptr;
TfrmProdutos *frmProdutos = nullptr;
TfrmStatus *frmStatus = nullptr;

} // namespace torvane::manager
