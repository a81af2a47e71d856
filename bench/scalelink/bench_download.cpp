// 500 products sent with SendPluFrame + AwaitOkReply to the simulator pacing
// the line at 57600 baud, against the wire limit: per product 57 bytes
// (53 out, 4 back) of 10 bits, plus the fixed 3 ms pause before the rest of
// the "OK" is read.  Also the two waits the transfer jobs rely on: an empty
// one-byte read and a full 50-poll wait for an answer that never comes.
//
//   bench_scalelink [products]      (default 500; simulator found beside it)
#include "ScaleProtocol.h"
#include "Serial.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <cstring>

using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool startSimulator(QProcess &sim, const QStringList &args, QString *device)
{
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/torvane-scalesim"), args);
    if (!sim.waitForStarted(5000))
        return false;
    while (sim.waitForReadyRead(5000) || sim.canReadLine()) {
        while (sim.canReadLine()) {
            const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("READY "))) {
                *device = line.mid(6);
                return true;
            }
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int products = argc > 1 ? std::atoi(argv[1]) : 500;

    QProcess sim;
    QString device;
    if (!startSimulator(sim, {QStringLiteral("--pace"), QStringLiteral("57600"), QStringLiteral("--quiet")}, &device)) {
        std::fprintf(stderr, "bench_scalelink: cannot start torvane-scalesim\n");
        return 1;
    }
    CSerialMFC port;
    if (port.OpenForWindow(device, static_cast<QWidget *>(nullptr)) != 0) {
        std::fprintf(stderr, "bench_scalelink: cannot open %s\n", qPrintable(device));
        return 1;
    }
    port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT);
    port.SetReadTimeouts(ReadTimed, 10);
    port.PurgeBuffers();

    // Empty reads: what each poll of the protocol costs when nothing comes.
    uint8_t byte;
    uint32_t got = 0;
    auto start = Clock::now();
    const int emptyReads = 20;
    for (int i = 0; i < emptyReads; ++i)
        port.ReadBytes(&byte, 1, &got);
    const double emptyRead = secondsSince(start) / emptyReads;

    start = Clock::now();
    const bool unexpected = bool(AwaitOkReply(port, {}));
    const double silentWait = secondsSince(start);

    int failed = 0;
    start = Clock::now();
    for (int n = 1; n <= products; ++n) {
        ScalePlu plu;
        plu.number = static_cast<uint16_t>(n);
        plu.prefix = 2;
        char code[8];
        std::snprintf(code, sizeof code, "%06d", n % 1000000);
        std::memcpy(plu.code, code, 6);
        std::snprintf(reinterpret_cast<char *>(plu.description), sizeof plu.description, "PRODUTO %d", n);
        plu.shelfLifeDays = 10;
        plu.tare = 20;
        plu.unitPrice = 100u * static_cast<uint32_t>(n);
        plu.saleType = 1;
        plu.barcodeMode = 1;
        WireClock::time_point sent;
        if (!SendPluFrame(port, plu, &sent) || !AwaitOkReply(port, sent))
            ++failed;
    }
    const double measured = secondsSince(start);

    // The way back: every slot of the memory on "UL", read as the product
    // upload reads it.
    start = Clock::now();
    int slotCount = 0;
    SendUploadRequest(port, "UL");
    if (AwaitUploadHeader(port, torvane::scalelink::kPluHeader[0], torvane::scalelink::kPluHeader[1])) {
        ScalePlu plu;
        while (slotCount < 500 && ReadPluSlot(port, plu))
            ++slotCount;
    }
    const double upload = secondsSince(start);
    port.ClosePort();
    sim.terminate();
    sim.waitForFinished(5000);

    const double perProduct = 57.0 * 10.0 / 57600.0 + 0.003;
    const double limit = products * perProduct;
    std::printf("empty 1-byte read (ReadTimed, 10):   %.2f ms (expected about 11 ms)\n", emptyRead * 1000);
    std::printf("AwaitOkReply with no answer (50 polls): %.0f ms%s\n", silentWait * 1000,
                unexpected ? "  [unexpected reply]" : "");
    std::printf("products sent:       %d (%d not acknowledged)\n", products, failed);
    std::printf("measured time:       %.3f s (%.2f ms per product)\n", measured, measured * 1000 / products);
    std::printf("wire limit:          %.3f s (%d x (57 bytes x 10 bits / 57600 baud + 3 ms))\n", limit, products);
    std::printf("ratio:               %.3f (target <= 1.05)\n", measured / limit);
    const double uploadWire = (6 + 3 + 500 * 45) * 10.0 / 57600.0;
    std::printf("upload of %d slots:  %.3f s, wire %.3f s, ratio %.3f\n", slotCount, upload, uploadWire,
                upload / uploadWire);
    return failed == 0 ? 0 : 1;
}
