// Times the import through the product form's menu item: N lines into N
// free slots, the same file again (every product already in its slot), and
// again after "Limpar dados existentes" (every slot cleared first).
// Prints the figures; the time per line should not grow with N.  With a
// server named (see BenchServer.h) the same imports run on it too, next to
// the file's figures.
//
//   build/bin/bench_manager_import [--repeat R] [N ...]   (default 500 5000,
//       best of R runs, default 3)
//   build/bin/bench_manager_import --big MB     a file of MB megabytes of
//       2,000-character lines (one product line in every 100) into 500
//       slots: the file is streamed, never held in memory.
#include "../common/BenchServer.h"
#include "../common/PlainLoop.h"
#include "DataModule.h"
#include "Globals.h"
#include "OperatorDialogs.h"
#include "ProductForm.h"
#include "Schema.h"
#include "StatusWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <deque>

using namespace torvane;
using namespace torvane::manager;

namespace {

// Answers the file dialog with the file and each question from a queue.
class BenchDialogs : public OperatorDialogs {
public:
    QString file;
    std::deque<bool> answers;
    int messages = 0;
    void message(const QString &, const QString &text, DialogIcon) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool confirm(const QString &, const QString &) override
    {
        if (answers.empty())
            return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    bool inputText(const QString &, const QString &, QString *) override { return false; }
    QString openFileName(const QString &, const QString &, const QString &) override { return file; }
};

class NoShell : public ShellActions {
public:
    bool startDetached(const QString &, const QString &) override { return true; }
    bool openDocument(const QString &) override { return true; }
};

QByteArray importFile(int lines)
{
    QByteArray out;
    out.reserve(lines * 41);
    for (int i = 0; i < lines; ++i) {
        out += QByteArray::number(i + 1).rightJustified(6, '0');
        out += (i % 3) ? 'P' : 'U';
        out += QByteArray("PRODUTO ").append(QByteArray::number(i + 1)).leftJustified(22, ' ');
        out += QByteArray::number(100 + i % 90000).rightJustified(7, '0');
        out += "030\r\n";
    }
    return out;
}

struct Figures {
    double fresh = 0, again = 0, cleared = 0;
    double plain = 0; // the plain loop of the first import's writes
};

// What the first import writes to slot n (line n - 1 of importFile), as a
// plain loop of the same statements (PlainLoop.h).
const bench::PlainChange kPlainImport{
    "Codigo = ?, flgDel = ?, sellFlag = ?, pluDesc = ?, unitPrice = ?, Preco = ?, validDays = ?, pluCode = ?",
    [](long long n) {
        const long long i = n - 1, price = 100 + i % 90000;
        return std::vector{bench::PlainValue::of(n), bench::PlainValue::of(0LL),
                           bench::PlainValue::of(i % 3 ? 1LL : 2LL),
                           bench::PlainValue::of(("PRODUTO " + std::to_string(n) + std::string(22, ' ')).substr(0, 22)),
                           bench::PlainValue::of(price), bench::PlainValue::of(std::to_string(price / 100.0)),
                           bench::PlainValue::of(30LL),
                           bench::PlainValue::of(QString::number(n).rightJustified(5, u'0').toStdString() + "0")};
    }};

Figures run(int n, bench::Engine engine)
{
    QTemporaryDir dir;
    bench::BaseFolder base(dir.path(), engine);
    const QString dbPath = dir.filePath(QStringLiteral("vendabase.accdb"));
    schema::CreateOptions options;
    options.slotCount = n;
    QString error;
    if (!schema::createDatabaseFile(dbPath, options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    const QString file = dir.filePath(QStringLiteral("produtos.txt"));
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(importFile(n));
    }

    BenchDialogs dialogs;
    NoShell shell;
    setOperatorDialogs(&dialogs);
    setShellActions(&shell);
    Figures fig;
    {
        TDM dm;
        dm.setDatabasePath(dbPath);
        TfrmStatus status;
        TfrmProdutos form(&dm, &status);
        DM = &dm;
        frmStatus = &status;
        frmProdutos = &form;
        form.show();
        form.FormShow();
        form.strDirPrograma = dir.path();
        dialogs.file = file;

        // The import's own work: the copy of the base made before it
        // (timed by bench_copies) is left out.
        const auto timeImport = [&](bool clearFirst) {
            dialogs.answers = {clearFirst, false};
            const qint64 copies = form.copiesNanoseconds();
            QElapsedTimer t;
            t.start();
            form.Importar1->trigger();
            return (t.nsecsElapsed() - (form.copiesNanoseconds() - copies)) / 1e6;
        };
        fig.fresh = timeImport(false);
        fig.again = timeImport(false);
        fig.cleared = timeImport(true);
        if (dialogs.messages || QFile::exists(dir.filePath(QStringLiteral("log.txt"))))
            std::fprintf(stderr, "the import reported problems\n");
        form.close();
        DM = nullptr;
        frmStatus = nullptr;
        frmProdutos = nullptr;
    }
    setOperatorDialogs(nullptr);
    setShellActions(nullptr);
    {
        QDir(dir.path()).mkdir(QStringLiteral("twin"));
        const QString twin = dir.filePath(QStringLiteral("twin"));
        bench::BaseFolder twinBase(twin, engine);
        if (!schema::createDatabaseFile(QDir(twin).filePath(QStringLiteral("vendabase.accdb")), options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::exit(1);
        }
        fig.plain = bench::plainLoopMs(twin, kPlainImport);
    }
    return fig;
}

} // namespace

// A big file written in pieces: long lines of text, every hundredth line a
// product.
void writeBigFile(const QString &path, qint64 megabytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    const QByteArray junk = QByteArray(1998, 'x') + "\r\n";
    qint64 written = 0;
    int line = 0;
    while (written < megabytes * 1024 * 1024) {
        QByteArray block;
        for (int i = 0; i < 100; ++i, ++line) {
            if (i == 0)
                block += importFile(1).replace("000001", QByteArray::number(line % 400 + 1).rightJustified(6, '0'));
            else
                block += junk;
        }
        written += f.write(block);
    }
}

int bigRun(qint64 megabytes)
{
    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("vendabase.accdb"));
    schema::CreateOptions options;
    options.slotCount = 500;
    QString error;
    if (!schema::createDatabaseFile(dbPath, options, &error))
        return 1;
    const QString file = dir.filePath(QStringLiteral("grande.txt"));
    writeBigFile(file, megabytes);
    BenchDialogs dialogs;
    NoShell shell;
    setOperatorDialogs(&dialogs);
    setShellActions(&shell);
    {
        TDM dm;
        dm.setDatabasePath(dbPath);
        TfrmStatus status;
        TfrmProdutos form(&dm, &status);
        DM = &dm;
        frmStatus = &status;
        frmProdutos = &form;
        form.show();
        form.FormShow();
        form.strDirPrograma = dir.path();
        dialogs.file = file;
        dialogs.answers = {false, false};
        QElapsedTimer t;
        t.start();
        form.Importar1->trigger();
        const double ms = t.nsecsElapsed() / 1e6;
        QFile log(dir.filePath(QStringLiteral("log.txt")));
        std::printf("%lld MB file: %.1f s, log %lld bytes\n", megabytes, ms / 1000.0,
                    log.exists() ? log.size() : 0LL);
        form.close();
        DM = nullptr;
        frmStatus = nullptr;
        frmProdutos = nullptr;
    }
    setOperatorDialogs(nullptr);
    setShellActions(nullptr);
    std::printf("plain: the first import's writes as a plain loop of the same statements; x: free slots over "
                "plain; the copy of the base made before each import is left out\n");
    return 0;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--big")
        return bigRun(QByteArray(argv[2]).toLongLong());
    QList<int> sizes;
    int repeat = 3;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--repeat" && i + 1 < argc)
            repeat = std::max(1, QByteArray(argv[++i]).toInt());
        else
            sizes << QByteArray(argv[i]).toInt();
    }
    if (sizes.isEmpty())
        sizes = {500, 5000};

