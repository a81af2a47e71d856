// The POSIX (Linux) implementation of the serial platform: termios for the
// line format, our own timing on ppoll for the read and write time-outs,
// tcflush for the purge, flock + TIOCEXCL for the exclusive open, and a pipe
// that wakes a pending line-event wait when the mask changes.
#ifndef _WIN32

#include "Serial.h"
#include "SerialPlatform.h"
#include "TransferDeadlines.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using torvane::scalelink::platform::Clock;

struct TtyDevice final : SerialDevice {
    ~TtyDevice() override;
    QString path() const override { return devicePath; }
    int32_t setQueueSizes(uint32_t inQueue, uint32_t outQueue) override;
    int32_t applyDefaultConfig() override;
    int32_t getLineState(LineState *state) override;
    int32_t setLineState(const LineState &state) override;
    int32_t getTimeouts(Timeouts *timeouts) override;
    int32_t setTimeouts(const Timeouts &timeouts) override;
    int32_t setEventMask(uint32_t mask) override;
    int32_t waitEvent(uint32_t *fired, uint32_t timeout) override;
    int32_t clearErrors(uint32_t *errorFlags) override;
    int32_t purge(bool transmit, bool receive) override;
    int32_t drain(uint32_t timeout) override;
    int32_t inputQueued(uint32_t *count) override;
    int32_t read(void *buffer, uint32_t count, uint32_t *transferred, uint32_t callerTimeout) override;
    int32_t write(const void *data, uint32_t count, uint32_t *transferred, uint32_t callerTimeout) override;

    int fd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    // Line-event waits: the device edge-triggered (each arrival is one
    // event, as "a byte arrived" should be), the wake pipe level-triggered.
    int epollFd = -1;
    QString devicePath;
    std::atomic<uint32_t> mask{0};
    // Bumped by every mask change; a line-event wait completes when it moves.
    std::atomic<uint64_t> maskGeneration{0};
    // What termios cannot hold: kept beside it and reported back.
    std::mutex shadowMutex;
    uint8_t eventChar = 0;
    bool outxDsrFlow = false;
    uint8_t dtrControl = torvane::scalelink::platform::kControlEnable;
    uint8_t rtsControl = torvane::scalelink::platform::kControlEnable;
    torvane::scalelink::platform::Timeouts timeouts;
    // A byte arrived that the wait which saw it could not report (it was
    // completing for a mask change): the next wait reports it.
    std::atomic<bool> pendingInput{false};
    // Listener bookkeeping (listener thread only).
    bool haveCounts = false;
    serial_icounter_struct counts{};
};

namespace torvane::scalelink::platform {

namespace {

// Two errno values equal codes of the layer's own; move them aside so a
// caller never mistakes a platform failure for "invalid function" (1) or
// "port not open" (6).
int32_t platformCode(int err)
{
    if (err == EPERM)
        return EACCES;
    if (err == ENXIO)
        return ENODEV;
    return err == 0 ? EIO : err;
}

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> speedCode(uint32_t rate)
{
    for (const auto &e : kBauds)
        if (e.rate == rate)
            return e.code;
    return std::nullopt;
}

uint32_t speedRate(speed_t code)
{
    for (const auto &e : kBauds)
        if (e.code == code)
            return e.rate;
    return 0;
}

// Waits for fd readiness until `until` (none: no limit); also returns when the
// wake pipe has data if wakeFd >= 0.  Returns poll's revents for fd, or 0 on
// time-out; -1 with errno on failure.
int waitFd(int fd, short events, Deadline until, int wakeFd = -1, bool *woken = nullptr)
{
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const nfds_t n = wakeFd >= 0 ? 2 : 1;
        timespec ts{};
        timespec *tsp = nullptr;
        if (until) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*until - Clock::now()).count();
            if (left < 0)
                left = 0;
            ts.tv_sec = static_cast<time_t>(left / 1000000000);
            ts.tv_nsec = static_cast<long>(left % 1000000000);
            tsp = &ts;
        }
        const int r = ::ppoll(fds, n, tsp, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (woken && n == 2 && (fds[1].revents & POLLIN))
            *woken = true;
        return fds[0].revents;
    }
}

void drainWakePipe(int fd)
{
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

} // namespace

QString dosDevicesDir()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/torvane/dosdevices");
}

