// torvane-transfer against simulated scales on pseudo-terminals: several
// scales at once, one failing or stopped half-way, only the changes after
// that, the check against the base, and the program's own report.
#include "CommandLine.h"
#include "DataSource.h"
#include "ScaleProtocol.h"
#include "ScaleRecord.h"
#include "ScaleRunner.h"
#include "SimulatorOnPty.h"
#include "TransferCommand.h"
#include "TransferJobs.h"
#include "TransferOutput.h"
#include "TransmitterTestSupport.h"
#include "Db.h"
#include "ServerBase.h"
#include "TorvaneDlg.h"
#include "SalesRead.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
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

    // Products the sales job looks up: 1 sold by weight, 2 by unit.
    void productsReadBack()
    {
        ttest::Sql sql;
        ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, preFix, pluCode, pluDesc, validDays,"
                                            " tareWeight, unitPrice, sellFlag) VALUES (1, 2, '000001', 'A', 0, 0, 100, 1),"
                                            " (2, 2, '000002', 'B', 0, 0, 250, 2)")));
    }
    void setSales(int com, const std::vector<ScaleSale> &sales)
    {
        std::vector<torvane::scalesim::Record> records;
        for (const ScaleSale &s : sales)
            records.push_back(torvane::scalelink::EncodeSaleRecord(s));
        scales[com]->stop();
        scales[com]->sim.setSales(records);
        scales[com]->start();
    }
    int recordRows() { return ttest::Sql().scalar(QStringLiteral("SELECT count(*) FROM RECORD")).toInt(); }

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

ScaleSale sale(int plu, int month, int minute, int second, int value)
{
    return ScaleSale{uint16_t(plu), 24, uint8_t(month), 14, 10, uint8_t(minute), uint8_t(second), uint32_t(value)};
}

// The programs run beside the test: simulators paced at the scale's line
// speed, each with its sales from a file (pluNo,yy,MM,dd,hh,mm,ss,value),
// and torvane-transfer.  Everything runs in processes of its own: no thread
// of this one is running when they are started.
class Programs {
public:
    ~Programs()
    {
        for (auto &p : m_processes) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    QProcess &scale(const char *com, const std::vector<ScaleSale> &sales)
    {
        QFile f(QStringLiteral("%1.csv").arg(QLatin1String(com)));
        f.open(QIODevice::WriteOnly);
        for (const ScaleSale &s : sales)
            f.write(QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8\n")
                        .arg(s.number).arg(s.year).arg(s.month).arg(s.day).arg(s.hour).arg(s.minute).arg(s.second)
                        .arg(s.value).toLatin1());
        f.close();
        QProcess &p = start(QStringLiteral("torvane-scalesim"),
                            {"--link", com, "--pace", "57600", "--sales", f.fileName(), "--log",
                             QStringLiteral("%1.log").arg(QLatin1String(com))});
        EXPECT_TRUE(p.waitForReadyRead(5000));
        return p;
    }
    QProcess &transfer(const QStringList &args) { return start(QStringLiteral("torvane-transfer"), args); }
    // Waits until the scale's log shows it answering a request.
    static bool answering(const char *com, const char *request)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000) {
            QFile log(QStringLiteral("%1.log").arg(QLatin1String(com)));
            if (log.open(QIODevice::ReadOnly) && log.readAll().contains(QByteArray(request) + " -> header"))
                return true;
            QThread::msleep(5);
        }
        return false;
    }

private:
    QProcess &start(const QString &program, const QStringList &args)
    {
        auto &p = m_processes.emplace_back(std::make_unique<QProcess>());
        p->start(QCoreApplication::applicationDirPath() + u'/' + program, args);
        EXPECT_TRUE(p->waitForStarted());
        return *p;
    }
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

