// The three transfer jobs, run headless against the test's own protocol peer
// on a pseudo-terminal linked as COM1.
#include "Db.h"
#include "Recordsets.h"
#include "ScalePeer.h"
#include "ScalePort.h"
#include "TransferJobs.h"
#include "TransmitterTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

using namespace torvane::transmitter;
using testpeer::recordBytes;
using testpeer::slotBytes;

namespace {

class Jobs : public ::testing::Test {
protected:
    ttest::WorkDir wd;
    std::unique_ptr<testpeer::ScalePeer> peer;
    ttest::RecordingHost host;

    void startPeer()
    {
        peer = std::make_unique<testpeer::ScalePeer>(wd.dosDevices(), 1);
        ASSERT_TRUE(peer->ok());
    }
    void SetUp() override { startPeer(); }
    void TearDown() override { EXPECT_FALSE(theScalePort.IsOpen()) << "a job left the port open"; }
};

QString latin1(const QByteArray &b)
{
    return QString::fromLatin1(b);
}

// The job's port with faults of the test's choosing, around the real one.
class FaultyPort : public CSerialMFC {
public:
    int32_t lineFormatError = 0; // what SetLineFormat answers (0: the real answer)
    uint32_t writeOnly = 0;      // a write moves at most this many bytes (0: all)

    int32_t SetLineFormat(uint32_t baud, uint8_t bits, uint8_t parity, uint8_t stop) override
    {
        return lineFormatError ? lineFormatError : CSerialMFC::SetLineFormat(baud, bits, parity, stop);
    }
    int32_t WriteBytes(const void *data, uint32_t count, uint32_t *written, SerialOverlapped *overlapped,
                       uint32_t timeout) override
    {
        return CSerialMFC::WriteBytes(data, writeOnly ? std::min(count, writeOnly) : count, written, overlapped,
                                      timeout);
    }
};

class FaultyHost : public ttest::RecordingHost {
public:
    CSerialMFC &port() override { return faulty; }
    FaultyPort faulty;
};

} // namespace

TEST_F(Jobs, DownloadSendsEveryRowAsItStands)
{
    ASSERT_TRUE(ttest::makeDatabase(6, true));
    ttest::Sql sql;
    // A code shorter than six characters and a price beyond 24 bits.
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET pluCode = '77', unitPrice = 16777216 + 399 WHERE pluNo = 6")));
    RunPluDownload(host);

    const auto products = peer->products();
    const auto rows = sql.rows(QStringLiteral("SELECT pluNo, preFix, pluCode, pluDesc, validDays, tareWeight, unitPrice,"
                                              " sellFlag, BarcodeMode FROM PLU ORDER BY pluNo"));
    ASSERT_EQ(products.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto &p = products[i];
        const auto &r = rows[i];
        EXPECT_EQ(p.number, r[0].toInt());
        EXPECT_EQ(p.numberCopy, r[0].toInt());
        EXPECT_EQ(p.prefix, r[1].toInt());
        EXPECT_EQ(p.code, r[2].toString().toLatin1().leftJustified(6, '\0', true));
        EXPECT_EQ(latin1(p.description).remove(QChar(0)), r[3].toString());
        EXPECT_EQ(p.shelfLife, r[4].toInt());
        EXPECT_EQ(p.tare, r[5].toInt());
        EXPECT_EQ(p.price, uint32_t(r[6].toLongLong()) & 0xFFFFFF);
        EXPECT_EQ(p.saleType, r[7].toInt());
        EXPECT_EQ(p.barcodeMode, r[8].toInt());
    }
    EXPECT_EQ(products[5].code, QByteArray("77\0\0\0\0", 6));
    EXPECT_EQ(products[5].price, 399u);
    EXPECT_EQ(peer->badFrames(), 0);

    const QStringList st = host.statuses();
    ASSERT_EQ(st.size(), 7);
    EXPECT_EQ(st[0], QStringLiteral("download NO. 1 PLU successful !"));
    EXPECT_EQ(st[5], QStringLiteral("download NO. 6 PLU successful !"));
    EXPECT_EQ(st[6], QStringLiteral("Transmissão efetuada com sucesso!"));
    EXPECT_EQ(host.rangeMax(), 6);
    EXPECT_EQ(host.pos(), 6);
    EXPECT_EQ(host.caption(JobButton::Transmit), QStringLiteral("Rirodidovu"));
    EXPECT_TRUE(host.cancelRequested());
    EXPECT_TRUE(host.messages().isEmpty());
}

