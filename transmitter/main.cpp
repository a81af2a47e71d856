// Rirodidovu: sends the product table to the label scale and reads the
// scale's products and sales back.  The whole program is one dialog.
#include "TorvaneDlg.h"

#include <QApplication>

namespace {

// The application object: runs the main dialog modally and ends with it.
class CtorvaneApp {
public:
    int InitInstance(int argc, char **argv)
    {
        QApplication app(argc, argv);
        // Message boxes carry the program's own name.
        QApplication::setApplicationName(QLatin1String(torvane::transmitter::kProgramName));
        QApplication::setOrganizationName(QStringLiteral("应用程序向导生成的本地应用程序"));
        QApplication::setWindowIcon(torvane::transmitter::programIcon());
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
