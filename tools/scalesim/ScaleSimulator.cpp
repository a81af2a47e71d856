#include "ScaleSimulator.h"

#include "CodePage.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>

#include <poll.h>
#include <unistd.h>

namespace torvane::scalesim {

using scalelink::kPluSlotSize;
using scalelink::kSaleRecordSize;
using scalelink::kStx;
using scalelink::kEtx;

namespace {

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepUntilNs(int64_t when)
{
    const int64_t left = when - nowNs();
    if (left > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(left));
}

uint16_t get16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t get24(const uint8_t *p)
{
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

// One CSV line into fields (double quotes, "" inside quotes).
QStringList splitCsv(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && text.trimmed() == text)
        return text;
    QString q = text;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

bool parseNumber(const QString &text, uint32_t max, uint32_t *value)
{
    bool ok = false;
    const qulonglong v = text.trimmed().toULongLong(&ok, 10);
    if (!ok || v > max)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// A date field of the raw sales form: 0..99 sent as BCD, or 0xHH raw.
bool parseBcdField(const QString &text, uint8_t *byte)
{
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        bool ok = false;
        const uint v = t.mid(2).toUInt(&ok, 16);
        if (!ok || v > 0xFF)
            return false;
        *byte = static_cast<uint8_t>(v);
        return true;
    }
    uint32_t v = 0;
    if (!parseNumber(t, 99, &v))
        return false;
    *byte = scalelink::EncodeBcd(static_cast<uint8_t>(v));
    return true;
}

// Lines of a text file, with their 1-based numbers; blank lines and a header
// line starting with "pluNo" are skipped.
bool readCsvLines(const QString &path, QList<QPair<int, QStringList>> *rows, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    int number = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        if (number == 1 && line.trimmed().startsWith(QLatin1String("pluNo"), Qt::CaseInsensitive))
            continue;
        rows->append({number, splitCsv(line)});
    }
    return true;
}

} // namespace

QString hexBytes(const uint8_t *bytes, std::size_t count)
{
    QString out;
    out.reserve(static_cast<qsizetype>(count * 3));
    for (std::size_t i = 0; i < count; ++i) {
        if (i)
            out += QLatin1Char(' ');
        out += QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

ScaleSimulator::ScaleSimulator(Options options) : m_options(options) {}

void ScaleSimulator::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

void ScaleSimulator::store(const Slot &slot)
{
    const int number = get16(slot.data());
    if (number >= 1 && number <= kMemorySlots)
        m_memory[static_cast<std::size_t>(number - 1)] = slot;
}

void ScaleSimulator::clearMemory()
{
    for (auto &s : m_memory)
        s.reset();
}

int ScaleSimulator::storedCount() const
{
    return static_cast<int>(std::count_if(m_memory.begin(), m_memory.end(), [](const auto &s) { return s.has_value(); }));
}

// ---- CSV ---------------------------------------------------------------------
bool ScaleSimulator::loadProducts(const QString &path, QString *error)
{
    QList<QPair<int, QStringList>> rows;
    if (!readCsvLines(path, &rows, error))
        return false;
    std::array<std::optional<Slot>, kMemorySlots> memory{};
    for (const auto &[line, f] : rows) {
        auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(what);
            return false;
        };
        if (f.size() < 8 || f.size() > 9)
            return fail(QStringLiteral("expected pluNo,preFix,pluCode,pluDesc,validDays,tareWeight,unitPrice,"
                                       "sellFlag[,barcodeMode]"));
        uint32_t number, prefix, days, tare, price, sell, mode = 0;
        if (!parseNumber(f[0], kMemorySlots, &number) || number == 0)
            return fail(QStringLiteral("pluNo must be 1 to %1").arg(kMemorySlots));
        if (!parseNumber(f[1], 255, &prefix))
            return fail(QStringLiteral("preFix must be 0 to 255"));
        if (!parseNumber(f[4], 65535, &days))
            return fail(QStringLiteral("validDays must be 0 to 65535"));
        if (!parseNumber(f[5], 65535, &tare))
            return fail(QStringLiteral("tareWeight must be 0 to 65535"));
        if (!parseNumber(f[6], 0xFFFFFF, &price))
            return fail(QStringLiteral("unitPrice must be 0 to 16777215"));
        if (!parseNumber(f[7], 255, &sell))
            return fail(QStringLiteral("sellFlag must be 0 to 255"));
        if (f.size() == 9 && !f[8].trimmed().isEmpty() && !parseNumber(f[8], 255, &mode))
            return fail(QStringLiteral("barcodeMode must be 0 to 255"));
        ScalePlu plu;
        plu.number = static_cast<uint16_t>(number);
        plu.prefix = static_cast<uint8_t>(prefix);
        scalelink::AnsiToField(f[2], plu.code, sizeof plu.code);
        scalelink::AnsiToField(f[3], plu.description, sizeof plu.description);
        plu.shelfLifeDays = static_cast<uint16_t>(days);
        plu.tare = static_cast<uint16_t>(tare);
        plu.unitPrice = price;
        plu.saleType = static_cast<uint8_t>(sell);
        plu.barcodeMode = static_cast<uint8_t>(mode);
        memory[number - 1] = scalelink::EncodePluSlot(plu);
    }
    m_memory = memory;
    return true;
}

bool ScaleSimulator::saveProducts(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    out << "pluNo,preFix,pluCode,pluDesc,validDays,tareWeight,unitPrice,sellFlag,barcodeMode\n";
    for (const auto &s : m_memory) {
        if (!s)
            continue;
        const ScalePlu p = scalelink::DecodePluSlot(s->data());
        out << p.number << ',' << p.prefix << ',' << csvField(scalelink::StringFromAnsiField(p.code, 6)) << ','
            << csvField(scalelink::StringFromAnsiField(p.description, 26)) << ',' << p.shelfLifeDays << ','
            << p.tare << ',' << p.unitPrice << ',' << p.saleType << ',' << p.barcodeMode << '\n';
    }
    out.flush();
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool ScaleSimulator::loadSales(const QString &path, QString *error)
{
    QList<QPair<int, QStringList>> rows;
    if (!readCsvLines(path, &rows, error))
        return false;
    std::vector<Record> sales;
    for (const auto &[line, f] : rows) {
        auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(what);
            return false;
        };
        ScaleSale sale;
        Record r{};
        uint32_t number = 0, value = 0;
        if (f.size() == 3) {
            if (!parseNumber(f[0], 65535, &number))
                return fail(QStringLiteral("pluNo must be 0 to 65535"));
            const QDateTime when = QDateTime::fromString(f[1].trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (!when.isValid() || when.date().year() < 2000 || when.date().year() > 2099)
                return fail(QStringLiteral("dateTime must be YYYY-MM-DD hh:mm:ss, years 2000 to 2099"));
            if (!parseNumber(f[2], 0xFFFFFF, &value))
                return fail(QStringLiteral("value must be 0 to 16777215"));
            sale.number = static_cast<uint16_t>(number);
            sale.year = static_cast<uint8_t>(when.date().year() - 2000);
            sale.month = static_cast<uint8_t>(when.date().month());
            sale.day = static_cast<uint8_t>(when.date().day());
            sale.hour = static_cast<uint8_t>(when.time().hour());
            sale.minute = static_cast<uint8_t>(when.time().minute());
            sale.second = static_cast<uint8_t>(when.time().second());
            sale.value = value;
            r = scalelink::EncodeSaleRecord(sale);
        } else if (f.size() == 8) {
            if (!parseNumber(f[0], 65535, &number))
                return fail(QStringLiteral("pluNo must be 0 to 65535"));
            if (!parseNumber(f[7], 0xFFFFFF, &value))
                return fail(QStringLiteral("value must be 0 to 16777215"));
            sale.number = static_cast<uint16_t>(number);
            sale.value = value;
            r = scalelink::EncodeSaleRecord(sale);
            for (int i = 0; i < 6; ++i)
                if (!parseBcdField(f[1 + i], &r[static_cast<std::size_t>(2 + i)]))
                    return fail(QStringLiteral("date field %1 must be 0 to 99 or a raw byte 0xHH").arg(i + 1));
        } else {
            return fail(QStringLiteral("expected pluNo,dateTime,value or pluNo,yy,MM,dd,hh,mm,ss,value"));
        }
        sales.push_back(r);
    }
    m_sales = std::move(sales);
    return true;
}

// ---- Output ------------------------------------------------------------------
void ScaleSimulator::send(const std::vector<uint8_t> &bytes)
{
    if (m_replyBuffer) {
        m_replyBuffer->insert(m_replyBuffer->end(), bytes.begin(), bytes.end());
        return;
    }
    const std::size_t n = bytes.size();
    const int64_t byteNs = m_options.paceBaud ? int64_t(10) * 1000000000 / m_options.paceBaud : 0;
    // The answer's clock starts when the request's last byte came off the
    // wire (plus the reply delay), as on a real line: a late wake-up here
    // does not delay the answer a second time.
    int64_t start = std::max(nowNs(), m_outputFreeNs);
    if (byteNs && m_requestEndNs)
        start = std::max(m_outputFreeNs,
                         std::min(start, m_requestEndNs + int64_t(m_options.replyDelayMs) * 1000000));
    std::size_t sent = 0;
    int64_t blockedSince = 0;
    while (sent < n) {
        if (m_stop && m_stop->load())
            return;
        std::size_t ready = n;
        if (byteNs) {
            // A byte reaches the other end when its last bit has left, never
            // earlier.  The first byte goes out on time (it ends the other
            // side's wait); the rest in batches of about a millisecond, to
            // spare wake-ups on a long stream.
            const int64_t elapsed = nowNs() - start;
            ready = std::min<std::size_t>(n, elapsed <= 0 ? 0 : static_cast<std::size_t>(elapsed / byteNs));
            if (ready <= sent) {
                const std::size_t batch = sent == 0 ? 1 : std::max<std::size_t>(1, 1000000 / byteNs);
                sleepUntilNs(start + int64_t(std::min(n, sent + batch)) * byteNs);
                continue;
            }
        }
        const ssize_t w = ::write(m_fd, bytes.data() + sent, ready - sent);
        if (w > 0) {
            sent += static_cast<std::size_t>(w);
            blockedSince = 0;
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN) {
            log(QStringLiteral("write failed: %1").arg(QString::fromLocal8Bit(strerror(errno))));
            return;
        }
        // The other end does not read: give it two seconds, then give up the
        // rest rather than hang.
        if (!blockedSince)
            blockedSince = nowNs();
        if (nowNs() - blockedSince > 2000000000LL) {
            log(QStringLiteral("nobody reads: %1 of %2 bytes not sent").arg(n - sent).arg(n));
            return;
        }
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    m_outputFreeNs = byteNs ? std::max(start + int64_t(n) * byteNs, nowNs()) : 0;
}

// ---- Frames --------------------------------------------------------------------
void ScaleSimulator::dropPartial(const char *why, bool counted)
{
    std::vector<uint8_t> bytes;
    bytes.swap(m_partial);
    if (counted) {
        log(QStringLiteral("rejected: %1 (%2 bytes: %3)")
                .arg(QLatin1String(why))
                .arg(bytes.size())
                .arg(hexBytes(bytes.data(), std::min<std::size_t>(bytes.size(), 64))));
        ++m_stats.framesRejected;
    } else if (!m_refeeding) {
        log(QStringLiteral("not a frame: %1 (%2)").arg(QLatin1String(why), hexBytes(bytes.data(), bytes.size())));
    }
    // Look for the next frame from the byte after this STX: a damaged frame
    // must not swallow a good one that follows.
    const int skippedBefore = m_skipped;
    ++m_skipped;
    ++m_stats.noiseBytes;
    const bool outer = !m_refeeding;
    m_refeeding = true;
    for (std::size_t i = 1; i < bytes.size(); ++i)
        parseByte(bytes[i]);
    m_refeeding = !outer;
    // A rejected frame is reported already: its bytes are not "skipped".
    if (counted && m_partial.empty())
        m_skipped = skippedBefore;
}

void ScaleSimulator::parseByte(uint8_t byte)
{
    if (m_partial.empty()) {
        if (byte != kStx) {
            ++m_skipped;
            ++m_stats.noiseBytes;
            return;
        }
        m_partial.push_back(byte);
        return;
    }
    m_partial.push_back(byte);
    const std::size_t size = m_partial.size();
    if (size == 2 && byte < 3) {
        dropPartial("length byte below 3", false);
        return;
    }
    if (size == 4) {
        const bool dl = m_partial[2] == 'D' && m_partial[3] == 'L';
        const bool ul = m_partial[2] == 'U' && (m_partial[3] == 'L' || m_partial[3] == 'R');
        if (!dl && !ul) {
            dropPartial("unknown command", false);
            return;
        }
        if ((dl && m_partial[1] != 50) || (ul && m_partial[1] != 3)) {
            dropPartial("wrong length for its command", false);
            return;
        }
    }
    if (size >= 4 && size == std::size_t(m_partial[1]) + 3) {
        if (m_skipped) {
            log(QStringLiteral("skipped %1 byte(s) before STX").arg(m_skipped));
            m_skipped = 0;
        }
        std::vector<uint8_t> frame;
        frame.swap(m_partial);
        handleFrame(frame);
    }
}

void ScaleSimulator::handleFrame(const std::vector<uint8_t> &frame)
{
    const std::size_t n = frame[1];
    const uint8_t sum = scalelink::FrameChecksum(&frame[1], n);
    if (frame[n + 2] != kEtx) {
        m_partial = frame;
        dropPartial("no ETX at the end", true);
        return;
    }
    if (frame[n + 1] != sum) {
        m_partial = frame;
        dropPartial(qPrintable(QStringLiteral("checksum %1, expected %2")
                                   .arg(frame[n + 1], 2, 16, QLatin1Char('0'))
                                   .arg(sum, 2, 16, QLatin1Char('0'))),
                    true);
        return;
    }
    if (frame[2] == 'D')
        handleDownload(frame);
    else
        handleUpload(frame[3] == 'L');
}

void ScaleSimulator::handleDownload(const std::vector<uint8_t> &frame)
{
    const int index = ++m_downloadFrames;
    Slot slot{};
    std::copy(frame.begin() + 6, frame.begin() + 51, slot.begin());
    const ScalePlu plu = scalelink::DecodePluSlot(slot.data());
    const int first = get16(&frame[4]);
    QString text = QStringLiteral("DL #%1 plu=%2 prefix=%3 code=\"%4\" desc=\"%5\" days=%6 tare=%7 price=%8 sale=%9 "
                                  "mode=%10")
                       .arg(index)
                       .arg(plu.number)
                       .arg(plu.prefix)
                       .arg(scalelink::StringFromAnsiField(plu.code, 6))
                       .arg(scalelink::StringFromAnsiField(plu.description, 26))
                       .arg(plu.shelfLifeDays)
                       .arg(plu.tare)
                       .arg(get24(&frame[46]))
                       .arg(plu.saleType)
                       .arg(plu.barcodeMode);
    if (first != plu.number)
        text += QStringLiteral(" (first copy of the number: %1)").arg(first);
    if (m_options.noAnswerFrom > 0 && index >= m_options.noAnswerFrom) {
        log(text + QStringLiteral(" -> no answer (fault injected)"));
        return;
    }
    if (plu.number < 1 || plu.number > kMemorySlots) {
        log(text + QStringLiteral(" -> no answer: the memory holds PLU 1 to %1").arg(kMemorySlots));
        ++m_stats.framesRejected;
        return;
    }
    if (m_options.replyDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_options.replyDelayMs));
    if (m_options.badReplyFrom > 0 && index >= m_options.badReplyFrom) {
        log(text + QStringLiteral(" -> NG (fault injected)"));
        send({kStx, 'N', 'G', kEtx});
        return;
    }
    m_memory[static_cast<std::size_t>(plu.number - 1)] = slot;
    ++m_stats.framesAccepted;
    // Before the answer: whatever the hook does (save the memory, change
    // the world around the transmitter) has happened when the next frame
    // comes.
    if (m_onStored)
        m_onStored();
    if (m_options.doubleReplyAt > 0 && index == m_options.doubleReplyAt) {
        if (m_options.doubleReplyGapMs > 0 && !m_replyBuffer) {
            log(text + QStringLiteral(" -> OK, and again in %1 ms (fault injected)").arg(m_options.doubleReplyGapMs));
            send({kStx, 'O', 'K', kEtx});
            m_duplicateAtNs = nowNs() + int64_t(m_options.doubleReplyGapMs) * 1000000;
            return;
        }
        log(text + QStringLiteral(" -> OK twice (fault injected)"));
        send({kStx, 'O', 'K', kEtx, kStx, 'O', 'K', kEtx});
        return;
    }
    log(text + QStringLiteral(" -> OK"));
    send({kStx, 'O', 'K', kEtx});
}

void ScaleSimulator::handleUpload(bool products)
{
    ++m_stats.uploads;
    const char *name = products ? "UL" : "UR";
    if (m_options.noHeader) {
        log(QStringLiteral("%1 -> no answer (fault injected)").arg(QLatin1String(name)));
        return;
    }
    if (m_options.replyDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_options.replyDelayMs));

    std::vector<uint8_t> out;
    for (int i = 0; i < m_options.noiseBytes; ++i) {
        uint8_t b = static_cast<uint8_t>(0x55 + 37 * i);
        if (b == kStx)
            b = 0xFF;
        out.push_back(b);
    }
    const uint8_t *header = products ? scalelink::kPluHeader : scalelink::kSaleHeader;
    out.push_back(kStx);
    out.push_back(header[0]);
    out.push_back(static_cast<uint8_t>(header[1] + (m_options.wrongHeader ? 1 : 0)));

    int count = 0;
    bool cut = false;
    const int shortAt = products ? m_options.shortSlot : m_options.shortRecord;
    auto append = [&](const uint8_t *bytes, std::size_t size) {
        if (cut)
            return;
        ++count;
        if (shortAt > 0 && count == shortAt) {
            out.insert(out.end(), bytes, bytes + size - 1);
            cut = true;
            return;
        }
        out.insert(out.end(), bytes, bytes + size);
    };
    if (products) {
        for (int n = 1; n <= kMemorySlots; ++n) {
            const auto &s = m_memory[static_cast<std::size_t>(n - 1)];
            if (s) {
                append(s->data(), kPluSlotSize);
            } else if (!m_options.occupiedOnly) {
                Slot empty{};
                empty[0] = static_cast<uint8_t>(n >> 8);
                empty[1] = static_cast<uint8_t>(n);
                append(empty.data(), kPluSlotSize);
            }
        }
        if (m_options.occupiedOnly) {
            Slot end{};
            end[0] = end[1] = 0xFF;
            append(end.data(), kPluSlotSize);
        }
    } else {
        for (const Record &r : m_sales)
            append(r.data(), kSaleRecordSize);
        if (!m_options.noEndMarker) {
            Record end{};
            end[0] = end[1] = 0xFF;
            append(end.data(), kSaleRecordSize);
        }
    }
    QString text = QStringLiteral("%1 -> header %2, %3 %4")
                       .arg(QLatin1String(name))
                       .arg(m_options.wrongHeader ? QStringLiteral("(wrong, fault injected)") : QStringLiteral("OK"))
                       .arg(count)
                       .arg(products ? QStringLiteral("slot(s)") : QStringLiteral("record(s)"));
    if (m_options.noiseBytes)
        text += QStringLiteral(", %1 noise byte(s) first").arg(m_options.noiseBytes);
    if (cut)
        text += QStringLiteral(", the last one short by a byte (fault injected)");
    log(text);
    send(out);
}

void ScaleSimulator::feed(const uint8_t *bytes, std::size_t count, std::vector<uint8_t> *reply)
{
    m_replyBuffer = reply;
    for (std::size_t i = 0; i < count; ++i)
        parseByte(bytes[i]);
    m_replyBuffer = nullptr;
}

// ---- Serving a descriptor ---------------------------------------------------------
int ScaleSimulator::serve(int fd, const std::atomic<bool> &stop, int idleExitMs)
{
    m_fd = fd;
    m_stop = &stop;
    // What arrives takes its time on the line (paced, or at the scale's
    // line speed): a frame is acted on once its last byte could be here.
    const uint32_t inputBaud = m_options.paceBaud ? m_options.paceBaud : m_options.receiveBaud;
    const int64_t inputByteNs = inputBaud ? int64_t(10) * 1000000000 / inputBaud : 0;
    struct Pending {
        uint8_t byte;
        int64_t at; // when its last bit has arrived
    };
    std::deque<Pending> queue;
    int64_t lastArrival = 0; // wire clock of the input
    int64_t lastActivity = nowNs();
    int result = 0;

    while (!stop.load()) {
        int64_t now = nowNs();
        while (!queue.empty() && queue.front().at <= now) {
            m_requestEndNs = queue.front().at;
            parseByte(queue.front().byte);
            queue.pop_front();
            lastActivity = nowNs();
        }
        now = nowNs();
        if (m_duplicateAtNs && now >= m_duplicateAtNs) {
            m_duplicateAtNs = 0;
            m_requestEndNs = 0;
            log(QStringLiteral("OK again (fault injected)"));
            send({kStx, 'O', 'K', kEtx});
            now = nowNs();
        }
        if (!m_partial.empty() && queue.empty() && now - lastActivity > int64_t(m_options.frameTimeoutMs) * 1000000)
            dropPartial("incomplete frame, the line went quiet", true);
        if (idleExitMs > 0 && queue.empty() && now - lastActivity > int64_t(idleExitMs) * 1000000) {
            log(QStringLiteral("idle for %1 ms: exiting").arg(idleExitMs));
            break;
        }

        // Frames are acted on whole, and the line is half-duplex: wake when
        // the last byte received so far has come off the wire, not for each
        // byte.  Look at the stop flag at least every 50 ms.
        int64_t waitNs = 50000000;
        if (!queue.empty())
            waitNs = std::min(waitNs, std::max<int64_t>(0, queue.back().at - now));
        if (m_duplicateAtNs)
            waitNs = std::min(waitNs, std::max<int64_t>(0, m_duplicateAtNs - now));
        timespec ts{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
        pollfd p{fd, POLLIN, 0};
        const int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            result = errno;
            break;
        }
        if (r == 0)
            continue;
        if (p.revents & POLLIN) {
            uint8_t buf[512];
            const ssize_t got = ::read(fd, buf, sizeof buf);
            if (got > 0) {
                const int64_t at = nowNs();
                for (ssize_t i = 0; i < got; ++i) {
                    lastArrival = inputByteNs ? std::max(at, lastArrival) + inputByteNs : at;
                    queue.push_back({buf[i], lastArrival});
                }
                lastActivity = at;
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got < 0 && errno != EIO) {
                result = errno;
                break;
            }
        }
        if (p.revents & (POLLHUP | POLLERR | POLLIN)) {
            // Nobody on the other end (a pseudo-terminal whose slave is
            // closed): wait without spinning.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    m_fd = -1;
    m_stop = nullptr;
    m_requestEndNs = 0;
    m_duplicateAtNs = 0;
    return result;
}

} // namespace torvane::scalesim
