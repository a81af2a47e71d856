// torvane-transfer against simulated scales on pseudo-terminals: several
// scales at once, one failing or stopped half-way, only the changes after
// that, the check against the base, and the program's own report.
#include "AckRecord.h"
#include "CommandLine.h"
#include "DataSource.h"
#include "ScaleProtocol.h"
#include "ScaleRunner.h"
#include "SimulatorOnPty.h"
#include "TransferCommand.h"
#include "TransferJobs.h"
#include "TransferOutput.h"
#include "TransmitterTestSupport.h"
#include "Db.h"
#include "ServerBase.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>

using namespace torvane::transfer;
using torvane::scalesim::Options;

namespace {

class Transfer : public ::testing::Test {
protected:
    ttest::WorkDir wd;
    std::map<int, std::unique_ptr<SimulatorOnPty>> scales;

    void SetUp() override
    {
        ASSERT_TRUE(ttest::makeDatabase(500));
        ttest::Sql sql;
        ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET Codigo = pluNo, pluCode = '' || (100000 + pluNo), pluDesc = 'PRODUTO ' || pluNo,"
                                            " unitPrice = pluNo * 10")));
    }
    void TearDown() override { torvane::transmitter::SetDatabaseFileOverride(QString()); }

    SimulatorOnPty &startScale(int com, Options o = {})
    {
        scales[com].reset(); // a scale replaced on the same port
        scales[com] = std::make_unique<SimulatorOnPty>(wd.dosDevices(), com, o);
        EXPECT_TRUE(scales[com]->ok());
        scales[com]->start();
        return *scales[com];
    }
    // Frames each scale took in this run.
    std::map<int, int> accepted()
    {
        std::map<int, int> n;
        for (auto &[com, s] : scales) {
            s->stop();
            n[com] = s->sim.stats().framesAccepted;
            s->start();
        }
        return n;
    }

    std::vector<ScaleResult> run(const QStringList &args, const std::atomic<bool> *stop = nullptr,
                                 ProgressSink progress = {})
    {
        const ParseResult p = ParseCommandLine(args);
        EXPECT_TRUE(p.error.isEmpty()) << p.error.toStdString();
        RunSettings settings;
        settings.command = p.command;
        settings.databasePath = QFileInfo(QStringLiteral("vendabase.accdb")).absoluteFilePath();
        settings.stop = stop;
        settings.progress = std::move(progress);
        torvane::transmitter::SetDatabaseFileOverride(settings.databasePath);
        return RunScales(settings);
    }
};

} // namespace

TEST_F(Transfer, ParallelScalesOneFailingHalfwayThenOnlyChangesGoOut)
{
    startScale(1);
    Options failing;
    failing.noAnswerFrom = 250;
    startScale(2, failing);
    startScale(3);
    const QStringList send = {"send", "--changed", "--port", "COM1", "--port", "balcao=COM2", "--port", "COM3"};

    auto results = run(send);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].outcome, Outcome::Done);
    EXPECT_EQ(results[2].outcome, Outcome::Done);
    EXPECT_EQ(results[1].outcome, Outcome::NoAnswer);
    EXPECT_EQ(results[1].failedPluNo, 250);
    EXPECT_EQ(results[1].count, 249);
    EXPECT_EQ(ExitCodeOf(results), ExitNoAnswer);
    EXPECT_EQ(accepted(), (std::map<int, int>{{1, 500}, {2, 249}, {3, 500}}));
    const auto json = QJsonDocument::fromJson(TransferOutput::Json(ParseCommandLine(send).command, results, 4)).object();
    const QJsonObject failed = json["scales"].toArray()[1].toObject();
    EXPECT_EQ(failed["name"].toString(), "balcao");
    EXPECT_EQ(failed["outcome"].toString(), "no-answer");
    EXPECT_EQ(failed["failedPluNo"].toInt(), 250);

    // The failed scale is repaired (its memory kept); ten prices change.
    startScale(2);
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = unitPrice + 1 WHERE pluNo % 50 = 7")));
    results = run(send);
    EXPECT_EQ(ExitCodeOf(results), ExitOk);
    // The scales that completed get exactly the ten; the failed one, whose
    // record is unsure, everything.
    EXPECT_EQ(accepted(), (std::map<int, int>{{1, 510}, {2, 500}, {3, 510}}));
    EXPECT_EQ(scales[1]->sim.slot(57)->at(42), (57 * 10 + 1) & 0xFF); // low byte of the new price

    results = run(send);
    EXPECT_EQ(accepted(), (std::map<int, int>{{1, 510}, {2, 500}, {3, 510}}));
    EXPECT_EQ(results[1].count, 0);
}

