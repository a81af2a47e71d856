#include "ScaleProtocol.h"
#include "Serial.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace torvane::scalelink {

namespace {

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void put16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put24(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 16);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v);
}

uint16_t get16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t get24(const uint8_t *p)
{
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

WireResult portError(int32_t code)
{
    return {WireStatus::PortError, code, 0};
}

// Reads one byte.  *got tells whether it came; a non-zero result is the
// port's failure (a device that went away, a port that is not open), which
// ends the exchange at once instead of counting as an empty poll.
int32_t readOne(CSerial &port, uint8_t *byte, bool *got)
{
    uint32_t n = 0;
    const int32_t rc = port.ReadBytes(byte, 1, &n, nullptr, SerialInfinite);
    *got = rc == 0 && n == 1;
    return rc;
}

// Polls up to kPollCount times for one byte (1 ms pause after each empty
// poll); until(byte) tells whether the byte ends the wait.
WireResult pollFor(CSerial &port, uint8_t *byte, bool (*until)(uint8_t))
{
    for (int poll = 0; poll < kPollCount; ++poll) {
        bool got = false;
        if (const int32_t rc = readOne(port, byte, &got); rc != 0)
            return portError(rc);
        if (got && until(*byte))
            return {};
        pause(1);
    }
    return {WireStatus::NoAnswer, 0, 0};
}

// The slot / record reader shared by both uploads: waits for the first byte,
// then the rest in one read.
WireResult readBlock(CSerial &port, uint8_t *buffer, std::size_t size)
{
    if (WireResult first = pollFor(port, buffer, [](uint8_t) { return true; }); !first)
        return first;
    uint32_t got = 0;
    const int32_t rc = port.ReadBytes(buffer + 1, static_cast<uint32_t>(size - 1), &got, nullptr, SerialInfinite);
    if (rc != 0)
        return portError(rc);
    if (got != size - 1)
        return {WireStatus::NoAnswer, 0, got + 1};
    return {};
}

// Writes a whole frame; a write the port refused, or one that ended short
// (its time-out ran out with the line blocked), is the port's failure.
WireResult writeFrame(CSerial &port, const uint8_t *bytes, std::size_t size)
{
    uint32_t written = 0;
    const int32_t rc = port.WriteBytes(bytes, static_cast<uint32_t>(size), &written, nullptr, SerialInfinite);
    if (rc != 0)
        return {WireStatus::PortError, rc, written};
    if (written != size)
        return {WireStatus::ShortWrite, 0, written};
    return {};
}

} // namespace

uint8_t FrameChecksum(const uint8_t *bytes, std::size_t count)
{
    uint8_t x = 0;
    for (std::size_t i = 0; i < count; ++i)
        x ^= bytes[i];
    return x;
}

std::array<uint8_t, kPluSlotSize> EncodePluSlot(const ScalePlu &plu)
{
    std::array<uint8_t, kPluSlotSize> s{};
    put16(&s[0], plu.number);
    s[2] = plu.prefix;
    std::memcpy(&s[3], plu.code, 6);
    std::memcpy(&s[9], plu.description, 26);
    put16(&s[35], plu.shelfLifeDays);
    put16(&s[37], plu.tare);
    s[39] = 0; // the price's top byte
    put24(&s[40], plu.unitPrice & 0xFFFFFFu);
    s[43] = plu.saleType;
    s[44] = plu.barcodeMode;
    return s;
}

ScalePlu DecodePluSlot(const uint8_t *s)
{
    ScalePlu plu;
    plu.number = get16(&s[0]);
    plu.prefix = s[2];
    std::memcpy(plu.code, &s[3], 6);
    std::memcpy(plu.description, &s[9], 26);
    plu.shelfLifeDays = get16(&s[35]);
    plu.tare = get16(&s[37]);
    plu.unitPrice = get24(&s[40]);
    plu.saleType = s[43];
    // Offset 39 (the price's top byte) is not interpreted.  Offset 44 is
    // carried as the scale sent it; the product upload does not store it.
    plu.barcodeMode = s[44];
    return plu;
}

std::array<uint8_t, kPluFrameSize> BuildPluFrame(const ScalePlu &plu)
{
    std::array<uint8_t, kPluFrameSize> f{};
    f[0] = kStx;
    f[1] = 0x32; // 50 bytes from here to the checksum
    f[2] = 'D';
    f[3] = 'L';
    put16(&f[4], plu.number);
    const auto slot = EncodePluSlot(plu);
    std::memcpy(&f[6], slot.data(), slot.size());
    f[51] = FrameChecksum(&f[1], 50);
    f[52] = kEtx;
    return f;
}

std::array<uint8_t, kUploadRequestSize> BuildUploadRequest(const char *command)
{
    std::array<uint8_t, kUploadRequestSize> r{};
    r[0] = kStx;
    r[1] = 0x03;
    r[2] = command ? static_cast<uint8_t>(command[0]) : 0;
    r[3] = command && command[0] ? static_cast<uint8_t>(command[1]) : 0;
    r[4] = FrameChecksum(&r[1], 3);
    r[5] = kEtx;
    return r;
}

uint8_t DecodeBcd(uint8_t byte)
{
    return static_cast<uint8_t>((byte >> 4) * 10 + (byte & 0x0F));
}

