// The simulator's engine fed bytes directly: what it accepts, what it
// rejects, what it answers, and its CSV files.
#include "CodePage.h"
#include "ScaleSimulator.h"

#include <QFile>
#include <QTemporaryDir>

#include "SamplePlu.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace torvane::scalelink;
using namespace torvane::scalesim;

namespace {

std::vector<uint8_t> feed(ScaleSimulator &sim, const std::vector<uint8_t> &bytes)
{
    std::vector<uint8_t> reply;
    sim.feed(bytes.data(), bytes.size(), &reply);
    return reply;
}

std::vector<uint8_t> frameOf(const ScalePlu &plu)
{
    const auto f = BuildPluFrame(plu);
    return {f.begin(), f.end()};
}

std::vector<uint8_t> request(const char *command)
{
    const auto r = BuildUploadRequest(command);
    return {r.begin(), r.end()};
}

const std::vector<uint8_t> kOk = {0x02, 'O', 'K', 0x03};

} // namespace

TEST(ScaleSimEngine, StoresValidFramesAndAnswersOk)
{
    ScaleSimulator sim;
    QStringList log;
    sim.setLogSink([&](const QString &line) { log << line; });
    // Noise before the frame is skipped; two frames in one burst both count.
    std::vector<uint8_t> bytes = {0x00, 0xFF};
    const auto a = frameOf(samplePlu(258 - 250)), b = frameOf(samplePlu(500));
    bytes.insert(bytes.end(), a.begin(), a.end());
    bytes.insert(bytes.end(), b.begin(), b.end());
    std::vector<uint8_t> expected = kOk;
    expected.insert(expected.end(), kOk.begin(), kOk.end());
    EXPECT_EQ(feed(sim, bytes), expected);
    EXPECT_EQ(sim.storedCount(), 2);
    ASSERT_TRUE(sim.slot(500).has_value());
    const auto slot = EncodePluSlot(samplePlu(500));
    EXPECT_EQ(*sim.slot(500), slot);
    EXPECT_EQ(sim.stats().framesAccepted, 2);
    EXPECT_EQ(sim.stats().noiseBytes, 2);
    EXPECT_TRUE(log.join('\n').contains(QLatin1String("skipped 2 byte(s)")));
}

TEST(ScaleSimEngine, RejectsDamagedFramesWithoutAnswer)
{
    ScaleSimulator sim;
    QStringList log;
    sim.setLogSink([&](const QString &line) { log << line; });

    auto badSum = frameOf(samplePlu(1));
    badSum[51] ^= 0x01;
    EXPECT_TRUE(feed(sim, badSum).empty());
    auto badEtx = frameOf(samplePlu(2));
    badEtx[52] = 0x04;
    EXPECT_TRUE(feed(sim, badEtx).empty());
    auto badLength = frameOf(samplePlu(3));
    badLength[1] = 0x31; // a DL frame must say 50
    EXPECT_TRUE(feed(sim, badLength).empty());
    EXPECT_TRUE(feed(sim, {0x02, 0x03, 'X', 'Y', 0x03 ^ 'X' ^ 'Y', 0x03}).empty());
    auto outOfMemory = frameOf(samplePlu(501));
    EXPECT_TRUE(feed(sim, outOfMemory).empty());

    EXPECT_EQ(sim.storedCount(), 0);
    EXPECT_EQ(sim.stats().framesRejected, 3) << qPrintable(log.join(QLatin1Char(10)));
    const QString text = log.join('\n');
    EXPECT_TRUE(text.contains(QLatin1String("checksum"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QLatin1String("no ETX")));
    EXPECT_TRUE(text.contains(QLatin1String("wrong length")));
    EXPECT_TRUE(text.contains(QLatin1String("unknown command")));
    EXPECT_TRUE(text.contains(QLatin1String("memory holds PLU 1 to 500")));
    EXPECT_FALSE(text.contains(QLatin1String("skipped 53"))) << "a rejected frame is not also noise";
    // After all that the checker is back in step.
    EXPECT_EQ(feed(sim, frameOf(samplePlu(4))), kOk);
}

TEST(ScaleSimEngine, DownloadFaultsFromTheKthFrame)
{
    Options options;
    options.noAnswerFrom = 3;
    ScaleSimulator silent(options);
    EXPECT_EQ(feed(silent, frameOf(samplePlu(1))), kOk);
    EXPECT_EQ(feed(silent, frameOf(samplePlu(2))), kOk);
    EXPECT_TRUE(feed(silent, frameOf(samplePlu(3))).empty());
    EXPECT_TRUE(feed(silent, frameOf(samplePlu(4))).empty());
    EXPECT_EQ(silent.storedCount(), 2);

    Options ng;
    ng.badReplyFrom = 2;
    ScaleSimulator refusing(ng);
    EXPECT_EQ(feed(refusing, frameOf(samplePlu(1))), kOk);
    EXPECT_EQ(feed(refusing, frameOf(samplePlu(2))), (std::vector<uint8_t>{0x02, 'N', 'G', 0x03}));
    EXPECT_EQ(refusing.storedCount(), 1);
}

TEST(ScaleSimEngine, ProductUploadSendsHeaderAndSlots)
{
    ScaleSimulator all;
    feed(all, frameOf(samplePlu(2)));
    const auto reply = feed(all, request("UL"));
    ASSERT_EQ(reply.size(), 3u + 500u * 45u);
    EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.begin() + 3), (std::vector<uint8_t>{0x02, 0x57, 0xE5}));
    // Slot 1 is empty but numbered; slot 2 is the product as it came.
    EXPECT_EQ(DecodePluSlot(&reply[3]).number, 1);
    const auto slot = EncodePluSlot(samplePlu(2));
    EXPECT_TRUE(std::equal(slot.begin(), slot.end(), reply.begin() + 3 + 45));
    EXPECT_EQ(DecodePluSlot(&reply[3 + 499 * 45]).number, 500);

    Options options;
    options.occupiedOnly = true;
    options.noiseBytes = 5;
    options.wrongHeader = true;
    ScaleSimulator occupied(options);
    feed(occupied, frameOf(samplePlu(7)));
    const auto r2 = feed(occupied, request("UL"));
    ASSERT_EQ(r2.size(), 5u + 3u + 2u * 45u);
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(r2[static_cast<std::size_t>(i)], 0x02);
    EXPECT_EQ(std::vector<uint8_t>(r2.begin() + 5, r2.begin() + 8), (std::vector<uint8_t>{0x02, 0x57, 0xE6}));
    EXPECT_EQ(DecodePluSlot(&r2[8]).number, 7);
    EXPECT_EQ(DecodePluSlot(&r2[8 + 45]).number, 65535);
}

