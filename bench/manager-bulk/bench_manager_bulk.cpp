// Times "Prefixo 2" and the rewrite of every code after a change of code
// size, run the way the operator runs them (the product form, its progress
// window, the save procedure for every row), on files of 500 and 5,000
// product slots, and prints the figures.  The time per row should not grow
// with the number of rows.
#include "DataModule.h"
#include "Globals.h"
#include "OperatorDialogs.h"
#include "ProductForm.h"
#include "Schema.h"
#include "StatusWindow.h"
#include "Unitselect.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

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
};

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

bool runOnce(int slotCount, Figures *out)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vendabase.accdb"));
    schema::CreateOptions options;
    options.slotCount = slotCount;
    QString error;
    if (!schema::createDatabaseFile(path, options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    {
        auto conn = db::Connection::open(path, &error);
        QSqlQuery q(conn->database());
        q.exec(QStringLiteral("Update Config Set CodeSize = 5, flgPrefixo2 = 1"));
        // Codes 10, 20, ... so that the cut to 4 digits gives 1, 2, ...
        // without a collision and the whole change goes on.
        q.exec(QStringLiteral("Update PLU Set Codigo = 10 * pluNo, Prefixb = 7, "
                              "pluCode = '7' || substr('00000' || (10 * pluNo), -5)"));
    }

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

    out->prefix2Ms = timeIt([&] { form.Prefixo21Click(); });
    bool ok = check(db, QStringLiteral("Select Count(*) From PLU Where Prefixb = 4 And pluCode Like '4%'"), slotCount,
                    "Prefixo 2");

    // 5 -> 4 digits with the second prefix: every new code computed and
    // checked for collisions, then every code cut and rebuilt.
    answerSizeDialog(4);
    out->shrinkMs = timeIt([&] { form.Configurar2Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where Codigo = pluNo"), slotCount, "shrink to 4");

    // 4 -> 6 digits: every code rebuilt, none cut.
    answerSizeDialog(6);
    out->growMs = timeIt([&] { form.Configurar2Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where pluCode = substr('000000' || Codigo, -6)"),
                     slotCount, "grow to 6");

    // 6 -> 4 digits where codes 100010 and 200010 would both become 10:
    // the collision check finds every such pair and nothing is written.
    {
        QSqlQuery q(db);
        q.exec(QStringLiteral("Update PLU Set Codigo = 100000 * (1 + pluNo % 2) + 10 * (pluNo / 2), pluDesc = 'P' || pluNo"));
    }
    form.FiltraProdutos();
    answerSizeDialog(4);
    out->refusedMs = timeIt([&] { form.Configurar2Click(); });
    ok = ok && check(db, QStringLiteral("Select Count(*) From PLU Where Codigo = 100000 * (1 + pluNo % 2) + 10 * (pluNo / 2)"), slotCount,
                     "refused shrink to 4");
    ok = ok && check(db, QStringLiteral("Select Count(*) From Config Where CodeSize = 6"), 1, "size kept at 6");

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

    const int sizes[] = {500, 5000};
    Figures figures[2];
    for (int i = 0; i < 2; ++i) {
        if (!runOnce(sizes[i], &figures[i]))
            return 1;
    }
    std::printf("%-28s %12s %12s %12s %12s %8s\n", "operation", "500 ms", "us/row", "5000 ms", "us/row", "ratio");
    auto line = [&](const char *name, double Figures::*field) {
        const double a = figures[0].*field, b = figures[1].*field;
        std::printf("%-28s %12.1f %12.1f %12.1f %12.1f %8.2f\n", name, a, a * 1000 / 500, b, b * 1000 / 5000, b / a);
    };
    line("Prefixo 2", &Figures::prefix2Ms);
    line("code size 5 -> 4 (cut)", &Figures::shrinkMs);
    line("code size 4 -> 6 (rebuild)", &Figures::growMs);
    line("code size 6 -> 4 (collisions)", &Figures::refusedMs);
    std::printf("ratio 10 means linear growth (10x the rows, 10x the time)\n");
    return 0;
}
