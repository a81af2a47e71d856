// Torvane, the product manager.
#include "DataModule.h"
#include "Globals.h"
#include "ProductForm.h"
#include "StatusWindow.h"

#include <QApplication>

using namespace torvane::manager;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Torvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Torvane"));

    // The data module first: every window binds to its connection.  The
    // product form is the main window; the others stay hidden until used.
    TDM dm;
    DM = &dm;
    // frmStatus is made before the form that uses it, but belongs to the
    // end of the creation order as the one window nothing else refers to.
    TfrmStatus status;
    TfrmProdutos form(&dm, &status);
    frmProdutos = &form;
    frmStatus = &status;

    form.show();
    const int rc = app.exec();
    frmProdutos = nullptr;
    frmStatus = nullptr;
    DM = nullptr;
    return rc;
}
