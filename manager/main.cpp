// Torvane, the product manager.
#include "Application.h"
#include "DataModule.h"
#include "Globals.h"
#include "ProductForm.h"
#include "StatusWindow.h"
#include "Unitselect.h"

using namespace torvane::manager;

int main(int argc, char **argv)
{
    TorvaneApplication app(argc, argv);

    // The data module first: every window binds to its connection.  The
    // product form is the main window, the only one shown at start; the
    // others stay hidden until used.  The progress window is built before
    // the form only because the form keeps a pointer to it.
    TDM dm;
    DM = &dm;
    TfrmStatus status;
    TfrmSelect select;
    frmSelect = &select;
    TfrmProdutos form(&dm, &status);
    frmProdutos = &form;
    frmStatus = &status;

    form.show();
    const int rc = app.exec();
    frmProdutos = nullptr;
    frmStatus = nullptr;
    frmSelect = nullptr;
    DM = nullptr;
    return rc;
}
