// The port layer over pseudo-terminal pairs: states and error codes, the
// exclusive open, port names, line format, time-outs, purge and bounded
// transfers.
#include "PtyPair.h"
#include "Serial.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <termios.h>
#include <unistd.h>

using namespace torvane::scalelink;
using Clock = std::chrono::steady_clock;

namespace {

// Exposes the fired-event bits for the tests.
class ProbePort : public CSerial {
public:
    uint32_t fired() const { return firedEvents.load(); }
};

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

termios lineOf(const PtyPair &pty)
{
    // The slave's line settings, seen from the pair's own descriptor.
    termios tio{};
    ::tcgetattr(pty.slaveFd(), &tio);
    return tio;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.ok());
        ASSERT_TRUE(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    PtyPair m_pty;
    QTemporaryDir m_config;
};

} // namespace

TEST_F(SerialPortTest, EveryOperationOnAClosedPortFailsWithInvalidHandle)
{
    CSerialMFC port;
    uint8_t buf[4] = {};
    uint32_t count = 99;
    SerialOverlapped record;
    EXPECT_EQ(port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT), SerialErrorInvalidHandle);
    EXPECT_EQ(port.GetLastError(), SerialErrorInvalidHandle);
    EXPECT_EQ(port.SetEventChar('x', true), SerialErrorInvalidHandle);
    EXPECT_EQ(port.SetEventMask(EV_RXCHAR), SerialErrorInvalidHandle);
    EXPECT_EQ(port.WaitForEvent(&record, 10), SerialErrorInvalidHandle);
    EXPECT_EQ(port.SetHandshake(HandshakeOff), SerialErrorInvalidHandle);
    EXPECT_EQ(port.SetReadTimeouts(ReadTimed, 10), SerialErrorInvalidHandle);
    EXPECT_EQ(port.WriteText("x"), SerialErrorInvalidHandle);
    EXPECT_EQ(port.WriteBytes(buf, 4, &count), SerialErrorInvalidHandle);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(port.ReadBytes(buf, 4, &count), SerialErrorInvalidHandle);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.PurgeBuffers(), SerialErrorInvalidHandle);
    for (int32_t v : {port.GetBaudRate(), port.GetDataBits(), port.GetParity(), port.GetStopBits(), port.GetHandshake()})
        EXPECT_EQ(v, -1);
    EXPECT_EQ(port.GetLastError(), SerialErrorInvalidHandle);
    EXPECT_EQ(port.GetEventMask(), 0u);
    EXPECT_EQ(port.GetLastError(), SerialErrorInvalidHandle);
    EXPECT_EQ(port.GetEventChar(), 0);
    EXPECT_EQ(port.GetLastError(), SerialErrorInvalidHandle);
    // Closing and stopping what is not there succeed.
    EXPECT_EQ(port.ClosePort(), 0);
    EXPECT_EQ(port.GetLastError(), 0);
    EXPECT_EQ(port.StopListener(0), 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, PortNamesResolveThroughTheLinkFolder)
{
    const QString dir = DosDevicesDir();
    EXPECT_EQ(dir, m_config.path() + QStringLiteral("/torvane/dosdevices"));
    EXPECT_EQ(ResolveSerialPortName(QStringLiteral("COM3")), QStringLiteral("/dev/ttyS2"));
    EXPECT_EQ(ResolveSerialPortName(QStringLiteral("COM1")), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(ResolveSerialPortName(QStringLiteral("/tmp/some/path")), QStringLiteral("/tmp/some/path"));
    for (const char *bad : {"COM0", "COM10", "USB", "", "COM", "LPT1"})
        EXPECT_TRUE(ResolveSerialPortName(QString::fromLatin1(bad)).isEmpty()) << bad;

    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(QFile::link(m_pty.slavePath(), dir + QStringLiteral("/com3")));
    EXPECT_EQ(ResolveSerialPortName(QStringLiteral("COM3")), dir + QStringLiteral("/com3"));
    EXPECT_EQ(ResolveSerialPortName(QStringLiteral("com3")), dir + QStringLiteral("/com3"));

    CSerial port;
    ASSERT_EQ(port.OpenPort(QStringLiteral("COM3")), 0);
    ASSERT_EQ(port.WriteText("hi"), 0);
    EXPECT_EQ(m_pty.receive(2), (std::vector<uint8_t>{'h', 'i'}));
    port.ClosePort();

    // A link that points nowhere is a port that does not exist.
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/ttyX"), dir + QStringLiteral("/com4")));
    EXPECT_EQ(port.OpenPort(QStringLiteral("COM4")), ENOENT);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.OpenPort(QStringLiteral("USB")), ENOENT);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, OpenIsExclusiveForThisObjectOthersAndOtherProcesses)
{
    CSerial first;
    ASSERT_EQ(first.OpenPort(m_pty.slavePath()), 0);
    EXPECT_EQ(first.GetEventMask(), SerialDefaultEventMask);

    EXPECT_EQ(first.OpenPort(m_pty.slavePath()), SerialErrorAlreadyInitialized);
    EXPECT_EQ(first.GetLastError(), SerialErrorAlreadyInitialized);
    EXPECT_TRUE(first.IsOpen());

    CSerial second;
    EXPECT_EQ(second.OpenPort(m_pty.slavePath()), EBUSY);
    EXPECT_FALSE(second.IsOpen());

    // Another program (the simulator serving the same device) is turned away.
    QProcess other;
    other.start(qEnvironmentVariable("TORVANE_BIN_DIR") + QStringLiteral("/torvane-scalesim"),
                {QStringLiteral("--device"), m_pty.slavePath(), QStringLiteral("--quiet")});
    ASSERT_TRUE(other.waitForFinished(5000));
    EXPECT_EQ(other.exitCode(), 1);

    // The first user is undisturbed.
    ASSERT_EQ(first.WriteText("ok"), 0);
    EXPECT_EQ(m_pty.receive(2), (std::vector<uint8_t>{'o', 'k'}));

    // Closed, the device is free again for anyone.
    first.ClosePort();
    EXPECT_EQ(second.OpenPort(m_pty.slavePath()), 0);
}

