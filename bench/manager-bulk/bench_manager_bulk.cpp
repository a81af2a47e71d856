// Times "Prefixo 2", the rewrite of every code after a change of code size,
// "Prefixo 1", "Peso" and "Limpar todos produtos", run the way the operator runs them (the product form, its progress
// window, the save procedure for every row), on files of 500 and 5,000
// product slots, and prints the figures.  The time per row should not grow
// with the number of rows.  Beside each figure: the same statements as a
// plain loop on the engine's client library (PlainLoop.h), on a twin base,
// and the program's time divided by the loop's.  With a server named (see
// BenchServer.h) the same cases run on it too, next to the file's figures.
//
//   build/bin/bench_manager_bulk [--repeat R]    (best of R runs, default 3)
#include "../common/BenchServer.h"
#include "../common/PlainLoop.h"
#include "DataModule.h"
#include "Globals.h"
#include "OperatorDialogs.h"
#include "ProductForm.h"
#include "Schema.h"
#include "StatusWindow.h"
#include "Unitselect.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace torvane;
using namespace torvane::manager;

namespace {

// Answers every prompt: the given digit, Yes to every question.
class Answers : public OperatorDialogs {
public:
    QString digit = QStringLiteral("4");
    QStringList messages;
    void message(const QString &, const QString &text, DialogIcon) override { messages << text; }
    bool confirm(const QString &, const QString &) override { return true; }
    bool inputText(const QString &, const QString &, QString *value) override
    {
        *value = digit;
        return true;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
};

struct Figures {
    double prefix2Ms = 0;
    double shrinkMs = 0;
    double growMs = 0;
    double refusedMs = 0;
    double prefix1Ms = 0;
    double pesoMs = 0;
    double clearMs = 0;
    // The plain loops of the same changes.
    double plainPrefix2Ms = 0;
    double plainShrinkMs = 0;
    double plainGrowMs = 0;
    double plainPrefix1Ms = 0;
    double plainPesoMs = 0;
    double plainClearMs = 0;
    double copyMs = 0; // the longest copy of the base made before a command
};

std::string digits(long long n, int width)
{
    return QString::number(n).rightJustified(width, u'0').toStdString();
}

// What the three changes write to each row of the bench's base (Codigo 10 *
// pluNo, second prefix in use), as the program works it out.
const bench::PlainChange kPlainPrefix2{"Prefixb = ?, pluCode = ?", [](long long pluNo) {
    return std::vector{bench::PlainValue::of(4), bench::PlainValue::of("4" + digits(10 * pluNo, 5))};
}};
const bench::PlainChange kPlainShrink{"Codigo = ?, pluCode = ?", [](long long pluNo) {
    return std::vector{bench::PlainValue::of(pluNo), bench::PlainValue::of("4" + digits(pluNo, 4) + "0")};
}};
const bench::PlainChange kPlainGrow{"pluCode = ?", [](long long pluNo) {
    return std::vector{bench::PlainValue::of(digits(pluNo, 6))};
}};
const bench::PlainChange kPlainPrefix1{"preFix = ?", [](long long) {
    return std::vector{bench::PlainValue::of(4)};
}};
// "Limpar todos produtos": every slot free, its scale code that of code 0.
const bench::PlainChange kPlainClear{
    "Codigo = ?, pluDesc = ?, Preco = ?, unitPrice = ?, Tara = ?, tareWeight = ?, validDays = ?, sellFlag = ?, "
    "preFix = ?, Setor = ?, pluCode = ?",
    [](long long) {
        using V = bench::PlainValue;
        return std::vector{V::of(0), V::of(std::string()), V::of(0), V::of(0), V::of(0), V::of(0), V::of(0),
                           V::of(1), V::of(0), V::of(0), V::of("000000")};
    }};

// Picks a size in the code-size dialog once it is up.
void answerSizeDialog(int size)
{
    QTimer::singleShot(0, [size] {
        if (auto *dlg = qobject_cast<TfrmSelect *>(QApplication::activeModalWidget())) {
            dlg->selectOption(size - 4);
            dlg->btnOkClick();
        }
    });
}

double timeIt(const std::function<void()> &run)
{
    QElapsedTimer t;
    t.start();
    run();
    return double(t.nsecsElapsed()) / 1e6;
}

bool check(const QSqlDatabase &db, const QString &sql, qint64 expected, const char *what)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next() || q.value(0).toLongLong() != expected) {
        std::fprintf(stderr, "check failed: %s\n", what);
        return false;
    }
    return true;
}