TEST_F(Transfer, StoppedTransferLeavesTheRecordUnsure)
{
    startScale(1);
    std::atomic<bool> stop{false};
    auto results = run({"send", "--port", "COM1"}, &stop, [&](const ScaleTarget &, int pos, int) {
        if (pos >= 50)
            stop = true;
    });
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, Outcome::Interrupted);
    EXPECT_EQ(results[0].count, 50);
    AckRecord record(QFileInfo(QStringLiteral("vendabase.accdb")).absoluteFilePath(), QStringLiteral("COM1"));
    ASSERT_TRUE(record.load());
    EXPECT_FALSE(record.trusted());
    // What was acknowledged is kept, nothing that was not.
    ttest::Sql sql;
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) || '/' || max(pluNo) FROM ScaleAck")).toString(), "50/50");
}

// A read-only base is refused before the scale is asked anything, in the
// same words by the window's jobs and by the command: a download could not
// keep the record of what the scale received, a sales read could not keep
// the sales.
TEST_F(Transfer, ReadOnlyBaseIsRefusedBeforeTheScaleTheSameWayOnEveryPath)
{
    if (torvane::test::onServer())
        GTEST_SKIP() << "file permissions do not reach a server";
    startScale(1);
    QFile::setPermissions(QStringLiteral("vendabase.accdb"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    auto results = run({"send", "--changed", "--port", "COM1"});
    EXPECT_EQ(ExitCodeOf(results), ExitDatabase);
    const QString refusal = results[0].cause;
    EXPECT_TRUE(refusal.startsWith(torvane::db::engineErrorSentence(torvane::db::EngineError::ReadOnly)))
        << refusal.toStdString();
    ttest::RecordingHost window;
    torvane::transmitter::RunPluDownload(window);
    EXPECT_EQ(window.messages(), QStringList{refusal});
    EXPECT_EQ(accepted()[1], 0);

    results = run({"sales", "--port", "COM1"});
    EXPECT_EQ(ExitCodeOf(results), ExitDatabase);
    EXPECT_TRUE(results[0].cause.startsWith(torvane::db::engineErrorSentence(torvane::db::EngineError::ReadOnly)))
        << results[0].cause.toStdString();
    scales[1]->stop();
    EXPECT_EQ(scales[1]->sim.stats().uploads, 0);
}

// A command that reaches no scale still gives a script one JSON document.
TEST_F(Transfer, JsonAlwaysGivesOneDocument)
{
    auto document = [](const QStringList &args, int *code) {
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        *code = RunTransferCommand(args, out, err, false, nullptr);
        std::rewind(out);
        QByteArray text;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;)
            text.append(buf, qsizetype(n));
        std::fclose(out);
        std::fclose(err);
        return QJsonDocument::fromJson(text).object();
    };
    int code = 0;
    QJsonObject doc = document({"sales", "--json"}, &code);
    EXPECT_EQ(code, ExitUsage);
    EXPECT_EQ(doc["exitCode"].toInt(), ExitUsage);
    EXPECT_EQ(doc["error"].toString(), QStringLiteral("falta --port"));
    // In a folder of its own: no server connection file beside it.
    doc = document({"send", "--json", "--port", "COM1", "--database", wd.file(QStringLiteral("shop/absent.accdb"))},
                   &code);
    EXPECT_EQ(code, ExitDatabase);
    EXPECT_EQ(doc["exitCode"].toInt(), ExitDatabase);
    EXPECT_EQ(doc["action"].toString(), QStringLiteral("send"));
    EXPECT_FALSE(doc["error"].toString().isEmpty());
    EXPECT_TRUE(doc["scales"].toArray().isEmpty());
}

// Slot 7 holds a product with a code but neither description nor price,
// which the scale holds as it was sent: not a difference.  Slot 9's barcode
// mode changes in the base: a difference.
TEST_F(Transfer, CheckListsWhatDiffersAndSendsOnlyThat)
{
    startScale(1);
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET pluDesc = '', unitPrice = 0 WHERE pluNo = 7")));
    ASSERT_EQ(ExitCodeOf(run({"send", "--port", "COM1"})), ExitOk);
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 1 WHERE pluNo = 3")));
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET Codigo = 0, pluDesc = '', unitPrice = 0 WHERE pluNo = 5")));
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET BarcodeMode = 2 WHERE pluNo = 9")));

    auto results = run({"check", "--port", "COM1"});
    EXPECT_EQ(ExitCodeOf(results), ExitDiffers);
    ASSERT_EQ(results[0].differences.size(), 3u);
    EXPECT_EQ(results[0].differences[0].differences, unsigned(torvane::transmitter::DiffPrice));
    EXPECT_EQ(results[0].differences[1].differences, unsigned(torvane::transmitter::DiffFreeInBase));
    EXPECT_EQ(results[0].differences[2].pluNo, 9);
    EXPECT_EQ(results[0].differences[2].differences, unsigned(torvane::transmitter::DiffBarcodeMode));
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 0); // the base is not written

    results = run({"check", "--send", "--port", "COM1"});
    EXPECT_EQ(ExitCodeOf(results), ExitOk);
    EXPECT_EQ(accepted()[1], 503);
    EXPECT_EQ(ExitCodeOf(run({"check", "--port", "COM1"})), ExitOk);
}