TEST_F(SerialPortTest, LineFormatHandshakeAndModeChecks)
{
    CSerial port;
    ASSERT_EQ(port.OpenPort(m_pty.slavePath()), 0);
    ASSERT_EQ(port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT), 0);
    EXPECT_EQ(port.GetBaudRate(), 57600);
    EXPECT_EQ(port.GetDataBits(), 8);
    EXPECT_EQ(port.GetParity(), NOPARITY);
    EXPECT_EQ(port.GetStopBits(), ONESTOPBIT);
    termios tio = lineOf(m_pty);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
    EXPECT_EQ(tio.c_iflag & INPCK, 0u) << "parity checking off";
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    ASSERT_EQ(port.SetLineFormat(9600, 7, EVENPARITY, TWOSTOPBITS), 0);
    EXPECT_EQ(port.GetStopBits(), TWOSTOPBITS);
    EXPECT_EQ(port.GetBaudRate(), 9600);
    tio = lineOf(m_pty);
    EXPECT_NE(tio.c_iflag & INPCK, 0u) << "parity checking on";
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    // A pseudo-terminal always carries 8 bits without parity; where the line
    // keeps them, the queries report what was set.
    if (tio.c_cflag & PARENB) {
        EXPECT_EQ(port.GetParity(), EVENPARITY);
        EXPECT_EQ(port.GetDataBits(), 7);
    }
    // A rate the line cannot take is the platform's "invalid argument".
    EXPECT_EQ(port.SetLineFormat(12345, 8, NOPARITY, ONESTOPBIT), EINVAL);
    EXPECT_EQ(port.GetBaudRate(), 9600);

    ASSERT_EQ(port.SetHandshake(HandshakeHardware), 0);
    EXPECT_EQ(port.GetHandshake(), HandshakeHardware);
    EXPECT_NE(lineOf(m_pty).c_cflag & CRTSCTS, 0u);
    ASSERT_EQ(port.SetHandshake(HandshakeSoftware), 0);
    EXPECT_EQ(port.GetHandshake(), HandshakeSoftware);
    tio = lineOf(m_pty);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(tio.c_iflag & IXON, 0u);
    EXPECT_NE(tio.c_iflag & IXOFF, 0u);
    // Out-of-set modes change nothing.
    EXPECT_EQ(port.SetHandshake(3), SerialErrorInvalidArg);
    EXPECT_EQ(port.GetHandshake(), HandshakeSoftware);
    ASSERT_EQ(port.SetHandshake(HandshakeOff), 0);
    EXPECT_EQ(port.GetHandshake(), HandshakeOff);
    EXPECT_EQ(port.SetReadTimeouts(2, 10), SerialErrorInvalidArg);
    EXPECT_EQ(port.GetLastError(), SerialErrorInvalidArg);

    ASSERT_EQ(port.SetEventChar('\r', true), 0);
    EXPECT_EQ(port.GetEventChar(), '\r');
    EXPECT_EQ(port.GetEventMask(), SerialDefaultEventMask | EV_RXFLAG);
}

TEST_F(SerialPortTest, TimedReadsEndOnCountIntervalOrTotal)
{
    CSerial port;
    ASSERT_EQ(port.OpenPort(m_pty.slavePath(), 0, 0, true), 0);
    ASSERT_EQ(port.SetReadTimeouts(ReadTimed, 10), 0);
    uint8_t buf[16] = {};
    uint32_t got = 99;

    // Nothing on the line: a count of 0, and not before 1 + 10 ms.
    auto start = Clock::now();
    EXPECT_EQ(port.ReadBytes(buf, 1, &got), 0);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(msSince(start), 11);

    // Bytes already there: the read takes exactly what it asked for.
    m_pty.send(std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
    EXPECT_EQ(port.ReadBytes(buf, 4, &got), 0);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(port.ReadBytes(buf, 2, &got), 0);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buf[1], 6);

    // Two bytes then silence: the 100 ms gap ends the read, well before its
    // total of 10 + 1000 ms.
    ASSERT_EQ(port.SetReadTimeouts(ReadTimed, 1000), 0);
    m_pty.send(std::vector<uint8_t>{7, 8});
    start = Clock::now();
    EXPECT_EQ(port.ReadBytes(buf, 10, &got), 0);
    EXPECT_EQ(got, 2u);
    const long long gap = msSince(start);
    EXPECT_GE(gap, 100);
    EXPECT_LT(gap, 1000);

    // Without read time-outs a read waits for all its bytes; a bound on the
    // wait gives 1460 and leaves nothing running: the bytes sent afterwards
    // are all there for the next read.
    ASSERT_EQ(port.SetReadTimeouts(ReadUnbounded), 0);
    EXPECT_EQ(port.ReadBytes(buf, 3, &got, nullptr, 30), SerialErrorTimeout);
    EXPECT_EQ(port.GetLastError(), SerialErrorTimeout);
    m_pty.send(std::vector<uint8_t>{9, 10, 11});
    EXPECT_EQ(port.ReadBytes(buf, 3, &got), 0);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(buf[0], 9);
    EXPECT_EQ(buf[2], 11);
}