// A line left as a new terminal has it (echo, line editing, CR/LF
// translation) and a stale "NG" from an earlier exchange: the port's own
// set-up and the purge must make the download succeed anyway.
TEST_F(Jobs, DownloadOverATerminalLineWithStaleInput)
{
    ASSERT_TRUE(ttest::makeDatabase(6, true));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 10 + 13 * 256"))); // LF and CR bytes on the wire
    peer.reset();
    peer = std::make_unique<testpeer::ScalePeer>(wd.dosDevices(), 1, testpeer::Line::AsTerminal);
    ASSERT_TRUE(peer->ok());
    peer->leaveOnTheLine(QByteArray("NG"));
    RunPluDownload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("Transmissão efetuada com sucesso!"));
    EXPECT_EQ(peer->productFrames(), 6);
    EXPECT_EQ(peer->badFrames(), 0);
}

TEST_F(Jobs, DownloadStopsAtTheFirstProductNotAcknowledged)
{
    ASSERT_TRUE(ttest::makeDatabase(5));
    peer->setOkLimit(2);
    RunPluDownload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("download NO. 3 PLU failed !"));
    EXPECT_EQ(host.pos(), 2);
    EXPECT_EQ(peer->productFrames(), 3);
    EXPECT_EQ(host.caption(JobButton::Transmit), QStringLiteral("Rirodidovu"));
    EXPECT_TRUE(host.cancelRequested());
}

TEST_F(Jobs, DownloadOfAnEmptyTableSendsNothing)
{
    ASSERT_TRUE(ttest::makeDatabase(0));
    RunPluDownload(host);
    EXPECT_TRUE(host.statuses().isEmpty()); // "Connecting......" stays
    EXPECT_EQ(host.rangeMax(), 0);
    EXPECT_EQ(peer->productFrames(), 0);
    EXPECT_EQ(host.caption(JobButton::Transmit), QStringLiteral("Rirodidovu"));
    EXPECT_TRUE(host.cancelRequested());
}

TEST_F(Jobs, PortThatCannotBeOpenedIsNamed)
{
    ASSERT_TRUE(ttest::makeDatabase(2));
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/tty"), wd.dosDevices() + QStringLiteral("/com7")));
    ttest::RecordingHost other(QStringLiteral("COM7"));
    RunPluUpload(other);
    ASSERT_EQ(other.messages(), QStringList{QStringLiteral("Não é possível abrir a COM7")});
    EXPECT_EQ(other.icons(), std::vector<MessageIcon>{MessageIcon::None});
    EXPECT_EQ(other.caption(JobButton::UploadPlu), QStringLiteral("upload"));
    EXPECT_TRUE(other.cancelRequested());
    EXPECT_TRUE(other.statuses().isEmpty());

    // A port another job holds is refused the same way and left alone.
    ASSERT_EQ(theScalePort.OpenForWindow(QStringLiteral("COM1"), static_cast<QObject *>(nullptr)), 0);
    RunPluDownload(host);
    theScalePort.ClosePort();
    EXPECT_EQ(host.messages(), QStringList{QStringLiteral("Não é possível abrir a COM1")});
    EXPECT_EQ(peer->productFrames(), 0);
}