QString resolvePortName(const QString &portName)
{
    if (portName.contains(QLatin1Char('/')))
        return portName;
    // "COM1".."COM9", any case.  (Parsed by hand: jobs on two threads may
    // resolve names at the same moment.)
    if (portName.size() != 4 || !portName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return QString();
    const QChar digit = portName.at(3);
    if (digit < QLatin1Char('1') || digit > QLatin1Char('9'))
        return QString();
    const int n = digit.unicode() - '0';
    const QString link = dosDevicesDir() + QStringLiteral("/com%1").arg(n);
    // The link itself counts, even when it points nowhere (the open then
    // reports that the device does not exist).
    if (QFileInfo(link).isSymLink() || QFileInfo::exists(link))
        return link;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

int32_t openDevice(const QString &path, SerialDevice **device)
{
    *device = nullptr;
    if (path.isEmpty())
        return ENOENT;
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return platformCode(errno);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        ::close(fd);
        return platformCode(err);
    }
    // One user at a time, in this process or another.  flock covers every
    // open file description; TIOCEXCL also turns away programs that do not
    // take the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? EBUSY : platformCode(err);
    }
    ::ioctl(fd, TIOCEXCL);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        const int err = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return platformCode(err);
    }
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event lineEv{};
    lineEv.events = EPOLLIN | EPOLLET;
    lineEv.data.fd = fd;
    epoll_event wakeEv{};
    wakeEv.events = EPOLLIN;
    wakeEv.data.fd = pipeFds[0];
    if (ep < 0 || ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &lineEv) != 0
        || ::epoll_ctl(ep, EPOLL_CTL_ADD, pipeFds[0], &wakeEv) != 0) {
        const int err = errno;
        if (ep >= 0)
            ::close(ep);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return platformCode(err);
    }
    auto *d = new TtyDevice;
    d->fd = fd;
    d->wakeRead = pipeFds[0];
    d->wakeWrite = pipeFds[1];
    d->epollFd = ep;
    d->devicePath = path;
    *device = d;
    return 0;
}

void closeDevice(TtyDevice *device)
{
    if (!device)
        return;
    // Clear the exclusive flag: on a pseudo-terminal it would outlive this
    // open and lock everyone else out.
    ::ioctl(device->fd, TIOCNXCL);
    ::close(device->fd);
    ::close(device->epollFd);
    ::close(device->wakeRead);
    ::close(device->wakeWrite);
}

int32_t setQueueSizes(TtyDevice *, uint32_t, uint32_t)
{
    // The tty layer sizes its own queues; there is nothing to ask for.
    return 0;
}

int32_t applyDefaultConfig(TtyDevice *device)
{
    // The port's default configuration: raw bytes, receiver on, modem
    // status lines ignored, no flow control; the speed stays as it is.
    termios tio{};
    if (::tcgetattr(device->fd, &tio) != 0)
        return platformCode(errno);
    const speed_t in = cfgetispeed(&tio), out = cfgetospeed(&tio);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | HUPCL);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    // With O_NONBLOCK this makes an empty read say EAGAIN, so that end of
    // file (0) only ever means a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, in);
    ::cfsetospeed(&tio, out);
    if (::tcsetattr(device->fd, TCSANOW, &tio) != 0)
        return platformCode(errno);
    return 0;
}

