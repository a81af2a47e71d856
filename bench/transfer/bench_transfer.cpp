// torvane-transfer against simulators paced at the scale's 57600 baud:
// 500 products to 1, 2 and 4 scales at once (target: 4 scales within 1.05x
// the time of one, each near the wire limit), then "send --changed" with 10
// of the 500 products changed (target: under 0.3 s per scale).
//
//   bench_transfer
#include "CommandLine.h"
#include "DataSource.h"
#include "ScaleRunner.h"
#include "Schema.h"
#include "SimulatorOnPty.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

using namespace torvane::transfer;

namespace {

constexpr int kProducts = 500;
constexpr uint32_t kBaud = 57600;

bool exec(const QString &sql)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        db.setDatabaseName(QStringLiteral("vendabase.accdb"));
        ok = db.open() && QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    return ok;
}

struct Run {
    double seconds = 0;
    bool ok = true;
    int sent = 0; // products acknowledged, all scales
};

Run send(int scales, bool changed)
{
    Command c;
    c.action = Action::Send;
    c.changedOnly = changed;
    for (int i = 1; i <= scales; ++i)
        c.scales.push_back({QStringLiteral("COM%1").arg(i), QStringLiteral("COM%1").arg(i)});
    RunSettings s;
    s.command = c;
    s.databasePath = QFileInfo(QStringLiteral("vendabase.accdb")).absoluteFilePath();
    QElapsedTimer t;
    t.start();
    const auto results = RunScales(s);
    Run r;
    r.seconds = t.nsecsElapsed() / 1e9;
    for (const auto &x : results) {
        r.ok = r.ok && x.outcome == Outcome::Done;
        r.sent += x.count;
    }
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    const QString links = dir.filePath(QStringLiteral("config/torvane/dosdevices"));
    QDir().mkpath(links);
    torvane::schema::CreateOptions o;
    o.slotCount = kProducts;
    QString error;
    if (!torvane::schema::createDatabaseFile(QStringLiteral("vendabase.accdb"), o, &error)
        || !exec(QStringLiteral("UPDATE PLU SET Codigo = pluNo, pluCode = substr('000000' || (pluNo * 10), -6),"
                                " pluDesc = 'PRODUTO ' || pluNo || ' AÇÚCAR',"
                                " unitPrice = pluNo * 137, tareWeight = (pluNo * 2) % 6000")))
        return std::fprintf(stderr, "cannot make the database: %s\n", qPrintable(error)), 1;
    torvane::transmitter::SetDatabaseFileOverride(QFileInfo(QStringLiteral("vendabase.accdb")).absoluteFilePath());

    torvane::scalesim::Options paced;
    paced.paceBaud = kBaud;
    std::vector<std::unique_ptr<SimulatorOnPty>> sims;
    for (int i = 1; i <= 4; ++i) {
        sims.push_back(std::make_unique<SimulatorOnPty>(links, i, paced));
        if (!sims.back()->ok())
            return std::fprintf(stderr, "pseudo-terminal %d failed\n", i), 1;
        sims.back()->start();
    }

    const double wireLimit = kProducts * (57.0 * 10.0 / kBaud + 0.003);
    std::printf("torvane-transfer: %d products, simulators paced at %u baud; wire limit %.3f s per scale\n",
                kProducts, kBaud, wireLimit);
    bool ok = true;
    double one = 0;
    double four = 0;
    for (int n : {1, 2, 4}) {
        const Run r = send(n, false);
        ok = ok && r.ok && r.sent == n * kProducts;
        std::printf("send, %d scale(s) in parallel: %.3f s, ratio to the wire limit %.3f%s\n", n, r.seconds,
                    r.seconds / wireLimit, r.ok ? "" : "  (FAILED)");
        if (n == 1)
            one = r.seconds;
        if (n == 4)
            four = r.seconds;
    }
    std::printf("4 scales / 1 scale: %.3f (target <= 1.05): %s\n", four / one, four / one <= 1.05 ? "met" : "NOT met");

    exec(QStringLiteral("UPDATE PLU SET unitPrice = unitPrice + 1 WHERE pluNo % 50 = 7"));
    const Run changed = send(4, true);
    ok = ok && changed.ok && changed.sent == 4 * 10;
    std::printf("send --changed, 10 of %d changed, 4 scales in parallel: %.3f s, %d products sent%s\n", kProducts,
                changed.seconds, changed.sent, changed.ok ? "" : "  (FAILED)");
    exec(QStringLiteral("UPDATE PLU SET unitPrice = unitPrice + 1 WHERE pluNo % 50 = 8"));
    const Run single = send(1, true);
    ok = ok && single.ok && single.sent == 10;
    std::printf("send --changed, 10 of %d changed, 1 scale: %.3f s (target < 0.3): %s\n", kProducts, single.seconds,
                single.seconds < 0.3 ? "met" : "NOT met");
    for (auto &s : sims)
        s->stop();
    return ok ? 0 : 1;
}