// A port that refuses the line format, a cable pulled out half-way and a
// write that ends short are the port's failures, named as such: not a scale
// that "did not answer".
TEST_F(Jobs, PortFailuresAreNamedNotTakenForASilentScale)
{
    ASSERT_TRUE(ttest::makeDatabase(5));
    {
        FaultyHost h;
        h.faulty.lineFormatError = EINVAL;
        const JobOutcome out = RunPluDownload(h);
        EXPECT_EQ(out.end, JobOutcome::End::PortNotOpened);
        ASSERT_EQ(h.messages().size(), 1);
        EXPECT_TRUE(h.messages()[0].startsWith(QStringLiteral("Não é possível abrir a COM1\n\nA porta não aceitou "
                                                              "57600 baud")))
            << h.messages()[0].toStdString();
        EXPECT_FALSE(h.faulty.IsOpen());
        EXPECT_EQ(peer->productFrames(), 0);
    }

    peer->setHangUpAt(3);
    JobOutcome out = RunPluDownload(host);
    EXPECT_EQ(out.end, JobOutcome::End::NoAnswer);
    EXPECT_EQ(out.wire.status, WireStatus::PortError);
    EXPECT_EQ(out.wire.code, EIO);
    EXPECT_EQ(out.count, 2);
    EXPECT_EQ(out.pluNo, 3);
    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages()[0].contains(QStringLiteral("o dispositivo deixou de responder")))
        << host.messages()[0].toStdString();
    EXPECT_EQ(host.lastStatus(), QStringLiteral("download NO. 3 PLU failed !"));

    peer.reset();
    startPeer();
    FaultyHost h;
    h.faulty.writeOnly = 40;
    out = RunPluDownload(h);
    EXPECT_EQ(out.wire.status, WireStatus::ShortWrite);
    EXPECT_EQ(out.pluNo, 1);
    EXPECT_EQ(h.messages(),
              QStringList{QStringLiteral("A porta COM1 enviou só 40 bytes e parou; verifique o cabo e o adaptador.")});
    EXPECT_EQ(h.lastStatus(), QStringLiteral("download NO. 1 PLU failed !"));
    EXPECT_FALSE(h.faulty.IsOpen());
}

TEST_F(Jobs, DatabaseErrorEndsTheDownloadInOrder)
{
    ASSERT_TRUE(ttest::makeDatabase(2));
    ttest::Sql sql;
    if (torvane::test::onServer()) { // the server's record of the products' changes watches the column
        ASSERT_TRUE(sql.exec(QStringLiteral("DROP TRIGGER historico_plu ON PLU")));
    }
    ASSERT_TRUE(sql.exec(QStringLiteral("ALTER TABLE PLU DROP COLUMN sellFlag")));
    RunPluDownload(host);
    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages()[0].startsWith(torvane::db::engineErrorSentence(torvane::db::EngineError::MissingTable)))
        << host.messages()[0].toStdString();
    EXPECT_TRUE(host.messages()[0].contains(QStringLiteral("sellFlag"))) << host.messages()[0].toStdString();
    EXPECT_EQ(host.icons(), std::vector<MessageIcon>{MessageIcon::Warning});
    EXPECT_EQ(host.lastStatus(), QStringLiteral("download NO. 1 PLU failed !"));
    EXPECT_EQ(host.caption(JobButton::Transmit), QStringLiteral("Rirodidovu"));
    EXPECT_EQ(peer->productFrames(), 0);
}

TEST_F(Jobs, CancelStopsBetweenTwoProducts)
{
    ASSERT_TRUE(ttest::makeDatabase(8));
    host.pressCancelAtPos(3);
    RunPluDownload(host);
    EXPECT_EQ(peer->productFrames(), 3);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("download cancelled, 3 PLU sent !"));
    EXPECT_EQ(host.pos(), 3);
    EXPECT_EQ(host.caption(JobButton::Transmit), QStringLiteral("Rirodidovu"));
}