uint8_t EncodeBcd(uint8_t value)
{
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

std::array<uint8_t, kSaleRecordSize> EncodeSaleRecord(const ScaleSale &sale)
{
    std::array<uint8_t, kSaleRecordSize> r{};
    put16(&r[0], sale.number);
    r[2] = EncodeBcd(sale.year);
    r[3] = EncodeBcd(sale.month);
    r[4] = EncodeBcd(sale.day);
    r[5] = EncodeBcd(sale.hour);
    r[6] = EncodeBcd(sale.minute);
    r[7] = EncodeBcd(sale.second);
    r[8] = 0;
    put24(&r[9], sale.value & 0xFFFFFFu);
    return r;
}

ScaleSale DecodeSaleRecord(const uint8_t *r)
{
    ScaleSale s;
    s.number = get16(&r[0]);
    s.year = DecodeBcd(r[2]);
    s.month = DecodeBcd(r[3]);
    s.day = DecodeBcd(r[4]);
    s.hour = DecodeBcd(r[5]);
    s.minute = DecodeBcd(r[6]);
    s.second = DecodeBcd(r[7]);
    s.value = get24(&r[9]);
    return s;
}

} // namespace torvane::scalelink

using namespace torvane::scalelink;

WireResult SendPluFrame(CSerial &port, const ScalePlu &plu, WireClock::time_point *writeBegan)
{
    const auto frame = BuildPluFrame(plu);
    // Whatever waits now (a late or doubled answer to an earlier frame) is
    // not the answer to this one.
    if (const int32_t rc = port.PurgeInput(); rc != 0)
        return portError(rc);
    if (writeBegan)
        *writeBegan = WireClock::now();
    return writeFrame(port, frame.data(), frame.size());
}

WireResult AwaitOkReply(CSerial &port, WireClock::time_point writeBegan)
{
    uint8_t reply[kOkReplySize] = {};
    // The scale answers a frame only once the frame has crossed the line.
    // A byte seen before then belongs to something else (an answer given
    // twice, or late); it is judged only when seen before that moment, so a
    // slow wake-up here can never turn a true answer into a stray one.
    // Over raw TCP no line of a known speed lies between us and the scale
    // (a scale with an Ethernet port may answer at once): there the answer
    // is held to the frame having reached the far end, below.
    const auto frameCrossed = port.LineKnown() ? writeBegan + LineTime(kPluFrameSize) : writeBegan;
    bool first = false;
    for (auto now = WireClock::now(); now < frameCrossed; now = WireClock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(frameCrossed - now).count();
        uint32_t got = 0;
        const int32_t rc = port.ReadBytes(&reply[0], 1, &got, nullptr, static_cast<uint32_t>(left));
        if (got == 1) {
            if (WireClock::now() < frameCrossed)
                return {WireStatus::StrayBytes, 0, 1};
            first = true;
            break;
        }
        if (rc == SerialErrorTimeout)
            break;
        if (rc != 0)
            return portError(rc);
    }
    if (!first) {
        if (WireResult r = pollFor(port, &reply[0], [](uint8_t) { return true; }); !r)
            return r;
    }
    // On a network port the far end acknowledges what it receives, and its
    // answer carries that acknowledgement: a byte that came while the frame
    // was not yet acknowledged was sent before the far end had the frame.
    uint32_t unconfirmed = 0;
    if (const int32_t rc = port.UnconfirmedOutput(&unconfirmed); rc != 0)
        return portError(rc);
    if (unconfirmed != 0)
        return {WireStatus::StrayBytes, 0, 1};
    pause(3);
    uint32_t got = 0;
    if (const int32_t rc = port.ReadBytes(&reply[1], 3, &got, nullptr, SerialInfinite); rc != 0)
        return portError(rc);
    // An answer cut short is the scale going quiet, not another answer.
    if (got < 3)
        return {WireStatus::NoAnswer, 0, got + 1};
    if (reply[1] != 'O' || reply[2] != 'K')
        return {WireStatus::WrongAnswer, 0, got + 1};
    // More than one reply's worth of bytes: the scale answered something
    // else too (twice, or late to an earlier frame), so this "OK" cannot be
    // taken as the answer to this product.
    uint32_t extra = 0;
    if (const int32_t rc = port.InputQueued(&extra); rc != 0)
        return portError(rc);
    if (extra != 0)
        return {WireStatus::StrayBytes, 0, extra};
    return {};
}

WireResult SendUploadRequest(CSerial &port, const char *command)
{
    const auto request = BuildUploadRequest(command);
    // Stale input (a late answer to an earlier exchange) goes first; after the
    // request only the scale's answer can arrive, and it is kept.
    if (const int32_t rc = port.PurgeInput(); rc != 0)
        return portError(rc);
    if (WireResult r = writeFrame(port, request.data(), request.size()); !r)
        return r;
    // Let the request leave the driver before anything else happens on the
    // port: a purge or close right after the write would cut it off.
    if (const int32_t rc = port.DrainOutput(1000); rc != 0)
        return portError(rc);
    return {};
}

WireResult AwaitUploadHeader(CSerial &port, uint8_t first, uint8_t second)
{
    uint8_t buffer[2] = {};
    if (WireResult r = pollFor(port, &buffer[0], [](uint8_t b) { return b == kStx; }); !r)
        return r;
    buffer[0] = buffer[1] = 0;
    uint32_t got = 0;
    if (const int32_t rc = port.ReadBytes(buffer, 2, &got, nullptr, SerialInfinite); rc != 0)
        return portError(rc);
    if (got != 2 || buffer[0] != first || buffer[1] != second)
        return {WireStatus::WrongAnswer, 0, got + 1};
    return {};
}

WireResult ReadPluSlot(CSerial &port, ScalePlu &plu)
{
    uint8_t buffer[64] = {};
    WireResult r = readBlock(port, buffer, kPluSlotSize);
    if (r)
        plu = DecodePluSlot(buffer);
    return r;
}

WireResult ReadSaleRecord(CSerial &port, ScaleSale &sale)
{
    uint8_t buffer[64] = {};
    WireResult r = readBlock(port, buffer, kSaleRecordSize);
    if (r)
        sale = DecodeSaleRecord(buffer);
    return r;
}
