#include "ScaleRunner.h"

#include "AckRecord.h"
#include "DataSource.h"
#include "Db.h"
#include "ScaleProtocol.h"
#include "SalesKey.h"
#include "Schema.h"
#include "TransferJobs.h"

#include <QTemporaryDir>

#include <mutex>
#include <thread>

namespace torvane::transfer {

namespace tx = torvane::transmitter;

namespace {

QByteArray frameOf(const ScalePlu &plu)
{
    const auto frame = scalelink::BuildPluFrame(plu);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
}

// The job's host for one scale and one job.
class RunnerHost : public tx::JobHost {
public:
    RunnerHost(const ScaleTarget &scale, const RunSettings &settings) : m_scale(scale), m_settings(settings) {}

    QString portName() const override { return m_scale.port; }
    CSerialMFC &port() override { return m_port; }
    void setStatusText(const QString &text) override { m_status = text; }
    void setButtonCaption(tx::JobButton, const QString &) override {}
    void setProgressRange(int maximum) override
    {
        m_max = maximum;
        report(0);
    }
    void setProgressPos(int pos) override { report(pos); }
    void messageBox(const QString &text, tx::MessageIcon) override { m_boxes << text; }
    bool cancelRequested() const override
    {
        return m_ended || (m_settings.stop && m_settings.stop->load());
    }
    void setCancelRequested(bool on) override { m_ended = on; }
    bool wantsProduct(const ScalePlu &plu) override { return !select || select(plu); }
    void slotRead(const ScalePlu &plu) override { slotImages.push_back(plu); }
    void productResult(const ScalePlu &plu, bool acknowledged) override
    {
        if (acknowledged)
            acked[plu.number] = frameOf(plu);
    }

    // The boxes and the last status the job showed, for support.
    QString detail() const
    {
        QStringList all = m_boxes;
        if (!m_status.isEmpty())
            all << m_status;
        return all.join(QStringLiteral(" / "));
    }
    std::function<bool(const ScalePlu &)> select;
    std::vector<ScalePlu> slotImages;
    std::map<int, QByteArray> acked;

private:
    void report(int pos)
    {
        if (m_settings.progress)
            m_settings.progress(m_scale, pos, m_max);
    }