    const QList<bench::Engine> engines = bench::engines();
    const bool both = engines.size() > 1;
    std::printf("best of %d\n", repeat);
    bench::printServerLine();
    std::printf("%8s %14s %14s %14s %12s %9s %6s", "lines", "free slots ms", "same again ms", "cleared ms",
                "us per line", "plain ms", "x");
    if (both)
        std::printf("   %14s %6s %14s %6s %14s %6s", "server free", "ratio", "server again", "ratio", "server cleared",
                    "ratio");
    std::printf("\n");
    // The best of the runs: the machine's other work only ever adds time.
    const auto best = [repeat](int n, bench::Engine engine) {
        Figures b{1e300, 1e300, 1e300, 1e300};
        for (int r = 0; r < repeat; ++r) {
            const Figures f = run(n, engine);
            b = {std::min(b.fresh, f.fresh), std::min(b.again, f.again), std::min(b.cleared, f.cleared),
                 std::min(b.plain, f.plain)};
        }
        return b;
    };
    for (int n : sizes) {
        const Figures f = best(n, bench::Engine::File);
        const double perLine = f.fresh * 1000.0 / n;
        std::printf("%8d %14.1f %14.1f %14.1f %12.1f %9.1f %6.2f", n, f.fresh, f.again, f.cleared, perLine, f.plain,
                    f.fresh / f.plain);
        if (both) {
            const Figures s = best(n, bench::Engine::Server);
            std::printf("   %14.1f %6s %14.1f %6s %14.1f %6s", s.fresh, qPrintable(bench::ratio(f.fresh, s.fresh)),
                        s.again, qPrintable(bench::ratio(f.again, s.again)), s.cleared,
                        qPrintable(bench::ratio(f.cleared, s.cleared)));
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("plain: the first import's writes as a plain loop of the same statements; x: free slots over "
                "plain; the copy of the base made before each import is left out\n");
    return 0;
}