// The database gives out after the scale acknowledged every product: the
// line says what the scale received, not that nothing was done.
TEST_F(Transfer, DatabaseLostAfterTheLastFrameSaysWhatTheScaleReceived)
{
    ASSERT_TRUE(ttest::Sql().exec(QStringLiteral("DELETE FROM PLU WHERE pluNo > 20")));
    auto &scale = startScale(1);
    scale.stop();
    scale.sim.setOnStored([&] {
        if (scale.sim.stats().framesAccepted == 20)
            ttest::Sql().exec(QStringLiteral("DROP TABLE ScaleAck"));
    });
    scale.start();
    const auto results = run({"send", "--port", "COM1"});
    EXPECT_EQ(ExitCodeOf(results), ExitDatabase);
    const QString line = TransferOutput::SummaryLines(results).value(0);
    EXPECT_TRUE(line.startsWith(QStringLiteral("COM1: 20 de 20 produto(s) enviado(s) e confirmado(s) pela balança,"
                                               " mas o registro do que ela recebeu não foi gravado: ")))
        << line.toStdString();
}

// On a base just made by torvane-createdb, before the manager ever opened
// it.
TEST_F(Transfer, SalesReadTwiceAreStoredOnce)
{
    ttest::Sql sql;
    // The sales job looks each product up in the scale's copy.
    ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, preFix, pluCode, pluDesc, validDays,"
                                        " tareWeight, unitPrice, sellFlag) VALUES (1, 2, '000001', 'A', 0, 0, 100, 1)")));
    std::vector<torvane::scalesim::Record> records;
    for (int minute : {0, 5, 5}) // the last two: two equal sales
        records.push_back(torvane::scalelink::EncodeSaleRecord({1, 24, 3, 14, 10, uint8_t(minute), 0, 500}));
    auto &scale = startScale(1);
    scale.stop();
    scale.sim.setSales(records);
    scale.start();

    for (int read = 0; read < 2; ++read) {
        const auto results = run({"sales", "--port", "COM1"});
        ASSERT_EQ(ExitCodeOf(results), ExitOk) << results[0].detail.toStdString();
        EXPECT_EQ(results[0].newSales, read == 0 ? 3 : 0);
        EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM RECORD")).toInt(), 3);
    }
}

TEST_F(Transfer, ProgramStoppedByCtrlCReportsWhatEachScaleReceived)
{
    // Everything runs in processes of its own here: no thread of this one
    // is running when they are started.
    const QString bin = QCoreApplication::applicationDirPath();
    std::vector<std::unique_ptr<QProcess>> sims;
    for (const char *com : {"COM1", "COM2"}) {
        auto &sim = sims.emplace_back(std::make_unique<QProcess>());
        // Paced: 500 products take about 6.5 s.
        sim->start(bin + QStringLiteral("/torvane-scalesim"),
                   {"--link", com, "--pace", "57600", "--quiet", "--save", QString::fromLatin1(com) + ".csv"});
        ASSERT_TRUE(sim->waitForReadyRead(5000));
    }
    QProcess p;
    p.start(bin + QStringLiteral("/torvane-transfer"), {"send", "--port", "COM1", "--port", "COM2", "--port", "COM3"});
    ASSERT_TRUE(p.waitForStarted());
    QThread::msleep(1500);
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), ExitInterrupted) << p.readAllStandardError().toStdString();
    // What each scale holds, saved as it ends.
    std::vector<int> held;
    for (auto &sim : sims) {
        sim->terminate();
        ASSERT_TRUE(sim->waitForFinished(5000));
    }
    for (const char *file : {"COM1.csv", "COM2.csv"}) {
        QFile f(QString::fromLatin1(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        held.push_back(int(f.readAll().count('\n')) - 1);
    }
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << lines.join(u'|').toStdString();
    EXPECT_GT(held[0], 0);
    EXPECT_EQ(lines[0], QStringLiteral("COM1: interrompido; %1 de 500 produto(s) confirmado(s)").arg(held[0]));
    EXPECT_EQ(lines[1], QStringLiteral("COM2: interrompido; %1 de 500 produto(s) confirmado(s)").arg(held[1]));
    EXPECT_EQ(lines[2], QStringLiteral("COM3: não foi possível abrir a porta COM3"));

    p.start(p.program(), {"products", "--port", "COM1", "--port", "COM2"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), ExitUsage);
}
