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

// Reads one byte; true when exactly one came.  A failed read counts as an
// empty poll.
bool readOne(CSerial &port, uint8_t *byte)
{
    uint32_t got = 0;
    return port.ReadBytes(byte, 1, &got, nullptr, SerialInfinite) == 0 && got == 1;
}

// The slot / record reader shared by both uploads: waits for the first byte,
// then the rest in one read.
bool readBlock(CSerial &port, uint8_t *buffer, std::size_t size)
{
    for (int poll = 0; poll < kPollCount; ++poll) {
        if (readOne(port, buffer)) {
            uint32_t got = 0;
            const int32_t rc = port.ReadBytes(buffer + 1, static_cast<uint32_t>(size - 1), &got, nullptr,
                                              SerialInfinite);
            return rc == 0 && got == size - 1;
        }
        pause(1);
    }
    return false;
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

void SendPluFrame(CSerial &port, const ScalePlu &plu)
{
    const auto frame = BuildPluFrame(plu);
    // Whatever waits now (a late or doubled answer to an earlier frame) is
    // not the answer to this one.
    port.PurgeInput();
    uint32_t written = 0;
    port.WriteBytes(frame.data(), static_cast<uint32_t>(frame.size()), &written, nullptr, SerialInfinite);
}

bool AwaitOkReply(CSerial &port)
{
    uint8_t reply[kOkReplySize] = {};
    bool first = false;
    for (int poll = 0; poll < kPollCount && !first; ++poll) {
        first = readOne(port, &reply[0]);
        if (!first)
            pause(1);
    }
    if (!first)
        return false;
    pause(3);
    uint32_t got = 0;
    port.ReadBytes(&reply[1], 3, &got, nullptr, SerialInfinite);
    if (reply[1] != 'O' || reply[2] != 'K')
        return false;
    // More than one reply's worth of bytes: the scale answered something
    // else too (twice, or late to an earlier frame), so this "OK" cannot be
    // taken as the answer to this product.
    uint32_t extra = 0;
    return port.InputQueued(&extra) == 0 && extra == 0;
}

void SendUploadRequest(CSerial &port, const char *command)
{
    const auto request = BuildUploadRequest(command);
    // Stale input (a late answer to an earlier exchange) goes first; after the
    // request only the scale's answer can arrive, and it is kept.
    port.PurgeInput();
    uint32_t written = 0;
    port.WriteBytes(request.data(), static_cast<uint32_t>(request.size()), &written, nullptr, SerialInfinite);
    // Let the request leave the driver before anything else happens on the
    // port: a purge or close right after the write would cut it off.
    port.DrainOutput(1000);
}

bool AwaitUploadHeader(CSerial &port, uint8_t first, uint8_t second)
{
    uint8_t buffer[2] = {};
    bool start = false;
    for (int poll = 0; poll < kPollCount && !start; ++poll) {
        start = readOne(port, &buffer[0]) && buffer[0] == kStx;
        if (!start)
            pause(1);
    }
    if (!start)
        return false;
    buffer[0] = buffer[1] = 0;
    uint32_t got = 0;
    port.ReadBytes(buffer, 2, &got, nullptr, SerialInfinite);
    return got == 2 && buffer[0] == first && buffer[1] == second;
}

bool ReadPluSlot(CSerial &port, ScalePlu &plu)
{
    uint8_t buffer[64] = {};
    if (!readBlock(port, buffer, kPluSlotSize))
        return false;
    plu = DecodePluSlot(buffer);
    return true;
}

bool ReadSaleRecord(CSerial &port, ScaleSale &sale)
{
    uint8_t buffer[64] = {};
    if (!readBlock(port, buffer, kSaleRecordSize))
        return false;
    sale = DecodeSaleRecord(buffer);
    return true;
}
