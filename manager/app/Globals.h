#pragma once
// The program's one instance of each window, created by main() in this
// order: DM, frmProdutos, qrlProdutos, FormSearchData, frmSelect, frmStatus.
// Null until created (the tests build their own).

namespace torvane::manager {

class TDM;
class TfrmProdutos;
class TfrmStatus;

extern TDM *DM;
extern TfrmProdutos *frmProdutos;
extern TfrmStatus *frmStatus;

} // namespace torvane::manager