class AnswerEveryBox : public torvane::transmitter::MessagePresenter {
public:
    void showMessage(QWidget *, const QString &, const QString &text, torvane::transmitter::MessageIcon) override
    {
        shown << text;
    }
    QStringList shown;
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
    const QString port = torvane::transmitter::PortIdentity(QStringLiteral("COM1"));
    torvane::db::ScaleRecord record(QFileInfo(QStringLiteral("vendabase.accdb")).absoluteFilePath(), port, port);
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
// it, and first before the scale's products were read.
TEST_F(Transfer, SalesReadTwiceAreStoredOnce)
{
    ttest::Sql sql;
    std::vector<torvane::scalesim::Record> records;
    for (int minute : {0, 5, 5}) // the last two: two equal sales
        records.push_back(torvane::scalelink::EncodeSaleRecord({1, 24, 3, 14, 10, uint8_t(minute), 0, 500}));
    auto &scale = startScale(1);
    scale.stop();
    scale.sim.setSales(records);
    scale.start();

    // The scale's products never read: told what to do, as a failed read.
    auto results = run({"sales", "--port", "COM1"});
    EXPECT_EQ(ExitCodeOf(results), ExitDatabase);
    const QString told = QString::fromUtf8(torvane::transmitter::text::kSaleProductNotRead).arg(1);
    EXPECT_EQ(TransferOutput::SummaryLines(results).value(0),
              QStringLiteral("COM1: a leitura parou; 0 venda(s) lida(s) para RECORD: %1 (0 nova(s), 0 já lida(s) antes)")
                  .arg(told));

    // The sales job looks each product up in the scale's copy.
    ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, preFix, pluCode, pluDesc, validDays,"
                                        " tareWeight, unitPrice, sellFlag) VALUES (1, 2, '000001', 'A', 0, 0, 100, 1)")));
    for (int read = 0; read < 2; ++read) {
        results = run({"sales", "--port", "COM1"});
        ASSERT_EQ(ExitCodeOf(results), ExitOk) << results[0].detail.toStdString();
        EXPECT_EQ(results[0].newSales, read == 0 ? 3 : 0);
        EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM RECORD")).toInt(), 3);
    }
}

// What the scale holds changes through the transmitter's window, and
// through the command under another name for the same port: "send
// --changed" must not trust a record that either made stale.
TEST_F(Transfer, DownloadsFromTheWindowOrUnderAnotherNameAreSeenBySendChanged)
{
    startScale(1);
    const QStringList changed = {"send", "--changed", "--port", "frios=COM1"};
    ASSERT_EQ(ExitCodeOf(run({"send", "--port", "frios=COM1"})), ExitOk);
    auto priceOnScale = [&](int pluNo) {
        scales[1]->stop();
        const auto &slot = scales[1]->sim.slot(pluNo);
        const int price = slot ? (*slot)[40] << 16 | (*slot)[41] << 8 | (*slot)[42] : -1;
        scales[1]->start();
        return price;
    };
    ttest::Sql sql;
    // A promotion price goes out from the window, then the price comes back.
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 1 WHERE pluNo = 7")));
    {
        AnswerEveryBox boxes;
        torvane::transmitter::CtorvaneDlg window(&boxes);
        QSignalSpy ended(&window, &torvane::transmitter::CtorvaneDlg::jobFinished);
        window.transmitButton()->click();
        ASSERT_TRUE(ended.wait(30000));
        EXPECT_EQ(window.statusText(), QStringLiteral("Transmissão efetuada com sucesso!")) << boxes.shown.join(u'|').toStdString();
    }
    ASSERT_EQ(priceOnScale(7), 1);
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 70 WHERE pluNo = 7")));
    ASSERT_EQ(ExitCodeOf(run(changed)), ExitOk);
    EXPECT_EQ(priceOnScale(7), 70);

    // The same through the port's own name.
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 1 WHERE pluNo = 8")));
    ASSERT_EQ(ExitCodeOf(run({"send", "--port", "COM1"})), ExitOk);
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 80 WHERE pluNo = 8")));
    ASSERT_EQ(ExitCodeOf(run(changed)), ExitOk);
    EXPECT_EQ(priceOnScale(8), 80);
}

// Two scales that record the same sale (same product, second and value)
// sold two sales; a scale cleared since its last read starts again, and a
// sale equal to one it held before (no date, a fixed price) is a new sale.
TEST_F(Transfer, SalesOfTwoScalesAndOfAClearedScaleAreEachKept)
{
    productsReadBack();
    startScale(1);
    startScale(2);
    const ScaleSale undated = sale(2, 13, 0, 0, 250); // month 13: stored without a date
    for (int com : {1, 2})
        setSales(com, {undated, sale(1, 3, 5, 0, 500), sale(1, 3, 5, 0, 500)});
    const QStringList both = {"sales", "--port", "a=COM1", "--port", "b=COM2"};
    for (int read = 0; read < 2; ++read) {
        const auto results = run(both);
        ASSERT_EQ(ExitCodeOf(results), ExitOk) << results[0].detail.toStdString();
        EXPECT_EQ(results[0].newSales + results[1].newSales, read == 0 ? 6 : 0);
        EXPECT_EQ(recordRows(), 6);
    }
    setSales(1, {undated}); // cleared, then one sale
    const auto results = run({"sales", "--port", "a=COM1"});
    EXPECT_EQ(results[0].newSales, 1);
    EXPECT_EQ(results[0].knownSales, 0);
    EXPECT_EQ(recordRows(), 7);
}

