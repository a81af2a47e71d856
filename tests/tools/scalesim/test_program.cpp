// torvane-scalesim as a program: started the way the transmitter's tests and
// the demo start it, reached through the port name COMn, driven with the
// protocol layer.
#include "CodePage.h"
#include "ScalePort.h"
#include "ScaleProtocol.h"
#include "Serial.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace torvane::scalelink;

namespace {

QString simulatorPath()
{
    return qEnvironmentVariable("TORVANE_BIN_DIR") + QStringLiteral("/torvane-scalesim");
}

// One simulator process with its own configuration folder, so its COMn link
// does not meet anyone else's.
class Simulator {
public:
    explicit Simulator(const QString &configHome) : m_configHome(configHome) {}
    ~Simulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start(const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
        m_process.setProcessEnvironment(env);
        m_process.setProgram(simulatorPath());
        m_process.setArguments(args);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        // Lines on stdout: optional "LINK ...", then "READY <device>".
        QByteArray pending;
        while (m_device.isEmpty()) {
            if (!m_process.canReadLine() && !m_process.waitForReadyRead(5000))
                return false;
            while (m_process.canReadLine()) {
                const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
                if (line.startsWith(QLatin1String("LINK ")))
                    m_linkLine = line;
                if (line.startsWith(QLatin1String("READY ")))
                    m_device = line.mid(6);
            }
        }
        return true;
    }

    // SIGTERM, then the exit status (or -1 when it does not end).
    int terminate()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QString device() const { return m_device; }
    QString linkLine() const { return m_linkLine; }
    QString log() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }
    QProcess &process() { return m_process; }

private:
    QString m_configHome;
    QProcess m_process;
    QString m_device;
    QString m_linkLine;
};

ScalePlu product(uint16_t number, const char *code, const QString &description, uint32_t price)
{
    ScalePlu plu;
    plu.number = number;
    plu.prefix = 2;
    std::memcpy(plu.code, code, 6);
    AnsiToField(description, plu.description, sizeof plu.description);
    plu.shelfLifeDays = 7;
    plu.tare = 20;
    plu.unitPrice = price;
    plu.saleType = 1;
    plu.barcodeMode = 2;
    return plu;
}

// Opens the port as every transfer job does.
int32_t openLikeAJob(CSerialMFC &port, const QString &name)
{
    const int32_t rc = port.OpenForWindow(name, static_cast<QWidget *>(nullptr), 0, 0, 0, 0);
    if (rc == 0) {
        port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT);
        port.SetReadTimeouts(ReadTimed, 10);
    }
    return rc;
}

class ScaleSimProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ScaleSimProgram, HelpDocumentsEveryOption)
{
    QProcess p;
    p.start(simulatorPath(), {QStringLiteral("--help")});
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(p.readAllStandardOutput());
    for (const char *option : {"--device", "--link", "--load", "--save", "--save-each", "--sales", "--pace", "--baud",
                               "--reply-delay", "--no-answer-from", "--bad-reply-from", "--double-reply", "--double-reply-gap",
                               "--no-header",
                               "--wrong-header", "--noise", "--short-slot", "--short-record", "--occupied-only",
                               "--no-end-marker", "--exit-after-idle", "--log", "--quiet"})
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;

    QProcess bad;
    bad.start(simulatorPath(), {QStringLiteral("--no-answer-from"), QStringLiteral("zero")});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(QString::fromLocal8Bit(bad.readAllStandardError()).contains(QLatin1String("--no-answer-from")));

    // The statuses the help text promises: 2 for any bad command line, 1 for
    // a file that cannot be read.
    QProcess unknown;
    unknown.start(simulatorPath(), {QStringLiteral("--no-such-option")});
    ASSERT_TRUE(unknown.waitForFinished(5000));
    EXPECT_EQ(unknown.exitCode(), 2);
    QProcess missing;
    missing.start(simulatorPath(), {QStringLiteral("--load"), path(QStringLiteral("absent.csv"))});
    ASSERT_TRUE(missing.waitForFinished(5000));
    EXPECT_EQ(missing.exitCode(), 1);
}

// A test program started by hand, without the variables ctest sets, still
// finds the simulator beside itself.
TEST_F(ScaleSimProgram, FoundWithoutTheTestEnvironment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("TORVANE_BIN_DIR"));
    env.remove(QStringLiteral("TORVANE_SOURCE_DIR"));
    QProcess self;
    self.setProcessEnvironment(env);
    self.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--gtest_filter=ScaleSimProgram.HelpDocumentsEveryOption")});
    ASSERT_TRUE(self.waitForFinished(30000));
    EXPECT_EQ(self.exitCode(), 0) << self.readAllStandardOutput().toStdString();
}

