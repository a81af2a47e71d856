#include "ScaleCheckWindow.h"

#include "DataModule.h"
#include "OperatorDialogs.h"
#include "ScaleJob.h"
#include "ScaleProtocol.h"
#include "TransferJobs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace torvane::manager {

namespace {

const QString kSendFailed = QStringLiteral("Não foi possível enviar as diferenças à balança na porta %1.\n%2");
const QString kSendStoppedAt = QStringLiteral("A balança não confirmou o produto PLU %1; os %2 anteriores foram "
                                              "confirmados.\n%3");
const QString kNothingToSend = QStringLiteral("Não há diferenças a enviar.");
const QString kNotCompared = QStringLiteral("A leitura falhou: nada foi conferido.");
const QString kReadStopped = QStringLiteral("Leitura interrompida");
const QString kSendNotCompared = QStringLiteral("O envio parou no PLU %1: leia a balança de novo para conferir.");
const QString kSendStopped = QStringLiteral("O envio foi interrompido: leia a balança de novo para conferir.");
const QString kPluNotAcknowledged = QStringLiteral("PLU %1 não confirmado");

} // namespace

TfrmConferirBalanca::TfrmConferirBalanca(TDM *dm, QWidget *parent)
    : QDialog(parent), m_dm(dm), m_runner(std::make_unique<ScaleJobRunner>())
{
    setObjectName(QStringLiteral("frmConferirBalanca"));
    setWindowTitle(QStringLiteral("Conferir balança"));
    resize(900, 520);

    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    btnLerBalanca = button("btnLerBalanca", QStringLiteral("&Ler balança"));
    btnEnviar = button("btnEnviar", QStringLiteral("&Enviar diferenças"));
    btnFechar = button("btnFechar", QStringLiteral("&Fechar"));
    ckbIguais = new QCheckBox(QStringLiteral("Mostrar &iguais"), this);
    ckbIguais->setObjectName(QStringLiteral("ckbIguais"));
    auto *top = new QHBoxLayout;
    top->addWidget(btnLerBalanca);
    top->addWidget(btnEnviar);
    top->addWidget(ckbIguais);
    top->addStretch();
    top->addWidget(btnFechar);

    gridSlots = new QTableWidget(0, 4, this);
    gridSlots->setObjectName(QStringLiteral("gridSlots"));
    gridSlots->setHorizontalHeaderLabels({QStringLiteral("PLU"), QStringLiteral("Diferenças"),
                                          QStringLiteral("Na base"), QStringLiteral("Na balança")});
    gridSlots->verticalHeader()->hide();
    gridSlots->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridSlots->setSelectionBehavior(QAbstractItemView::SelectRows);
    gridSlots->setWordWrap(false);
    gridSlots->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    gridSlots->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    gridSlots->setColumnWidth(0, 50);
    gridSlots->setColumnWidth(1, 170);

    m_footer = new TransferFooter(m_runner.get(), "lblResumo", "pbTransfer", this);
    lblResumo = m_footer->summary;
    lblStatus = m_footer->status;
    pbTransfer = m_footer->progress;

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(gridSlots, 1);
    layout->addWidget(m_footer);
    lblResumo->setText(QStringLiteral("Leia a balança para conferir os produtos."));
    btnEnviar->setEnabled(false);

    connect(btnLerBalanca, &QPushButton::clicked, this, [this] { btnLerBalancaClick(); });
    connect(btnEnviar, &QPushButton::clicked, this, [this] { btnEnviarClick(); });
    connect(btnFechar, &QPushButton::clicked, this, &QDialog::close);
    connect(ckbIguais, &QCheckBox::toggled, this, [this] { showResult(); });
    connect(m_runner.get(), &ScaleJobRunner::finished, this, [this] { jobEnded(); });
}

TfrmConferirBalanca::~TfrmConferirBalanca() = default;

bool TfrmConferirBalanca::busy() const
{
    return m_phase != Phase::Idle;
}

void TfrmConferirBalanca::setBusy(bool busy)
{
    btnLerBalanca->setEnabled(!busy);
    btnEnviar->setEnabled(!busy && m_compared && !m_result.differing.empty());
}

void TfrmConferirBalanca::btnLerBalancaClick()
{
    if (busy())
        return;
    m_port = PortForTransfer();
    if (m_port.isEmpty())
        return;
    startRead();
}

void TfrmConferirBalanca::startRead()
{
    m_phase = Phase::Reading;
    setBusy(true);
    m_footer->starting();
    m_runner->start(m_port, [](transmitter::JobHost &host) { return transmitter::RunPluUpload(host); });
}

