// End to end against the project's scale simulator: the whole product table
// to the scale and back, the sales records, and the scale's faults.
#include "CodePage.h"
#include "ScalePort.h"
#include "ScaleProtocol.h"
#include "SimulatorOnPty.h"
#include "TransferJobs.h"
#include "TransmitterTestSupport.h"

#include <gtest/gtest.h>

using namespace torvane::transmitter;
using torvane::scalesim::Options;

namespace {

// Every slot holds a product, with values that reach the edges of each field.
void fillAllSlots(ttest::Sql &sql, int n)
{
    sql.exec(QStringLiteral("BEGIN"));
    for (int i = 1; i <= n; ++i) {
        const QString desc = i % 7 == 0 ? QStringLiteral("AÇÚCAR MASCAVO ORGÂNICO %1 KG").arg(i)
                                        : QStringLiteral("PRODUTO %1 É BOM").arg(i);
        sql.exec(QStringLiteral("UPDATE PLU SET Codigo = %1, pluCode = '%2', pluDesc = '%3', preFix = %4,"
                                " validDays = %5, tareWeight = %6, unitPrice = %7, sellFlag = %8, BarcodeMode = %9"
                                " WHERE pluNo = %1")
                     .arg(i)
                     .arg(QString::number(i * 10).rightJustified(6, u'0'))
                     .arg(desc)
                     .arg(i % 10)
                     .arg(i % 1000)
                     .arg((i * 2) % 6000)
                     .arg(i == 500 ? 99999900 : i * 137)
                     .arg(1 + i % 2)
                     .arg(1 + (i / 2) % 2));
    }
    sql.exec(QStringLiteral("COMMIT"));
}

class Simulated : public ::testing::Test {
protected:
    ttest::WorkDir wd;
    ttest::RecordingHost host;
    std::unique_ptr<SimulatorOnPty> scale;

    // onStored runs on the simulator's thread, after each product stored.
    void startScale(Options o = {}, std::function<void()> onStored = {})
    {
        scale.reset(); // a scale replaced on the same port (the old one takes its link away)
        scale = std::make_unique<SimulatorOnPty>(wd.dosDevices(), 1, o);
        ASSERT_TRUE(scale->ok());
        scale->sim.setOnStored(std::move(onStored));
        scale->start();
    }
    void TearDown() override { EXPECT_FALSE(theScalePort.IsOpen()); }
};

} // namespace

TEST_F(Simulated, Download500ProductsLeavesTheTableInTheScale)
{
    ASSERT_TRUE(ttest::makeDatabase(500));
    ttest::Sql sql;
    fillAllSlots(sql, 500);
    startScale();
    RunPluDownload(host);
    scale->stop();
    EXPECT_EQ(host.lastStatus(), QStringLiteral("Transmissão efetuada com sucesso!"));
    EXPECT_EQ(host.rangeMax(), 500);
    EXPECT_EQ(host.pos(), 500);
    EXPECT_EQ(scale->sim.stats().framesAccepted, 500);
    EXPECT_EQ(scale->sim.stats().framesRejected, 0);
    EXPECT_EQ(scale->sim.storedCount(), 500);

    const auto rows = sql.rows(QStringLiteral("SELECT pluNo, preFix, pluCode, pluDesc, validDays, tareWeight, unitPrice,"
                                              " sellFlag, BarcodeMode FROM PLU ORDER BY pluNo"));
    ASSERT_EQ(rows.size(), 500u);
    for (const auto &r : rows) {
        const int n = r[0].toInt();
        const auto &slot = scale->sim.slot(n);
        ASSERT_TRUE(slot.has_value()) << n;
        const ScalePlu p = torvane::scalelink::DecodePluSlot(slot->data());
        SCOPED_TRACE(n);
        EXPECT_EQ(p.number, n);
        EXPECT_EQ(p.prefix, r[1].toInt());
        EXPECT_EQ(torvane::scalelink::StringFromAnsiField(p.code, 6), r[2].toString());
        EXPECT_EQ(torvane::scalelink::StringFromAnsiField(p.description, 26), r[3].toString().left(26));
        EXPECT_EQ(p.shelfLifeDays, r[4].toInt());
        EXPECT_EQ(p.tare, r[5].toInt());
        EXPECT_EQ(p.unitPrice, uint32_t(r[6].toInt()) & 0xFFFFFF);
        EXPECT_EQ(p.saleType, r[7].toInt());
        EXPECT_EQ((*slot)[44], r[8].toInt()); // barcode mode, kept in the slot image
    }
}

