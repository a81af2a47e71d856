#include "ScaleRunner.h"

#include "DataSource.h"
#include "Db.h"
#include "ScaleProtocol.h"
#include "Schema.h"
#include "TransferJobs.h"

#include <QTemporaryDir>

#include <algorithm>
#include <thread>

namespace torvane::transfer {

namespace tx = torvane::transmitter;

namespace {

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
    // A name given on the command line; otherwise the port names the scale.
    QString scaleName() const override { return m_scale.name == m_scale.port ? QString() : m_scale.name; }
    bool wantsProduct(const ScalePlu &plu) override { return !select || select(plu); }
    bool sendsOnlyChanges() const override { return onlyChanges; }
    void scaleRecordFound(bool kept, bool trusted) override
    {
        recordKept = kept;
        recordTrusted = trusted;
    }
    void slotRead(const ScalePlu &plu) override { slotImages.push_back(plu); }

    // The boxes and the last status the job showed, for support.
    QString detail() const
    {
        QStringList all = m_boxes;
        if (!m_status.isEmpty())
            all << m_status;
        return all.join(QStringLiteral(" / "));
    }
    std::function<bool(const ScalePlu &)> select;
    bool onlyChanges = false;
    bool recordKept = false;
    bool recordTrusted = false;
    std::vector<ScalePlu> slotImages;

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
    // A sales read also stops at a sale whose product the scale's products
    // read before do not hold.
    r.failedPluNo = o.end == tx::JobOutcome::End::NoAnswer || r.action == Action::Sales ? o.pluNo : -1;
    r.cause = o.cause;
    r.detail = host.detail();
}

// A download to one scale.  only: the slots to send (null: by the record).
// The job keeps the scale's record.
void download(const RunSettings &settings, ScaleResult &r, const std::set<int> *only)
{
    RunnerHost host(r.scale, settings);
    if (only) {
        host.select = [only](const ScalePlu &plu) { return only->count(plu.number) > 0; };
        r.everything = false;
    }
    host.onlyChanges = !only && settings.command.changedOnly;
    take(r, tx::RunPluDownload(host), host);
    r.recorded = host.recordKept;
    if (host.onlyChanges)
        r.everything = !host.recordTrusted;
}

// slotImages: when given, every slot stored, as the scale sent it.
tx::JobOutcome upload(const RunSettings &settings, ScaleResult &r, bool products,
                      std::vector<ScalePlu> *slotImages = nullptr)
{
    RunnerHost host(r.scale, settings);
    const tx::JobOutcome outcome = products ? tx::RunPluUpload(host) : tx::RunRecordUpload(host);
    take(r, outcome, host);
    r.total = 0;
    if (slotImages)
        *slotImages = std::move(host.slotImages);
    return outcome;
}

// Reads the scale's sales into RECORD; the job stores each sale once, however
// often the scale is read and whoever reads it.
void salesRead(const RunSettings &settings, ScaleResult &r)
{
    const tx::JobOutcome outcome = upload(settings, r, false);
    r.recorded = outcome.salesKeyed;
    r.newSales = std::max(outcome.newSales, 0);
    r.knownSales = std::max(outcome.knownSales, 0);
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
