#pragma once
// The byte-level conversation with the label-printing scale.
//
//   "DL"  one 53-byte frame per product, each answered "OK" (4 bytes);
//   "UL"  6-byte request; header 02 57 E5, then 45-byte product slots;
//   "UR"  6-byte request; header 02 17 71, then 12-byte sales records.
//
// Numbers are big-endian; dates in sales records are packed BCD.  The
// operations speak through the port object they are given, which the caller
// has opened with 57600 8N1 and SetReadTimeouts(ReadTimed, 10); they keep no
// state between calls, never throw, and report only true / false.

#include <array>
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

// Sends the 53-byte "DL" frame of a product.  Received bytes still waiting
// are discarded first, so the reply read next belongs to this frame.  A
// failed write is not reported: it shows up as a missing "OK".
void SendPluFrame(CSerial &port, const ScalePlu &plu);

// Polls up to 50 times for the first reply byte, then reads three more; true
// when bytes 1 and 2 are "O" and "K" and nothing else waits behind them (a
// scale that answered twice has not given this product a reply of its own).
bool AwaitOkReply(CSerial &port);

// Sends the 6-byte request for "UL" or "UR" (command: two ASCII letters).
// Stale input is discarded before the request goes out and the request is let
// drain, so the scale's answer, however fast, is kept for AwaitUploadHeader.
void SendUploadRequest(CSerial &port, const char *command);

// Skips bytes up to 0x02 (50 polls), then reads the two header bytes; true when
// they are first and second.  It does not purge: the answer may already be
// waiting in the receive buffer.
bool AwaitUploadHeader(CSerial &port, uint8_t first, uint8_t second);

// Reads the next 45-byte product slot / 12-byte sales record; true and the
// image filled only when the whole slot or record arrived.
bool ReadPluSlot(CSerial &port, ScalePlu &plu);
bool ReadSaleRecord(CSerial &port, ScaleSale &sale);

namespace torvane::scalelink {

inline constexpr std::size_t kPluFrameSize = 53;
inline constexpr std::size_t kUploadRequestSize = 6;
inline constexpr std::size_t kOkReplySize = 4;
inline constexpr std::size_t kPluSlotSize = 45;
inline constexpr std::size_t kSaleRecordSize = 12;
inline constexpr int kPollCount = 50;

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
