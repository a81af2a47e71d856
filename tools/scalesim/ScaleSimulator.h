#pragma once
// The scale's side of the serial conversation, for tests, the benchmark and
// demonstrations without the real scale.
//
// It reads frames from a file descriptor (a pseudo-terminal master or a
// serial device), checks each one (STX, length, checksum, ETX), logs it, and
// answers as the scale does:
//   "DL"  stores the product in its 500-slot memory (slot = PLU number) and
//         answers "OK";
//   "UL"  answers the header 02 57 E5 and its slots;
//   "UR"  answers the header 02 17 71 and the sales records it was given.
// Faults can be injected (see Options), and the wire can be paced at a baud
// rate: every byte, in both directions, takes the time it takes on the line.

#include "ScaleProtocol.h"

#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace torvane::scalesim {

inline constexpr int kMemorySlots = 500;

using Slot = std::array<uint8_t, scalelink::kPluSlotSize>;
using Record = std::array<uint8_t, scalelink::kSaleRecordSize>;

struct Options {
    // 0: no pacing; otherwise bytes take 10 bits each at this rate, in both
    // directions.
    uint32_t paceBaud = 0;
    // Without paceBaud: what the scale receives still takes 10 bits a byte
    // at this rate, so a frame is answered only once it could have arrived
    // whole, as on the scale's line (an answer sooner is one no real scale
    // gives, and the transmitter takes it for a stray one).  0: at once (a
    // real device, whose line paces itself).
    uint32_t receiveBaud = scalelink::kLineBaud;
    // Milliseconds before each answer ("OK" or a header).
    int replyDelayMs = 0;
    // 1-based count of the "DL" frames of this run: from this one on, no
    // answer and nothing stored (0: always answer).
    int noAnswerFrom = 0;
    // From this "DL" frame on, answer "NG" instead of "OK" (nothing stored).
    int badReplyFrom = 0;
    // This "DL" frame (1-based) is stored and answered "OK" twice: right
    // after each other, or the second doubleReplyGapMs after the first while
    // the frames that follow are answered as usual.
    int doubleReplyAt = 0;
    int doubleReplyGapMs = 0;
    // Uploads: no header at all / a header whose second byte is off by one /
    // this many noise bytes (never 0x02) before the header.
    bool noHeader = false;
    bool wrongHeader = false;
    int noiseBytes = 0;
    // The k-th slot of "UL" / record of "UR" (1-based) goes out one byte
    // short, and the stream ends there (0: never).
    int shortSlot = 0;
    int shortRecord = 0;
    // "UL": every one of the 500 slots, numbered 1..500 (empty ones carry only
    // their number); with occupiedOnly, just the stored products, then an
    // end slot numbered 65535.
    bool occupiedOnly = false;
    // "UR": after the records an end record numbered 65535, unless this is set.
    bool noEndMarker = false;
    // A partial frame is dropped after this much silence.
    int frameTimeoutMs = 500;
};

struct Stats {
    int framesAccepted = 0; // "DL" stored and answered
    int framesRejected = 0; // whole frames refused: checksum, ETX, cut short, PLU outside the memory
    int uploads = 0;
    int noiseBytes = 0;     // bytes skipped outside frames
};

class ScaleSimulator {
public:
    using LogSink = std::function<void(const QString &line)>;

    explicit ScaleSimulator(Options options = {});

    void setLogSink(LogSink sink) { m_log = std::move(sink); }
    // A line into the same log (the network listener's events).
    void logLine(const QString &line) const { log(line); }
    // Called after every accepted "DL" frame is stored, before it is answered
    // (e.g. to save the memory).
    void setOnStored(std::function<void()> hook) { m_onStored = std::move(hook); }

    // Memory: slot n (1..500) holds the 45-byte image of product n.
    const std::optional<Slot> &slot(int number) const { return m_memory.at(static_cast<std::size_t>(number - 1)); }
    void store(const Slot &slot);
    void clearMemory();
    int storedCount() const;
    void setSales(std::vector<Record> sales) { m_sales = std::move(sales); }
    const std::vector<Record> &sales() const { return m_sales; }
    const Stats &stats() const { return m_stats; }
    const Options &options() const { return m_options; }

    // CSV files.  Products: pluNo,preFix,pluCode,pluDesc,validDays,
    // tareWeight,unitPrice,sellFlag,barcodeMode (texts UTF-8, stored in code
    // page 1252).  Sales: pluNo,dateTime,value with dateTime
    // "YYYY-MM-DD hh:mm:ss", or pluNo,yy,MM,dd,hh,mm,ss,value with each date
    // field a number 0..99 (sent as BCD) or a raw byte written 0xHH.
    // A first line starting with "pluNo" is a header.  On error: false and
    // *error names the line.
    bool loadProducts(const QString &path, QString *error);
    bool saveProducts(const QString &path, QString *error) const;
    bool loadSales(const QString &path, QString *error);

    // Serves the descriptor until stop becomes true, or until idleExitMs
    // (> 0) pass without a byte.  Returns 0, or an errno on a fatal error.
    int serve(int fd, const std::atomic<bool> &stop, int idleExitMs = 0);

    // Feeds received bytes straight to the frame checker (no descriptor);
    // the answers go to `reply`.  For tests of the checker.
    void feed(const uint8_t *bytes, std::size_t count, std::vector<uint8_t> *reply);

private:
    void log(const QString &line) const;
    void handleFrame(const std::vector<uint8_t> &frame);
    void handleDownload(const std::vector<uint8_t> &frame);
    void handleUpload(bool products);
    void send(const std::vector<uint8_t> &bytes);
    void parseByte(uint8_t byte);
    void dropPartial(const char *why, bool counted);

    Options m_options;
    LogSink m_log;
    std::function<void()> m_onStored;
    std::array<std::optional<Slot>, kMemorySlots> m_memory{};
    std::vector<Record> m_sales;
    Stats m_stats;
    int m_downloadFrames = 0;

    // Frame assembly.
    std::vector<uint8_t> m_partial;
    int m_skipped = 0;
    bool m_refeeding = false;

    // Output: a descriptor (serve) or a buffer (feed).
    int m_fd = -1;
    std::vector<uint8_t> *m_replyBuffer = nullptr;
    const std::atomic<bool> *m_stop = nullptr;
    // Wire clock of the paced output: when the line is free again (ns).
    int64_t m_outputFreeNs = 0;
    // Wire time at which the byte being handled had fully arrived.
    int64_t m_requestEndNs = 0;
    // A doubled "OK" still to go out, and when (0: none).
    int64_t m_duplicateAtNs = 0;
};

// Hex dump for the log.
QString hexBytes(const uint8_t *bytes, std::size_t count);

} // namespace torvane::scalesim
