// The protocol operations over a pseudo-terminal, with the test playing the
// scale on the master side: what goes on the wire, what counts as an answer,
// and that every failure gives false without hanging.
#include "PtyPair.h"
#include "ScaleProtocol.h"
#include "Serial.h"

#include "SamplePlu.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace torvane::scalelink;
using Clock = std::chrono::steady_clock;

namespace {

class ProtocolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.ok());
        ASSERT_EQ(m_port.OpenForWindow(m_pty.slavePath(), static_cast<QWidget *>(nullptr)), 0);
        m_port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT);
        m_port.SetReadTimeouts(ReadTimed, 10);
    }
    void TearDown() override
    {
        if (m_scale.joinable())
            m_scale.join();
        m_port.ClosePort();
    }
    // Plays the scale: waits for `expect` bytes of request, lets them cross
    // the line, then answers.
    void answerAfter(std::size_t expect, std::vector<uint8_t> answer, int delayMs = 0)
    {
        m_scale = std::thread([this, expect, answer, delayMs] {
            m_request = m_pty.receive(expect, 3000);
            std::this_thread::sleep_for(LineTime(expect) + std::chrono::milliseconds(delayMs));
            m_pty.send(answer);
        });
    }
    void finishScale()
    {
        if (m_scale.joinable())
            m_scale.join();
    }

    PtyPair m_pty;
    CSerialMFC m_port;
    std::thread m_scale;
    std::vector<uint8_t> m_request;
};

std::vector<uint8_t> slotBytes(const ScalePlu &plu)
{
    const auto s = EncodePluSlot(plu);
    return {s.begin(), s.end()};
}

} // namespace

TEST_F(ProtocolTest, DownloadFrameGoesOutWholeAndOkIsJudgedByTheMiddleBytes)
{
    answerAfter(53, {0xEE, 'O', 'K', 0x99});
    WireClock::time_point sent;
    SendPluFrame(m_port, samplePlu(), &sent);
    EXPECT_TRUE(AwaitOkReply(m_port, sent));
    finishScale();
    const auto frame = BuildPluFrame(samplePlu());
    EXPECT_EQ(m_request, std::vector<uint8_t>(frame.begin(), frame.end()));
    EXPECT_EQ(m_request[51], 0xAB);

    // Any other pair of letters is a refusal.
    for (const std::vector<uint8_t> &reply : {std::vector<uint8_t>{0x02, 'O', 'X', 0x03},
                                              std::vector<uint8_t>{0x02, 'K', 'O', 0x03},
                                              std::vector<uint8_t>{'O', 'K', 0x03, 0x03}}) {
        m_pty.send(reply);
        EXPECT_FALSE(AwaitOkReply(m_port, {}));
        m_port.PurgeBuffers();
    }
    // A reply cut after "O" is the scale going quiet, not another answer.
    m_pty.send(std::vector<uint8_t>{0x02, 'O'});
    EXPECT_EQ(AwaitOkReply(m_port, {}).status, WireStatus::NoAnswer);
}

TEST_F(ProtocolTest, OkAfterAPauseIsStillSeenAndSilenceFailsAfterTheFiftyPolls)
{
    // The scale answers after 150 ms: within the polling window.
    answerAfter(53, {0x02, 'O', 'K', 0x03}, 150);
    WireClock::time_point sent;
    SendPluFrame(m_port, samplePlu(), &sent);
    EXPECT_TRUE(AwaitOkReply(m_port, sent));
    finishScale();

    // Nothing at all: false, after 50 polls of at least 11 + 1 ms.
    const auto start = Clock::now();
    EXPECT_FALSE(AwaitOkReply(m_port, {}));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 50 * 12);
}

TEST_F(ProtocolTest, UploadHeaderSkipsNoiseAndChecksBothBytes)
{
    std::vector<uint8_t> answer = {0x00, 0xFF, 0x57, 0xE5, 0x02, 0x57, 0xE5};
    const auto slot = slotBytes(samplePlu());
    answer.insert(answer.end(), slot.begin(), slot.end());
    answerAfter(6, answer);
    SendUploadRequest(m_port, "UL");
    ASSERT_TRUE(AwaitUploadHeader(m_port, kPluHeader[0], kPluHeader[1]));
    finishScale();
    EXPECT_EQ(m_request, (std::vector<uint8_t>{0x02, 0x03, 0x55, 0x4C, 0x1A, 0x03}));
    ScalePlu plu;
    ASSERT_TRUE(ReadPluSlot(m_port, plu));
    EXPECT_EQ(plu.number, 258);
    EXPECT_EQ(plu.unitPrice, 399u);
    EXPECT_EQ(std::memcmp(plu.description, samplePlu().description, 26), 0);

    answerAfter(6, {0x02, 0x57, 0xE6});
    SendUploadRequest(m_port, "UL");
    EXPECT_FALSE(AwaitUploadHeader(m_port, kPluHeader[0], kPluHeader[1]));
    finishScale();

    // More than 50 bytes before the STX use up the polls.
    std::vector<uint8_t> noisy(60, 0x55);
    for (uint8_t b : {0x02, 0x17, 0x71})
        noisy.push_back(b);
    answerAfter(6, noisy);
    SendUploadRequest(m_port, "UR");
    EXPECT_FALSE(AwaitUploadHeader(m_port, kSaleHeader[0], kSaleHeader[1]));
    finishScale();
    EXPECT_EQ(m_request, (std::vector<uint8_t>{0x02, 0x03, 0x55, 0x52, 0x04, 0x03}));

    // No answer at all.
    m_port.PurgeBuffers();
    SendUploadRequest(m_port, "UR");
    EXPECT_FALSE(AwaitUploadHeader(m_port, kSaleHeader[0], kSaleHeader[1]));
}

