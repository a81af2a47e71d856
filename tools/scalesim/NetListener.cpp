#include "NetListener.h"

#include "NetAddress.h"
#include "Telnet.h"


#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace torvane::scalesim {

namespace tn = torvane::scalelink::telnet;

namespace {

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Sends everything, waiting at most two seconds for a client that does not
// read (then the rest is dropped, as a device server's full buffer would).
void sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    int waited = 0;
    while (sent < bytes.size() && waited < 2000) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 20);
        waited += 20;
    }
}

} // namespace

NetListener::~NetListener()
{
    for (int fd : {m_listenFd, m_lineFd, m_relayFd})
        if (fd >= 0)
            ::close(fd);
}

QString NetListener::address() const
{
    const QString host = m_host.contains(u':') ? QStringLiteral("[%1]").arg(m_host) : m_host;
    return QStringLiteral("%1://%2:%3").arg(QLatin1String(m_rfc2217 ? "rfc2217" : "tcp"), host).arg(m_port);
}

bool NetListener::open(const QString &where, QString *error)
{
    QString name = where;
    if (!scalelink::IsNetworkPortName(name))
        name = QStringLiteral("tcp://") + name;
    // Port 0 (a free one) is not a port a transmitter can be given, so it
    // is read here and not by ParseNetAddress.
    const bool anyPort = name.endsWith(QLatin1String(":0"));
    scalelink::NetAddress a;
    QString why;
    if (!scalelink::ParseNetAddress(anyPort ? name.left(name.size() - 1) + QLatin1Char('1') : name, &a, &why)) {
        *error = QStringLiteral("--listen takes [tcp://|rfc2217://]HOST:PORT: %1").arg(where);
        return false;
    }
    m_rfc2217 = a.scheme == scalelink::NetScheme::Rfc2217;
    m_host = a.host;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *list = nullptr;
    const QByteArray service = QByteArray::number(anyPort ? 0 : a.port);
    if (const int rc = ::getaddrinfo(a.host.toUtf8().constData(), service.constData(), &hints, &list); rc != 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(where, QString::fromLocal8Bit(gai_strerror(rc)));
        return false;
    }
    int fd = ::socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || ::bind(fd, list->ai_addr, list->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(where, errnoText(errno));
        if (fd >= 0)
            ::close(fd);
        ::freeaddrinfo(list);
        return false;
    }
    ::freeaddrinfo(list);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &len);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
        *error = QStringLiteral("cannot make the simulated line: %1").arg(errnoText(errno));
        ::close(fd);
        return false;
    }
    m_listenFd = fd;
    m_lineFd = pair[0];
    m_relayFd = pair[1];
    return true;
}

void NetListener::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

void NetListener::run(const std::atomic<bool> &stop)
{
    int client = -1;
    std::unique_ptr<tn::Decoder> decoder;
    std::unique_ptr<tn::Negotiator> negotiator;
    auto hangUp = [&](const QString &why) {
        log(QStringLiteral("connection closed (%1)").arg(why));
        ::close(client);
        client = -1;
    };
    while (!stop.load()) {
        pollfd p[3] = {{m_listenFd, POLLIN, 0}, {m_relayFd, POLLIN, 0}, {client, POLLIN, 0}};
        const int r = ::poll(p, client >= 0 ? 3 : 2, 50);
        if (r <= 0)
            continue;
        if (p[0].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0 && client >= 0) {
                log(QStringLiteral("a second connection refused: the line is in use"));
                ::close(fd);
            } else if (fd >= 0) {
                client = fd;
                const int one = 1;
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                log(QStringLiteral("connection accepted"));
                if (m_rfc2217) {
                    decoder = std::make_unique<tn::Decoder>();
                    negotiator = std::make_unique<tn::Negotiator>(
                        std::vector<uint8_t>{tn::kOptBinary, tn::kOptSuppressGoAhead},
                        std::vector<uint8_t>{tn::kOptBinary, tn::kOptSuppressGoAhead, tn::kOptComPort});
                    sendAll(client, negotiator->opening());
                }
            }
        }
        if (p[1].revents & POLLIN) {
            // What the scale sends: to the client, or nowhere without one.
            char buf[4096];
            const ssize_t n = ::read(m_relayFd, buf, sizeof buf);
            if (n > 0 && client >= 0)
                sendAll(client, m_rfc2217 ? tn::Escape(reinterpret_cast<const uint8_t *>(buf), size_t(n))
                                          : QByteArray(buf, n));
        }
        if (client < 0 || !(p[2].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        uint8_t buf[4096];
        const ssize_t n = ::recv(client, buf, sizeof buf, 0);
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                hangUp(n == 0 ? QStringLiteral("by the other end") : errnoText(errno));
            continue;
        }
        if (!m_rfc2217) {
            sendAll(m_relayFd, QByteArray(reinterpret_cast<const char *>(buf), n));
            continue;
        }
        QByteArray data;
        std::vector<tn::Command> commands;
        decoder->feed(buf, size_t(n), &data, &commands);
        if (!data.isEmpty())
            sendAll(m_relayFd, data);
        for (const tn::Command &c : commands) {
            if (c.verb != tn::SB) {
                sendAll(client, negotiator->answer(c));
                continue;
            }
            if (c.option != tn::kOptComPort || c.sub.isEmpty())
                continue;
            const uint8_t command = uint8_t(c.sub.at(0));
            QByteArray value = c.sub.mid(1);
            if (m_refuseSettings) {
                if (command == tn::kSetBaudRate)
                    value = tn::BaudValue(9600);
                else if (command == tn::kSetDataSize)
                    value = QByteArray(1, char(7));
                else if (command == tn::kSetParity)
                    value = QByteArray(1, char(tn::kParityEven));
            }
            if (command == tn::kPurgeData && !value.isEmpty() && (uint8_t(value.at(0)) & tn::kPurgeReceive)) {
                // What the scale sent and the client has not been given yet.
                char drop[4096];
                while (::read(m_relayFd, drop, sizeof drop) > 0) {
                }
            }
            if (command >= tn::kSetBaudRate && command <= tn::kPurgeData && command != tn::kNotifyLineState
                && command != tn::kNotifyModemState)
                sendAll(client, tn::ComPort(uint8_t(command + tn::kServerOffset), value));
            if (command == tn::kSetBaudRate && value.size() == 4)
                log(QStringLiteral("line set to %1 baud")
                        .arg((uint32_t(uint8_t(value[0])) << 24) | (uint32_t(uint8_t(value[1])) << 16)
                             | (uint32_t(uint8_t(value[2])) << 8) | uint8_t(value[3])));
        }
    }
    if (client >= 0)
        ::close(client);
}

} // namespace torvane::scalesim
