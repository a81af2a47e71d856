// torvane-scalesim: plays the label-printing scale on a pseudo-terminal (or
// a serial device), so the transmitter can be run and tested without one.
//
// On start it prints, on stdout, one line per fact and flushes each:
//   LINK <link path> -> <device>   (with --link)
//   READY <device path>            the scale is listening
// Logs go to stderr (or --log FILE).  SIGINT / SIGTERM end it cleanly: the
// memory is saved (--save), the link removed, exit status 0.
#include "NetListener.h"
#include "ScaleSimulator.h"
#include "Serial.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

using torvane::scalesim::Options;
using torvane::scalesim::ScaleSimulator;

namespace {

std::atomic<bool> g_stop{false};

extern "C" void onSignal(int)
{
    g_stop.store(true);
}

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

// Status 2: a bad command line; 1: a device or file failure.
int fail(const QString &message, int status = 2)
{
    err() << "torvane-scalesim: " << message << Qt::endl;
    return status;
}

bool parseInt(const QCommandLineParser &parser, const QCommandLineOption &option, int min, int max, int *value,
              QString *error)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int v = parser.value(option).toInt(&ok);
    if (!ok || v < min || v > max) {
        *error = QStringLiteral("--%1 takes a whole number from %2 to %3")
                     .arg(option.names().constFirst())
                     .arg(min)
                     .arg(max);
        return false;
    }
    *value = v;
    return true;
}