// The acceptance round trip: a download through the port name COM3 is given
// back on "UL", the sales come back on "UR", and SIGTERM saves the memory and
// removes the link.
TEST_F(ScaleSimProgram, DownloadComesBackOnUploadAndIsSavedAtExit)
{
    QFile sales(path(QStringLiteral("sales.csv")));
    ASSERT_TRUE(sales.open(QIODevice::WriteOnly));
    sales.write("pluNo,dateTime,value\n1,2024-03-15 09:30:05,1500\n3,2024-12-31 23:59:59,250\n");
    sales.close();

    Simulator sim(m_dir.path());
    ASSERT_TRUE(sim.start({QStringLiteral("--link"), QStringLiteral("COM3"), QStringLiteral("--save"),
                           path(QStringLiteral("memory.csv")), QStringLiteral("--sales"), sales.fileName(),
                           QStringLiteral("--occupied-only")}));
    const QString link = DosDevicesDir() + QStringLiteral("/com3");
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.device());
    EXPECT_EQ(ResolveSerialPortName(QStringLiteral("COM3")), link);

    const std::vector<ScalePlu> products = {product(1, "000101", QStringLiteral("BANANA PRATA"), 399),
                                            product(2, "000102", QStringLiteral("PÃO FRANCÊS"), 1290),
                                            product(3, "000103", QStringLiteral("AÇÚCAR"), 16777215)};
    ASSERT_EQ(openLikeAJob(theScalePort, QStringLiteral("COM3")), 0);
    EXPECT_EQ(theScalePort.DevicePath(), link);
    theScalePort.PurgeBuffers();
    for (const ScalePlu &p : products) {
        WireClock::time_point sent;
        SendPluFrame(theScalePort, p, &sent);
        ASSERT_TRUE(AwaitOkReply(theScalePort, sent)) << "product " << p.number;
    }
    EXPECT_EQ(theScalePort.ClosePort(), 0);

    CSerialMFC uploadPort;
    ASSERT_EQ(openLikeAJob(uploadPort, QStringLiteral("COM3")), 0);
    SendUploadRequest(uploadPort, "UL");
    ASSERT_TRUE(AwaitUploadHeader(uploadPort, kPluHeader[0], kPluHeader[1]));
    for (const ScalePlu &p : products) {
        ScalePlu back;
        ASSERT_TRUE(ReadPluSlot(uploadPort, back));
        EXPECT_EQ(back.number, p.number);
        EXPECT_EQ(std::memcmp(back.code, p.code, 6), 0);
        EXPECT_EQ(std::memcmp(back.description, p.description, 26), 0);
        EXPECT_EQ(back.unitPrice, p.unitPrice);
        EXPECT_EQ(back.tare, p.tare);
        EXPECT_EQ(back.shelfLifeDays, p.shelfLifeDays);
        EXPECT_EQ(back.saleType, p.saleType);
    }
    ScalePlu end;
    ASSERT_TRUE(ReadPluSlot(uploadPort, end));
    EXPECT_GT(end.number, 500);

    SendUploadRequest(uploadPort, "UR");
    ASSERT_TRUE(AwaitUploadHeader(uploadPort, kSaleHeader[0], kSaleHeader[1]));
    ScaleSale sale;
    ASSERT_TRUE(ReadSaleRecord(uploadPort, sale));
    EXPECT_EQ(sale.number, 1);
    EXPECT_EQ(sale.year, 24);
    EXPECT_EQ(sale.month, 3);
    EXPECT_EQ(sale.day, 15);
    EXPECT_EQ(sale.hour, 9);
    EXPECT_EQ(sale.minute, 30);
    EXPECT_EQ(sale.second, 5);
    EXPECT_EQ(sale.value, 1500u);
    ASSERT_TRUE(ReadSaleRecord(uploadPort, sale));
    EXPECT_EQ(sale.number, 3);
    ASSERT_TRUE(ReadSaleRecord(uploadPort, sale));
    EXPECT_EQ(sale.number, 65535);
    uploadPort.ClosePort();

    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    QFile saved(path(QStringLiteral("memory.csv")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(saved.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("2,2,000102,PÃO FRANCÊS,7,20,1290,1,2"))) << qPrintable(text);
    EXPECT_EQ(text.count(QLatin1Char('\n')), 4);
    const QString log = sim.log();
    EXPECT_TRUE(log.contains(QLatin1String("DL #3 plu=3"))) << qPrintable(log);
}

