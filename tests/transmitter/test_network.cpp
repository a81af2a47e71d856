// Scales on the network: the simulator on a pseudo-terminal behind a real
// serial device server (ser2net, raw TCP and RFC 2217), driven through the
// transmitter's window and through torvane-transfer's runner; a server that
// goes away half-way, addresses that lead nowhere, a server that keeps its
// own line settings, a scale that answers at once, one user per address.
//
// ser2net is Debian's package (scripts/install-deps.sh).  Without it the
// tests that need it are skipped on a developer's machine and fail in CI.
#include "CommandLine.h"
#include "DataSource.h"
#include "NetListener.h"
#include "ScaleRunner.h"
#include "SimulatorOnPty.h"
#include "TorvaneDlg.h"
#include "TransmitterTestSupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

using namespace torvane::transfer;
using torvane::transmitter::CtorvaneDlg;
using torvane::transmitter::MessageIcon;
using torvane::transmitter::MessagePresenter;

namespace {

// A port nothing listens on: bound, read, closed.
uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// ser2net in the foreground with a configuration of its own, serving one
// device on 127.0.0.1.
class Ser2net {
public:
    static QString program() { return QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin", "/sbin"}); }

    Ser2net(const QString &dir, const QString &device, bool rfc2217)
    {
        for (int attempt = 0; attempt < 5 && !m_running; ++attempt) {
            m_port = freePort();
            const QString accepter = rfc2217 ? QStringLiteral("telnet(rfc2217),tcp,127.0.0.1,%1").arg(m_port)
                                             : QStringLiteral("tcp,127.0.0.1,%1").arg(m_port);
            QFile yaml(dir + QStringLiteral("/ser2net.yaml"));
            yaml.open(QIODevice::WriteOnly | QIODevice::Truncate);
            yaml.write(QStringLiteral("connection: &scale\n"
                                      "  accepter: %1\n"
                                      "  connector: serialdev,%2,57600n81,local\n"
                                      "  options:\n"
                                      "    kickolduser: false\n")
                           .arg(accepter, device)
                           .toUtf8());
            yaml.close();
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            // -n: foreground, -u: no UUCP lock files, its own pid file.
            m_process.start(program(), {"-n", "-u", "-c", yaml.fileName(), "-P", dir + QStringLiteral("/ser2net.pid")});
            if (!m_process.waitForStarted(5000))
                return;
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 5000 && m_process.state() == QProcess::Running && !listening())
                QThread::msleep(20);
            m_running = m_process.state() == QProcess::Running && listening();
            if (!m_running)
                stop();
        }
        m_address = QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(rfc2217 ? "rfc2217" : "tcp")).arg(m_port);
    }
    ~Ser2net() { stop(); }
    bool running() const { return m_running; }
    QString address() const { return m_address; }
    QByteArray output() { return m_process.readAll(); }
    // From any thread: ends the server at once (stop() reaps it later).
    void pullThePlug() { ::kill(pid_t(m_process.processId()), SIGKILL); }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(2000);
        }
        m_running = false;
    }

private:
    bool listening() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(m_port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    QProcess m_process;
    uint16_t m_port = 0;
    bool m_running = false;
    QString m_address;
};

#define REQUIRE_SER2NET()                                                                                          \
    do {                                                                                                           \
        if (Ser2net::program().isEmpty()) {                                                                        \
            if (qEnvironmentVariableIsSet("CI"))                                                                   \
                FAIL() << "ser2net is not installed (scripts/install-deps.sh installs it)";                        \
            GTEST_SKIP() << "ser2net is not installed";                                                            \
        }                                                                                                          \
    } while (0)

// Answers the address question, then every box.
class Presenter : public MessagePresenter {
public:
    void showMessage(QWidget *, const QString &, const QString &text, MessageIcon) override { shown << text; }
    bool askText(QWidget *, const QString &, const QString &, QString *text) override
    {
        if (answers.isEmpty())
            return false;
        *text = answers.takeFirst();
        return true;
    }
    QStringList answers;
    QStringList shown;
};