    ScaleTarget m_scale;
    const RunSettings &m_settings;
    CSerialMFC m_port;
    QString m_status;
    QStringList m_boxes;
    int m_max = 0;
    std::atomic<bool> m_ended{false};
};

Outcome outcomeOf(const tx::JobOutcome &o)
{
    switch (o.end) {
    case tx::JobOutcome::End::Done: return Outcome::Done;
    case tx::JobOutcome::End::PortNotOpened: return Outcome::PortFailed;
    case tx::JobOutcome::End::NoAnswer: return Outcome::NoAnswer;
    case tx::JobOutcome::End::Stopped: return Outcome::Interrupted;
    case tx::JobOutcome::End::DatabaseError: return Outcome::DatabaseError;
    }
    return Outcome::DatabaseError;
}

// The job's outcome into the scale's result.
void take(ScaleResult &r, const tx::JobOutcome &o, const RunnerHost &host)
{
    r.outcome = outcomeOf(o);
    r.count = o.count;
    r.total = o.total;
    r.failedPluNo = o.end == tx::JobOutcome::End::NoAnswer ? o.pluNo : -1;
    r.cause = o.cause;
    r.detail = host.detail();
}

// A download to one scale.  only: the slots to send (null: by the record).
void download(const RunSettings &settings, ScaleResult &r, const std::set<int> *only)
{
    // A base that cannot be written is refused before the record (which it
    // could not keep) is touched, in the words the window uses.
    QString refusal;
    if (!tx::BaseTakesWrites(tx::JobKind::Download, &refusal)) {
        r.outcome = Outcome::DatabaseError;
        r.cause = r.detail = refusal;
        return;
    }
    AckRecord record(settings.databasePath, r.scale.name);
    if (!record.load() || !record.markStarted()) {
        r.outcome = Outcome::DatabaseError;
        r.cause = r.detail = record.error();
        return;
    }
    const bool wasTrusted = record.trusted();
    r.recorded = record.available();
    RunnerHost host(r.scale, settings);
    if (only) {
        host.select = [only](const ScalePlu &plu) { return only->count(plu.number) > 0; };
        r.everything = false;
    } else if (settings.command.changedOnly) {
        host.select = [&record](const ScalePlu &plu) { return record.needsSending(plu.number, frameOf(plu)); };
        r.everything = !wasTrusted;
    }
    take(r, tx::RunPluDownload(host), host);
    // Sending only some slots keeps a record that was trusted trusted; a
    // whole table (or every change since a trusted record) makes it so.
    const bool trustedNow = r.outcome == Outcome::Done && (only ? wasTrusted : true);
    if (!record.finish(host.acked, trustedNow) && r.outcome == Outcome::Done) {
        // The scale has what it acknowledged (count says how much); only the
        // record of it is lost.
        r.outcome = Outcome::DatabaseError;
        r.cause = r.detail = record.error();
    }
}

// slotImages: when given, every slot stored, as the scale sent it.
void upload(const RunSettings &settings, ScaleResult &r, bool products, std::vector<ScalePlu> *slotImages = nullptr)
{
    RunnerHost host(r.scale, settings);
    take(r, products ? tx::RunPluUpload(host) : tx::RunRecordUpload(host), host);
    r.total = 0;
    if (slotImages)
        *slotImages = std::move(host.slotImages);
}

// Reads the scale's sales into RECORD, then keys what the read appended and
// drops the sales stored before, as the manager's window does: reading the
// same scale twice stores each sale once.  The rows a read appends are told
// apart only by coming after the highest ID found before it, so the sales
// reads of this run go one after another.
void salesRead(const RunSettings &settings, ScaleResult &r)
{
    static std::mutex oneReadAtATime;
    const std::lock_guard<std::mutex> lock(oneReadAtATime);
    QString error;
    auto conn = db::Connection::open(settings.databasePath, &error);
    qint64 lastId = -1;
    if (conn) {
        r.recorded = db::HasSaleKey(conn->database());
        lastId = db::LastRecordId(conn->database(), &error);
    }
    if (lastId < 0) {
        r.outcome = Outcome::DatabaseError;
        r.cause = r.detail = error;
        return;
    }
    upload(settings, r, false);
    // A read that stopped half-way is keyed too: what it stored is a prefix
    // of what the next read sends, and stays unkeyed otherwise.  A read that
    // stored nothing has nothing to key.
    if (!r.recorded || r.outcome == Outcome::PortFailed || (r.outcome == Outcome::DatabaseError && r.count == 0))
        return;
    if (!db::AdoptSalesRead(conn->database(), lastId, &r.newSales, &r.knownSales, &error)) {
        r.outcome = Outcome::DatabaseError;
        r.cause = r.detail = error;
    }
}

// Reads the scale's products into a scratch file of its own (the base's
// PLU_UPLOADED stays as it is, and several scales can be read at once), then
// compares them with the base.
void check(const RunSettings &settings, ScaleResult &r)
{
    QTemporaryDir scratchDir;
    const QString scratch = scratchDir.filePath(QStringLiteral("scale.accdb"));
    QString error;
    schema::CreateOptions options;
    options.slotCount = 0;
    if (!scratchDir.isValid() || !schema::createDatabaseFile(scratch, options, &error)) {
        r.outcome = Outcome::DatabaseError;
        r.cause = r.detail = error;
        return;
    }
    std::vector<ScalePlu> slotImages;
    tx::SetThreadDatabaseFileOverride(scratch);
    upload(settings, r, true, &slotImages);
    tx::SetThreadDatabaseFileOverride(QString());
    if (r.outcome != Outcome::Done)
        return;
    // From here count and total are the products sent by --send.
    r.count = r.total = 0;

    // The scale's side is what it sent (the barcode mode included, which
    // PLU_UPLOADED does not keep).
    std::vector<tx::CompareProduct> base, scale;
    for (const ScalePlu &slot : slotImages)
        scale.push_back(tx::FromScaleSlot(slot));
    {
        auto baseDb = db::Connection::open(settings.databasePath, &error, true);
        if (!baseDb || !tx::ReadBaseProducts(baseDb->database(), &base, &error)) {
            r.outcome = Outcome::DatabaseError;
            r.cause = r.detail = error;
            return;
        }
    }
    r.differences = tx::CompareScale(base, scale);
    if (r.differences.empty())
        return;
    r.outcome = Outcome::Differs;
    if (!settings.command.sendDifferences)
        return;
    // Slots beyond the base's cannot be sent: they stay reported.
    std::set<int> chosen;
    for (const auto &d : r.differences)
        if (d.base)
            chosen.insert(d.pluNo);
    if (chosen.empty())
        return;
    ScaleResult sent = r;
    download(settings, sent, &chosen);
    r.outcome = sent.outcome == Outcome::Done && chosen.size() == r.differences.size() ? Outcome::Done
                : sent.outcome == Outcome::Done ? Outcome::Differs : sent.outcome;
    r.total = sent.total;
    r.count = sent.count;
    r.failedPluNo = sent.failedPluNo;
    r.everything = false;
    r.cause = sent.cause;
    r.detail = sent.detail;
}

ScaleResult runOne(const RunSettings &settings, const ScaleTarget &scale)
{
    ScaleResult r;
    r.scale = scale;
    r.action = settings.command.action;
    switch (r.action) {
    case Action::Send:
        download(settings, r, nullptr);
        break;
    case Action::Products:
        upload(settings, r, true);
        break;
    case Action::Sales:
        salesRead(settings, r);
        break;
    case Action::Check:
        check(settings, r);
        break;
    }
    return r;
}

} // namespace

int ExitCodeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done: return ExitOk;
    case Outcome::Differs: return ExitDiffers;
    case Outcome::PortFailed: return ExitPortFailed;
    case Outcome::NoAnswer: return ExitNoAnswer;
    case Outcome::Interrupted: return ExitInterrupted;
    case Outcome::DatabaseError: return ExitDatabase;
    }
    return ExitDatabase;
}

QString OutcomeKey(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done: return QStringLiteral("done");
    case Outcome::Differs: return QStringLiteral("differs");
    case Outcome::PortFailed: return QStringLiteral("port-failed");
    case Outcome::NoAnswer: return QStringLiteral("no-answer");
    case Outcome::Interrupted: return QStringLiteral("interrupted");
    case Outcome::DatabaseError: return QStringLiteral("database-error");
    }
    return {};
}

std::vector<ScaleResult> RunScales(const RunSettings &settings)
{
    const auto &scales = settings.command.scales;
    std::vector<ScaleResult> results(scales.size());
    std::vector<std::thread> threads;
    threads.reserve(scales.size());
    for (std::size_t i = 0; i < scales.size(); ++i)
        threads.emplace_back([&, i] { results[i] = runOne(settings, scales[i]); });
    for (auto &t : threads)
        t.join();
    return results;
}

int ExitCodeOf(const std::vector<ScaleResult> &results)
{
    int code = ExitOk;
    for (const auto &r : results)
        code = std::max(code, ExitCodeOf(r.outcome));
    return code;
}

} // namespace torvane::transfer
