#include "ScaleJob.h"

#include "DataSource.h"
#include "OperatorDialogs.h"
#include "PortChoice.h"
#include "ScaleProtocol.h"

#include "TransferJobs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

namespace torvane::manager {

using transmitter::JobButton;
using transmitter::MessageIcon;

QString ChosenScalePort()
{
    const transmitter::PortRestore choice = transmitter::ReadPortChoice();
    if (choice.kind == transmitter::PortRestore::Kind::Usb) {
        QString port;
        return transmitter::FindUsbSerialPort(&port) ? port : QString();
    }
    if (choice.kind == transmitter::PortRestore::Kind::Network)
        return choice.address;
    const int n = choice.number >= 1 && choice.number <= 9 ? choice.number : 1;
    return QStringLiteral("COM%1").arg(n);
}

QString PortForTransfer()
{
    const QString port = ChosenScalePort();
    if (port.isEmpty())
        showError(QStringLiteral("O adaptador USB da balança não foi encontrado.\n"
                                 "Conecte o cabo ou escolha outra porta no Rirodidovu."));
    return port;
}

QString ProductsReadFailedMessage(const QString &port, const QString &cause)
{
    return QStringLiteral("Não foi possível ler os produtos da balança na porta %1.\n%2\n"
                          "Confira também a porta escolhida no Rirodidovu.")
        .arg(port, cause);
}

TransferFooter::TransferFooter(ScaleJobRunner *runner, const char *summaryName, const char *progressName,
                               QWidget *parent)
    : QWidget(parent)
{
    summary = new QLabel(this);
    summary->setObjectName(QLatin1String(summaryName));
    QFont bold = summary->font();
    bold.setBold(true);
    summary->setFont(bold);
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("lblStatus"));
    progress = new QProgressBar(this);
    progress->setObjectName(QLatin1String(progressName));
    progress->setRange(0, 500);
    progress->setValue(0);
    progress->setMaximumWidth(220);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(summary, 1);
    row->addWidget(status);
    row->addWidget(progress);
    connect(runner, &ScaleJobRunner::statusChanged, status, &QLabel::setText);
    connect(runner, &ScaleJobRunner::progressRangeChanged, progress, [this](int m) { progress->setRange(0, m); });
    connect(runner, &ScaleJobRunner::progressChanged, progress, &QProgressBar::setValue);
}

void TransferFooter::starting()
{
    progress->setValue(0);
    status->setText(QString::fromUtf8(transmitter::text::kConnecting));
}

// Runs on the job's thread: every call is queued to the runner's thread.
class ScaleJobRunner::Host : public transmitter::JobHost {
public:
    Host(ScaleJobRunner *runner, QString port, ProductFilter filter)
        : m_runner(runner), m_port(std::move(port)), m_filter(std::move(filter))
    {
    }
    QString portName() const override { return m_port; }
    void setStatusText(const QString &text) override
    {
        m_runner->post([r = m_runner, text] {
            r->m_lastStatus = text;
            emit r->statusChanged(text);
        });
    }
    void setButtonCaption(JobButton, const QString &) override {}
    void setProgressRange(int maximum) override
    {
        m_runner->post([r = m_runner, maximum] { emit r->progressRangeChanged(maximum); });
    }
    void setProgressPos(int pos) override
    {
        m_runner->post([r = m_runner, pos] { emit r->progressChanged(pos); });
    }
    void messageBox(const QString &text, MessageIcon icon) override
    {
        ScaleJobRunner *r = m_runner;
        auto done = std::make_shared<bool>(false);
        r->post([r, done, text, icon] {
            ++r->m_messagesShown;
            operatorDialogs().message(kApplicationTitle, text,
                                      icon == MessageIcon::Warning ? DialogIcon::Exclamation : DialogIcon::None);
            {
                std::lock_guard<std::mutex> lock(r->m_waitMutex);
                *done = true;
            }
            r->m_waitCv.notify_all();
        });
        std::unique_lock<std::mutex> lock(r->m_waitMutex);
        r->m_waitCv.wait(lock, [&] { return *done || r->m_shuttingDown; });
    }
    bool cancelRequested() const override { return m_runner->m_cancel.load(); }
    void setCancelRequested(bool on) override { m_runner->m_cancel.store(on); }
    bool wantsProduct(const ScalePlu &plu) override { return !m_filter || m_filter(plu); }
    void slotRead(const ScalePlu &plu) override { m_runner->m_slots.push_back(plu); }

private:
    ScaleJobRunner *m_runner;
    QString m_port;
    ProductFilter m_filter;
};

ScaleJobRunner::ScaleJobRunner(QObject *parent) : QObject(parent) {}

ScaleJobRunner::~ScaleJobRunner()
{
    m_cancel.store(true);
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_shuttingDown = true;
    }
    m_waitCv.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void ScaleJobRunner::post(std::function<void()> call)
{
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

bool ScaleJobRunner::start(const QString &port, Job job, ProductFilter filter)
{
    if (m_running.load())
        return false;
    if (m_worker.joinable())
        m_worker.join();
    // The jobs' tables are reached through the data source the transmitter
    // registers at its start; this process registers it the same way.
    transmitter::RegisterTorvaneDataSource();
    m_cancel.store(false);
    m_lastStatus.clear();
    m_messagesShown = 0;
    m_outcome = {};
    m_slots.clear();
    m_host = std::make_unique<Host>(this, port, std::move(filter));
    m_running.store(true);
    transmitter::JobHost *host = m_host.get();
    m_worker = std::thread([this, host, job = std::move(job)] {
        transmitter::JobOutcome outcome = job(*host);
        post([this, outcome] {
            m_outcome = outcome;
            onEnded();
        });
    });
    return true;
}

void ScaleJobRunner::onEnded()
{
    if (m_worker.joinable())
        m_worker.join();
    m_host.reset();
    m_running.store(false);
    emit finished();
}

} // namespace torvane::manager