template <typename Pred>
bool waitFor(Pred pred, int limitMs = 60000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

class NetworkScales : public ::testing::Test {
protected:
    static constexpr int kProducts = 40;
    ttest::WorkDir wd;

    void SetUp() override
    {
        ASSERT_TRUE(ttest::makeDatabase(kProducts));
        ttest::Sql sql;
        ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET Codigo = pluNo, pluCode = '' || (100000 + pluNo), "
                                            "pluDesc = 'PRODUTO ' || pluNo, unitPrice = pluNo * 10")));
        // 0xFF in the frame and in the slot read back: a price of 0xFFFF
        // hundredths and a "ÿ" (0xFF in code page 1252).
        ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 65535, pluDesc = 'CAFÉ ÿÿ' WHERE pluNo = 7")));
    }
    void TearDown() override { torvane::transmitter::SetDatabaseFileOverride(QString()); }

    std::vector<ScaleResult> run(const QStringList &args, const std::atomic<bool> *stop = nullptr,
                                 ProgressSink progress = {})
    {
        const ParseResult p = ParseCommandLine(args);
        EXPECT_TRUE(p.error.isEmpty()) << p.error.toStdString();
        RunSettings settings;
        settings.command = p.command;
        settings.databasePath = QFileInfo(QStringLiteral("vendabase.accdb")).absoluteFilePath();
        settings.stop = stop;
        settings.progress = std::move(progress);
        torvane::transmitter::SetDatabaseFileOverride(settings.databasePath);
        return RunScales(settings);
    }
    static torvane::scalesim::Options scaleOptions()
    {
        torvane::scalesim::Options o;
        o.occupiedOnly = true; // the upload stops after the products sent
        return o;
    }
    static QString ptyOf(const QString &dosDevices) { return QFileInfo(dosDevices + "/com1").symLinkTarget(); }
};

class Ser2netModes : public NetworkScales, public ::testing::WithParamInterface<bool> {};

} // namespace

// Every transfer through a real device server: the command's send, check,
// send --changed, products and sales, then the window's three buttons with
// the address typed into its menu.
TEST_P(Ser2netModes, EveryTransferThroughTheCommandAndTheWindow)
{
    REQUIRE_SER2NET();
    SimulatorOnPty scale(wd.dosDevices(), 1, scaleOptions());
    ASSERT_TRUE(scale.ok());
    scale.sim.setSales({torvane::scalelink::EncodeSaleRecord({7, 24, 3, 15, 9, 30, 5, 1500})});
    scale.start();
    Ser2net server(wd.path(), ptyOf(wd.dosDevices()), GetParam());
    ASSERT_TRUE(server.running()) << server.output().toStdString();
    const QString port = QStringLiteral("frios=") + server.address();

    auto r = run({"send", "--port", port});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].outcome, Outcome::Done) << r[0].cause.toStdString();
    EXPECT_EQ(r[0].count, kProducts);
    r = run({"check", "--port", port});
    EXPECT_EQ(r[0].outcome, Outcome::Done) << r[0].cause.toStdString();
    EXPECT_TRUE(r[0].differences.empty());
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = unitPrice + 1 WHERE pluNo IN (3, 9)")));
    r = run({"send", "--changed", "--port", port});
    EXPECT_EQ(r[0].outcome, Outcome::Done) << r[0].cause.toStdString();
    EXPECT_EQ(r[0].count, 2);
    r = run({"products", "--port", port});
    EXPECT_EQ(r[0].outcome, Outcome::Done) << r[0].cause.toStdString();
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT unitPrice || pluDesc FROM PLU_UPLOADED WHERE pluNo = 7")).toString(),
              QStringLiteral("65535CAFÉ ÿÿ"));
    r = run({"sales", "--port", port});
    EXPECT_EQ(r[0].outcome, Outcome::Done) << r[0].cause.toStdString();
    EXPECT_EQ(r[0].count, 1);
    torvane::transmitter::SetDatabaseFileOverride(QString());

    Presenter presenter;
    CtorvaneDlg dlg(&presenter);
    presenter.answers << server.address();
    dlg.commandAction(torvane::transmitter::ID_NETWORK)->trigger();
    EXPECT_EQ(dlg.portName(), server.address());
    QFile ini(QStringLiteral("para.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(ini.readAll(), "COM1\n" + server.address().toUtf8());
    EXPECT_EQ(CtorvaneDlg(&presenter).portName(), server.address()); // the next start restores it
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Transmissão efetuada com sucesso!"));
    dlg.OnUploadPlu();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("upload PLU finished, total %1 !").arg(kProducts));
    dlg.OnUploadRecord();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("upload REC finished, total 1 !"));
    EXPECT_TRUE(presenter.shown.isEmpty()) << presenter.shown.join(" / ").toStdString();

    scale.stop();
    EXPECT_EQ(scale.sim.stats().framesAccepted, 2 * kProducts + 2);
    EXPECT_EQ(scale.sim.stats().framesRejected, 0);
    const auto &slot = scale.sim.slot(7);
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(slot->at(41), 0xFF); // the price's two low bytes
    EXPECT_EQ(slot->at(42), 0xFF);
}

INSTANTIATE_TEST_SUITE_P(RawAndRfc2217, Ser2netModes, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "rfc2217" : "raw"; });

