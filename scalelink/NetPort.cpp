#include "NetPort.h"

#include "Serial.h"
#include "SerialPlatform.h"
#include "SocketPlatform.h"
#include "Telnet.h"
#include "TransferDeadlines.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace torvane::scalelink {

namespace {

namespace net = platform::net;
using platform::Clock;
using platform::Deadline;
using platform::TransferDeadlines;
using platform::LineState;
using platform::Timeouts;

// The addresses open in this process (the lock file may be unavailable).
std::mutex g_openMutex;
std::set<QString> g_open;

uint32_t msUntil(Deadline until)
{
    if (!until)
        return SerialInfinite;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*until - Clock::now()).count();
    return left <= 0 ? 0 : uint32_t(std::min<long long>(left + 1, 1 << 30));
}

uint8_t parityValue(uint8_t parity)
{
    switch (parity) {
    case ODDPARITY: return telnet::kParityOdd;
    case EVENPARITY: return telnet::kParityEven;
    case MARKPARITY: return telnet::kParityMark;
    case SPACEPARITY: return telnet::kParitySpace;
    default: return telnet::kParityNone;
    }
}

uint8_t stopValue(uint8_t stopBits)
{
    return stopBits == TWOSTOPBITS ? telnet::kStopTwo : stopBits == ONE5STOPBITS ? telnet::kStopOneAndHalf
                                                                                  : telnet::kStopOne;
}

class NetDevice final : public SerialDevice {
public:
    NetDevice(const NetAddress &address, net::Socket socket, intptr_t lock)
        : m_address(address), m_socket(socket), m_lock(lock), m_telnet(address.scheme == NetScheme::Rfc2217),
          m_negotiator({telnet::kOptBinary, telnet::kOptSuppressGoAhead, telnet::kOptComPort},
                       {telnet::kOptBinary, telnet::kOptSuppressGoAhead})
    {
        // What the device server is set to by its own configuration (raw
        // TCP), or what the program asks of it (RFC 2217).
        m_line.baudRate = 57600;
        m_line.byteSize = 8;
    }

    ~NetDevice() override
    {
        net::closeWatch(m_watch);
        net::closeSocket(m_socket);
        net::unlockAddress(m_lock);
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_open.erase(m_address.lockKey());
    }

    int32_t start()
    {
        if (const int32_t rc = net::openWatch(m_socket, &m_watch); rc != 0)
            return rc;
        if (!m_telnet)
            return 0;
        const auto until = Clock::now() + std::chrono::milliseconds(kNegotiationTimeoutMs);
        if (const int32_t rc = sendAll(m_negotiator.opening(), until); rc != 0)
            return rc;
        const int32_t rc = waitUntil([this] { return m_negotiator.theyDo(telnet::kOptComPort) != 0; }, until);
        if (rc != 0 && rc != SerialErrorTimeout)
            return rc;
        if (m_negotiator.theyDo(telnet::kOptComPort) != 1)
            return SerialErrorNoComPortOption;
        // Breaks and line errors are reported; the modem lines are not needed.
        return sendAll(telnet::ComPort(telnet::kSetLineStateMask, telnet::kLineBreak | telnet::kLineFraming
                                                                      | telnet::kLineParity | telnet::kLineOverrun)
                           + telnet::ComPort(telnet::kSetModemStateMask, uint8_t(0)),
                       until);
    }

    QString path() const override { return m_address.text(); }
    int32_t setQueueSizes(uint32_t, uint32_t) override { return 0; }
    int32_t applyDefaultConfig() override { return 0; }
    bool lineKnown() const override { return m_telnet; }

