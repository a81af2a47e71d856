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

const QString kSendFailed = QStringLiteral("Não foi possível enviar as diferenças à balança na porta %1.\n(%2)");
const QString kNothingToSend = QStringLiteral("Não há diferenças a enviar.");

QString prefixOf(const char *text)
{
    return QString::fromUtf8(text).section(u'%', 0, 0);
}

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
    m_runner->start(m_port, [](transmitter::JobHost &host) { transmitter::RunPluUpload(host); });
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
        m_port, [](transmitter::JobHost &host) { transmitter::RunPluDownload(host); },
        [toSend](const ScalePlu &plu) { return toSend.contains(plu.number); });
}

void TfrmConferirBalanca::jobEnded()
{
    const Phase phase = m_phase;
    m_phase = Phase::Idle;
    const QString status = m_runner->lastStatus();
    const bool silent = m_runner->messagesShown() == 0;
    if (phase == Phase::Sending) {
        if (status == QString::fromUtf8(transmitter::text::kDownloadDone)) {
            startRead(); // check again what the scale now holds
            return;
        }
        setBusy(false);
        if (silent)
            showError(kSendFailed.arg(m_port, status));
        emit checkFinished();
        return;
    }
    // Only a whole read is compared: a broken one would show every missing
    // slot as a difference.
    if (!status.startsWith(prefixOf(transmitter::text::kPluFinished))) {
        m_compared = false;
        setBusy(false);
        if (silent)
            showError(ProductsReadFailedMessage(m_port, status));
        emit checkFinished();
        return;
    }
    QString error;
    db::Connection *conn = m_dm->ADOC(&error);
    m_compared = conn && ScaleCheck::compare(conn->database(), &m_result, &error);
    if (!m_compared)
        showApplicationError(error);
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
        const bool baseHolds = c.base && c.base->codigo != 0;
        const bool scaleHolds = c.scale && transmitter::ScaleSlotHoldsProduct(*c.scale);
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