// Each injected fault gives false from the operation that meets it.
TEST_F(ScaleSimProgram, InjectedFaultsFailTheRightOperation)
{
    {
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--no-answer-from"), QStringLiteral("2"), QStringLiteral("--quiet")}));
        CSerialMFC port;
        ASSERT_EQ(openLikeAJob(port, sim.device()), 0);
        WireClock::time_point sent;
        SendPluFrame(port, product(1, "000001", QStringLiteral("A"), 1), &sent);
        EXPECT_TRUE(AwaitOkReply(port, sent));
        SendPluFrame(port, product(2, "000002", QStringLiteral("B"), 1), &sent);
        EXPECT_FALSE(AwaitOkReply(port, sent));
        port.ClosePort();
        EXPECT_EQ(sim.terminate(), 0);
    }
    {
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--wrong-header"), QStringLiteral("--quiet")}));
        CSerialMFC port;
        ASSERT_EQ(openLikeAJob(port, sim.device()), 0);
        SendUploadRequest(port, "UL");
        EXPECT_FALSE(AwaitUploadHeader(port, kPluHeader[0], kPluHeader[1]));
        port.ClosePort();
    }
    {
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--noise"), QStringLiteral("20"), QStringLiteral("--short-slot"),
                               QStringLiteral("2"), QStringLiteral("--quiet")}));
        CSerialMFC port;
        ASSERT_EQ(openLikeAJob(port, sim.device()), 0);
        SendUploadRequest(port, "UL");
        ASSERT_TRUE(AwaitUploadHeader(port, kPluHeader[0], kPluHeader[1]));
        ScalePlu slot;
        ASSERT_TRUE(ReadPluSlot(port, slot));
        EXPECT_EQ(slot.number, 1);
        ScalePlu keep = slot;
        EXPECT_FALSE(ReadPluSlot(port, slot));
        EXPECT_EQ(std::memcmp(&keep, &slot, sizeof slot), 0);
        port.ClosePort();
    }
    {
        // A slow scale within the polling window is fine; one beyond it
        // (about 0.6 s) is a missing answer.
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--reply-delay"), QStringLiteral("150"), QStringLiteral("--quiet")}));
        CSerialMFC port;
        ASSERT_EQ(openLikeAJob(port, sim.device()), 0);
        WireClock::time_point sent;
        SendPluFrame(port, product(1, "000001", QStringLiteral("A"), 1), &sent);
        EXPECT_TRUE(AwaitOkReply(port, sent));
        port.ClosePort();
    }
    {
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--reply-delay"), QStringLiteral("1500"), QStringLiteral("--quiet")}));
        CSerialMFC port;
        ASSERT_EQ(openLikeAJob(port, sim.device()), 0);
        SendUploadRequest(port, "UR");
        EXPECT_FALSE(AwaitUploadHeader(port, kSaleHeader[0], kSaleHeader[1]));
        port.ClosePort();
    }
    {
        QFile sales(path(QStringLiteral("two-sales.csv")));
        ASSERT_TRUE(sales.open(QIODevice::WriteOnly));
        sales.write("1,2024-03-15 09:30:05,1500\n2,2024-03-15 09:31:00,20\n");
        sales.close();
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--sales"), sales.fileName(), QStringLiteral("--short-record"),
                               QStringLiteral("2"), QStringLiteral("--pace"), QStringLiteral("57600"),
                               QStringLiteral("--quiet")}));
        CSerialMFC port;
        ASSERT_EQ(openLikeAJob(port, sim.device()), 0);
        SendUploadRequest(port, "UR");
        ASSERT_TRUE(AwaitUploadHeader(port, kSaleHeader[0], kSaleHeader[1]));
        ScaleSale sale;
        ASSERT_TRUE(ReadSaleRecord(port, sale));
        EXPECT_EQ(sale.value, 1500u);
        EXPECT_FALSE(ReadSaleRecord(port, sale));
        EXPECT_EQ(sale.value, 1500u);
        port.ClosePort();
    }
    {
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--no-header"), QStringLiteral("--quiet")}));
        CSerialMFC port;
        ASSERT_EQ(openLikeAJob(port, sim.device()), 0);
        SendUploadRequest(port, "UL");
        EXPECT_FALSE(AwaitUploadHeader(port, kPluHeader[0], kPluHeader[1]));
        port.ClosePort();
    }
    {
        Simulator sim(m_dir.path());
        ASSERT_TRUE(sim.start({QStringLiteral("--exit-after-idle"), QStringLiteral("1"), QStringLiteral("--quiet")}));
        ASSERT_TRUE(sim.process().waitForFinished(10000));
        EXPECT_EQ(sim.process().exitCode(), 0);
    }
}
