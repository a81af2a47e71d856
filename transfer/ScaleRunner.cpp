#include "ScaleRunner.h"

#include "DataSource.h"
#include "Db.h"
#include "ScaleProtocol.h"
#include "Schema.h"
#include "TransferJobs.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <thread>

namespace torvane::transfer {

namespace tx = torvane::transmitter;

namespace {

// Whether a job's text was made from pattern ("... %1 ..."); the number put
// in goes to *n.
bool madeFrom(const char *pattern, const QString &text, int *n = nullptr)
{
    const QString p = QString::fromUtf8(pattern);
    const qsizetype at = p.indexOf(QLatin1String("%1"));
    QString rx = QRegularExpression::escape(at < 0 ? p : p.left(at));
    if (at >= 0)
        rx += QStringLiteral("(.+?)") + QRegularExpression::escape(p.mid(at + 2));
    const auto m = QRegularExpression(QLatin1Char('^') + rx).match(text);
    if (!m.hasMatch())
        return false;
    if (n && at >= 0)
        *n = m.captured(1).toInt();
    return true;
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
    // A name given on the command line; otherwise the port names the scale.
    QString scaleName() const override { return m_scale.name == m_scale.port ? QString() : m_scale.name; }
    bool wantsProduct(const ScalePlu &plu) override { return !select || select(plu); }
    bool sendsOnlyChanges() const override { return onlyChanges; }
    void scaleRecordFound(bool kept, bool trusted) override
    {
        recordKept = kept;
        recordTrusted = trusted;
    }
    void productResult(const ScalePlu &plu, bool acknowledged) override
    {
        if (acknowledged)
            ++acked;
        else
            failedPluNo = plu.number;
    }
    void salesStored(int fresh, int known, bool keyed) override
    {
        newSales = fresh;
        knownSales = known;
        salesKeyed = keyed;
    }

    // How the job ended, from what it reported; *count gets the number in
    // its last status.
    Outcome outcome(int *count) const
    {
        for (const QString &box : m_boxes) {
            if (madeFrom(tx::text::kOpenFailed, box))
                return Outcome::PortFailed;
        }
        // Every other box the jobs show is about the tables: a database
        // error (in the manager's words), a row not stored, or a sale whose
        // product is not in PLU_UPLOADED.
        if (!m_boxes.isEmpty())
            return Outcome::DatabaseError;
        using namespace tx::text;
        for (const char *p : {kDownloadCancelled, kPluCancelled, kRecCancelled})
            if (madeFrom(p, m_status, count))
                return Outcome::Interrupted;
        for (const char *p : {kDownloadFailed, kPluFailed, kRecFailed, kNoHeader})
            if (madeFrom(p, m_status, count))
                return Outcome::NoAnswer;
        for (const char *p : {kPluFinished, kRecFinished})
            if (madeFrom(p, m_status, count))
                return Outcome::Done;
        // A download that ended well, or had nothing to send.
        return Outcome::Done;
    }
    QString detail() const
    {
        QStringList all = m_boxes;
        if (!m_status.isEmpty())
            all << m_status;
        return all.join(QStringLiteral(" / "));
    }
    int maximum() const { return m_max; }

    std::function<bool(const ScalePlu &)> select;
    bool onlyChanges = false;
    bool recordKept = false;
    bool recordTrusted = false;
    int acked = 0;
    int failedPluNo = -1;
    int newSales = 0;
    int knownSales = 0;
    bool salesKeyed = true;

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
    tx::RunPluDownload(host);
    r.outcome = host.outcome(nullptr);
    r.detail = host.detail();
    r.total = host.maximum();
    r.count = host.acked;
    r.recorded = host.recordKept;
    if (host.onlyChanges)
        r.everything = !host.recordTrusted;
    r.failedPluNo = r.outcome == Outcome::NoAnswer ? host.failedPluNo : -1;
}

void runUpload(RunnerHost &host, ScaleResult &r, bool products)
{
    if (products)
        tx::RunPluUpload(host);
    else
        tx::RunRecordUpload(host);
    int count = 0;
    r.outcome = host.outcome(&count);
    r.count = count;
    r.total = 0;
    r.detail = host.detail();
}

void upload(const RunSettings &settings, ScaleResult &r, bool products)
{
    RunnerHost host(r.scale, settings);
    runUpload(host, r, products);
}

// Reads the scale's sales into RECORD; the job stores each sale once, however
// often the scale is read and whoever reads it.
void salesRead(const RunSettings &settings, ScaleResult &r)
{
    RunnerHost host(r.scale, settings);
    runUpload(host, r, false);
    r.recorded = host.salesKeyed;
    r.newSales = host.newSales;
    r.knownSales = host.knownSales;
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
        r.detail = error;
        return;
    }
    tx::SetThreadDatabaseFileOverride(scratch);
    upload(settings, r, true);
    tx::SetThreadDatabaseFileOverride(QString());
    if (r.outcome != Outcome::Done)
        return;
    // From here count and total are the products sent by --send.
    r.count = r.total = 0;

    std::vector<tx::CompareProduct> base, scale;
    {
        auto baseDb = db::Connection::open(settings.databasePath, &error, true);
        auto scaleDb = db::Connection::open(scratch, &error, true);
        if (!baseDb || !scaleDb || !tx::ReadBaseProducts(baseDb->database(), &base, &error)
            || !tx::ReadScaleProducts(scaleDb->database(), &scale, &error)) {
            r.outcome = Outcome::DatabaseError;
            r.detail = error;
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
