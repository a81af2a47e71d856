#pragma once
// A small scale written for the tests, independent of the scale link code:
// it owns the master side of a pseudo-terminal, links the slave as COMn, and
// answers the frames the transmitter sends ("DL" with "OK", "UL" and "UR"
// with a header and the slots or records it was given).  As on the scale's
// line (57600 baud, 10 bits a byte), a frame counts as received only once
// its last byte could have arrived: no answer comes sooner.

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testpeer {

// One product as the scale keeps it, decoded from a "DL" frame.
struct Product {
    uint16_t number = 0;
    uint16_t numberCopy = 0;
    uint8_t prefix = 0;
    QByteArray code;        // 6 bytes
    QByteArray description; // 26 bytes
    uint16_t shelfLife = 0;
    uint16_t tare = 0;
    uint32_t price = 0;
    uint8_t saleType = 0;
    uint8_t barcodeMode = 0;
};

// Bytes of one 45-byte product slot / 12-byte sales record, built here by
// hand from the wire layout.
QByteArray slotBytes(uint16_t number, uint8_t prefix, const QByteArray &code, const QByteArray &desc,
                     uint16_t shelfLife, uint16_t tare, uint32_t price, uint8_t saleType, uint8_t barcodeMode = 1);
QByteArray recordBytes(uint16_t number, uint8_t yy, uint8_t mm, uint8_t dd, uint8_t hh, uint8_t mi, uint8_t ss,
                       uint32_t value); // date fields as BCD bytes

// How the peer leaves the line settings of its side.
enum class Line {
    Raw,        // raw bytes, as most serial programs set it
    AsTerminal, // untouched: echo, line editing and byte translation on, as
                // a new terminal starts; only the transmitter can make it raw
};

class ScalePeer {
public:
    // Links the pseudo-terminal as <dosdevices>/com<comNumber>.
    ScalePeer(const QString &dosDevicesDir, int comNumber, Line line = Line::Raw);
    ~ScalePeer();
    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // Answer "OK" to the first n product frames, then stay silent (-1: all).
    void setOkLimit(int n) { m_okLimit = n; }
    // Close the line (as a cable pulled out) when product frame k (1-based)
    // arrives, instead of answering it.
    void setHangUpAt(int k) { m_hangUpAt = k; }
    // Send the upload header (or stay silent).
    void setAnswerHeader(bool on) { m_answerHeader = on; }
    void setSlots(std::vector<QByteArray> bytes);
    void setRecords(std::vector<QByteArray> bytes);
    // Pause between two slots or records, in ms (lets a test cancel midway).
    void setStreamGapMs(int ms) { m_gapMs = ms; }
    // Puts bytes on the line now, answering nothing: input that waits for
    // the next program that opens the port.
    void leaveOnTheLine(const QByteArray &bytes) { send(bytes); }

    std::vector<Product> products() const;
    int productFrames() const { return m_frames.load(); }
    int badFrames() const { return m_bad.load(); }
    int uploadRequests() const { return m_requests.load(); }

private:
    void run();
    void handle(const QByteArray &frame);
    void send(const QByteArray &bytes);

    int m_master = -1;
    QString m_slavePath;
    QString m_link;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_okLimit{-1};
    std::atomic<int> m_hangUpAt{0};
    std::atomic<bool> m_answerHeader{true};
    std::atomic<int> m_gapMs{0};
    std::atomic<int> m_frames{0};
    std::atomic<int> m_bad{0};
    std::atomic<int> m_requests{0};
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_slots;
    std::vector<QByteArray> m_records;
    std::vector<Product> m_products;
};

} // namespace testpeer