TEST_F(SerialPortTest, OverlappedRulesWritesAndPurge)
{
    CSerial plain;
    ASSERT_EQ(plain.OpenPort(m_pty.slavePath(), 0, 0, false), 0);
    SerialEvent done;
    SerialOverlapped record;
    record.event = &done;
    uint8_t data[3] = {'a', 'b', 'c'};
    uint32_t count = 0;
    EXPECT_EQ(plain.WriteBytes(data, 3, &count, &record), SerialErrorInvalidFunction);
    EXPECT_EQ(plain.WriteBytes(data, 3, &count, nullptr, 100), SerialErrorInvalidFunction);
    EXPECT_EQ(plain.ReadBytes(data, 3, &count, &record), SerialErrorInvalidFunction);
    EXPECT_EQ(plain.WaitForEvent(nullptr, 100), SerialErrorInvalidFunction);
    EXPECT_TRUE(m_pty.receiveAvailable().empty());
    EXPECT_EQ(plain.WriteBytes(data, 3, &count, nullptr, SerialInfinite), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(m_pty.receive(3), (std::vector<uint8_t>{'a', 'b', 'c'}));
    plain.ClosePort();

    ProbePort port;
    ASSERT_EQ(port.OpenPort(m_pty.slavePath(), 0, 0, true), 0);
    // A caller's record is complete, and its event set, when the call returns.
    m_pty.send(std::vector<uint8_t>{'x', 'y'});
    uint8_t in[2] = {};
    ASSERT_EQ(port.ReadBytes(in, 2, nullptr, &record), 0);
    EXPECT_TRUE(done.IsSet());
    EXPECT_EQ(record.transferred, 2u);
    EXPECT_EQ(in[1], 'y');

    // A line-event wait: nothing within its bound is 1460; a byte fires
    // EV_RXCHAR.
    EXPECT_EQ(port.WaitForEvent(nullptr, 30), SerialErrorTimeout);
    m_pty.send(std::vector<uint8_t>{'z'});
    EXPECT_EQ(port.WaitForEvent(nullptr, 5000), 0);
    EXPECT_EQ(port.fired() & EV_RXCHAR, EV_RXCHAR);

    // Purge drops what arrived; input-only purge too.
    m_pty.send(std::vector<uint8_t>{1, 2, 3});
    m_pty.receiveAvailable();
    ASSERT_EQ(port.PurgeBuffers(), 0);
    ASSERT_EQ(port.SetReadTimeouts(ReadTimed, 10), 0);
    EXPECT_EQ(port.ReadBytes(in, 1, &count), 0);
    EXPECT_EQ(count, 0u);
    m_pty.send(std::vector<uint8_t>{4, 5});
    ASSERT_EQ(port.PurgeInput(), 0);
    EXPECT_EQ(port.ReadBytes(in, 1, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.DrainOutput(1000), 0);

    // Nobody reads the other end: a bounded write gives 1460 with the count
    // of what did go out, and the port stays usable.
    std::vector<uint8_t> big(4 * 1024 * 1024, 0x55);
    EXPECT_EQ(port.WriteBytes(big.data(), static_cast<uint32_t>(big.size()), &count, nullptr, 50), SerialErrorTimeout);
    EXPECT_LT(count, big.size());
    m_pty.send(std::vector<uint8_t>{6});
    EXPECT_EQ(port.ReadBytes(in, 1, &count), 0);
    EXPECT_EQ(count, 1u);
}

TEST_F(SerialPortTest, AVanishedPeerIsAnErrorNotAHang)
{
    auto pty = std::make_unique<PtyPair>();
    CSerial port;
    ASSERT_EQ(port.OpenPort(pty->slavePath(), 0, 0, true), 0);
    ASSERT_EQ(port.SetReadTimeouts(ReadUnbounded), 0);
    pty.reset(); // the other end of the line goes away
    uint8_t buf[4];
    uint32_t got = 0;
    const int32_t rc = port.ReadBytes(buf, 4, &got, nullptr, 2000);
    EXPECT_NE(rc, 0);
    EXPECT_NE(rc, SerialErrorTimeout) << "the loss is reported at once";
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port.ClosePort(), 0);
}
