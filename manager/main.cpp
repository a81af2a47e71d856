// Torvane, the product manager.
#include "Application.h"
#include "DataFolder.h"
#include "DataModule.h"
#include "FirstStart.h"
#include "Globals.h"
#include "OperatorDialogs.h"
#include "ProductForm.h"
#include "StatusWindow.h"
#include "Unitselect.h"
#include "StartOptions.h"

#include <QDir>

using namespace torvane::manager;
namespace desktop = torvane::desktop;

namespace {

const QString kDescription = QStringLiteral("Torvane: the product manager of the label scale (vendabase.accdb).");

QStringList rawArguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

} // namespace

int main(int argc, char **argv)
{
    // --help and --version are answered before the window system is needed.
    const desktop::StartOptions early = desktop::parseStartOptions(rawArguments(argc, argv));
    if (early.action == desktop::StartOptions::Action::Help || early.action == desktop::StartOptions::Action::Version)
        return desktop::answerCommandLine(early, kApplicationTitle, kDescription);

    TorvaneApplication app(argc, argv);
    const desktop::StartOptions options = desktop::parseStartOptions(app.arguments().mid(1));
    if (const int rc = desktop::answerCommandLine(options, kApplicationTitle, kDescription); rc >= 0)
        return rc;

    // The program works in the shop's folder; the transmitter it starts
    // inherits it.  Started there from a terminal, that choice is not stored.
    desktop::DataFolder data;
    const QString cwd = QDir::currentPath();
    QString folder = desktop::startFolder(options, cwd, data);
    const bool fromTerminal = !options.useDataFolder && options.dataFolder.isEmpty() && folder == cwd;
    folder = FirstStart(data, operatorDialogs()).prepare(folder, !fromTerminal);
    if (folder.isEmpty() || !QDir::setCurrent(folder))
        return 0;

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