// A scale that answers at once: its header and first slot are already in the
// receive buffer when the caller starts waiting.  They must not be purged.
// Stale bytes from before the request (here a wrong header) must not count.
TEST_F(ProtocolTest, AnAnswerThatArrivesAtOnceIsKeptAndStaleInputIsNot)
{
    m_pty.send(std::vector<uint8_t>{0x02, 0x57, 0xE6}); // left over from an earlier exchange
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::vector<uint8_t> answer = {0x02, 0x57, 0xE5};
    const auto slot = slotBytes(samplePlu());
    answer.insert(answer.end(), slot.begin(), slot.end());
    answerAfter(6, answer);
    SendUploadRequest(m_port, "UL");
    finishScale();
    // Let the whole answer sit in the buffer before anyone reads it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(AwaitUploadHeader(m_port, kPluHeader[0], kPluHeader[1]));
    ScalePlu plu;
    ASSERT_TRUE(ReadPluSlot(m_port, plu));
    EXPECT_EQ(plu.number, 258);
}

TEST_F(ProtocolTest, SlotsAndRecordsMustArriveWhole)
{
    ScalePlu plu = samplePlu();
    const ScalePlu before = plu;
    auto slot = slotBytes(samplePlu());
    slot.pop_back(); // 44 of 45 bytes
    m_pty.send(slot);
    EXPECT_FALSE(ReadPluSlot(m_port, plu));
    EXPECT_EQ(std::memcmp(&plu, &before, sizeof plu), 0) << "the image keeps its content";
    EXPECT_FALSE(ReadPluSlot(m_port, plu)) << "nothing more on the line";

    ScaleSale sale;
    m_pty.send(std::vector<uint8_t>{0x01, 0x02, 0x24, 0x03, 0x15, 0x09, 0x30, 0x05, 0x00, 0x00, 0x05, 0xDC});
    ASSERT_TRUE(ReadSaleRecord(m_port, sale));
    EXPECT_EQ(sale.number, 258);
    EXPECT_EQ(sale.year, 24);
    EXPECT_EQ(sale.month, 3);
    EXPECT_EQ(sale.day, 15);
    EXPECT_EQ(sale.hour, 9);
    EXPECT_EQ(sale.minute, 30);
    EXPECT_EQ(sale.second, 5);
    EXPECT_EQ(sale.value, 1500u);
    const ScaleSale kept = sale;
    m_pty.send(std::vector<uint8_t>{0x01, 0x02, 0x24, 0x03, 0x15, 0x09, 0x30, 0x05, 0x00, 0x00, 0x05});
    EXPECT_FALSE(ReadSaleRecord(m_port, sale));
    EXPECT_EQ(std::memcmp(&sale, &kept, sizeof sale), 0);

    // A slot that arrives in two parts with a short gap is still whole.
    const auto full = slotBytes(samplePlu());
    m_scale = std::thread([this, full] {
        m_pty.send(std::vector<uint8_t>(full.begin(), full.begin() + 20));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        m_pty.send(std::vector<uint8_t>(full.begin() + 20, full.end()));
    });
    EXPECT_TRUE(ReadPluSlot(m_port, plu));
    finishScale();
    EXPECT_EQ(plu.number, 258);
}

TEST(ProtocolClosedPort, EveryOperationFailsWithoutHanging)
{
    CSerialMFC port;
    EXPECT_EQ(SendPluFrame(port, samplePlu()).code, SerialErrorInvalidHandle);
    EXPECT_EQ(SendUploadRequest(port, "UL").status, WireStatus::PortError);
    EXPECT_FALSE(AwaitOkReply(port, WireClock::now()));
    EXPECT_FALSE(AwaitUploadHeader(port, kPluHeader[0], kPluHeader[1]));
    ScalePlu plu;
    ScaleSale sale;
    EXPECT_FALSE(ReadPluSlot(port, plu));
    EXPECT_FALSE(ReadSaleRecord(port, sale));
    EXPECT_EQ(port.GetLastError(), SerialErrorInvalidHandle);
}