void TfrmConferirBalanca::btnEnviarClick()
{
    if (busy())
        return;
    QString error;
    db::Connection *conn = m_dm->ADOC(&error);
    if (!conn) {
        showApplicationError(error);
        return;
    }
    const QSet<int> toSend = ScaleCheck::slotsToSend(m_result, conn->database());
    if (toSend.isEmpty()) {
        showError(kNothingToSend);
        return;
    }
    m_phase = Phase::Sending;
    setBusy(true);
    m_footer->starting();
    m_runner->start(
        m_port, [](transmitter::JobHost &host) { return transmitter::RunPluDownload(host); },
        [toSend](const ScalePlu &plu) { return toSend.contains(plu.number); });
}

void TfrmConferirBalanca::jobEnded()
{
    using End = transmitter::JobOutcome::End;
    const Phase phase = m_phase;
    m_phase = Phase::Idle;
    const transmitter::JobOutcome &outcome = m_runner->outcome();
    const bool silent = m_runner->messagesShown() == 0;
    if (phase == Phase::Sending) {
        // Also when only the record of what the scale received was lost
        // afterwards (its box said so): the scale holds the differences.
        if (outcome.everyProductAcknowledged()) {
            startRead(); // check again what the scale now holds
            return;
        }
        // What was compared no longer tells what the scale holds: part of it
        // may have been sent.
        m_compared = false;
        showResult();
        lblResumo->setText(outcome.pluNo >= 0 ? kSendNotCompared.arg(outcome.pluNo) : kSendStopped);
        // The job's status counts the products of this send, not their PLU.
        if (outcome.pluNo >= 0)
            lblStatus->setText(kPluNotAcknowledged.arg(outcome.pluNo));
        setBusy(false);
        if (silent && outcome.end == End::NoAnswer && outcome.pluNo >= 0)
            showError(kSendFailed.arg(m_port, kSendStoppedAt.arg(outcome.pluNo).arg(outcome.count).arg(outcome.cause)));
        else if (silent && outcome.end != End::Stopped)
            showError(kSendFailed.arg(m_port, outcome.cause));
        emit checkFinished();
        return;
    }
    // Only a whole read is compared: a broken one would show every missing
    // slot as a difference.  What an earlier read showed goes too.
    if (!outcome.done()) {
        m_compared = false;
        showResult();
        lblResumo->setText(kNotCompared);
        lblStatus->setText(kReadStopped);
        setBusy(false);
        if (silent && outcome.end != End::Stopped)
            showError(ProductsReadFailedMessage(m_port, outcome.cause));
        emit checkFinished();
        return;
    }
    QString error;
    db::Connection *conn = m_dm->ADOC(&error);
    m_compared = conn && ScaleCheck::compare(conn->database(), m_runner->slotsRead(), &m_result, &error);
    if (!m_compared) {
        showApplicationError(error);
        lblResumo->setText(kNotCompared);
    }
    showResult();
    setBusy(false);
    emit checkFinished();
}

void TfrmConferirBalanca::showResult()
{
    gridSlots->setRowCount(0);
    if (!m_compared)
        return;
    struct Line {
        int pluNo;
        QString what, base, scale;
    };
    std::vector<Line> lines;
    for (const auto &c : m_result.differing) {
        const bool baseHolds = c.base && !transmitter::SlotIsFree(*c.base);
        const bool scaleHolds = c.scale && !transmitter::SlotIsFree(*c.scale);
        lines.push_back({c.pluNo, transmitter::DifferenceNames(c.differences).join(QStringLiteral(", ")),
                         ScaleCheck::describe(c.base, baseHolds), ScaleCheck::describe(c.scale, scaleHolds)});
    }
    if (ckbIguais->isChecked()) {
        for (const auto &p : m_result.equal) {
            const QString same = ScaleCheck::describe(p, true);
            lines.push_back({p.pluNo, QStringLiteral("igual"), same, same});
        }
        std::sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) { return a.pluNo < b.pluNo; });
    }
    gridSlots->setRowCount(int(lines.size()));
    for (int row = 0; row < int(lines.size()); ++row) {
        const Line &l = lines[size_t(row)];
        int col = 0;
        for (const QString &text : {QString::number(l.pluNo), l.what, l.base, l.scale}) {
            auto *item = new QTableWidgetItem(text);
            item->setToolTip(text);
            if (col == 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            gridSlots->setItem(row, col++, item);
        }
    }
    const int equal = int(m_result.equal.size());
    lblResumo->setText(QStringLiteral("%1 %2; %3 %4%5")
                           .arg(m_result.differing.size())
                           .arg(m_result.differing.size() == 1 ? QStringLiteral("posição difere")
                                                              : QStringLiteral("posições diferem"))
                           .arg(equal)
                           .arg(equal == 1 ? QStringLiteral("igual") : QStringLiteral("iguais"))
                           .arg(ckbIguais->isChecked() ? QString() : QStringLiteral(" (ocultas)")));
}

void TfrmConferirBalanca::closeEvent(QCloseEvent *event)
{
    if (busy()) {
        m_runner->cancel();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace torvane::manager
