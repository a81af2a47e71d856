// The POSIX (Linux) sockets of the network ports: getaddrinfo on a thread of
// its own so a name server that does not answer cannot hold the open, a
// non-blocking connect bounded by poll, TCP_NODELAY and keep-alive, SIOCOUTQ
// for what the far end has not acknowledged, epoll for the listener, and
// flock on a file per address for exclusive use.
#ifndef _WIN32

#include "Serial.h"
#include "SocketPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane::scalelink::platform::net {

namespace {

using Clock = std::chrono::steady_clock;

// errno values that equal the layer's own codes are moved aside (as for the
// serial device).
int32_t code(int err)
{
    if (err == EPERM)
        return EACCES;
    if (err == ENXIO)
        return ENODEV;
    return err == 0 ? EIO : err;
}

int msLeft(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left, 1 << 30));
}

// A look-up that may outlive its waiter: whoever finishes last frees it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    int rc = 0;
    addrinfo *result = nullptr;
};

int32_t resolve(const QByteArray &host, const QByteArray &service, uint32_t timeoutMs, addrinfo **result)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (::getaddrinfo(host.constData(), service.constData(), &hints, result) == 0)
        return 0;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service] {
            addrinfo h{};
            h.ai_family = AF_UNSPEC;
            h.ai_socktype = SOCK_STREAM;
            h.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
            addrinfo *found = nullptr;
            const int rc = ::getaddrinfo(host.constData(), service.constData(), &h, &found);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            if (lookup->abandoned) {
                if (rc == 0)
                    ::freeaddrinfo(found);
                return;
            }
            lookup->rc = rc;
            lookup->result = rc == 0 ? found : nullptr;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error &e) {
        return code(e.code().value());
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return lookup->finished; })) {
        lookup->abandoned = true; // the thread frees what it finds
        return SerialErrorHostNotFound;
    }
    if (lookup->rc == EAI_SYSTEM)
        return code(errno);
    if (lookup->rc != 0)
        return SerialErrorHostNotFound;
    *result = lookup->result;
    return 0;
}

void setOptions(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    // A far end that is gone is noticed within about 11 s on an idle
    // connection, and unacknowledged data ends the connection after 10 s.
    const int idle = 5, interval = 2, probes = 3;
    const unsigned userTimeout = 10000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

} // namespace

int32_t connectSocket(const QString &host, uint16_t port, uint32_t timeoutMs, Socket *socket)
{
    *socket = kNoSocket;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo *list = nullptr;
    if (const int32_t rc = resolve(host.toUtf8(), QByteArray::number(port), timeoutMs, &list); rc != 0)
        return rc;
    int32_t last = ETIMEDOUT;
    for (addrinfo *ai = list; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            last = code(errno);
            continue;
        }
        setOptions(fd);
        int err = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                int r;
                while ((r = ::poll(&p, 1, msLeft(until))) < 0 && errno == EINTR) {
                }
                socklen_t len = sizeof err;
                if (r == 0)
                    err = ETIMEDOUT;
                else if (r < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err == 0) {
            ::freeaddrinfo(list);
            *socket = fd;
            return 0;
        }
        ::close(fd);
        last = code(err);
        if (Clock::now() >= until)
            break;
    }
    ::freeaddrinfo(list);
    return last;
}

void closeSocket(Socket socket)
{
    if (socket != kNoSocket)
        ::close(int(socket));
}

int32_t sendSome(Socket socket, const void *data, uint32_t count, uint32_t *moved)
{
    *moved = 0;
    for (;;) {
        const ssize_t n = ::send(int(socket), data, count, MSG_NOSIGNAL);
        if (n >= 0) {
            *moved = uint32_t(n);
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return errno == EPIPE ? SerialErrorConnectionClosed : code(errno);
    }
}

int32_t receiveSome(Socket socket, void *buffer, uint32_t count, uint32_t *moved)
{
    *moved = 0;
    for (;;) {
        const ssize_t n = ::recv(int(socket), buffer, count, 0);
        if (n > 0) {
            *moved = uint32_t(n);
            return 0;
        }
        if (n == 0)
            return SerialErrorConnectionClosed;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return code(errno);
    }
}

int32_t waitSocket(Socket socket, bool forWrite, uint32_t timeoutMs, bool *ready)
{
    *ready = false;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs == SerialInfinite ? 0 : timeoutMs);
    for (;;) {
        pollfd p{int(socket), short(forWrite ? POLLOUT : POLLIN), 0};
        const int r = ::poll(&p, 1, timeoutMs == SerialInfinite ? -1 : msLeft(until));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return code(errno);
        // An error or a hang-up is "ready": the transfer that follows says which.
        *ready = r > 0;
        return 0;
    }
}