int32_t getLineState(TtyDevice *device, LineState *state)
{
    termios tio{};
    if (::tcgetattr(device->fd, &tio) != 0)
        return platformCode(errno);
    LineState s;
    s.baudRate = speedRate(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5: s.byteSize = 5; break;
    case CS6: s.byteSize = 6; break;
    case CS7: s.byteSize = 7; break;
    default: s.byteSize = 8; break;
    }
    if (tio.c_cflag & PARENB) {
        if (tio.c_cflag & CMSPAR)
            s.parity = (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
        else
            s.parity = (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    } else {
        s.parity = NOPARITY;
    }
    s.parityCheck = (tio.c_iflag & INPCK) != 0;
    s.stopBits = (tio.c_cflag & CSTOPB) ? (s.byteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
    s.outxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    s.outX = (tio.c_iflag & IXON) != 0;
    s.inX = (tio.c_iflag & IXOFF) != 0;
    {
        std::lock_guard<std::mutex> lock(device->shadowMutex);
        s.eventChar = device->eventChar;
        s.outxDsrFlow = device->outxDsrFlow;
        s.dtrControl = device->dtrControl;
        s.rtsControl = device->rtsControl;
    }
    *state = s;
    return 0;
}

int32_t setLineState(TtyDevice *device, const LineState &s)
{
    termios tio{};
    if (::tcgetattr(device->fd, &tio) != 0)
        return platformCode(errno);
    const auto speed = speedCode(s.baudRate);
    if (!speed)
        return EINVAL;
    tcflag_t size = 0;
    switch (s.byteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return EINVAL;
    }
    if (s.parity > SPACEPARITY || s.stopBits > TWOSTOPBITS)
        return EINVAL;
    // One and a half stop bits exist only with five data bits; with five
    // data bits two stop bits are not available.
    if ((s.stopBits == ONE5STOPBITS) != (s.byteSize == 5 && s.stopBits != ONESTOPBIT))
        return EINVAL;
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)) | size;
    switch (s.parity) {
    case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: tio.c_cflag |= PARENB; break;
    case MARKPARITY: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.stopBits != ONESTOPBIT)
        tio.c_cflag |= CSTOPB;
    if (s.outxCtsFlow)
        tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(INPCK | IXON | IXOFF);
    if (s.parityCheck)
        tio.c_iflag |= INPCK;
    if (s.outX)
        tio.c_iflag |= IXON;
    if (s.inX)
        tio.c_iflag |= IXOFF;
    ::cfsetispeed(&tio, *speed);
    ::cfsetospeed(&tio, *speed);
    if (::tcsetattr(device->fd, TCSANOW, &tio) != 0)
        return platformCode(errno);
    // Modem lines: raise or drop DTR and RTS as their control asks (a
    // pseudo-terminal has none; that is not an error).
    int raise = 0, drop = 0;
    (s.dtrControl == kControlDisable ? drop : raise) |= TIOCM_DTR;
    if (!s.outxCtsFlow)
        (s.rtsControl == kControlDisable ? drop : raise) |= TIOCM_RTS;
    ::ioctl(device->fd, TIOCMBIS, &raise);
    ::ioctl(device->fd, TIOCMBIC, &drop);
    std::lock_guard<std::mutex> lock(device->shadowMutex);
    device->eventChar = s.eventChar;
    device->outxDsrFlow = s.outxDsrFlow;
    device->dtrControl = s.dtrControl;
    device->rtsControl = s.rtsControl;
    return 0;
}

int32_t getTimeouts(TtyDevice *device, Timeouts *timeouts)
{
    std::lock_guard<std::mutex> lock(device->shadowMutex);
    *timeouts = device->timeouts;
    return 0;
}

int32_t setTimeouts(TtyDevice *device, const Timeouts &timeouts)
{
    std::lock_guard<std::mutex> lock(device->shadowMutex);
    device->timeouts = timeouts;
    return 0;
}

int32_t setEventMask(TtyDevice *device, uint32_t mask)
{
    device->mask.store(mask);
    // Completes a pending wait (and only a wait already pending: a later
    // wait takes the new generation as its start).
    device->maskGeneration.fetch_add(1);
    const char one = 1;
    if (::write(device->wakeWrite, &one, 1) < 0 && errno != EAGAIN)
        return platformCode(errno);
    return 0;
}

namespace {

// Line errors and breaks counted by the driver since the last look; false
// where the driver keeps no counts (pseudo-terminals).
bool lineCounts(TtyDevice *device, uint32_t *events, uint32_t *errors)
{
    serial_icounter_struct now{};
    if (::ioctl(device->fd, TIOCGICOUNT, &now) != 0)
        return false;
    if (!device->haveCounts) {
        device->counts = now;
        device->haveCounts = true;
        return true;
    }
    const auto &was = device->counts;
    uint32_t ev = 0, er = 0;
    if (now.brk != was.brk) {
        ev |= EV_BREAK;
        er |= CE_BREAK;
    }
    if (now.frame != was.frame)
        er |= CE_FRAME;
    if (now.overrun != was.overrun)
        er |= CE_OVERRUN;
    if (now.parity != was.parity)
        er |= CE_RXPARITY;
    if (now.buf_overrun != was.buf_overrun)
        er |= CE_RXOVER;
    if (er & ~CE_BREAK)
        ev |= EV_ERR;
    if (events)
        *events |= ev;
    if (errors)
        *errors |= er;
    device->counts = now;
    return true;
}

} // namespace

int32_t waitEvent(TtyDevice *device, uint32_t *fired, uint32_t timeout)
{
    *fired = 0;
    const uint64_t generation = device->maskGeneration.load();
    Deadline until;
    if (timeout != SerialInfinite)
        until = Clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        if (device->maskGeneration.load() != generation)
            return 0; // the mask changed: complete with no events
        const uint32_t mask = device->mask.load();
        if ((mask & (EV_RXCHAR | EV_RXFLAG)) && device->pendingInput.exchange(false)) {
            *fired = mask & (EV_RXCHAR | EV_RXFLAG);
            return 0;
        }
        uint32_t lineEvents = 0;
        const bool counted = (mask & (EV_BREAK | EV_ERR)) && lineCounts(device, &lineEvents, nullptr);
        if (lineEvents & mask) {
            *fired = lineEvents & mask;
            return 0;
        }
        // Block until a byte arrives or the mask changes; where the driver
        // counts breaks and line errors, look at the counts every 20 ms.
        int waitMs = counted ? 20 : -1;
        if (until) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(*until - Clock::now()).count();
            const int leftMs = left <= 0 ? 0 : static_cast<int>(std::min<long long>((left + 999) / 1000, INT_MAX));
            waitMs = waitMs < 0 ? leftMs : std::min(waitMs, leftMs);
        }
        epoll_event events[2];
        const int n = ::epoll_wait(device->epollFd, events, 2, waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return platformCode(errno);
        }
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == device->wakeRead) {
                drainWakePipe(device->wakeRead); // the generation tells whether it was for this wait
                continue;
            }
            // A byte arrived.  (The event character cannot be told apart
            // without reading the bytes, which belong to the reader;
            // EV_RXFLAG is reported as EV_RXCHAR is.)  A hang-up is reported
            // once per change, so it never makes this loop spin.
            if (events[i].events & EPOLLIN)
                *fired |= device->mask.load() & (EV_RXCHAR | EV_RXFLAG);
        }
        if (*fired && device->maskGeneration.load() != generation) {
            // The mask changed meanwhile: this wait completes empty, and the
            // arrival goes to the next one.
            device->pendingInput.store(true);
            *fired = 0;
            return 0;
        }
        if (*fired)
            return 0;
        if (until && Clock::now() >= *until)
            return SerialErrorTimeout;
    }
}