TEST_F(Simulated, ProductsAndSalesComeBack)
{
    ASSERT_TRUE(ttest::makeDatabase(40, true));
    ttest::Sql sql;
    startScale();
    RunPluDownload(host);
    ASSERT_EQ(host.lastStatus(), QStringLiteral("Transmissão efetuada com sucesso!"));

    // All 500 slots come back, in number order, the last one ending the upload.
    ttest::RecordingHost up;
    RunPluUpload(up);
    EXPECT_EQ(up.lastStatus(), QStringLiteral("upload PLU finished, total 500 !"));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 500);
    const auto same = sql.rows(QStringLiteral(
        "SELECT count(*) FROM PLU p JOIN PLU_UPLOADED u ON u.pluNo = p.pluNo WHERE u.preFix = p.preFix"
        " AND u.pluCode = p.pluCode AND u.pluDesc = coalesce(p.pluDesc, '') AND u.validDays = p.validDays"
        " AND u.tareWeight = p.tareWeight AND u.unitPrice = p.unitPrice AND u.sellFlag = p.sellFlag"));
    EXPECT_EQ(same.at(0).at(0).toInt(), 40);

    // Sales: by weight for a product sold by weight, total otherwise; the
    // end record (number 65535) ends the upload.
    scale->stop();
    std::vector<torvane::scalesim::Record> sales;
    ScaleSale s;
    s.number = 1; s.year = 24; s.month = 3; s.day = 15; s.hour = 9; s.minute = 30; s.second = 5; s.value = 1500;
    sales.push_back(torvane::scalelink::EncodeSaleRecord(s));
    s.number = 18; s.value = 3490; // FRANGO ASSADO, sold by unit
    sales.push_back(torvane::scalelink::EncodeSaleRecord(s));
    scale->sim.setSales(sales);
    scale->start();
    ttest::RecordingHost rec;
    RunRecordUpload(rec);
    EXPECT_EQ(rec.lastStatus(), QStringLiteral("upload REC finished, total 2 !"));
    EXPECT_EQ(rec.pos(), 500);
    const auto rows = sql.rows(QStringLiteral("SELECT pluNo, pluDesc, dateTime, weight, totalPrice FROM RECORD ORDER BY ID"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (QVariantList{1, QStringLiteral("PAO FRANCES"), QStringLiteral("2024-03-15 09:30:05"), 1500, 0}));
    EXPECT_EQ(rows[1], (QVariantList{18, QStringLiteral("FRANGO ASSADO"), QStringLiteral("2024-03-15 09:30:05"), 0, 3490}));
}

TEST_F(Simulated, ScaleStopsAnsweringAtTheThirdProduct)
{
    ASSERT_TRUE(ttest::makeDatabase(6));
    Options o;
    o.noAnswerFrom = 3;
    startScale(o);
    RunPluDownload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("download NO. 3 PLU failed !"));
    EXPECT_EQ(host.pos(), 2);
    scale->stop();
    EXPECT_EQ(scale->sim.storedCount(), 2);
}