int32_t unacknowledged(Socket socket, uint32_t *count)
{
    int n = 0;
    if (::ioctl(int(socket), SIOCOUTQ, &n) != 0)
        return code(errno);
    *count = n > 0 ? uint32_t(n) : 0;
    return 0;
}

struct Watch {
    int epoll = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    int socket = -1;
};

int32_t openWatch(Socket socket, Watch **watch)
{
    *watch = nullptr;
    auto w = std::make_unique<Watch>();
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return code(errno);
    w->wakeRead = fds[0];
    w->wakeWrite = fds[1];
    w->socket = int(socket);
    w->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event data{};
    data.events = EPOLLIN | EPOLLRDHUP | EPOLLET; // one event per arrival
    data.data.fd = w->socket;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = w->wakeRead;
    if (w->epoll < 0 || ::epoll_ctl(w->epoll, EPOLL_CTL_ADD, w->socket, &data) != 0
        || ::epoll_ctl(w->epoll, EPOLL_CTL_ADD, w->wakeRead, &wake) != 0) {
        const int32_t rc = code(errno);
        closeWatch(w.release());
        return rc;
    }
    *watch = w.release();
    return 0;
}

int32_t waitWatch(Watch *watch, uint32_t timeoutMs, bool *arrived)
{
    *arrived = false;
    epoll_event events[2];
    int n;
    while ((n = ::epoll_wait(watch->epoll, events, 2, timeoutMs == SerialInfinite ? -1 : int(timeoutMs))) < 0
           && errno == EINTR) {
    }
    if (n < 0)
        return code(errno);
    for (int i = 0; i < n; ++i) {
        if (events[i].data.fd == watch->wakeRead) {
            char buf[64];
            while (::read(watch->wakeRead, buf, sizeof buf) > 0) {
            }
        } else {
            *arrived = true;
        }
    }
    return 0;
}

void wakeWatch(Watch *watch)
{
    const char one = 1;
    [[maybe_unused]] const ssize_t n = ::write(watch->wakeWrite, &one, 1); // a full pipe is awake already
}

void closeWatch(Watch *watch)
{
    if (!watch)
        return;
    if (watch->epoll >= 0)
        ::close(watch->epoll);
    if (watch->wakeRead >= 0)
        ::close(watch->wakeRead);
    if (watch->wakeWrite >= 0)
        ::close(watch->wakeWrite);
    delete watch;
}

namespace {

// /run/lock is the machine's folder for lock files, shared by every user
// (the transmitter of the operator and the timer's service user alike).
QString lockFolder()
{
    for (const QString &dir : {QStringLiteral("/run/lock"), qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath()}) {
        const QFileInfo info(dir);
        if (!dir.isEmpty() && info.isDir() && info.isWritable())
            return dir;
    }
    return QString();
}

struct AddressLock {
    int fd = -1;
    QByteArray path;
};

} // namespace

int32_t lockAddress(const QString &key, intptr_t *handle)
{
    *handle = 0;
    const QString folder = lockFolder();
    if (folder.isEmpty())
        return 0; // no lock folder: the process's own registry still holds
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/torvane-net-%1.lock").arg(key));
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return 0; // another user's file we may not read: fall back as above
        ::fchmod(fd, 0644);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            return err == EWOULDBLOCK ? EBUSY : code(err);
        }
        // The holder before us may have removed the file between our open
        // and our lock: then the lock is on a file nobody else will see.
        struct stat held{}, named{};
        if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_ino == named.st_ino
            && held.st_dev == named.st_dev) {
            *handle = reinterpret_cast<intptr_t>(new AddressLock{fd, path});
            return 0;
        }
        ::close(fd);
    }
    return EBUSY;
}

void unlockAddress(intptr_t handle)
{
    auto *lock = reinterpret_cast<AddressLock *>(handle);
    if (!lock)
        return;
    // Removed while still held, so no file is left behind; a program that
    // opened it meanwhile sees it gone and makes a new one.
    ::unlink(lock->path.constData());
    ::close(lock->fd);
    delete lock;
}

} // namespace torvane::scalelink::platform::net

#endif // _WIN32