// The device server stops while products go out: the transfer ends at the
// next product with the connection's own cause, as a broken-off transfer.
TEST_F(NetworkScales, DeviceServerStoppedHalfWayEndsTheTransfer)
{
    REQUIRE_SER2NET();
    SimulatorOnPty scale(wd.dosDevices(), 1, scaleOptions());
    ASSERT_TRUE(scale.ok());
    scale.start();
    Ser2net server(wd.path(), ptyOf(wd.dosDevices()), false);
    ASSERT_TRUE(server.running());
    auto r = run({"send", "--port", server.address()}, nullptr, [&](const ScaleTarget &, int pos, int) {
        if (pos == 10)
            server.pullThePlug();
    });
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].outcome, Outcome::NoAnswer);
    EXPECT_EQ(ExitCodeOf(r), ExitNoAnswer);
    EXPECT_GE(r[0].count, 10);
    EXPECT_LT(r[0].count, kProducts);
    EXPECT_TRUE(r[0].cause.contains(QStringLiteral("A comunicação pela porta %1 falhou").arg(server.address())))
        << r[0].cause.toStdString();
    EXPECT_TRUE(r[0].cause.contains(QStringLiteral("conexão"))) << r[0].cause.toStdString();
}

// A port nothing listens on and a name that does not exist end quickly,
// each with its own cause, as a port that cannot be opened.
TEST_F(NetworkScales, WrongAddressesFailFastWithTheirCause)
{
    const struct {
        QString port;
        QString cause;
    } cases[] = {
        {QStringLiteral("tcp://127.0.0.1:%1").arg(freePort()), QStringLiteral("a conexão foi recusada")},
        {QStringLiteral("rfc2217://balanca-que-nao-existe.invalid:4001"), QStringLiteral("o nome não foi encontrado")},
    };
    for (const auto &c : cases) {
        QElapsedTimer t;
        t.start();
        const auto r = run({"send", "--port", c.port});
        EXPECT_LT(t.elapsed(), 5000) << c.port.toStdString();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(ExitCodeOf(r), ExitPortFailed);
        EXPECT_TRUE(r[0].cause.contains(c.cause)) << r[0].cause.toStdString();
    }
}

// A device server that keeps a line other than 57600 8N1 is refused before
// any frame; one that answers at once (a scale with an Ethernet port, no
// line in between) is the scale's true answer over raw TCP.
TEST_F(NetworkScales, DeviceServerSettingsAndAScaleWithoutALine)
{
    std::atomic<bool> stop{false};
    auto serve = [&](const QString &address, bool refuse) {
        auto listener = std::make_unique<torvane::scalesim::NetListener>();
        QString error;
        EXPECT_TRUE(listener->open(address, &error)) << error.toStdString();
        listener->setRefuseSettings(refuse);
        return listener;
    };
    torvane::scalesim::Options atOnce = scaleOptions();
    atOnce.receiveBaud = 0;
    torvane::scalesim::ScaleSimulator refusing(scaleOptions()), ethernet(atOnce);
    auto a = serve(QStringLiteral("rfc2217://127.0.0.1:0"), true);
    auto b = serve(QStringLiteral("tcp://127.0.0.1:0"), false);
    std::thread threads[] = {std::thread([&] { a->run(stop); }), std::thread([&] { refusing.serve(a->lineFd(), stop); }),
                             std::thread([&] { b->run(stop); }), std::thread([&] { ethernet.serve(b->lineFd(), stop); })};

    auto r = run({"send", "--port", a->address(), "--port", b->address()});
    stop = true;
    for (auto &t : threads)
        t.join();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].outcome, Outcome::PortFailed);
    EXPECT_TRUE(r[0].cause.contains(QStringLiteral("não confirmou 57600 baud"))) << r[0].cause.toStdString();
    EXPECT_EQ(refusing.stats().framesAccepted, 0);
    EXPECT_EQ(r[1].outcome, Outcome::Done) << r[1].cause.toStdString();
    EXPECT_EQ(ethernet.stats().framesAccepted, kProducts);
}

// One user per address, however it is spelled, in this program and in
// another one (torvane-transfer is turned away while the port is held).
TEST_F(NetworkScales, OneUserPerAddress)
{
    std::atomic<bool> stop{false};
    torvane::scalesim::NetListener listener;
    QString error;
    ASSERT_TRUE(listener.open(QStringLiteral("127.0.0.1:0"), &error));
    std::thread relay([&] { listener.run(stop); });
    CSerialMFC first, second;
    EXPECT_EQ(first.OpenPort(listener.address()), 0);
    EXPECT_EQ(second.OpenPort(QStringLiteral("RFC2217://127.0.0.1:%1").arg(listener.port())), EBUSY);
    QProcess transfer;
    transfer.start(qEnvironmentVariable("TORVANE_BIN_DIR") + QStringLiteral("/torvane-transfer"),
                   {"send", "--port", listener.address()});
    ASSERT_TRUE(transfer.waitForFinished(20000));
    EXPECT_EQ(transfer.exitCode(), ExitPortFailed);
    EXPECT_TRUE(QString::fromUtf8(transfer.readAll()).contains(QStringLiteral("em uso")));
    first.ClosePort();
    EXPECT_EQ(second.OpenPort(listener.address()), 0);
    second.ClosePort();
    stop = true;
    relay.join();
}
