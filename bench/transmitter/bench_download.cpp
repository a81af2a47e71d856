// The whole product download of 500 products to the scale simulator, with
// the line paced at the scale's 57600 baud.  Prints the measured time, the
// wire limit (57 bytes of 10 bits per product at 57600 baud, plus the 3 ms
// the protocol waits before reading each "OK") and their ratio.
//
//   bench_transmitter_download [runs]
#include "DataSource.h"
#include "JobHost.h"
#include "Recordsets.h"
#include "ScaleProtocol.h"
#include "ScaleSimulator.h"
#include "Schema.h"
#include "TransferJobs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace torvane::transmitter;

namespace {

constexpr int kProducts = 500;
constexpr uint32_t kBaud = 57600;

class QuietHost : public JobHost {
public:
    QString portName() const override { return QStringLiteral("COM1"); }
    void setStatusText(const QString &text) override { last = text; }
    void setButtonCaption(JobButton, const QString &) override {}
    void setProgressRange(int) override {}
    void setProgressPos(int) override {}
    void messageBox(const QString &text, MessageIcon) override { std::fprintf(stderr, "box: %s\n", qPrintable(text)); }
    bool cancelRequested() const override { return cancel; }
    void setCancelRequested(bool on) override { cancel = on; }
    QString last;
    std::atomic<bool> cancel{false};
};

bool fillProducts()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
    db.setDatabaseName(QStringLiteral("vendabase.accdb"));
    bool ok = db.open();
    if (ok) {
        QSqlQuery q(db);
        ok = q.exec(QStringLiteral("UPDATE PLU SET Codigo = 1000 + pluNo, pluCode = substr('000000' || ((1000 + pluNo) * 10), -6),"
                                   " pluDesc = 'PRODUTO ' || pluNo || ' AÇÚCAR', unitPrice = pluNo * 137,"
                                   " tareWeight = (pluNo * 2) % 6000, validDays = pluNo % 1000, sellFlag = 1 + pluNo % 2"
                                   " WHERE Codigo = 0"));
        q.finish();
        db.close();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    const QString links = dir.filePath(QStringLiteral("config/torvane/dosdevices"));
    QDir().mkpath(links);

    torvane::schema::CreateOptions o;
    o.slotCount = kProducts;
    o.demoProducts = true;
    QString error;
    if (!torvane::schema::createDatabaseFile(QStringLiteral("vendabase.accdb"), o, &error) || !fillProducts()) {
        std::fprintf(stderr, "cannot make the database: %s\n", qPrintable(error));
        return 1;
    }
    RegisterTorvaneDataSource();

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    struct termios tio;
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    QFile::link(QString::fromLocal8Bit(::ptsname(master)), links + QStringLiteral("/com1"));

    torvane::scalesim::Options so;
    so.paceBaud = kBaud;
    torvane::scalesim::ScaleSimulator sim(so);
    std::atomic<bool> stop{false};
    std::thread scale([&] { sim.serve(master, stop); });

    // Per product: a 53-byte frame out and a 4-byte "OK" back, 10 bits a byte,
    // and the fixed 3 ms pause before the rest of the "OK" is read.
    const double wireLimit = kProducts * (57.0 * 10.0 / kBaud + 0.003);
    std::printf("transmitter download: %d products to the simulator paced at %u baud\n", kProducts, kBaud);
    std::printf("wire limit: %.3f s (57 bytes x 10 bits at %u baud + 3 ms, per product)\n", wireLimit, kBaud);
    {
        // The transmitter's own share: the whole table read in one
        // transaction into product images, before the first frame.
        QElapsedTimer t;
        t.start();
        QString err;
        std::vector<ScalePlu> products;
        ReadPluTable(products, &err);
        const int rows = int(products.size());
        std::printf("read and fill %d rows without the line: %.1f ms (%.3f ms per product)\n", rows,
                    t.nsecsElapsed() / 1e6, t.nsecsElapsed() / 1e6 / std::max(1, rows));
    }
    double best = 0;
    int failures = 0;
    for (int r = 1; r <= runs; ++r) {
        QuietHost host;
        const int before = sim.stats().framesAccepted;
        QElapsedTimer t;
        t.start();
        RunPluDownload(host);
        const double s = t.nsecsElapsed() / 1e9;
        const int accepted = sim.stats().framesAccepted - before;
        const bool ok = host.last == QString::fromUtf8(text::kDownloadDone) && accepted == kProducts;
        if (!ok)
            ++failures;
        std::printf("run %d: %.3f s, %.2f ms per product, ratio %.3f%s\n", r, s, s * 1000 / kProducts, s / wireLimit,
                    ok ? "" : "  (FAILED: not every product acknowledged)");
        if (ok && (best == 0 || s < best))
            best = s;
    }
    stop = true;
    scale.join();
    ::close(master);
    if (best > 0)
        std::printf("best: %.3f s, ratio %.3f (target <= 1.05): %s\n", best, best / wireLimit,
                    best / wireLimit <= 1.05 ? "met" : "NOT met");
    return failures ? 1 : 0;
}
