#include "PtyPair.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    char name[128] = {};
    ::ptsname_r(m_master, name, sizeof name);
    m_slavePath = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master readable between the port's
    // opens; raw mode so nothing is echoed or translated.
    m_slaveHolder = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(m_slaveHolder, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slaveHolder, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    if (m_slaveHolder >= 0)
        ::close(m_slaveHolder);
    if (m_master >= 0)
        ::close(m_master);
}

void PtyPair::send(const std::vector<uint8_t> &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
}

void PtyPair::send(const QByteArray &bytes)
{
    send(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> PtyPair::receive(std::size_t count, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> out;
    while (out.size() < count) {
        uint8_t buf[256];
        const ssize_t n = ::read(m_master, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return out;
}

std::vector<uint8_t> PtyPair::receiveAvailable()
{
    std::vector<uint8_t> out;
    uint8_t buf[256];
    ssize_t n;
    while ((n = ::read(m_master, buf, sizeof buf)) > 0)
        out.insert(out.end(), buf, buf + n);
    return out;
}