int32_t clearErrors(TtyDevice *device, uint32_t *errorFlags)
{
    *errorFlags = 0;
    lineCounts(device, nullptr, errorFlags);
    return 0;
}

int32_t purge(TtyDevice *device, bool transmit, bool receive)
{
    const int which = transmit && receive ? TCIOFLUSH : transmit ? TCOFLUSH : TCIFLUSH;
    if (::tcflush(device->fd, which) != 0)
        return platformCode(errno);
    return 0;
}

int32_t drain(TtyDevice *device, uint32_t timeout)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeout == SerialInfinite ? 24u * 3600000u : timeout);
    for (;;) {
        int pending = 0;
        if (::ioctl(device->fd, TIOCOUTQ, &pending) != 0)
            return platformCode(errno);
        if (pending <= 0)
            return 0;
        if (Clock::now() >= until)
            return SerialErrorTimeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int32_t inputQueued(TtyDevice *device, uint32_t *count)
{
    int queued = 0;
    if (::ioctl(device->fd, TIOCINQ, &queued) != 0)
        return platformCode(errno);
    *count = queued > 0 ? static_cast<uint32_t>(queued) : 0;
    return 0;
}

int32_t read(TtyDevice *device, void *buffer, uint32_t count, uint32_t *transferred, uint32_t callerTimeout)
{
    *transferred = 0;
    if (count == 0)
        return 0;
    Timeouts t;
    getTimeouts(device, &t);
    auto limits = TransferDeadlines::forRead(t, count, callerTimeout);
    auto *out = static_cast<uint8_t *>(buffer);
    uint32_t got = 0;
    for (;;) {
        const ssize_t r = ::read(device->fd, out + got, count - got);
        if (r > 0) {
            got += static_cast<uint32_t>(r);
            *transferred = got;
            limits.byteMoved();
            if (got == count)
                return 0;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            // No data, or end of file because the other end hung up.
            pollfd p{device->fd, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)))
                return EIO;
        } else if (errno != EAGAIN) {
            return platformCode(errno);
        }
        switch (limits.verdict()) {
        case TransferDeadlines::Verdict::Ended: return 0;
        case TransferDeadlines::Verdict::CallerTimedOut: return SerialErrorTimeout;
        case TransferDeadlines::Verdict::Wait: break;
        }
        const int rev = waitFd(device->fd, POLLIN, limits.wakeAt());
        if (rev < 0)
            return platformCode(errno);
        if ((rev & (POLLHUP | POLLERR)) && !(rev & POLLIN))
            return EIO;
    }
}