// A base of slotCount slots in folder, as the bench needs it.
bool makeBase(const QString &folder, const bench::BaseFolder &base, int slotCount, bool server)
{
    // The last n digits of a number as text: substr counts from the end
    // on the file only.
    const auto lastDigits = [server](const QString &number, int n) {
        return server ? QStringLiteral("lpad((%1)::text, %2, '0')").arg(number).arg(n)
                      : QStringLiteral("substr('%1' || (%2), -%3)").arg(QString(n, u'0'), number).arg(n);
    };
    const QString path = QDir(folder).filePath(QStringLiteral("vendabase.accdb"));
    schema::CreateOptions options;
    options.slotCount = slotCount;
    QString error;
    if (!schema::createDatabaseFile(path, options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    auto conn = db::Connection::open(path, &error);
    QSqlQuery q(conn->database());
    q.exec(QStringLiteral("Update Config Set CodeSize = 5, flgPrefixo2 = 1"));
    // Codes 10, 20, ... so that the cut to 4 digits gives 1, 2, ...
    // without a collision and the whole change goes on.
    if (!q.exec(QStringLiteral("Update PLU Set Codigo = 10 * pluNo, Prefixb = 7, pluCode = '7' || ")
                + lastDigits(QStringLiteral("10 * pluNo"), 5))) {
        std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
        return false;
    }
    base.settle({QStringLiteral("PLU"), QStringLiteral("Historico")});
    return true;
}

// The plain loops of the three changes, in the program's order, on a twin
// of the program's base.
bool runPlain(int slotCount, bench::Engine engine, Figures *out)
{
    QTemporaryDir dir;
    bench::BaseFolder base(dir.path(), engine);
    if (!makeBase(dir.path(), base, slotCount, engine == bench::Engine::Server))
        return false;
    out->plainPrefix2Ms = bench::plainLoopMs(dir.path(), kPlainPrefix2);
    out->plainShrinkMs = bench::plainLoopMs(dir.path(), kPlainShrink);
    out->plainGrowMs = bench::plainLoopMs(dir.path(), kPlainGrow);
    out->plainPrefix1Ms = bench::plainLoopMs(dir.path(), kPlainPrefix1);
    out->plainPesoMs = engine == bench::Engine::File
        ? bench::plainStatementMs(dir.path(), "Update Plu Set BarcodeMode = 1")
        : 0;
    out->plainClearMs = bench::plainLoopMs(dir.path(), kPlainClear);
    return out->plainPrefix2Ms >= 0 && out->plainShrinkMs >= 0 && out->plainGrowMs >= 0 && out->plainPrefix1Ms >= 0
        && out->plainPesoMs >= 0 && out->plainClearMs >= 0;
}

bool runOnce(int slotCount, bench::Engine engine, Figures *out)
{
    QTemporaryDir dir;
    bench::BaseFolder base(dir.path(), engine);
    const bool server = engine == bench::Engine::Server;
    const auto lastDigits = [server](const QString &number, int n) {
        return server ? QStringLiteral("lpad((%1)::text, %2, '0')").arg(number).arg(n)
                      : QStringLiteral("substr('%1' || (%2), -%3)").arg(QString(n, u'0'), number).arg(n);
    };
    const QString path = dir.filePath(QStringLiteral("vendabase.accdb"));
    if (!makeBase(dir.path(), base, slotCount, server))
        return false;

    Answers answers;
    setOperatorDialogs(&answers);
    TDM dm;
    dm.setDatabasePath(path);
    TfrmStatus status;
    TfrmSelect select;
    frmSelect = &select;
    TfrmProdutos form(&dm, &status);
    form.show();
    if (!form.FormShow() || form.qryProdutos->count() != slotCount) {
        std::fprintf(stderr, "the form did not start\n");
        return false;
    }
    const QSqlDatabase db = form.qryProdutos->database();
    // Each command's own work: the copy of the base made before it (timed
    // by bench_copies) is taken out and kept apart.
    auto command = [&](const std::function<void()> &run) {
        const qint64 copiesBefore = form.copiesNanoseconds();
        const double ms = timeIt(run);
        const double copyMs = double(form.copiesNanoseconds() - copiesBefore) / 1e6;
        out->copyMs = std::max(out->copyMs, copyMs);
        return ms - copyMs;
    };

    out->prefix2Ms = command([&] { form.Prefixo21Click(); });
    bool ok = check(db, QStringLiteral("Select Count(*) From PLU Where Prefixb = 4 And pluCode Like '4%'"), slotCount,
                    "Prefixo 2");

    // 5 -> 4 digits with the second prefix: every new code computed and
    // checked for collisions, then every code cut and rebuilt.
    answerSizeDialog(4);
    out->shrinkMs = command([&] { form.Configurar2Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where Codigo = pluNo"), slotCount, "shrink to 4");

    // 4 -> 6 digits: every code rebuilt, none cut.
    answerSizeDialog(6);
    out->growMs = command([&] { form.Configurar2Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where pluCode = ") + lastDigits(QStringLiteral("Codigo"), 6),
                     slotCount, "grow to 6");

    // 6 -> 4 digits where codes 100010 and 200010 would both become 10:
    // the collision check finds every such pair and nothing is written.
    {
        QSqlQuery q(db);
        q.exec(QStringLiteral("Update PLU Set Codigo = 100000 * (1 + pluNo % 2) + 10 * (pluNo / 2), pluDesc = 'P' || pluNo"));
    }
    form.FiltraProdutos();
    answerSizeDialog(4);
    out->refusedMs = command([&] { form.Configurar2Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where Codigo = 100000 * (1 + pluNo % 2) + 10 * (pluNo / 2)"), slotCount,
                     "refused shrink to 4");
    ok = ok && check(db, QStringLiteral("Select Count(*) From Config Where CodeSize = 6"), 1, "size kept at 6");

    // "Prefixo 1", "Peso" and "Limpar todos produtos".
    out->prefix1Ms = command([&] { form.Prefixo11Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where preFix = 4"), slotCount, "Prefixo 1");
    out->pesoMs = command([&] { form.Peso1Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where BarcodeMode = 1"), slotCount, "Peso");
    out->clearMs = command([&] { form.LimparTodosProdutos1Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where Codigo = 0"), slotCount, "Limpar");

    form.close();
    frmSelect = nullptr;
    setOperatorDialogs(nullptr);
    return ok;
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

    const int sizes[] = {500, 5000};
    const QList<bench::Engine> engines = bench::engines();
    const bool both = engines.size() > 1;
    Figures figures[2][2]; // [engine][size]
    for (qsizetype e = 0; e < engines.size(); ++e) {
        for (int i = 0; i < 2; ++i) {
            // The best of the runs: the machine's other work only ever adds time.
            Figures &best = figures[e][i];
            best = {1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300};
            for (int r = 0; r < repeat; ++r) {
                Figures f;
                if (!runOnce(sizes[i], engines[e], &f)) {
                    std::fprintf(stderr, "failed on the %s\n", bench::engineName(engines[e]));
                    return 1;
                }
                if (!runPlain(sizes[i], engines[e], &f)) {
                    std::fprintf(stderr, "the plain loop failed on the %s\n", bench::engineName(engines[e]));
                    return 1;
                }
                for (double Figures::*field :
                     {&Figures::prefix2Ms, &Figures::shrinkMs, &Figures::growMs, &Figures::refusedMs,
                      &Figures::prefix1Ms, &Figures::pesoMs, &Figures::clearMs, &Figures::plainPrefix2Ms,
                      &Figures::plainShrinkMs, &Figures::plainGrowMs, &Figures::plainPrefix1Ms,
                      &Figures::plainPesoMs, &Figures::plainClearMs, &Figures::copyMs})
                    best.*field = std::min(best.*field, f.*field);
            }
        }
    }
    std::printf("best of %d; plain: the same statements as a plain loop (see PlainLoop.h), x: the program's time "
                "over the plain loop's\n",
                repeat);
    bench::printServerLine();
    auto table = [&](qsizetype e) {
        std::printf("%-30s %9s %8s %9s %8s %9s %6s %9s %6s\n", bench::engineName(engines[e]), "500 ms", "us/row",
                    "5000 ms", "us/row", "plain ms", "x", "10x rows", "");
        auto line = [&](const char *name, double Figures::*field, double Figures::*plain) {
            const double a = figures[e][0].*field, b = figures[e][1].*field;
            std::printf("%-30s %9.1f %8.1f %9.1f %8.1f", name, a, a * 1000 / 500, b, b * 1000 / 5000);
            if (plain)
                std::printf(" %9.1f %6.2f", figures[e][1].*plain, b / figures[e][1].*plain);
            else
                std::printf(" %9s %6s", "", "");
            std::printf(" %9.2f\n", b / a);
        };
        line("Prefixo 2", &Figures::prefix2Ms, &Figures::plainPrefix2Ms);
        line("code size 5 -> 4 (cut)", &Figures::shrinkMs, &Figures::plainShrinkMs);
        line("code size 4 -> 6 (rebuild)", &Figures::growMs, &Figures::plainGrowMs);
        line("code size 6 -> 4 (collisions)", &Figures::refusedMs, nullptr);
        line("Prefixo 1", &Figures::prefix1Ms, &Figures::plainPrefix1Ms);
        line("Peso", &Figures::pesoMs, engines[e] == bench::Engine::File ? &Figures::plainPesoMs : nullptr);
        line("Limpar todos produtos", &Figures::clearMs, &Figures::plainClearMs);
    };
    for (qsizetype e = 0; e < engines.size(); ++e)
        table(e);
    if (both) {
        std::printf("server over file, 5000 rows:");
        for (double Figures::*field : {&Figures::prefix2Ms, &Figures::shrinkMs, &Figures::growMs,
                                       &Figures::prefix1Ms, &Figures::clearMs})
            std::printf(" %s", qPrintable(bench::ratio(figures[0][1].*field, figures[1][1].*field)));
        std::printf(" (Prefixo 2, cut, rebuild, Prefixo 1, Limpar)\n");
    }
    for (qsizetype e = 0; e < engines.size(); ++e)
        std::printf("%s: the copy of the base made before each command, 5,000 rows: %.1f ms, left out of the "
                    "figures above (bench_copies times it)\n",
                    bench::engineName(engines[e]), figures[e][1].copyMs);
    std::printf("10x rows: the 5,000-slot time over the 500-slot time (10 means linear growth); "
                "x and plain on 5,000 rows\n");
    return 0;
}