TEST_F(Jobs, ProductUploadReplacesTheTableAndEndsAtNumber500)
{
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    for (int i = 1; i <= 4; ++i)
        ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, pluDesc) VALUES (%1, 'old')").arg(i)));
    peer->setSlots({slotBytes(7, 2, "001230", "BANANA", 3, 124, 399, 1),
                    slotBytes(500, 9, QByteArray(6, '\0'), QByteArray("P\xC3O DE QUEIJO", 13), 65535, 65534,
                              0xFFFFFF, 2),
                    slotBytes(8, 2, "000000", "NOT STORED", 0, 0, 0, 1)});
    RunPluUpload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload PLU finished, total 2 !"));
    EXPECT_EQ(host.rangeMax(), 500);
    EXPECT_EQ(host.pos(), 2);
    EXPECT_EQ(host.caption(JobButton::UploadPlu), QStringLiteral("upload"));
    EXPECT_EQ(peer->uploadRequests(), 1);
    const auto rows = sql.rows(QStringLiteral("SELECT pluNo, preFix, pluCode, pluDesc, validDays, tareWeight, unitPrice,"
                                              " sellFlag FROM PLU_UPLOADED ORDER BY rowid"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (QVariantList{7, 2, QStringLiteral("001230"), QStringLiteral("BANANA"), 3, 124, 399, 1}));
    EXPECT_EQ(rows[1], (QVariantList{500, 9, QString(""), QStringLiteral("PÃO DE QUEIJO"), 65535, 65534, 16777215, 2}));
}

TEST_F(Jobs, ProductUploadEndsAtANumberAbove500WithoutStoringIt)
{
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo) VALUES (1)")));
    peer->setSlots({slotBytes(501, 0, "", "", 0, 0, 0, 0)});
    RunPluUpload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload PLU finished, total 0 !"));
    EXPECT_EQ(host.pos(), 500);
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 0);
}

TEST_F(Jobs, ProductUploadFailures)
{
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo) VALUES (1)")));

    // No header: nothing touched.
    peer->setAnswerHeader(false);
    RunPluUpload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("Fail to connect to the scale! Please check the cable!"));
    EXPECT_EQ(host.caption(JobButton::UploadPlu), QStringLiteral("upload"));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 1);

    // A header, then no slot: an upload that fails keeps the old rows.
    peer->setAnswerHeader(true);
    ttest::RecordingHost second;
    RunPluUpload(second);
    EXPECT_EQ(second.lastStatus(), QStringLiteral("upload PLU failed in No. 0 !"));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 1);

    // A short slot after two whole ones.
    peer->setSlots({slotBytes(1, 2, "000010", "A", 0, 0, 1, 1), slotBytes(2, 2, "000020", "B", 0, 0, 2, 1),
                    slotBytes(3, 2, "000030", "C", 0, 0, 3, 1).left(20)});
    ttest::RecordingHost third;
    RunPluUpload(third);
    EXPECT_EQ(third.lastStatus(), QStringLiteral("upload PLU failed in No. 2 !"));
    EXPECT_EQ(third.pos(), 2);
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 1);
}

// The manager holds the file locked: the upload finds out before it asks the
// scale (whose stream would not wait), says the file is busy as the manager
// would, and the old rows stay.
TEST_F(Jobs, ProductUploadLockedOutAsksNothing)
{
    if (torvane::test::onServer())
        GTEST_SKIP() << "the file's write lock; the server locks row by row";
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo) VALUES (1)")));
    peer->setSlots({slotBytes(500, 2, "000010", "A", 0, 0, 1, 1)});
    ASSERT_TRUE(sql.exec(QStringLiteral("BEGIN IMMEDIATE")));
    RunPluUpload(host); // waits out the engine's busy time-out
    ASSERT_TRUE(sql.exec(QStringLiteral("ROLLBACK")));
    EXPECT_EQ(peer->uploadRequests(), 0);
    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages()[0].startsWith(torvane::db::engineErrorSentence(torvane::db::EngineError::Locked)))
        << host.messages()[0].toStdString();
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload PLU failed in No. 0 !"));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 1);
}

TEST_F(Jobs, ProductUploadIntoATableThatCannotTakeRows)
{
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("ALTER TABLE PLU_UPLOADED RENAME TO PU_DATA")));
    ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PU_DATA (pluNo) VALUES (1)")));
    ASSERT_TRUE(sql.exec(QStringLiteral("CREATE VIEW PLU_UPLOADED AS SELECT * FROM PU_DATA")));
    peer->setSlots({slotBytes(1, 2, "000010", "A", 0, 0, 1, 1)});
    RunPluUpload(host);
    EXPECT_EQ(host.messages(), QStringList{QStringLiteral("can't append!")});
    EXPECT_EQ(host.icons(), std::vector<MessageIcon>{MessageIcon::Warning});
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload PLU failed in No. 0 !"));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PU_DATA")).toInt(), 1);
}

