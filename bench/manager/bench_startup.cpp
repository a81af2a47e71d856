// Times the manager's start sequence on an upgraded database and the
// upgrade's Codigo back-fill, on 500 and 5,000 product slots, and prints
// the figures.  The back-fill commits every row by itself; it must grow
// linearly with the number of slots.
//
//   build/bin/bench_manager_startup [--repeat N]
#include "DataModule.h"
#include "OperatorDialogs.h"
#include "ProductForm.h"
#include "Schema.h"
#include "StatusWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace torvane;
using namespace torvane::manager;

namespace {

// Answers nothing and prints what the operator would have seen.
class QuietDialogs : public OperatorDialogs {
public:
    int shown = 0;
    void message(const QString &, const QString &, DialogIcon) override { ++shown; }
    bool confirm(const QString &, const QString &) override { return false; }
    bool inputText(const QString &, const QString &, QString *) override { return false; }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
};

struct Figures {
    double startMs = 0;
    double backFillMs = 0;
};

// Runs the start sequence on path; returns its time in milliseconds.
double timedStart(const QString &path, bool *ok)
{
    QElapsedTimer t;
    t.start();
    TDM dm;
    dm.setDatabasePath(path);
    TfrmStatus status;
    TfrmProdutos form(&dm, &status);
    form.show();
    *ok = form.FormShow();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    form.close();
    return ms;
}

Figures measure(int slotCount, QuietDialogs &dialogs)
{
    Figures f;
    QTemporaryDir dir;
    QString error;
    bool ok = false;

    // Start sequence on a database that needs nothing.
    schema::CreateOptions current;
    current.slotCount = slotCount;
    current.demoProducts = true;
    const QString upgraded = dir.filePath(QStringLiteral("upgraded.accdb"));
    if (!schema::createDatabaseFile(upgraded, current, &error))
        qFatal("%s", qPrintable(error));
    f.startMs = timedStart(upgraded, &ok);
    if (!ok)
        qFatal("start failed on %d slots", slotCount);

    // The back-fill: a file as delivered, started once to add Config, then
    // started again to fill Codigo of every slot.
    schema::CreateOptions delivered;
    delivered.slotCount = slotCount;
    delivered.layout = schema::Layout::AsDelivered;
    const QString old = dir.filePath(QStringLiteral("delivered.accdb"));
    if (!schema::createDatabaseFile(old, delivered, &error))
        qFatal("%s", qPrintable(error));
    timedStart(old, &ok); // ends asking for a restart
    const int before = dialogs.shown;
    const double secondStart = timedStart(old, &ok);
    if (!ok || dialogs.shown != before)
        qFatal("back-fill failed on %d slots", slotCount);
    // What the second start spends beyond an ordinary start is the back-fill.
    f.backFillMs = std::max(0.0, secondStart - f.startMs);
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int repeat = 3;
    const QStringList args = app.arguments();
    const int at = int(args.indexOf(QStringLiteral("--repeat")));
    if (at >= 0 && at + 1 < args.size())
        repeat = std::max(1, args[at + 1].toInt());

    QuietDialogs dialogs;
    setOperatorDialogs(&dialogs);
    QTextStream out(stdout);
    out << "Manager start sequence and Codigo back-fill (best of " << repeat << ")\n";
    out << "slots    start (ms)   back-fill (ms)   back-fill per slot (ms)\n";
    measure(100, dialogs); // warm up fonts, plugins and the file cache
    std::vector<Figures> best;
    for (int slotCount : {500, 5000}) {
        Figures b{1e300, 1e300};
        for (int r = 0; r < repeat; ++r) {
            const Figures f = measure(slotCount, dialogs);
            b.startMs = std::min(b.startMs, f.startMs);
            b.backFillMs = std::min(b.backFillMs, f.backFillMs);
        }
        best.push_back(b);
        out << QString::asprintf("%5d %13.1f %16.1f %25.3f\n", slotCount, b.startMs, b.backFillMs,
                                 b.backFillMs / slotCount);
        out.flush();
    }
    const double growth = best[1].backFillMs / std::max(best[0].backFillMs, 1e-9);
    out << QString::asprintf("back-fill growth for 10x slots: %.1fx (limit 12x)\n", growth);
    out << QString::asprintf("start growth for 10x slots: %.1fx\n", best[1].startMs / std::max(best[0].startMs, 1e-9));
    setOperatorDialogs(nullptr);
    return growth <= 12.0 ? 0 : 1;
}
