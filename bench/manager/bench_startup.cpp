// Times the manager's start sequence on an upgraded database and the
// upgrade's Codigo back-fill, on 500 and 5,000 product slots, and prints
// the figures.  The back-fill commits every row by itself; it must grow
// linearly with the number of slots.  With a server named (see
// BenchServer.h) the same cases run on it too, next to the file's figures.
//
//   build/bin/bench_manager_startup [--repeat N]
#include "../common/BenchServer.h"
#include "DataModule.h"
#include "OperatorDialogs.h"
#include "ProductForm.h"
#include "Schema.h"
#include "StatusWindow.h"

#include <QApplication>
#include <QDir>
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

Figures measure(int slotCount, QuietDialogs &dialogs, bench::Engine engine)
{
    Figures f;
    QTemporaryDir dir;
    QString error;
    bool ok = false;
    // One folder per base: on the server each folder names its own schema.
    QDir(dir.path()).mkdir(QStringLiteral("upgraded"));
    QDir(dir.path()).mkdir(QStringLiteral("delivered"));
    bench::BaseFolder upgradedBase(dir.filePath(QStringLiteral("upgraded")), engine);
    bench::BaseFolder deliveredBase(dir.filePath(QStringLiteral("delivered")), engine);

    // Start sequence on a database that needs nothing.
    schema::CreateOptions current;
    current.slotCount = slotCount;
    current.demoProducts = true;
    const QString upgraded = dir.filePath(QStringLiteral("upgraded/vendabase.accdb"));
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
    const QString old = dir.filePath(QStringLiteral("delivered/vendabase.accdb"));
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
    const QList<bench::Engine> engines = bench::engines();
    const bool both = engines.size() > 1;
    QTextStream out(stdout);
    out << "Manager start sequence and Codigo back-fill (best of " << repeat << ")\n";
    out.flush();
    bench::printServerLine();
    out << "slots    start (ms)   back-fill (ms)   back-fill per slot (ms)";
    if (both)
        out << "   server start (ms)  ratio   server back-fill (ms)  ratio";
    out << "\n";
    for (bench::Engine engine : engines)
        measure(100, dialogs, engine); // warm up fonts, plugins, the file cache and the server
    // best[engine][size]
    std::vector<std::vector<Figures>> best(engines.size());
    for (int slotCount : {500, 5000}) {
        for (qsizetype e = 0; e < engines.size(); ++e) {
            Figures b{1e300, 1e300};
            for (int r = 0; r < repeat; ++r) {
                const Figures f = measure(slotCount, dialogs, engines[e]);
                b.startMs = std::min(b.startMs, f.startMs);
                b.backFillMs = std::min(b.backFillMs, f.backFillMs);
            }
            best[e].push_back(b);
        }
        const Figures &file = best[0].back();
        out << QString::asprintf("%5d %13.1f %16.1f %25.3f", slotCount, file.startMs, file.backFillMs,
                                 file.backFillMs / slotCount);
        if (both) {
            const Figures &server = best[1].back();
            out << QString::asprintf("   %17.1f %6s   %21.1f %6s", server.startMs,
                                     qPrintable(bench::ratio(file.startMs, server.startMs)), server.backFillMs,
                                     qPrintable(bench::ratio(file.backFillMs, server.backFillMs)));
        }
        out << "\n";
        out.flush();
    }
    double fileGrowth = 0;
    for (qsizetype e = 0; e < engines.size(); ++e) {
        const auto &b = best[e];
        const double growth = b[1].backFillMs / std::max(b[0].backFillMs, 1e-9);
        if (e == 0)
            fileGrowth = growth;
        const char *on = both ? (e == 0 ? " (file)" : " (server)") : "";
        // The limit holds the file's per-row commits to linear growth; the
        // server's figure is shown beside it.
        out << QString::asprintf("back-fill growth for 10x slots%s: %.1fx%s\n", on, growth,
                                 e == 0 ? " (limit 12x)" : "");
        out << QString::asprintf("start growth for 10x slots%s: %.1fx\n", on,
                                 b[1].startMs / std::max(b[0].startMs, 1e-9));
    }
    setOperatorDialogs(nullptr);
    return fileGrowth <= 12.0 ? 0 : 1;
}
