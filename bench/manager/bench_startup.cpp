// Times the manager's start sequence on an upgraded database and the
// upgrade's Codigo back-fill, on 500 and 5,000 product slots, and the start
// on a base whose RECORD holds 50,000 sales, and prints the figures with
// the process's peak memory (getrusage) after each.  The back-fill must
// grow linearly with the number of slots; beside it, the same statements
// as a plain loop on the engine's client library (PlainLoop.h) and the
// program's time over the loop's.  With a server named (see BenchServer.h)
// the same cases run on it too, next to the file's figures.
//
//   build/bin/bench_manager_startup [--repeat N]
#include "../common/BenchServer.h"
#include "../common/PlainLoop.h"
#include "ProductHistory.h"
#include "DataModule.h"
#include "OperatorDialogs.h"
#include "ProductForm.h"
#include "Schema.h"
#include "StatusWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

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
    double plainBackFillMs = 0;
    // What the second start spends beyond an ordinary start besides the
    // back-fill: the schema steps it adds, the checks, the list shown again.
    double schemaMs = 0;
};

// The process's peak resident memory so far, in MB.
double peakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024;
}

// What the filling of the codes runs for each row of a base as delivered
// (slot n holds pluCode n in six digits; code size 5 without the second
// prefix): the code and the scale code written (the codes were all checked
// at once before the first, in memory).
std::string fiveDigits(long long n)
{
    return QString::number(n).rightJustified(5, u'0').toStdString() + "0";
}
const bench::PlainChange kPlainBackFill{
    "Codigo = ?, pluCode = ?",
    [](long long pluNo) { return std::vector{bench::PlainValue::of(pluNo), bench::PlainValue::of(fiveDigits(pluNo))}; }};

// Runs the start sequence on path; returns its time in milliseconds, and in
// *backFillMs the time of the settings row and the codes filled with it
// (their transaction, from its start to its commit).
double timedStart(const QString &path, bool *ok, double *backFillMs = nullptr)
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
    if (backFillMs)
        *backFillMs = double(form.upgradeBackFillNanoseconds()) / 1e6;
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
    {
        // The plain loop on a twin of the base as the second start finds it.
        QDir(dir.path()).mkdir(QStringLiteral("twin"));
        const QString twin = dir.filePath(QStringLiteral("twin"));
        bench::BaseFolder twinBase(twin, engine);
        bool twinOk = false;
        if (!schema::createDatabaseFile(QDir(twin).filePath(QStringLiteral("vendabase.accdb")), delivered, &error))
            qFatal("%s", qPrintable(error));
        timedStart(QDir(twin).filePath(QStringLiteral("vendabase.accdb")), &twinOk);
        {
            auto conn = db::Connection::open(QDir(twin).filePath(QStringLiteral("vendabase.accdb")), &error);
            QSqlQuery q(conn->database());
            // What the second start adds before it fills the codes.
            for (const char *sql : {"Alter Table PLU Add BarcodeMode int", "Alter Table PLU Add Prefixb int",
                                    "Update PLU Set BarcodeMode = 1, Prefixb = 0",
                                    "Alter Table Config Add flgPrefixo2 bit", "Alter Table PLU Add flgDel bit",
                                    "Create Index PLU_pluCode On PLU (pluCode)",
                                    "Insert Into Config (CodeSize, flgPrefixo2) Values (5, 0)"})
                if (!q.exec(db::mapAccessSql(conn->database(), QString::fromLatin1(sql))))
                    qFatal("%s", qPrintable(q.lastError().text()));
            // And the product history, whose rows each filled code writes.
            if (!db::createHistory(conn->database(), &error))
                qFatal("%s", qPrintable(error));
        }
        twinBase.settle({QStringLiteral("PLU")});
        f.plainBackFillMs = bench::plainLoopMs(twin, kPlainBackFill);
    }
    deliveredBase.settle({QStringLiteral("PLU")});
    const int before = dialogs.shown;
    const double secondStart = timedStart(old, &ok, &f.backFillMs);
    if (!ok || dialogs.shown != before)
        qFatal("back-fill failed on %d slots", slotCount);
    // The back-fill is timed as the plain loop is (one transaction, start
    // to commit); the rest of what the second start spends beyond an
    // ordinary one is printed apart.
    f.schemaMs = std::max(0.0, secondStart - f.startMs - f.backFillMs);
    return f;
}