// A file marked read-only stays as it is, even for a user who could write it
// (root), as it does in the manager.
TEST_F(Jobs, ProductUploadHonoursAFileMarkedReadOnly)
{
    if (torvane::test::onServer())
        GTEST_SKIP() << "file permissions do not reach a server";
    ASSERT_TRUE(ttest::makeDatabase(1));
    {
        ttest::Sql sql;
        ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo) VALUES (1)")));
    }
    QFile::setPermissions(QStringLiteral("vendabase.accdb"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    peer->setSlots({slotBytes(500, 2, "000010", "A", 0, 0, 1, 1)});
    RunPluUpload(host);
    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages()[0].startsWith(QStringLiteral("can't append!\n\n")
                                              + torvane::db::engineErrorSentence(torvane::db::EngineError::ReadOnly)));
    EXPECT_EQ(peer->uploadRequests(), 0);
    ttest::Sql sql;
    EXPECT_EQ(sql.rows(QStringLiteral("SELECT pluNo FROM PLU_UPLOADED")), (std::vector<QVariantList>{{1}}));
}

TEST_F(Jobs, ProductUploadCancelledBetweenSlots)
{
    ASSERT_TRUE(ttest::makeDatabase(1));
    std::vector<QByteArray> slotList;
    for (int i = 1; i <= 10; ++i)
        slotList.push_back(slotBytes(uint16_t(i), 2, "000000", "X", 0, 0, 0, 1));
    peer->setSlots(slotList);
    host.cancelAfterStatuses(2);
    RunPluUpload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload PLU cancelled, total 2 !"));
    ttest::Sql sql;
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 2);
}

class RecordJobs : public Jobs {
protected:
    void SetUp() override
    {
        Jobs::SetUp();
        ASSERT_TRUE(ttest::makeDatabase(1));
        ASSERT_TRUE(sql().exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, pluDesc, sellFlag) VALUES"
                                              " (1, 'BANANA', 1), (2, 'BOLO', 2), (3, 'OVOS', 0)")));
    }
    ttest::Sql &sql()
    {
        if (!m_sql)
            m_sql = std::make_unique<ttest::Sql>();
        return *m_sql;
    }
    std::vector<QVariantList> records()
    {
        return sql().rows(QStringLiteral("SELECT ID, pluNo, pluDesc, dateTime, weight, totalPrice FROM RECORD ORDER BY ID"));
    }

private:
    std::unique_ptr<ttest::Sql> m_sql;
};

TEST_F(RecordJobs, SalesAreAppendedByWeightOrByTotal)
{
    peer->setRecords({recordBytes(1, 0x24, 0x03, 0x15, 0x09, 0x30, 0x05, 1500),
                      recordBytes(2, 0x24, 0x03, 0x15, 0x10, 0x00, 0x00, 1500),
                      recordBytes(3, 0x24, 0x13, 0x01, 0x00, 0x00, 0x00, 0xFFFFFF), // month 13
                      recordBytes(501, 0, 0, 0, 0, 0, 0, 0), recordBytes(1, 0x24, 1, 1, 0, 0, 0, 1)});
    const JobOutcome first = RunRecordUpload(host);
    EXPECT_EQ(first.newSales, 3);
    EXPECT_EQ(host.lastStatus(),
              QStringLiteral("upload REC finished, total 3 ! (1 without date)"));
    EXPECT_EQ(host.pos(), 500);
    EXPECT_EQ(host.caption(JobButton::UploadRecord), QStringLiteral("upload"));
    EXPECT_TRUE(host.messages().isEmpty());
    auto rows = records();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (QVariantList{1, 1, QStringLiteral("BANANA"), QStringLiteral("2024-03-15 09:30:05"), 1500, 0}));
    EXPECT_EQ(rows[1], (QVariantList{2, 2, QStringLiteral("BOLO"), QStringLiteral("2024-03-15 10:00:00"), 0, 1500}));
    EXPECT_EQ(rows[2][1].toInt(), 3);
    EXPECT_TRUE(rows[2][3].isNull());
    EXPECT_EQ(rows[2][5].toInt(), 16777215);

    // Uploading the same sales again stores nothing more, and says so.
    ttest::RecordingHost again;
    const JobOutcome second = RunRecordUpload(again);
    EXPECT_EQ(records().size(), 3u);
    EXPECT_TRUE(second.done());
    EXPECT_EQ(second.newSales, 0);
    EXPECT_EQ(second.knownSales, 3);
}

