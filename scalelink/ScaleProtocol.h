#pragma once
// The byte-level conversation with the label-printing scale.
//
//   "DL"  one 53-byte frame per product, each answered "OK" (4 bytes);
//   "UL"  6-byte request; header 02 57 E5, then 45-byte product slots;
//   "UR"  6-byte request; header 02 17 71, then 12-byte sales records.
//
// Numbers are big-endian; dates in sales records are packed BCD.  The
// operations speak through the port object they are given, which the caller
// has opened for overlapped transfers (OpenForWindow; some reads carry a
// bound of their own) with 57600 8N1 and SetReadTimeouts(ReadTimed, 10).
// They keep no state between calls and never throw.  Each returns a
// WireResult that says whether the exchange worked and, when it did not,
// whose fault it was: the port's (the serial layer's error code, or a write
// that moved fewer bytes than asked) or the scale's (silence, a wrong
// answer, bytes that are not this exchange's answer).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

class CSerial;

// The image of one product as it travels to and from the scale.
struct ScalePlu {
    uint16_t number = 0;         // pluNo
    uint8_t prefix = 0;          // preFix
    uint8_t code[6] = {};        // pluCode, code page 1252, no terminator
    uint8_t description[26] = {}; // pluDesc, code page 1252, zero bytes after the text
    uint16_t shelfLifeDays = 0;  // validDays
    uint16_t tare = 0;           // tareWeight, grams
    uint32_t unitPrice = 0;      // hundredths; only the low 24 bits travel
    uint8_t saleType = 0;        // 1 by weight, 2 by unit
    uint8_t barcodeMode = 0;     // 1 weight, 2 total to pay
};

// The image of one sales record.
struct ScaleSale {
    uint16_t number = 0;
    uint8_t year = 0;   // 0..99 after BCD decoding
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint32_t value = 0; // 24 bits
};

// Whose fault an exchange that did not work was.
enum class WireStatus {
    Ok,
    PortError,   // the serial layer failed: `code` holds its error code
    ShortWrite,  // the write ended after `transferred` bytes of the frame
    NoAnswer,    // nothing came in time, or it stopped after `transferred` bytes
    WrongAnswer, // the scale answered, but not what the exchange expects
    StrayBytes,  // bytes that cannot be this exchange's answer: they came
                 // before the frame could have reached the scale, or more
                 // came than the answer holds (a doubled or late answer)
};

struct WireResult {
    WireStatus status = WireStatus::Ok;
    int32_t code = 0;         // PortError: the serial layer's code
    uint32_t transferred = 0; // ShortWrite / NoAnswer: bytes moved before it ended
    explicit operator bool() const { return status == WireStatus::Ok; }
};

using WireClock = std::chrono::steady_clock;

// Sends the 53-byte "DL" frame of a product.  Received bytes still waiting
// are discarded first (a late answer to an earlier frame).  *writeBegan, when
// given, gets the moment the write began: the frame's answer cannot start
// before the frame has crossed the line (AwaitOkReply).
WireResult SendPluFrame(CSerial &port, const ScalePlu &plu, WireClock::time_point *writeBegan = nullptr);

// Waits for the answer to the frame whose write began at writeBegan.  A byte
// seen before the frame's time on the line (53 bytes at 57600 8N1, about
// 9.2 ms) has passed is not its answer: StrayBytes.  Over raw TCP, where no
// line of a known speed paces the far end, the rule is that the far end's TCP
// has acknowledged the whole frame when the first byte is seen.  Then it polls up to 50
// times for the first byte and reads three more: Ok when bytes 1 and 2 are
// "O" and "K" and nothing else waits behind them (a scale that answered twice
// has not given this product an answer of its own).
WireResult AwaitOkReply(CSerial &port, WireClock::time_point writeBegan);

// Sends the 6-byte request for "UL" or "UR" (command: two ASCII letters).
// Stale input is discarded before the request goes out and the request is let
// drain, so the scale's answer, however fast, is kept for AwaitUploadHeader.
WireResult SendUploadRequest(CSerial &port, const char *command);

// Skips bytes up to 0x02 (50 polls), then reads the two header bytes; Ok when
// they are first and second.  It does not purge: the answer may already be
// waiting in the receive buffer.
WireResult AwaitUploadHeader(CSerial &port, uint8_t first, uint8_t second);

// Reads the next 45-byte product slot / 12-byte sales record; Ok and the
// image filled only when the whole slot or record arrived.
WireResult ReadPluSlot(CSerial &port, ScalePlu &plu);
WireResult ReadSaleRecord(CSerial &port, ScaleSale &sale);

namespace torvane::scalelink {

inline constexpr std::size_t kPluFrameSize = 53;
inline constexpr std::size_t kUploadRequestSize = 6;
inline constexpr std::size_t kOkReplySize = 4;
inline constexpr std::size_t kPluSlotSize = 45;
inline constexpr std::size_t kSaleRecordSize = 12;
inline constexpr int kPollCount = 50;

// The scale's line: 57600 baud, 8 data bits, no parity, 1 stop bit, so
// every byte takes 10 bits of time.
inline constexpr uint32_t kLineBaud = 57600;
// How long count bytes take on the line (rounded up to the microsecond).
constexpr std::chrono::microseconds LineTime(std::size_t count)
{
    return std::chrono::microseconds((uint64_t(count) * 10 * 1000000 + kLineBaud - 1) / kLineBaud);
}

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kPluHeader[2] = {0x57, 0xE5};  // 22501 = 500 * 45 + 1
inline constexpr uint8_t kSaleHeader[2] = {0x17, 0x71}; // 6001 = 500 * 12 + 1

// XOR of the bytes.
uint8_t FrameChecksum(const uint8_t *bytes, std::size_t count);

std::array<uint8_t, kPluFrameSize> BuildPluFrame(const ScalePlu &plu);
std::array<uint8_t, kUploadRequestSize> BuildUploadRequest(const char *command);

// The 45-byte slot is offsets 6..50 of the PLU frame.
std::array<uint8_t, kPluSlotSize> EncodePluSlot(const ScalePlu &plu);
ScalePlu DecodePluSlot(const uint8_t *slot);
std::array<uint8_t, kSaleRecordSize> EncodeSaleRecord(const ScaleSale &sale);
ScaleSale DecodeSaleRecord(const uint8_t *record);

// Packed BCD: high nibble tens, low nibble units, no range check on decode
// (0x1A decodes to 20).
uint8_t DecodeBcd(uint8_t byte);
uint8_t EncodeBcd(uint8_t value); // value 0..99

} // namespace torvane::scalelink