// The start on a base of 500 slots whose RECORD holds 50,000 sales (the
// manager never shows them at start; they must cost it nothing).  The
// first start of such a base, then a later one.
std::pair<double, double> measureSales(bench::Engine engine)
{
    QTemporaryDir dir;
    bench::BaseFolder base(dir.path(), engine);
    schema::CreateOptions options;
    options.demoProducts = true;
    const QString path = dir.filePath(QStringLiteral("vendabase.accdb"));
    QString error;
    if (!schema::createDatabaseFile(path, options, &error))
        qFatal("%s", qPrintable(error));
    {
        auto conn = db::Connection::open(path, &error);
        QSqlDatabase db = conn->database();
        db.transaction();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("Insert Into RECORD (pluNo, pluDesc, dateTime, weight, totalPrice) "
                                 "Values (?, ?, ?, ?, ?)"));
        const QDateTime first(QDate(2024, 1, 1), QTime(8, 0));
        for (int i = 0; i < 50000; ++i) {
            q.bindValue(0, 1 + i % 500);
            q.bindValue(1, QStringLiteral("PRODUTO %1").arg(1 + i % 500));
            q.bindValue(2, first.addSecs(i * 60));
            q.bindValue(3, i % 3 ? 250 + i % 1000 : 0);
            q.bindValue(4, i % 3 ? 0 : 1000 + i % 5000);
            if (!q.exec())
                qFatal("%s", qPrintable(q.lastError().text()));
        }
        db.commit();
    }
    bool ok = false;
    const double firstStart = timedStart(path, &ok);
    if (!ok)
        qFatal("start failed on 50,000 sales");
    const double later = timedStart(path, &ok);
    return {firstStart, later};
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
    out << "slots    start (ms)   back-fill (ms)   back-fill per slot (ms)   plain (ms)      x   schema (ms)   peak MB";
    if (both)
        out << "   server start (ms)  ratio   server back-fill (ms)  ratio";
    out << "\n";
    for (bench::Engine engine : engines)
        measure(100, dialogs, engine); // warm up fonts, plugins, the file cache and the server
    // best[engine][size]
    std::vector<std::vector<Figures>> best(engines.size());
    for (int slotCount : {500, 5000}) {
        for (qsizetype e = 0; e < engines.size(); ++e) {
            Figures b{1e300, 1e300, 1e300, 1e300};
            for (int r = 0; r < repeat; ++r) {
                const Figures f = measure(slotCount, dialogs, engines[e]);
                b.startMs = std::min(b.startMs, f.startMs);
                b.backFillMs = std::min(b.backFillMs, f.backFillMs);
                b.plainBackFillMs = std::min(b.plainBackFillMs, f.plainBackFillMs);
                b.schemaMs = std::min(b.schemaMs, f.schemaMs);
            }
            best[e].push_back(b);
        }
        const Figures &file = best[0].back();
        out << QString::asprintf("%5d %13.1f %16.1f %25.3f %12.1f %6.2f %13.1f %9.1f", slotCount, file.startMs,
                                 file.backFillMs, file.backFillMs / slotCount, file.plainBackFillMs,
                                 file.backFillMs / file.plainBackFillMs, file.schemaMs, peakMb());
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
    for (bench::Engine engine : engines) {
        double first = 1e300, later = 1e300;
        for (int r = 0; r < repeat; ++r) {
            const auto [f, l] = measureSales(engine);
            first = std::min(first, f);
            later = std::min(later, l);
        }
        out << QString::asprintf("start on 500 slots and 50,000 sales (%s): first %.1f ms, later %.1f ms; "
                                 "peak %.1f MB\n",
                                 bench::engineName(engine), first, later, peakMb());
    }
    out << "start: an ordinary start on an upgraded base, window to list\n"
           "back-fill: the settings row and the codes filled, their transaction from start to commit (the count of "
           "empty codes, the list read, the code check, every row saved, the progress)\n"
           "plain: the same statements as a plain loop, timed the same way (begin to commit)\n"
           "x: back-fill over plain; schema: what else the start that fills the codes spends beyond an ordinary "
           "start (the columns and index it adds, the checks, the list shown)\n"
           "peak MB: the process's peak so far\n";
    setOperatorDialogs(nullptr);
    return fileGrowth <= 12.0 ? 0 : 1;
}