// kill -9 in the middle of a sales read (a power cut): the next read stores
// each sale once.
TEST_F(Transfer, SalesReadKilledHalfWayStoresEachSaleOnceAtTheNextRead)
{
    productsReadBack();
    std::vector<ScaleSale> sales;
    for (int i = 0; i < 480; ++i) // about 1 s on the line
        sales.push_back(sale(1 + i % 2, 3, i / 60, i % 60, 100 + i));
    Programs programs;
    programs.scale("COM1", sales);
    QProcess &killed = programs.transfer({"sales", "--port", "COM1"});
    ASSERT_TRUE(Programs::answering("COM1", "UR"));
    QThread::msleep(400);
    ::kill(pid_t(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(5000));
    QThread::msleep(1500); // the scale ends the stream nobody reads any more

    QProcess &next = programs.transfer({"sales", "--port", "COM1"});
    ASSERT_TRUE(next.waitForFinished(20000));
    EXPECT_EQ(next.exitCode(), ExitOk) << next.readAllStandardOutput().toStdString();
    EXPECT_EQ(recordRows(), 480);
}

// Two reads at once (two shells, the timer beside the manager's window, two
// PCs) keep every sale of both scales; a read that finds the store taken
// longer than the lock's time-out says so and stores nothing, in bounded
// time.
TEST_F(Transfer, TwoSalesReadsAtOnceKeepEverySale)
{
    productsReadBack();
    std::vector<ScaleSale> first, second;
    for (int i = 0; i < 480; ++i) // the same few sales again and again
        first.push_back(sale(2, 13, 0, 0, 250 + i % 4));
    for (int i = 0; i < 60; ++i)
        second.push_back(sale(1, 3, 0, i, 100 + i));
    Programs programs;
    programs.scale("COM1", first);
    programs.scale("COM2", second);
    QProcess &a = programs.transfer({"sales", "--port", "COM1"});
    QProcess &b = programs.transfer({"sales", "--port", "COM2"});
    for (QProcess *p : {&a, &b}) {
        ASSERT_TRUE(p->waitForFinished(20000));
        EXPECT_EQ(p->exitCode(), ExitOk) << p->readAllStandardOutput().toStdString();
    }
    EXPECT_EQ(recordRows(), 540);

    // The store held by another program past the time-out.
    QString error;
    auto holder = torvane::db::Connection::open(QStringLiteral("vendabase.accdb"), &error);
    ASSERT_TRUE(holder) << error.toStdString();
    QSqlError held;
    ASSERT_TRUE(torvane::db::BeginSalesStore(holder->database(), &held)) << held.text().toStdString();
    QElapsedTimer waited;
    waited.start();
    QProcess &blocked = programs.transfer({"sales", "--port", "COM2"});
    ASSERT_TRUE(blocked.waitForFinished(30000));
    EXPECT_EQ(blocked.exitCode(), ExitDatabase);
    EXPECT_LT(waited.elapsed(), 20000);
    EXPECT_TRUE(QString::fromUtf8(blocked.readAllStandardOutput()).contains(QStringLiteral("Outra leitura das vendas")));
    QSqlQuery(holder->database()).exec(QStringLiteral("ROLLBACK"));
    EXPECT_EQ(recordRows(), 540);
}

TEST_F(Transfer, ProgramStoppedByCtrlCReportsWhatEachScaleReceived)
{
    // Everything runs in processes of its own here: no thread of this one
    // is running when they are started.
    const QString bin = QCoreApplication::applicationDirPath();
    std::vector<std::unique_ptr<QProcess>> sims;
    for (const char *com : {"COM1", "COM2"}) {
        auto &sim = sims.emplace_back(std::make_unique<QProcess>());
        // 500 products take over 5 s at the line's speed.  Unpaced answers
        // come in one piece: a paced one cut by a busy machine would end the
        // transfer before the Ctrl-C this test is about.
        sim->start(bin + QStringLiteral("/torvane-scalesim"),
                   {"--link", com, "--log", QString::fromLatin1(com) + ".log", "--save",
                    QString::fromLatin1(com) + ".csv"});
        ASSERT_TRUE(sim->waitForReadyRead(5000));
    }
    QProcess p;
    p.start(bin + QStringLiteral("/torvane-transfer"), {"send", "--port", "COM1", "--port", "COM2", "--port", "COM3"});
    ASSERT_TRUE(p.waitForStarted());
    // Ctrl-C once both scales have taken some products: a fixed pause may end
    // before a loaded machine has even started the program.
    const auto answered = [](const char *log) {
        QFile f(QString::fromLatin1(log));
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("-> OK")) : 0;
    };
    QElapsedTimer waited;
    waited.start();
    while ((answered("COM1.log") < 20 || answered("COM2.log") < 20) && waited.elapsed() < 30000)
        QThread::msleep(20);
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
