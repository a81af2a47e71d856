#pragma once
// The manager's application object: title "Torvane", and the standard error
// box for anything a window did not handle, after which the program goes on
// with the next event.

#include <QApplication>

namespace torvane::manager {

class TorvaneApplication : public QApplication {
    Q_OBJECT
public:
    TorvaneApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace torvane::manager
