#include "ScalePeer.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace testpeer {

namespace {

void put16(QByteArray &b, uint16_t v)
{
    b.append(char(v >> 8));
    b.append(char(v & 0xFF));
}

QByteArray field(const QByteArray &text, int size)
{
    QByteArray f = text.left(size);
    f.append(QByteArray(size - f.size(), '\0'));
    return f;
}

} // namespace

QByteArray slotBytes(uint16_t number, uint8_t prefix, const QByteArray &code, const QByteArray &desc,
                     uint16_t shelfLife, uint16_t tare, uint32_t price, uint8_t saleType, uint8_t barcodeMode)
{
    QByteArray b;
    put16(b, number);
    b.append(char(prefix));
    b.append(field(code, 6));
    b.append(field(desc, 26));
    put16(b, shelfLife);
    put16(b, tare);
    b.append('\0');
    b.append(char((price >> 16) & 0xFF));
    b.append(char((price >> 8) & 0xFF));
    b.append(char(price & 0xFF));
    b.append(char(saleType));
    b.append(char(barcodeMode));
    return b;
}

QByteArray recordBytes(uint16_t number, uint8_t yy, uint8_t mm, uint8_t dd, uint8_t hh, uint8_t mi, uint8_t ss,
                       uint32_t value)
{
    QByteArray b;
    put16(b, number);
    for (uint8_t v : {yy, mm, dd, hh, mi, ss})
        b.append(char(v));
    b.append('\0');
    b.append(char((value >> 16) & 0xFF));
    b.append(char((value >> 8) & 0xFF));
    b.append(char(value & 0xFF));
    return b;
}

ScalePeer::ScalePeer(const QString &dosDevicesDir, int comNumber, Line line)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    // Raw line: no echo, no line editing, no byte translation.
    struct termios tio;
    if (line == Line::Raw && ::tcgetattr(m_master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
    }
    QDir().mkpath(dosDevicesDir);
    m_link = QDir(dosDevicesDir).filePath(QStringLiteral("com%1").arg(comNumber));
    QFile::remove(m_link);
    QFile::link(m_slavePath, m_link);
    m_thread = std::thread([this] { run(); });
}

ScalePeer::~ScalePeer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (!m_link.isEmpty())
        QFile::remove(m_link);
    if (m_master >= 0)
        ::close(m_master);
}

void ScalePeer::setSlots(std::vector<QByteArray> bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots = std::move(bytes);
}

void ScalePeer::setRecords(std::vector<QByteArray> bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records = std::move(bytes);
}

std::vector<Product> ScalePeer::products() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_products;
}

// Writes everything, waiting while the line is full; gives up when the test
// ends.
void ScalePeer::send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size() && !m_stop) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            return;
        struct pollfd p = {m_master, POLLOUT, 0};
        if (::poll(&p, 1, 5) <= 0 || (p.revents & POLLHUP))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ScalePeer::handle(const QByteArray &frame)
{
    const QByteArray cmd = frame.mid(2, 2);
    if (cmd == "DL" && frame.size() == 53) {
        auto u8 = [&](int i) { return uint8_t(frame.at(i)); };
        Product p;
        p.number = uint16_t(u8(4) << 8 | u8(5));
        p.numberCopy = uint16_t(u8(6) << 8 | u8(7));
        p.prefix = u8(8);
        p.code = frame.mid(9, 6);
        p.description = frame.mid(15, 26);
        p.shelfLife = uint16_t(u8(41) << 8 | u8(42));
        p.tare = uint16_t(u8(43) << 8 | u8(44));
        p.price = uint32_t(u8(45)) << 24 | uint32_t(u8(46)) << 16 | uint32_t(u8(47)) << 8 | u8(48);
        p.saleType = u8(49);
        p.barcodeMode = u8(50);
        int answered;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_products.push_back(p);
            answered = int(m_products.size());
        }
        ++m_frames;
        if (answered == m_hangUpAt) {
            ::close(m_master);
            m_master = -1;
            return;
        }
        const int limit = m_okLimit;
        if (limit < 0 || answered <= limit)
            send(QByteArray("\x06OK\x03", 4));
        return;
    }
    if ((cmd == "UL" || cmd == "UR") && frame.size() == 6) {
        ++m_requests;
        if (!m_answerHeader)
            return;
        send(cmd == "UL" ? QByteArray("\x02\x57\xE5", 3) : QByteArray("\x02\x17\x71", 3));
        std::vector<QByteArray> items;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            items = cmd == "UL" ? m_slots : m_records;
        }
        for (const QByteArray &item : items) {
            if (m_stop)
                return;
            send(item);
            if (const int gap = m_gapMs; gap > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(gap));
        }
        return;
    }
    ++m_bad;
}

void ScalePeer::run()
{
    using Clock = std::chrono::steady_clock;
    // A byte at 57600 baud, 10 bits.
    constexpr auto kByteTime = std::chrono::nanoseconds(1000000000LL * 10 / 57600);
    struct Due {
        QByteArray frame;
        Clock::time_point at; // when its last byte has come off the line
    };
    std::deque<Due> due;
    Clock::time_point lastArrival{};
    QByteArray buf;
    while (!m_stop && m_master >= 0) {
        while (!due.empty() && due.front().at <= Clock::now() && m_master >= 0) {
            handle(due.front().frame);
            due.pop_front();
        }
        if (m_master < 0)
            break; // hung up
        const auto now = Clock::now();
        auto wait = std::chrono::nanoseconds(std::chrono::milliseconds(5));
        if (!due.empty())
            wait = std::min(wait, std::max(std::chrono::nanoseconds(0), due.front().at - now));
        const timespec ts{time_t(wait.count() / 1000000000), long(wait.count() % 1000000000)};
        struct pollfd p = {m_master, POLLIN, 0};
        const int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r <= 0)
            continue;
        if (!(p.revents & POLLIN)) {
            // No one has the line open: wait for the next opener.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        char chunk[512];
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        lastArrival = std::max(Clock::now(), lastArrival) + n * kByteTime;
        buf.append(chunk, n);
        // Frames: STX, N, N bytes from the command on, checksum, ETX.
        for (;;) {
            const qsizetype stx = buf.indexOf('\x02');
            if (stx < 0) {
                buf.clear();
                break;
            }
            buf.remove(0, stx);
            if (buf.size() < 2)
                break;
            const int total = uint8_t(buf.at(1)) + 3;
            if (buf.size() < total)
                break;
            const QByteArray frame = buf.left(total);
            uint8_t sum = 0;
            for (int i = 1; i < total - 2; ++i)
                sum ^= uint8_t(frame.at(i));
            if (uint8_t(frame.at(total - 2)) != sum || frame.at(total - 1) != '\x03') {
                ++m_bad;
                buf.remove(0, 1);
                continue;
            }
            buf.remove(0, total);
            due.push_back({frame, lastArrival});
        }
    }
}

} // namespace testpeer