// Frame 1 answered twice and frame 5 never: the spare "OK" must not stand in
// for the missing one.  Nor may a second "OK" that comes 5 ms after the
// first, while the next frame is still crossing the line: the scale cannot
// have answered that frame yet (and here never does).
TEST_F(Simulated, ScaleThatAnswersOneFrameTwiceIsNotASuccess)
{
    ASSERT_TRUE(ttest::makeDatabase(6));
    Options o;
    o.doubleReplyAt = 1;
    o.noAnswerFrom = 5;
    startScale(o);
    RunPluDownload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("download NO. 1 PLU failed !"));

    ASSERT_TRUE(ttest::Sql().exec(QStringLiteral("DELETE FROM PLU WHERE pluNo > 3")));
    Options late;
    late.doubleReplyAt = 2;
    late.doubleReplyGapMs = 5;
    late.noAnswerFrom = 3;
    startScale(late);
    ttest::RecordingHost h;
    const JobOutcome out = RunPluDownload(h);
    EXPECT_EQ(out.end, JobOutcome::End::NoAnswer);
    EXPECT_EQ(out.wire.status, WireStatus::StrayBytes);
    EXPECT_GE(out.pluNo, 2); // the doubled answer itself, or the frame it came in
    EXPECT_EQ(h.lastStatus(), QStringLiteral("download NO. %1 PLU failed !").arg(out.count + 1));
}

// A bulk prefix change the manager commits half-way through a download: the
// scale gets the table as it stood when the download began.
TEST_F(Simulated, DownloadSendsOneStateOfTheTable)
{
    ASSERT_TRUE(ttest::makeDatabase(20));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET preFix = 2")));
    startScale({}, [&] {
        if (scale->sim.stats().framesAccepted == 10)
            ttest::Sql().exec(QStringLiteral("UPDATE PLU SET preFix = 7")); // the manager saves
    });
    RunPluDownload(host);
    scale->stop();
    EXPECT_EQ(host.lastStatus(), QStringLiteral("Transmissão efetuada com sucesso!"));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU WHERE preFix = 7")).toInt(), 20);
    for (int n = 1; n <= 20; ++n)
        EXPECT_EQ(torvane::scalelink::DecodePluSlot(scale->sim.slot(n)->data()).prefix, 2) << n;
}

TEST_F(Simulated, UploadFaults)
{
    ASSERT_TRUE(ttest::makeDatabase(3));
    ttest::Sql sql;
    sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo) VALUES (1)"));
    {
        Options o;
        o.noHeader = true;
        startScale(o);
        RunPluUpload(host);
        EXPECT_EQ(host.lastStatus(), QStringLiteral("Fail to connect to the scale! Please check the cable!"));
        EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 1);
        ttest::RecordingHost rec;
        RunRecordUpload(rec);
        EXPECT_EQ(rec.lastStatus(), QStringLiteral("Fail to connect to the scale! Please check the cable!"));
        scale.reset();
    }
    {
        Options o;
        o.shortSlot = 3;
        o.noiseBytes = 10; // skipped before the header
        startScale(o);
        ttest::RecordingHost h;
        RunPluUpload(h);
        EXPECT_EQ(h.lastStatus(), QStringLiteral("upload PLU failed in No. 2 !"));
        EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 1); // kept
        scale.reset();
    }
    {
        // Only the stored products, then the end slot numbered 65535; with an
        // empty memory that end slot comes first.
        Options o;
        o.occupiedOnly = true;
        startScale(o);
        ttest::RecordingHost h;
        RunPluUpload(h);
        EXPECT_EQ(h.lastStatus(), QStringLiteral("upload PLU finished, total 0 !"));
        EXPECT_EQ(h.pos(), 500);
        EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 0);
        scale.reset();
    }
}

TEST_F(Simulated, SaleOfAProductNotReadBack)
{
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, pluDesc, sellFlag) VALUES (1, 'A', 1)"));
    Options o;
    startScale(o);
    scale->stop();
    ScaleSale s;
    s.number = 1; s.year = 24; s.month = 1; s.day = 1; s.value = 10;
    std::vector<torvane::scalesim::Record> sales{torvane::scalelink::EncodeSaleRecord(s)};
    s.number = 42;
    sales.push_back(torvane::scalelink::EncodeSaleRecord(s));
    scale->sim.setSales(sales);
    scale->start();
    RunRecordUpload(host);
    EXPECT_EQ(host.messages(), QStringList{QStringLiteral("Can't find the PLU information, PLU NO = 42 !")});
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload Rec failed in No. 1 !"));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM RECORD")).toInt(), 1);
}
