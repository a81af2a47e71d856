// Rirodidovu: sends the product table to the label scale and reads the
// scale's products and sales back.  The whole program is one dialog.
#include "DataFolder.h"
#include "SerialDevices.h"
#include "StartFolder.h"
#include "StartOptions.h"
#include "TorvaneDlg.h"

#include <QApplication>

namespace {

namespace desktop = torvane::desktop;

const QString kDescription =
    QStringLiteral("Rirodidovu: sends the product table of vendabase.accdb to the label scale and reads\n"
                   "the scale's products and sales back.");

QStringList rawArguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

// The application object: runs the main dialog modally and ends with it.
class CtorvaneApp {
public:
    int InitInstance(int argc, char **argv)
    {
        const QString program = QLatin1String(torvane::transmitter::kProgramName);
        // --help (which lists the serial devices) and --version need no display.
        const desktop::StartOptions early = desktop::parseStartOptions(rawArguments(argc, argv));
        if (early.action == desktop::StartOptions::Action::Help ||
            early.action == desktop::StartOptions::Action::Version)
            return desktop::answerCommandLine(early, program, kDescription, torvane::transmitter::serialPortHelp());
        QApplication app(argc, argv);
        const desktop::StartOptions options = desktop::parseStartOptions(app.arguments().mid(1));
        if (const int rc = desktop::answerCommandLine(options, program, kDescription,
                                                      torvane::transmitter::serialPortHelp());
            rc >= 0)
            return rc;
        // Message boxes carry the program's own name.
        QApplication::setApplicationName(QLatin1String(torvane::transmitter::kProgramName));
        QApplication::setOrganizationName(QStringLiteral("应用程序向导生成的本地应用程序"));
        QApplication::setWindowIcon(torvane::transmitter::programIcon());
        // Started from the menu, the transmitter works in the shop's folder
        // (it never creates the database; the manager offers that).  Started
        // by the manager it is already there.
        desktop::DataFolder data;
        torvane::transmitter::QtMessagePresenter presenter;
        if (!torvane::transmitter::enterWorkFolder(options, data, presenter))
            return 1;
        torvane::transmitter::CtorvaneDlg dlg;
        dlg.exec();
        return 0;
    }
};

} // namespace

int main(int argc, char **argv)
{
    CtorvaneApp theApp;
    return theApp.InitInstance(argc, argv);
}