speed_t speedFor(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

void makeRaw(int fd, int baud)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (speedFor(baud) != B0) {
        ::cfsetispeed(&tio, speedFor(baud));
        ::cfsetospeed(&tio, speedFor(baud));
    }
    ::tcsetattr(fd, TCSANOW, &tio);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvane-scalesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the label-printing scale on a serial line.\n"
        "Without --device it creates a pseudo-terminal and prints \"READY <slave path>\" on stdout; point the\n"
        "transmitter at that path, or use --link COMn so the port name COMn reaches it (it then prints\n"
        "\"LINK <link> -> <device>\" first).\n"
        "Answers \"DL\" frames with \"OK\" and keeps the products (500 slots, slot = PLU number); answers \"UL\"\n"
        "with the header 02 57 E5 and its slots, \"UR\" with 02 17 71 and the sales records of --sales.\n"
        "With --listen it is a scale on the network instead: it prints \"READY tcp://HOST:PORT\" (or rfc2217://)\n"
        "and takes one connection at a time, as a serial device server in front of the scale would.\n"
        "Every received frame is checked (STX, length, checksum, ETX) and logged on stderr.\n"
        "SIGINT/SIGTERM end it cleanly (memory saved with --save, link removed, status 0).\n"
        "Exit status: 0 done, 1 device or file failure, 2 bad command line."));
    parser.addHelpOption();
    parser.addVersionOption();

    const QCommandLineOption deviceOpt(QStringLiteral("device"),
                                       QStringLiteral("Serve this serial device instead of a new pseudo-terminal."),
                                       QStringLiteral("path"));
    const QCommandLineOption listenOpt(
        QStringLiteral("listen"),
        QStringLiteral("Be a scale on the network: listen on HOST:PORT (raw TCP, as a device server set to 57600 8N1 "
                       "or a scale with an Ethernet port) or rfc2217://HOST:PORT (an RFC 2217 device server: the "
                       "transmitter sets the line itself); port 0 takes a free one.  One connection at a time; the "
                       "memory outlives each."),
        QStringLiteral("[tcp://|rfc2217://]host:port"));
    const QCommandLineOption refuseOpt(
        QStringLiteral("refuse-settings"),
        QStringLiteral("Fault, with --listen rfc2217://: answer every line setting with 9600 baud, 7 bits, even "
                       "parity, as a device server that keeps its own settings."));
    const QCommandLineOption linkOpt(
        QStringLiteral("link"),
        QStringLiteral("Create the link ${XDG_CONFIG_HOME:-$HOME/.config}/torvane/dosdevices/comN to the device, so "
                       "the port name COMn (1 to 9) opens it; an old link there is replaced, the link is removed at "
                       "exit."),
        QStringLiteral("COMn"));
    const QCommandLineOption loadOpt(QStringLiteral("load"),
                                     QStringLiteral("Load the product memory from this CSV file at start."),
                                     QStringLiteral("file"));
    const QCommandLineOption saveOpt(QStringLiteral("save"),
                                     QStringLiteral("Save the product memory to this CSV file at exit."),
                                     QStringLiteral("file"));
    const QCommandLineOption saveEachOpt(QStringLiteral("save-each"),
                                         QStringLiteral("With --save: also save after every accepted DL frame."));
    const QCommandLineOption salesOpt(
        QStringLiteral("sales"),
        QStringLiteral("Sales records for UR, from this CSV file: pluNo,dateTime,value (dateTime YYYY-MM-DD "
                       "hh:mm:ss) or pluNo,yy,MM,dd,hh,mm,ss,value (date fields 0-99, or raw bytes 0xHH)."),
        QStringLiteral("file"));
    const QCommandLineOption paceOpt(
        QStringLiteral("pace"),
        QStringLiteral("Pace the line at this baud rate in both directions: every byte takes 10 bits of time "
                       "(use 57600 for the scale's line).  Without it, what the scale receives on a "
                       "pseudo-terminal still takes its time at 57600 (a frame is answered once it could have "
                       "arrived whole, as on the real line) and what it sends goes at once."),
        QStringLiteral("baud"));
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
                                     QStringLiteral("Line speed set on --device (default 57600)."),
                                     QStringLiteral("baud"), QStringLiteral("57600"));
    const QCommandLineOption delayOpt(QStringLiteral("reply-delay"),
                                      QStringLiteral("Wait this many milliseconds before every answer."),
                                      QStringLiteral("ms"));
    const QCommandLineOption noAnswerOpt(
        QStringLiteral("no-answer-from"),
        QStringLiteral("Fault: from the k-th DL frame of this run on (1-based), answer nothing and store nothing."),
        QStringLiteral("k"));
    const QCommandLineOption badReplyOpt(
        QStringLiteral("bad-reply-from"),
        QStringLiteral("Fault: from the k-th DL frame on, answer \"NG\" instead of \"OK\" and store nothing."),
        QStringLiteral("k"));
    const QCommandLineOption doubleReplyOpt(
        QStringLiteral("double-reply"),
        QStringLiteral("Fault: store the k-th DL frame of this run and answer it \"OK\" twice."),
        QStringLiteral("k"));
    const QCommandLineOption doubleGapOpt(
        QStringLiteral("double-reply-gap"),
        QStringLiteral("With --double-reply: the second \"OK\" goes this many milliseconds after the first, while "
                       "the scale goes on answering the frames that follow (default 0: right after it)."),
        QStringLiteral("ms"));
    const QCommandLineOption noHeaderOpt(QStringLiteral("no-header"),
                                         QStringLiteral("Fault: answer UL and UR with nothing at all."));
    const QCommandLineOption wrongHeaderOpt(
        QStringLiteral("wrong-header"),
        QStringLiteral("Fault: send the upload header with its last byte off by one (02 57 E6, 02 17 72)."));
    const QCommandLineOption noiseOpt(QStringLiteral("noise"),
                                      QStringLiteral("Fault: send n noise bytes (never 02) before each upload header."),
                                      QStringLiteral("n"));
    const QCommandLineOption shortSlotOpt(
        QStringLiteral("short-slot"),
        QStringLiteral("Fault: the k-th UL slot goes out one byte short and the stream stops there."),
        QStringLiteral("k"));
    const QCommandLineOption shortRecordOpt(
        QStringLiteral("short-record"),
        QStringLiteral("Fault: the k-th UR record goes out one byte short and the stream stops there."),
        QStringLiteral("k"));
    const QCommandLineOption occupiedOpt(
        QStringLiteral("occupied-only"),
        QStringLiteral("UL sends only the stored products, then an end slot numbered 65535 (default: all 500 slots, "
                       "numbered 1 to 500, empty ones holding only their number)."));
    const QCommandLineOption noEndOpt(
        QStringLiteral("no-end-marker"),
        QStringLiteral("UR stops after the last record (default: an end record numbered 65535 follows)."));
    const QCommandLineOption idleOpt(QStringLiteral("exit-after-idle"),
                                     QStringLiteral("Exit (status 0) after this many seconds without a received byte."),
                                     QStringLiteral("seconds"));
    const QCommandLineOption logOpt(QStringLiteral("log"),
                                    QStringLiteral("Append the log to this file instead of stderr."),
                                    QStringLiteral("file"));
    const QCommandLineOption quietOpt(QStringLiteral("quiet"), QStringLiteral("No log at all."));
    parser.addOptions({deviceOpt, listenOpt, refuseOpt, linkOpt, loadOpt, saveOpt, saveEachOpt, salesOpt, paceOpt, baudOpt, delayOpt,
                       noAnswerOpt, badReplyOpt, doubleReplyOpt, doubleGapOpt, noHeaderOpt, wrongHeaderOpt, noiseOpt, shortSlotOpt,
                       shortRecordOpt, occupiedOpt, noEndOpt, idleOpt, logOpt, quietOpt});
    // parse, not process: process ends the program with status 1 on a bad
    // option, the status the help text gives to device and file failures.
    if (!parser.parse(app.arguments()))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));

    Options options;
    int pace = 0, baud = 57600, idle = 0;
    QString error;
    if (!parseInt(parser, paceOpt, 0, 4000000, &pace, &error) || !parseInt(parser, baudOpt, 1, 4000000, &baud, &error)
        || !parseInt(parser, delayOpt, 0, 600000, &options.replyDelayMs, &error)
        || !parseInt(parser, noAnswerOpt, 1, 1000000, &options.noAnswerFrom, &error)
        || !parseInt(parser, badReplyOpt, 1, 1000000, &options.badReplyFrom, &error)
        || !parseInt(parser, doubleReplyOpt, 1, 1000000, &options.doubleReplyAt, &error)
        || !parseInt(parser, doubleGapOpt, 0, 600000, &options.doubleReplyGapMs, &error)
        || !parseInt(parser, noiseOpt, 0, 100000, &options.noiseBytes, &error)
        || !parseInt(parser, shortSlotOpt, 1, 100000, &options.shortSlot, &error)
        || !parseInt(parser, shortRecordOpt, 1, 100000, &options.shortRecord, &error)
        || !parseInt(parser, idleOpt, 1, 86400 * 365, &idle, &error))
        return fail(error);
    options.paceBaud = static_cast<uint32_t>(pace);
    // A real device's line paces what arrives by itself.
    if (parser.isSet(deviceOpt))
        options.receiveBaud = 0;
    options.noHeader = parser.isSet(noHeaderOpt);
    options.wrongHeader = parser.isSet(wrongHeaderOpt);
    options.occupiedOnly = parser.isSet(occupiedOpt);
    options.noEndMarker = parser.isSet(noEndOpt);
    if (parser.isSet(saveEachOpt) && !parser.isSet(saveOpt))
        return fail(QStringLiteral("--save-each needs --save FILE"));

    if (parser.isSet(listenOpt) && (parser.isSet(deviceOpt) || parser.isSet(linkOpt)))
        return fail(QStringLiteral("--listen serves the network: it goes without --device and --link"));
    if (parser.isSet(refuseOpt) && !parser.value(listenOpt).startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive))
        return fail(QStringLiteral("--refuse-settings needs --listen rfc2217://HOST:PORT"));
    int linkNumber = 0;
    if (parser.isSet(linkOpt)) {
        const QString name = parser.value(linkOpt);
        if (name.size() != 4 || !name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || name[3] < QLatin1Char('1')
            || name[3] > QLatin1Char('9'))
            return fail(QStringLiteral("--link takes a port name COM1 to COM9"));
        linkNumber = name[3].digitValue();
    }

    QElapsedTimer clock;
    clock.start();
    ScaleSimulator sim(options);
    QFile logFile;
    QTextStream logStream;
    if (!parser.isSet(quietOpt)) {
        if (parser.isSet(logOpt)) {
            logFile.setFileName(parser.value(logOpt));
            if (!logFile.open(QIODevice::Append | QIODevice::Text))
                return fail(QStringLiteral("cannot write the log %1: %2").arg(logFile.fileName(), logFile.errorString()),
                            1);
            logStream.setDevice(&logFile);
        }
        QTextStream *out = parser.isSet(logOpt) ? &logStream : &err();
        sim.setLogSink([out, &clock](const QString &line) {
            *out << QStringLiteral("%1 ").arg(clock.elapsed() / 1000.0, 9, 'f', 3) << line << Qt::endl;
        });
    }
    if (parser.isSet(loadOpt) && !sim.loadProducts(parser.value(loadOpt), &error))
        return fail(error, 1);
    if (parser.isSet(salesOpt) && !sim.loadSales(parser.value(salesOpt), &error))
        return fail(error, 1);
    const QString savePath = parser.value(saveOpt);
    if (parser.isSet(saveEachOpt)) {
        sim.setOnStored([&sim, savePath] {
            QString e;
            if (!sim.saveProducts(savePath, &e))
                err() << "torvane-scalesim: " << e << Qt::endl;
        });
    }

    // The line.
    int fd = -1;
    int slaveHolder = -1;
    QString devicePath;
    torvane::scalesim::NetListener listener;
    if (parser.isSet(listenOpt)) {
        if (!listener.open(parser.value(listenOpt), &error))
            return fail(error, 1);
        listener.setRefuseSettings(parser.isSet(refuseOpt));
        if (!parser.isSet(quietOpt))
            listener.setLogSink([&sim](const QString &line) { sim.logLine(line); });
        fd = listener.lineFd();
        devicePath = listener.address();
    } else if (parser.isSet(deviceOpt)) {
        devicePath = parser.value(deviceOpt);
        fd = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return fail(QStringLiteral("cannot open %1: %2").arg(devicePath, QString::fromLocal8Bit(strerror(errno))), 1);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return fail(QStringLiteral("%1 is in use by another program").arg(devicePath), 1);
        }
        makeRaw(fd, baud);
    } else {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0)
            return fail(QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno))),
                        1);
        devicePath = QString::fromLocal8Bit(name);
        // Keep the slave open ourselves: the master stays usable while the
        // transmitter closes and reopens the port, and the line is raw before
        // anyone opens it (no echo of the frames back to the transmitter).
        slaveHolder = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveHolder < 0)
            return fail(QStringLiteral("cannot open %1: %2").arg(devicePath, QString::fromLocal8Bit(strerror(errno))), 1);
        makeRaw(slaveHolder, baud);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }

    QTextStream out(stdout);
    QString linkPath;
    if (linkNumber) {
        const QString dir = torvane::scalelink::DosDevicesDir();
        linkPath = dir + QStringLiteral("/com%1").arg(linkNumber);
        QFileInfo existing(linkPath);
        if (existing.exists() && !existing.isSymLink())
            return fail(QStringLiteral("%1 exists and is not a link; not touching it").arg(linkPath), 1);
        if (!QDir().mkpath(dir))
            return fail(QStringLiteral("cannot create %1").arg(dir), 1);
        if (existing.isSymLink())
            QFile::remove(linkPath);
        if (::symlink(QFile::encodeName(devicePath).constData(), QFile::encodeName(linkPath).constData()) != 0)
            return fail(QStringLiteral("cannot create the link %1: %2")
                            .arg(linkPath, QString::fromLocal8Bit(strerror(errno))),
                        1);
        out << "LINK " << linkPath << " -> " << devicePath << Qt::endl;
    }

    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    out << "READY " << devicePath << Qt::endl;
    std::thread relay;
    if (parser.isSet(listenOpt))
        relay = std::thread([&listener] { listener.run(g_stop); });
    const int rc = sim.serve(fd, g_stop, idle * 1000);
    if (relay.joinable()) {
        g_stop.store(true); // also after --exit-after-idle
        relay.join();
    }

    int status = 0;
    if (rc != 0) {
        err() << "torvane-scalesim: the line failed: " << QString::fromLocal8Bit(strerror(rc)) << Qt::endl;
        status = 1;
    }
    if (!savePath.isEmpty() && !sim.saveProducts(savePath, &error)) {
        err() << "torvane-scalesim: " << error << Qt::endl;
        status = 1;
    }
    if (!linkPath.isEmpty() && QFileInfo(linkPath).symLinkTarget() == QFileInfo(devicePath).absoluteFilePath())
        QFile::remove(linkPath);
    const auto &st = sim.stats();
    if (!parser.isSet(quietOpt))
        err() << "torvane-scalesim: " << st.framesAccepted << " product(s) stored, " << st.framesRejected
              << " frame(s) rejected, " << st.uploads << " upload(s); " << sim.storedCount()
              << " slot(s) in memory" << Qt::endl;
    if (slaveHolder >= 0)
        ::close(slaveHolder);
    if (!parser.isSet(listenOpt))
        ::close(fd); // the listener closes its own
    return status;
}
