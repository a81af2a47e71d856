// What the scale sends back: 45-byte product slots and 12-byte sales
// records, decoded from any bytes.  A decoded image encodes to bytes that
// decode to the same image again, so an upload followed by a download never
// drifts.
#include "CodePage.h"
#include "FuzzRequire.h"
#include "ScaleProtocol.h"

#include <cstdint>
#include <cstring>

using torvane::fuzz::require;
using namespace torvane::scalelink;

namespace {

bool samePlu(const ScalePlu &a, const ScalePlu &b)
{
    return a.number == b.number && a.prefix == b.prefix && std::memcmp(a.code, b.code, sizeof a.code) == 0 &&
           std::memcmp(a.description, b.description, sizeof a.description) == 0 &&
           a.shelfLifeDays == b.shelfLifeDays && a.tare == b.tare && a.unitPrice == b.unitPrice &&
           a.saleType == b.saleType && a.barcodeMode == b.barcodeMode;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size >= kPluSlotSize) {
        const ScalePlu plu = DecodePluSlot(data);
        require(plu.unitPrice <= 0xFFFFFF);
        const auto slot = EncodePluSlot(plu);
        require(samePlu(DecodePluSlot(slot.data()), plu));
        const auto frame = BuildPluFrame(plu);
        require(frame[0] == kStx && frame[kPluFrameSize - 1] == kEtx);
        require(FrameChecksum(frame.data() + 1, kPluFrameSize - 3) == frame[kPluFrameSize - 2]);
        (void)StringFromAnsiField(plu.description, sizeof plu.description);
    }
    if (size >= kSaleRecordSize) {
        const uint8_t *record = data + size - kSaleRecordSize;
        const ScaleSale sale = DecodeSaleRecord(record);
        require(sale.value <= 0xFFFFFF);
        const auto again = DecodeSaleRecord(EncodeSaleRecord(DecodeSaleRecord(EncodeSaleRecord(sale).data())).data());
        const ScaleSale once = DecodeSaleRecord(EncodeSaleRecord(sale).data());
        require(again.number == once.number && again.value == once.value && again.year == once.year &&
                again.month == once.month && again.day == once.day && again.hour == once.hour &&
                again.minute == once.minute && again.second == once.second);
    }
    for (size_t i = 0; i < size; ++i)
        require(DecodeBcd(data[i]) <= 15 * 10 + 15);
    return 0;
}
