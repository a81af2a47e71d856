// Scales on the network over loopback: the simulator listening on TCP and
// pacing its line at 57600 baud (as the device server's serial side does).
//  - 500 products with SendPluFrame + AwaitOkReply over raw TCP and over
//    RFC 2217, against the wire limit 500 x (57 bytes x 10 bits / 57600 +
//    3 ms) = 6.45 s (target: within 1.05 x);
//  - four scales at once, one thread and one connection each, against one
//    scale alone (target: the slowest of the four within 1.05 x of one).
//
//   bench_scalelink_network [products]      (default 500)
#include "ScaleProtocol.h"
#include "Serial.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

bool startSimulator(QProcess &sim, const QString &listen, QString *address)
{
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/torvane-scalesim"),
              {QStringLiteral("--listen"), listen, QStringLiteral("--pace"), QStringLiteral("57600"),
               QStringLiteral("--quiet")});
    if (!sim.waitForStarted(5000))
        return false;
    while (sim.waitForReadyRead(5000) || sim.canReadLine()) {
        while (sim.canReadLine()) {
            const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("READY "))) {
                *address = line.mid(6);
                return true;
            }
        }
    }
    return false;
}

// Seconds for the download, or a negative number when it failed.
double download(const QString &address, int products)
{
    CSerialMFC port;
    if (port.OpenForWindow(address, static_cast<QWidget *>(nullptr)) != 0
        || port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT) != 0 || port.SetReadTimeouts(ReadTimed, 10) != 0) {
        std::fprintf(stderr, "bench_scalelink_network: cannot open %s (%d)\n", qPrintable(address),
                     port.GetLastError());
        return -1;
    }
    const auto start = Clock::now();
    for (int i = 1; i <= products; ++i) {
        ScalePlu plu;
        plu.number = uint16_t(i);
        plu.unitPrice = uint32_t(i * 10);
        plu.saleType = 1;
        plu.barcodeMode = 1;
        std::memcpy(plu.description, "PRODUTO", 7);
        WireClock::time_point began;
        if (!SendPluFrame(port, plu, &began) || !AwaitOkReply(port, began)) {
            std::fprintf(stderr, "bench_scalelink_network: product %d not acknowledged by %s\n", i,
                         qPrintable(address));
            return -1;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    port.ClosePort();
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int products = argc > 1 ? std::atoi(argv[1]) : 500;
    const double wire = products * (57 * 10.0 / 57600 + 0.003);

    std::vector<std::unique_ptr<QProcess>> sims;
    std::vector<QString> raw, rfc;
    for (int i = 0; i < 5; ++i) {
        auto &sim = sims.emplace_back(std::make_unique<QProcess>());
        QString address;
        if (!startSimulator(*sim, i == 4 ? QStringLiteral("rfc2217://127.0.0.1:0") : QStringLiteral("127.0.0.1:0"),
                            &address)) {
            std::fprintf(stderr, "bench_scalelink_network: cannot start torvane-scalesim\n");
            return 1;
        }
        (i == 4 ? rfc : raw).push_back(address);
    }

    std::printf("wire limit, %d products: %.3f s\n", products, wire);
    const double one = download(raw[0], products);
    const double viaRfc = download(rfc[0], products);
    if (one < 0 || viaRfc < 0)
        return 1;
    std::printf("raw TCP:   %.3f s (ratio %.3f, target <= 1.05)\n", one, one / wire);
    std::printf("RFC 2217:  %.3f s (ratio %.3f, target <= 1.05)\n", viaRfc, viaRfc / wire);

    std::vector<double> times(raw.size());
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (size_t i = 0; i < raw.size(); ++i)
        threads.emplace_back([&, i] { times[i] = download(raw[i], products); });
    for (auto &t : threads)
        t.join();
    const double all = std::chrono::duration<double>(Clock::now() - start).count();
    for (double t : times)
        if (t < 0)
            return 1;
    std::printf("four scales at once: %.3f s for all (slowest %.3f s), %.3f x one scale (target <= 1.05)\n", all,
                *std::max_element(times.begin(), times.end()), all / one);

    for (auto &sim : sims) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    const bool met = one / wire <= 1.05 && viaRfc / wire <= 1.05 && all / one <= 1.05;
    return met ? 0 : 2;
}