TEST_F(RecordJobs, SaleNumbered500EndsTheUploadAfterStoringIt)
{
    ASSERT_TRUE(sql().exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, pluDesc, sellFlag) VALUES (500, 'LAST', 1)")));
    peer->setRecords({recordBytes(500, 0x24, 1, 1, 0, 0, 0, 10), recordBytes(1, 0x24, 1, 1, 0, 0, 0, 20)});
    RunRecordUpload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload REC finished, total 1 !"));
    EXPECT_EQ(host.pos(), 1);
    EXPECT_EQ(records().size(), 1u);
}

TEST_F(RecordJobs, SaleOfAnUnknownProductEndsTheUpload)
{
    peer->setRecords({recordBytes(1, 0x24, 1, 1, 0, 0, 0, 10), recordBytes(9, 0x24, 1, 1, 0, 0, 0, 20),
                      recordBytes(2, 0x24, 1, 1, 0, 0, 0, 30)});
    RunRecordUpload(host);
    EXPECT_EQ(host.messages(), QStringList{QStringLiteral("Can't find the PLU information, PLU NO = 9 !")});
    EXPECT_EQ(host.icons(), std::vector<MessageIcon>{MessageIcon::Warning});
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload Rec failed in No. 1 !"));
    EXPECT_EQ(records().size(), 1u);
}

TEST_F(RecordJobs, RowNotWrittenIsReportedAndCounted)
{
    ASSERT_TRUE(sql().exec(torvane::test::faultTrigger(QStringLiteral("skip2"), QStringLiteral("INSERT"),
                                                       QStringLiteral("RECORD"), QStringLiteral("NEW.pluNo = 2"))));
    peer->setRecords({recordBytes(2, 0x24, 1, 1, 0, 0, 0, 10), recordBytes(1, 0x24, 1, 1, 0, 0, 0, 20)});
    RunRecordUpload(host);
    EXPECT_EQ(host.messages(), QStringList{QStringLiteral("can't update rec!")});
    // The stream then runs dry: the count includes the row not written.
    EXPECT_EQ(host.lastStatus(), QStringLiteral("upload Rec failed in No. 2 !"));
    EXPECT_EQ(records().size(), 1u);
}

TEST_F(RecordJobs, TablesThatCannotBeOpenedStopBeforeThePort)
{
    ASSERT_TRUE(sql().exec(QStringLiteral("DROP TABLE RECORD")));
    RunRecordUpload(host);
    ASSERT_EQ(host.messages().size(), 1);
    EXPECT_TRUE(host.messages()[0].startsWith(QStringLiteral("database is error !")));
    EXPECT_TRUE(host.messages()[0].contains(QStringLiteral("RECORD")));
    EXPECT_EQ(host.caption(JobButton::UploadRecord), QStringLiteral("upload"));
    EXPECT_TRUE(host.cancelRequested());
    EXPECT_EQ(peer->uploadRequests(), 0);
}

TEST_F(RecordJobs, MissingHeader)
{
    peer->setAnswerHeader(false);
    RunRecordUpload(host);
    EXPECT_EQ(host.lastStatus(), QStringLiteral("Fail to connect to the scale! Please check the cable!"));
    EXPECT_EQ(records().size(), 0u);
}