    int32_t getLineState(LineState *state) override
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        *state = m_line;
        return 0;
    }

    int32_t setLineState(const LineState &state) override
    {
        if (!m_telnet) {
            // The device server keeps the line its configuration gives it.
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_line = state;
            return 0;
        }
        if (m_failed)
            return m_failed;
        const uint8_t flow = state.outxCtsFlow ? telnet::kFlowHardware
                             : (state.outX || state.inX) ? telnet::kFlowXonXoff
                                                         : telnet::kFlowNone;
        const QByteArray wanted[] = {telnet::BaudValue(state.baudRate), QByteArray(1, char(state.byteSize)),
                                     QByteArray(1, char(parityValue(state.parity))),
                                     QByteArray(1, char(stopValue(state.stopBits))), QByteArray(1, char(flow))};
        QByteArray request;
        for (uint8_t i = 0; i < 5; ++i) {
            m_answer[i].reset();
            request += telnet::ComPort(uint8_t(telnet::kSetBaudRate + i), wanted[i]);
        }
        if (state.dtrControl != platform::kControlHandshake)
            request += telnet::ComPort(telnet::kSetControl,
                                       state.dtrControl == platform::kControlDisable ? telnet::kDtrOff : telnet::kDtrOn);
        if (!state.outxCtsFlow && state.rtsControl != platform::kControlHandshake)
            request += telnet::ComPort(telnet::kSetControl,
                                       state.rtsControl == platform::kControlDisable ? telnet::kRtsOff : telnet::kRtsOn);
        const auto until = Clock::now() + std::chrono::milliseconds(kNegotiationTimeoutMs);
        if (const int32_t rc = sendAll(request, until); rc != 0)
            return rc;
        const int32_t rc = waitUntil(
            [this] { return std::all_of(std::begin(m_answer), std::end(m_answer), [](auto &a) { return a.has_value(); }); },
            until);
        if (rc != 0 && rc != SerialErrorTimeout)
            return rc;
        // Each setting must come back as asked: a server that keeps another
        // speed, or does not answer, would make the scale look silent.
        for (int i = 0; i < 5; ++i)
            if (!m_answer[i] || *m_answer[i] != wanted[i])
                return SerialErrorSettingsRefused;
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_line = state;
        return 0;
    }

    int32_t getTimeouts(Timeouts *timeouts) override
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        *timeouts = m_timeouts;
        return 0;
    }

    int32_t setTimeouts(const Timeouts &timeouts) override
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_timeouts = timeouts;
        return 0;
    }

    int32_t setEventMask(uint32_t mask) override
    {
        m_mask.store(mask);
        m_maskGeneration.fetch_add(1);
        if (m_watch)
            net::wakeWatch(m_watch);
        return 0;
    }

    // The listener's wait: an arrival of data, or a break / line error the
    // device server reported.  It never reads the socket (the job does).
    int32_t waitEvent(uint32_t *fired, uint32_t timeout) override
    {
        *fired = 0;
        const uint64_t generation = m_maskGeneration.load();
        Deadline until;
        if (timeout != SerialInfinite)
            until = Clock::now() + std::chrono::milliseconds(timeout);
        for (;;) {
            if (m_maskGeneration.load() != generation)
                return 0;
            const uint32_t mask = m_mask.load();
            if ((mask & (EV_RXCHAR | EV_RXFLAG)) && m_pendingInput.exchange(false)) {
                *fired = mask & (EV_RXCHAR | EV_RXFLAG);
                return 0;
            }
            if (const uint32_t line = m_lineEvents.exchange(0) & mask) {
                *fired = line;
                return 0;
            }
            bool arrived = false;
            if (const int32_t rc = net::waitWatch(m_watch, msUntil(until), &arrived); rc != 0)
                return rc;
            if (arrived) {
                if (m_maskGeneration.load() != generation) {
                    m_pendingInput.store(true);
                    return 0;
                }
                if ((*fired = m_mask.load() & (EV_RXCHAR | EV_RXFLAG)) != 0)
                    return 0;
            }
            if (until && Clock::now() >= *until)
                return SerialErrorTimeout;
        }
    }

    int32_t clearErrors(uint32_t *errorFlags) override
    {
        *errorFlags = m_lineErrors.exchange(0);
        return 0;
    }

    int32_t purge(bool transmit, bool receive) override
    {
        if (m_failed)
            return m_failed;
        if (m_telnet) {
            // The server drops what it holds too.  Its acknowledgement is not
            // waited for: what it sent before the purge and is still on its
            // way arrives as a serial line's bytes in flight would.
            const uint8_t which = transmit && receive ? telnet::kPurgeBoth
                                  : transmit          ? telnet::kPurgeTransmit
                                                      : telnet::kPurgeReceive;
            if (const int32_t rc = sendAll(telnet::ComPort(telnet::kPurgeData, which), Clock::now() + std::chrono::seconds(1));
                rc != 0)
                return rc;
        }
        if (receive) {
            if (const int32_t rc = pump(); rc != 0 && m_rx.isEmpty())
                return rc;
            m_rx.clear();
        }
        return 0;
    }

    int32_t drain(uint32_t timeout) override
    {
        const auto until = Clock::now() + std::chrono::milliseconds(timeout == SerialInfinite ? 86400000u : timeout);
        for (;;) {
            if (m_failed)
                return m_failed;
            uint32_t pending = 0;
            if (const int32_t rc = net::unacknowledged(m_socket, &pending); rc != 0)
                return rc;
            if (pending == 0)
                return 0;
            if (Clock::now() >= until)
                return SerialErrorTimeout;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int32_t inputQueued(uint32_t *count) override
    {
        const int32_t rc = pump();
        *count = uint32_t(m_rx.size());
        return m_rx.isEmpty() ? rc : 0;
    }

    int32_t unconfirmedOutput(uint32_t *count) override { return net::unacknowledged(m_socket, count); }

    int32_t read(void *buffer, uint32_t count, uint32_t *transferred, uint32_t callerTimeout) override
    {
        *transferred = 0;
        if (count == 0)
            return 0;
        Timeouts t;
        getTimeouts(&t);
        auto limits = TransferDeadlines::forRead(t, count, callerTimeout);
        auto *out = static_cast<uint8_t *>(buffer);
        uint32_t got = 0;
        for (;;) {
            const int32_t rc = pump();
            if (!m_rx.isEmpty()) {
                const uint32_t take = std::min<uint32_t>(count - got, uint32_t(m_rx.size()));
                std::copy_n(reinterpret_cast<const uint8_t *>(m_rx.constData()), take, out + got);
                m_rx.remove(0, take);
                got += take;
                *transferred = got;
                limits.byteMoved();
                if (got == count)
                    return 0;
            }
            if (rc != 0)
                return rc; // the connection has ended: nothing more will come
            switch (limits.verdict()) {
            case TransferDeadlines::Verdict::Ended: return 0;
            case TransferDeadlines::Verdict::CallerTimedOut: return SerialErrorTimeout;
            case TransferDeadlines::Verdict::Wait: break;
            }
            bool ready = false;
            if (const int32_t w = net::waitSocket(m_socket, false, msUntil(limits.wakeAt()), &ready);
                w != 0)
                return fail(w);
        }
    }

    int32_t write(const void *data, uint32_t count, uint32_t *transferred, uint32_t callerTimeout) override
    {
        *transferred = 0;
        if (count == 0)
            return 0;
        if (m_failed)
            return m_failed;
        Timeouts t;
        getTimeouts(&t);
        const auto limits = TransferDeadlines::forWrite(t, count, callerTimeout);
        const auto *in = static_cast<const uint8_t *>(data);
        const QByteArray bytes = m_telnet ? telnet::Escape(in, count)
                                          : QByteArray::fromRawData(reinterpret_cast<const char *>(in), qsizetype(count));
        const Deadline until = limits.wakeAt();
        // A device server whose serial side is full asks to hold on.
        while (m_flowSuspended) {
            if (const int32_t rc = waitUntil([this] { return !m_flowSuspended; }, until); rc != 0)
                return rc == SerialErrorTimeout && !limits.callerPassed() ? 0 : rc;
        }
        uint32_t sent = 0;
        const int32_t rc = sendBytes(bytes, until, &sent);
        // What went, in the caller's bytes (an escaped 0xFF counts once, when whole).
        uint32_t whole = 0;
        for (uint32_t i = 0, pos = 0; i < count; ++i) {
            pos += (m_telnet && in[i] == telnet::IAC) ? 2 : 1;
            if (pos > sent)
                break;
            whole = i + 1;
        }
        *transferred = whole;
        if (rc == SerialErrorTimeout)
            return limits.callerPassed() ? SerialErrorTimeout : 0; // abandoned: the caller judges the count
        return rc;
    }

private:
    int32_t fail(int32_t rc)
    {
        if (!m_failed)
            m_failed = rc;
        return m_failed;
    }

    // Takes in what the socket holds now, without waiting: data into m_rx,
    // commands handled.  The connection's end, once seen, is kept.
    int32_t pump()
    {
        if (m_failed)
            return m_failed;
        bool arrived = false;
        for (;;) {
            uint8_t buf[4096];
            uint32_t n = 0;
            const int32_t rc = net::receiveSome(m_socket, buf, sizeof buf, &n);
            if (rc != 0) {
                fail(rc);
                break;
            }
            if (n == 0)
                break;
            arrived = true;
            if (!m_telnet) {
                m_rx.append(reinterpret_cast<const char *>(buf), n);
                continue;
            }
            std::vector<telnet::Command> commands;
            m_decoder.feed(buf, n, &m_rx, &commands);
            for (const auto &c : commands)
                handle(c);
        }
        (void)arrived;
        return m_failed;
    }

    void handle(const telnet::Command &c)
    {
        if (c.verb != telnet::SB) {
            const QByteArray reply = m_negotiator.answer(c);
            if (!reply.isEmpty())
                sendAll(reply, Clock::now() + std::chrono::seconds(1));
            return;
        }
        if (c.option != telnet::kOptComPort || c.sub.isEmpty())
            return;
        const uint8_t command = uint8_t(c.sub.at(0));
        if (command < telnet::kServerOffset)
            return;
        const uint8_t what = command - telnet::kServerOffset;
        const QByteArray value = c.sub.mid(1);
        if (what >= telnet::kSetBaudRate && what <= telnet::kSetStopSize) {
            m_answer[what - telnet::kSetBaudRate] = value;
        } else if (what == telnet::kSetControl && !value.isEmpty()) {
            const uint8_t v = uint8_t(value.at(0));
            if (v >= telnet::kFlowNone && v <= telnet::kFlowHardware)
                m_answer[4] = value; // the answers about DTR / RTS are not judged
        } else if (what == telnet::kNotifyLineState && !value.isEmpty()) {
            const uint8_t s = uint8_t(value.at(0));
            uint32_t errors = 0, events = 0;
            if (s & telnet::kLineBreak) {
                errors |= CE_BREAK;
                events |= EV_BREAK;
            }
            if (s & telnet::kLineFraming)
                errors |= CE_FRAME;
            if (s & telnet::kLineParity)
                errors |= CE_RXPARITY;
            if (s & telnet::kLineOverrun)
                errors |= CE_OVERRUN;
            if (errors & ~CE_BREAK)
                events |= EV_ERR;
            if (events) {
                m_lineErrors.fetch_or(errors);
                m_lineEvents.fetch_or(events);
                if (m_watch)
                    net::wakeWatch(m_watch);
            }
        } else if (what == telnet::kFlowSuspend) {
            m_flowSuspended = true;
        } else if (what == telnet::kFlowResume) {
            m_flowSuspended = false;
        }
    }

    int32_t sendBytes(const QByteArray &bytes, Deadline until, uint32_t *sent)
    {
        *sent = 0;
        while (*sent < uint32_t(bytes.size())) {
            if (m_failed)
                return m_failed;
            uint32_t n = 0;
            if (const int32_t rc = net::sendSome(m_socket, bytes.constData() + *sent, uint32_t(bytes.size()) - *sent, &n);
                rc != 0)
                return fail(rc);
            *sent += n;
            if (n > 0)
                continue;
            if (until && Clock::now() >= *until)
                return SerialErrorTimeout;
            bool ready = false;
            if (const int32_t rc = net::waitSocket(m_socket, true, msUntil(until), &ready); rc != 0)
                return fail(rc);
        }
        return 0;
    }

    int32_t sendAll(const QByteArray &bytes, Clock::time_point until)
    {
        uint32_t sent = 0;
        return sendBytes(bytes, until, &sent);
    }

    // Reads (and handles) until done() or until; SerialErrorTimeout then.
    template <typename Done>
    int32_t waitUntil(Done done, Deadline until)
    {
        for (;;) {
            const int32_t rc = pump();
            if (done())
                return 0;
            if (rc != 0)
                return rc;
            if (until && Clock::now() >= *until)
                return SerialErrorTimeout;
            bool ready = false;
            if (const int32_t w = net::waitSocket(m_socket, false, msUntil(until), &ready); w != 0)
                return fail(w);
        }
    }

    NetAddress m_address;
    net::Socket m_socket;
    intptr_t m_lock;
    bool m_telnet;
    net::Watch *m_watch = nullptr;
    telnet::Decoder m_decoder;
    telnet::Negotiator m_negotiator;
    QByteArray m_rx; // data received and not read yet
    int32_t m_failed = 0;
    std::optional<QByteArray> m_answer[5]; // the server's answers to SET-BAUDRATE .. SET-CONTROL
    bool m_flowSuspended = false;

    std::mutex m_stateMutex;
    LineState m_line;
    Timeouts m_timeouts;

    std::atomic<uint32_t> m_mask{0};
    std::atomic<uint64_t> m_maskGeneration{0};
    std::atomic<bool> m_pendingInput{false};
    std::atomic<uint32_t> m_lineErrors{0};
    std::atomic<uint32_t> m_lineEvents{0};
};

} // namespace

int32_t OpenNetDevice(const QString &portName, SerialDevice **device)
{
    *device = nullptr;
    NetAddress address;
    if (!ParseNetAddress(portName, &address))
        return ENOENT;
    const QString key = address.lockKey();
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        if (!g_open.insert(key).second)
            return EBUSY;
    }
    auto release = [&key] {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_open.erase(key);
    };
    intptr_t fileLock = 0;
    if (const int32_t rc = net::lockAddress(key, &fileLock); rc != 0) {
        release();
        return rc;
    }
    net::Socket socket = net::kNoSocket;
    if (const int32_t rc = net::connectSocket(address.host, address.port, kConnectTimeoutMs, &socket); rc != 0) {
        net::unlockAddress(fileLock);
        release();
        return rc;
    }
    auto *d = new NetDevice(address, socket, fileLock); // from here on it releases the address itself
    if (const int32_t rc = d->start(); rc != 0) {
        delete d;
        return rc;
    }
    *device = d;
    return 0;
}

} // namespace torvane::scalelink
