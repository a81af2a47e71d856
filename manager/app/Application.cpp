#include "Application.h"

#include "OperatorDialogs.h"

#include <exception>

namespace torvane::manager {

TorvaneApplication::TorvaneApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(kApplicationTitle);
}

bool TorvaneApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        showApplicationError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showApplicationError(QString());
    }
    return false;
}

} // namespace torvane::manager