int32_t write(TtyDevice *device, const void *data, uint32_t count, uint32_t *transferred, uint32_t callerTimeout)
{
    *transferred = 0;
    if (count == 0)
        return 0;
    Timeouts t;
    getTimeouts(device, &t);
    const auto limits = TransferDeadlines::forWrite(t, count, callerTimeout);
    const auto *in = static_cast<const uint8_t *>(data);
    uint32_t sent = 0;
    for (;;) {
        const ssize_t r = ::write(device->fd, in + sent, count - sent);
        if (r > 0) {
            sent += static_cast<uint32_t>(r);
            *transferred = sent;
            if (sent == count)
                return 0;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN)
            return platformCode(errno);
        switch (limits.verdict()) {
        case TransferDeadlines::Verdict::Ended: return 0; // abandoned: the caller judges the count
        case TransferDeadlines::Verdict::CallerTimedOut: return SerialErrorTimeout;
        case TransferDeadlines::Verdict::Wait: break;
        }
        const int rev = waitFd(device->fd, POLLOUT, limits.wakeAt());
        if (rev < 0)
            return platformCode(errno);
        if ((rev & (POLLHUP | POLLERR)) && !(rev & POLLOUT))
            return EIO;
    }
}

int32_t openWake(int *readFd, int *writeFd)
{
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return platformCode(errno);
    *readFd = fds[0];
    *writeFd = fds[1];
    return 0;
}

void signalWake(int writeFd)
{
    const char one = 1;
    [[maybe_unused]] const ssize_t n = ::write(writeFd, &one, 1); // a full pipe is awake already
}

void drainWake(int readFd)
{
    drainWakePipe(readFd);
}

void closeWake(int readFd, int writeFd)
{
    if (readFd >= 0)
        ::close(readFd);
    if (writeFd >= 0)
        ::close(writeFd);
}

} // namespace torvane::scalelink::platform

// The device's calls are the functions above.
namespace tty = torvane::scalelink::platform;
TtyDevice::~TtyDevice() { tty::closeDevice(this); }
int32_t TtyDevice::setQueueSizes(uint32_t in, uint32_t out) { return tty::setQueueSizes(this, in, out); }
int32_t TtyDevice::applyDefaultConfig() { return tty::applyDefaultConfig(this); }
int32_t TtyDevice::getLineState(LineState *state) { return tty::getLineState(this, state); }
int32_t TtyDevice::setLineState(const LineState &state) { return tty::setLineState(this, state); }
int32_t TtyDevice::getTimeouts(Timeouts *timeouts) { return tty::getTimeouts(this, timeouts); }
int32_t TtyDevice::setTimeouts(const Timeouts &timeouts) { return tty::setTimeouts(this, timeouts); }
int32_t TtyDevice::setEventMask(uint32_t mask) { return tty::setEventMask(this, mask); }
int32_t TtyDevice::waitEvent(uint32_t *fired, uint32_t timeout) { return tty::waitEvent(this, fired, timeout); }
int32_t TtyDevice::clearErrors(uint32_t *errorFlags) { return tty::clearErrors(this, errorFlags); }
int32_t TtyDevice::purge(bool transmit, bool receive) { return tty::purge(this, transmit, receive); }
int32_t TtyDevice::drain(uint32_t timeout) { return tty::drain(this, timeout); }
int32_t TtyDevice::inputQueued(uint32_t *count) { return tty::inputQueued(this, count); }
int32_t TtyDevice::read(void *buffer, uint32_t count, uint32_t *transferred, uint32_t callerTimeout)
{
    return tty::read(this, buffer, count, transferred, callerTimeout);
}
int32_t TtyDevice::write(const void *data, uint32_t count, uint32_t *transferred, uint32_t callerTimeout)
{
    return tty::write(this, data, count, transferred, callerTimeout);
}

#endif // _WIN32