TEST(ScaleSimEngine, SalesUploadShortRecordAndMissingHeader)
{
    QTemporaryDir dir;
    QFile csv(dir.filePath(QStringLiteral("sales.csv")));
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write("pluNo,dateTime,value\n"
              "1,2024-03-15 09:30:05,1500\n"
              "\n"
              "2,24,3,15,9,30,0x1A,77\n");
    csv.close();

    ScaleSimulator sim;
    QString error;
    ASSERT_TRUE(sim.loadSales(csv.fileName(), &error)) << qPrintable(error);
    auto reply = feed(sim, request("UR"));
    ASSERT_EQ(reply.size(), 3u + 3u * 12u);
    EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.begin() + 3), (std::vector<uint8_t>{0x02, 0x17, 0x71}));
    EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 3, reply.begin() + 15),
              (std::vector<uint8_t>{0x00, 0x01, 0x24, 0x03, 0x15, 0x09, 0x30, 0x05, 0x00, 0x00, 0x05, 0xDC}));
    EXPECT_EQ(reply[15 + 7], 0x1A);
    EXPECT_EQ(DecodeSaleRecord(&reply[27]).number, 65535);

    Options options;
    options.shortRecord = 2;
    ScaleSimulator cut(options);
    cut.setSales(sim.sales());
    reply = feed(cut, request("UR"));
    EXPECT_EQ(reply.size(), 3u + 12u + 11u);

    Options none;
    none.noHeader = true;
    ScaleSimulator mute(none);
    EXPECT_TRUE(feed(mute, request("UR")).empty());
    EXPECT_TRUE(feed(mute, request("UL")).empty());
}

TEST(ScaleSimEngine, ProductCsvRoundTripAndErrors)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("memory.csv"));
    ScaleSimulator sim;
    ScalePlu odd = samplePlu(9);
    AnsiToField(QStringLiteral("QUEIJO \"MINAS\", FRESCAL"), odd.description, 26);
    AnsiToField(QStringLiteral("Ç00009"), odd.code, 6);
    odd.unitPrice = 16777215;
    feed(sim, frameOf(odd));
    feed(sim, frameOf(samplePlu(500)));
    QString error;
    ASSERT_TRUE(sim.saveProducts(path, &error)) << qPrintable(error);

    ScaleSimulator again;
    ASSERT_TRUE(again.loadProducts(path, &error)) << qPrintable(error);
    EXPECT_EQ(again.storedCount(), 2);
    ASSERT_TRUE(again.slot(9).has_value());
    EXPECT_EQ(*again.slot(9), *sim.slot(9));
    EXPECT_EQ(*again.slot(500), *sim.slot(500));

    QFile bad(dir.filePath(QStringLiteral("bad.csv")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("pluNo,preFix,pluCode,pluDesc,validDays,tareWeight,unitPrice,sellFlag,barcodeMode\n"
              "1,2,000001,A,1,2,3,1,1\n"
              "2,2,000002,B,1,2,16777216,1,1\n");
    bad.close();
    EXPECT_FALSE(again.loadProducts(bad.fileName(), &error));
    EXPECT_TRUE(error.contains(QLatin1String(":3:"))) << qPrintable(error);
    EXPECT_TRUE(error.contains(QLatin1String("unitPrice")));
    EXPECT_EQ(again.storedCount(), 2) << "a failed load leaves the memory as it was";
}
