// Frames and records as bytes: the golden frames the scale expects, and the
// decoding of what it sends back.
#include "CodePage.h"
#include "ScaleProtocol.h"

#include "SamplePlu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace torvane::scalelink;

namespace {

std::vector<uint8_t> bytes(const uint8_t *p, std::size_t n)
{
    return std::vector<uint8_t>(p, p + n);
}

} // namespace

TEST(ScaleFrames, UploadRequestsAreExact)
{
    const auto ul = BuildUploadRequest("UL");
    const auto ur = BuildUploadRequest("UR");
    EXPECT_EQ(bytes(ul.data(), ul.size()), (std::vector<uint8_t>{0x02, 0x03, 0x55, 0x4C, 0x1A, 0x03}));
    EXPECT_EQ(bytes(ur.data(), ur.size()), (std::vector<uint8_t>{0x02, 0x03, 0x55, 0x52, 0x04, 0x03}));
}

TEST(ScaleFrames, PluFrameForNumber258IsExact)
{
    std::vector<uint8_t> expected = {0x02, 0x32, 0x44, 0x4C, 0x01, 0x02, 0x01, 0x02, 0x02,
                                     0x30, 0x30, 0x30, 0x31, 0x32, 0x33, 0x42, 0x41, 0x4E, 0x41, 0x4E, 0x41};
    expected.insert(expected.end(), 20, 0x00);
    const std::vector<uint8_t> tail = {0x00, 0x0A, 0x00, 0x14, 0x00, 0x00, 0x01, 0x8F, 0x01, 0x01, 0xAB, 0x03};
    expected.insert(expected.end(), tail.begin(), tail.end());
    ASSERT_EQ(expected.size(), 53u);
    const auto frame = BuildPluFrame(samplePlu());
    EXPECT_EQ(bytes(frame.data(), frame.size()), expected);
}

TEST(ScaleFrames, WideValuesTravelTruncatedAndLongTextFillsItsField)
{
    ScalePlu plu = samplePlu();
    plu.unitPrice = 16777216u + 0x123456u; // only the low 24 bits travel
    std::memset(plu.description, 'X', 26);
    const auto frame = BuildPluFrame(plu);
    EXPECT_EQ(frame[45], 0x00);
    EXPECT_EQ(frame[46], 0x12);
    EXPECT_EQ(frame[47], 0x34);
    EXPECT_EQ(frame[48], 0x56);
    for (int i = 15; i <= 40; ++i)
        EXPECT_EQ(frame[i], 'X') << "offset " << i;
    EXPECT_EQ(frame[51], FrameChecksum(&frame[1], 50));
    EXPECT_EQ(frame[52], 0x03);
}

TEST(ScaleFrames, SlotIsTheFrameTailAndDecodesBack)
{
    ScalePlu plu = samplePlu();
    plu.number = 0xFFEE;
    plu.unitPrice = 0xABCDEF;
    plu.tare = 0x1234;
    plu.shelfLifeDays = 0x0102;
    plu.saleType = 2;
    plu.barcodeMode = 2;
    const auto frame = BuildPluFrame(plu);
    const auto slot = EncodePluSlot(plu);
    EXPECT_EQ(bytes(slot.data(), slot.size()), bytes(&frame[6], 45));

    auto modified = slot;
    modified[39] = 0x7F; // the price's top byte is not interpreted
    const ScalePlu back = DecodePluSlot(modified.data());
    EXPECT_EQ(back.number, 0xFFEE);
    EXPECT_EQ(back.prefix, 2);
    EXPECT_EQ(std::memcmp(back.code, "000123", 6), 0);
    EXPECT_EQ(std::memcmp(back.description, plu.description, 26), 0);
    EXPECT_EQ(back.shelfLifeDays, 0x0102);
    EXPECT_EQ(back.tare, 0x1234);
    EXPECT_EQ(back.unitPrice, 0xABCDEFu);
    EXPECT_EQ(back.saleType, 2);
}

TEST(ScaleFrames, SaleRecordDecodesBcdAndValue)
{
    const uint8_t record[12] = {0x01, 0xF4, 0x24, 0x03, 0x15, 0x09, 0x30, 0x05, 0xEE, 0x00, 0x05, 0xDC};
    const ScaleSale sale = DecodeSaleRecord(record);
    EXPECT_EQ(sale.number, 500);
    EXPECT_EQ(sale.year, 24);
    EXPECT_EQ(sale.month, 3);
    EXPECT_EQ(sale.day, 15);
    EXPECT_EQ(sale.hour, 9);
    EXPECT_EQ(sale.minute, 30);
    EXPECT_EQ(sale.second, 5);
    EXPECT_EQ(sale.value, 1500u); // top byte ignored
    EXPECT_EQ(DecodeBcd(0x1A), 20); // no nibble check
    const auto encoded = EncodeSaleRecord(sale);
    EXPECT_EQ(bytes(encoded.data(), 8), bytes(record, 8));
    EXPECT_EQ(bytes(&encoded[9], 3), bytes(&record[9], 3));
}

TEST(CodePage1252, EncodesDecodesAndReplacesWhatItCannotHold)
{
    const QString text = QStringLiteral("Pão de açúcar € 5ª");
    const QByteArray ansi = AnsiFromString(text);
    EXPECT_EQ(ansi, QByteArray("P\xE3o de a\xE7\xFA" "car \x80 5\xAA"));
    EXPECT_EQ(StringFromAnsi(ansi), text);
    // Greek, CJK and a character beyond the BMP: one "?" each.
    EXPECT_EQ(AnsiFromString(QStringLiteral("a\u03A9b\u4E2Dc") + QString::fromUcs4(U"\U0001F600")),
              QByteArray("a?b?c?"));
    // Bytes the code page leaves undefined survive a round trip.
    const QByteArray odd("\x81\x8D\x8F\x90\x9D", 5);
    EXPECT_EQ(AnsiFromString(StringFromAnsi(odd)), odd);
}

TEST(CodePage1252, FieldsStopAtTheirSizeAndAtZero)
{
    uint8_t field[6];
    EXPECT_EQ(AnsiToField(QStringLiteral("ABC"), field, 6), 3u);
    EXPECT_EQ(std::memcmp(field, "ABC\0\0\0", 6), 0);
    EXPECT_EQ(AnsiToField(QStringLiteral("ÇABCDEFG"), field, 6), 6u);
    EXPECT_EQ(std::memcmp(field, "\xC7" "ABCDE", 6), 0);
    EXPECT_EQ(StringFromAnsiField(field, 6), QStringLiteral("ÇABCDE"));
    const uint8_t desc[26] = {'B', 'A', 'N', 'A', 'N', 'A'};
    EXPECT_EQ(StringFromAnsiField(desc, 26), QStringLiteral("BANANA"));
    const uint8_t zeros[6] = {};
    EXPECT_TRUE(StringFromAnsiField(zeros, 6).isEmpty());
}
