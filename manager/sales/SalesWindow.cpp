#include "SalesWindow.h"

#include "DataModule.h"
#include "OperatorDialogs.h"
#include "SalesReport.h"
#include "ScaleJob.h"
#include "TransferJobs.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace torvane::manager {

namespace {

const QString kReadFailed = QStringLiteral("Não foi possível ler as vendas da balança na porta %1.\n%2\n"
                                           "Confira também a porta escolhida no Rirodidovu.");
const QString kNothingToPrint = QStringLiteral("Não há vendas a serem impressas.");
const QString kNothingToExport = QStringLiteral("Não há vendas a serem exportadas.");

QTableWidget *totalsTable(const QStringList &titles, QWidget *parent)
{
    auto *t = new QTableWidget(0, int(titles.size()), parent);
    t->setHorizontalHeaderLabels(titles);
    t->verticalHeader()->hide();
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setWordWrap(false);
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void setCell(QTableWidget *t, int row, int col, const QString &text, bool right)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    t->setItem(row, col, item);
}

} // namespace

// The sale rows, read straight from the period (a month of a busy counter is
// thousands of rows: no item per cell).
class SalesRowsModel : public QAbstractTableModel {
public:
    explicit SalesRowsModel(QObject *parent) : QAbstractTableModel(parent) {}
    void setRows(const std::vector<SaleRow> *rows)
    {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    }
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() || !m_rows ? 0 : int(m_rows->size());
    }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 7; }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        static const QStringList titles = {QStringLiteral("Data e hora"), QStringLiteral("PLU"),
                                           QStringLiteral("Código"),      QStringLiteral("Descrição"),
                                           QStringLiteral("Peso (kg)"),   QStringLiteral("Qtde"),
                                           QStringLiteral("Total (R$)")};
        if (o == Qt::Horizontal && role == Qt::DisplayRole)
            return titles.value(section);
        return {};
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || !m_rows)
            return {};
        const SaleRow &r = (*m_rows)[size_t(index.row())];
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignVCenter |
                                       (index.column() == 3 || index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight));
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column()) {
        case 0:
            return r.when.isValid() ? r.when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : QLatin1String(kNoDate);
        case 1:
            return r.pluNo;
        case 2:
            return r.codigo > 0 ? QString::number(r.codigo) : QString();
        case 3:
            return r.pluDesc;
        case 4:
            return r.byWeight ? FormatKg(r.weightGrams) : QString();
        case 5:
            return !r.byWeight && r.quantity >= 0 ? QString::number(r.quantity) : QString();
        case 6:
            return FormatMoney(r.totalCents);
        }
        return {};
    }

private:
    const std::vector<SaleRow> *m_rows = nullptr;
};

TfrmVendas::TfrmVendas(TDM *dm, QWidget *parent)
    : QDialog(parent), m_dm(dm), m_runner(std::make_unique<ScaleJobRunner>())
{
    setObjectName(QStringLiteral("frmVendas"));
    setWindowTitle(QStringLiteral("Vendas"));
    resize(900, 640);

    auto *top = new QHBoxLayout;
    auto dateEdit = [this](const char *name) {
        auto *e = new QDateEdit(QDate::currentDate(), this);
        e->setObjectName(QLatin1String(name));
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        return e;
    };
    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    dtDe = dateEdit("dtDe");
    dtAte = dateEdit("dtAte");
    btnMostrar = button("btnMostrar", QStringLiteral("&Mostrar"));
    btnLerBalanca = button("btnLerBalanca", QStringLiteral("&Ler balança"));
    btnExportar = button("btnExportar", QStringLiteral("Exportar &CSV"));
    btnImprimir = button("btnImprimir", QStringLiteral("Imprimi&r"));
    btnFechar = button("btnFechar", QStringLiteral("&Fechar"));
    top->addWidget(new QLabel(QStringLiteral("De:"), this));
    top->addWidget(dtDe);
    top->addWidget(new QLabel(QStringLiteral("Até:"), this));
    top->addWidget(dtAte);
    top->addWidget(btnMostrar);
    top->addStretch();
    top->addWidget(btnLerBalanca);
    top->addWidget(btnExportar);
    top->addWidget(btnImprimir);
    top->addWidget(btnFechar);

    gridVendas = new QTableView(this);
    gridVendas->setObjectName(QStringLiteral("gridVendas"));
    m_model = new SalesRowsModel(this);
    gridVendas->setModel(m_model);
    gridVendas->verticalHeader()->hide();
    gridVendas->verticalHeader()->setDefaultSectionSize(gridVendas->fontMetrics().height() + 6);
    gridVendas->setSelectionBehavior(QAbstractItemView::SelectRows);
    gridVendas->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    gridVendas->setColumnWidth(0, 140);

    gridProdutos = totalsTable({QStringLiteral("PLU"), QStringLiteral("Descrição"), QStringLiteral("Vendas"),
                                QStringLiteral("Peso (kg)"), QStringLiteral("Qtde"), QStringLiteral("Total (R$)")},
                               this);
    gridProdutos->setObjectName(QStringLiteral("gridProdutos"));
    gridProdutos->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    gridDias = totalsTable({QStringLiteral("Dia"), QStringLiteral("Vendas"), QStringLiteral("Total (R$)")}, this);
    gridDias->setObjectName(QStringLiteral("gridDias"));

    auto *totals = new QSplitter(Qt::Horizontal, this);
    totals->addWidget(gridProdutos);
    totals->addWidget(gridDias);
    totals->setStretchFactor(0, 3);
    totals->setStretchFactor(1, 2);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(gridVendas);
    split->addWidget(totals);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    m_footer = new TransferFooter(m_runner.get(), "lblTotal", "pbLeitura", this);
    lblTotal = m_footer->summary;
    lblStatus = m_footer->status;
    pbLeitura = m_footer->progress;

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addWidget(m_footer);

    connect(btnMostrar, &QPushButton::clicked, this, [this] { Mostra(); });
    connect(btnLerBalanca, &QPushButton::clicked, this, [this] { btnLerBalancaClick(); });
    connect(btnExportar, &QPushButton::clicked, this, [this] { btnExportarClick(); });
    connect(btnImprimir, &QPushButton::clicked, this, [this] { btnImprimirClick(); });
    connect(btnFechar, &QPushButton::clicked, this, &QDialog::close);
    connect(m_runner.get(), &ScaleJobRunner::finished, this, [this] { readEnded(); });
}

TfrmVendas::~TfrmVendas()
{
    m_model->setRows(nullptr);
}

bool TfrmVendas::reading() const
{
    return m_runner->running();
}

QSqlDatabase TfrmVendas::database(QString *error)
{
    db::Connection *conn = m_dm->ADOC(error);
    return conn ? conn->database() : QSqlDatabase();
}

bool TfrmVendas::Mostra()
{
    QString error;
    QSqlDatabase db = database(&error);
    SalesPeriod period;
    if (!db.isValid() || !SalesLedger(db).load(dtDe->date(), dtAte->date(), &period, &error)) {
        showApplicationError(error);
        return false;
    }
    m_model->setRows(nullptr);
    m_period = std::move(period);
    m_model->setRows(&m_period.rows);

    gridProdutos->setRowCount(int(m_period.products.size()));
    int row = 0;
    for (const ProductTotal &p : m_period.products) {
        setCell(gridProdutos, row, 0, QString::number(p.pluNo), true);
        setCell(gridProdutos, row, 1, p.pluDesc, false);
        setCell(gridProdutos, row, 2, QString::number(p.sales), true);
        setCell(gridProdutos, row, 3, p.weightGrams ? FormatKg(p.weightGrams) : QString(), true);
        setCell(gridProdutos, row, 4, p.quantity ? QString::number(p.quantity) : QString(), true);
        setCell(gridProdutos, row, 5, FormatMoney(p.totalCents), true);
        ++row;
    }
    gridDias->setRowCount(int(m_period.days.size()));
    row = 0;
    for (const DayTotal &d : m_period.days) {
        setCell(gridDias, row, 0, FormatDay(d.day), false);
        setCell(gridDias, row, 1, QString::number(d.sales), true);
        setCell(gridDias, row, 2, FormatMoney(d.totalCents), true);
        ++row;
    }
    QString text = QStringLiteral("Total do período: R$ %1 em %2 vendas")
                       .arg(FormatMoney(m_period.totalCents))
                       .arg(m_period.rows.size());
    if (m_period.undated > 0)
        text += QStringLiteral(" (%1 %2)").arg(m_period.undated).arg(QLatin1String(kNoDate));
    lblTotal->setText(text);
    return true;
}

void TfrmVendas::setBusy(bool busy)
{
    for (QWidget *w : {static_cast<QWidget *>(btnMostrar), static_cast<QWidget *>(btnLerBalanca),
                       static_cast<QWidget *>(btnExportar), static_cast<QWidget *>(btnImprimir),
                       static_cast<QWidget *>(dtDe), static_cast<QWidget *>(dtAte)})
        w->setEnabled(!busy);
}

void TfrmVendas::btnLerBalancaClick()
{
    if (m_runner->running())
        return;
    m_port = PortForTransfer();
    if (m_port.isEmpty())
        return;
    // The sales job takes each product's sale type and price from the
    // scale's own copy: read first, so a new install (or a product sent
    // since the last read) finds them.
    m_phase = Phase::Products;
    m_footer->starting();
    setBusy(true);
    m_runner->start(m_port, [](transmitter::JobHost &host) { return transmitter::RunPluUpload(host); });
}

void TfrmVendas::readEnded()
{
    const bool silent = m_runner->messagesShown() == 0;
    if (m_phase == Phase::Products) {
        if (m_runner->outcome().done()) {
            m_phase = Phase::Sales;
            m_footer->starting();
            m_runner->start(m_port, [](transmitter::JobHost &host) { return transmitter::RunRecordUpload(host); });
            return;
        }
        m_phase = Phase::Idle;
        setBusy(false);
        if (silent && m_runner->outcome().end != transmitter::JobOutcome::End::Stopped)
            showError(ProductsReadFailedMessage(m_port, m_runner->outcome().cause));
        emit readFinished();
        return;
    }
    m_phase = Phase::Idle;
    setBusy(false);
    // What the read stored stays, complete or not.
    const transmitter::JobOutcome &outcome = m_runner->outcome();
    const bool complete = outcome.done();
    if (complete && outcome.newSales >= 0)
        lblStatus->setText(
            QStringLiteral("%1 vendas novas, %2 já lidas antes").arg(outcome.newSales).arg(outcome.knownSales));
    Mostra();
    if (!complete && silent && outcome.end != transmitter::JobOutcome::End::Stopped)
        showError(kReadFailed.arg(m_port, outcome.cause));
    emit readFinished();
}

void TfrmVendas::btnExportarClick()
{
    if (m_period.rows.empty()) {
        showError(kNothingToExport);
        return;
    }
    const QString suggested = QDir::current().filePath(
        QStringLiteral("vendas_%1_%2.csv")
            .arg(m_period.from.toString(QStringLiteral("yyyyMMdd")), m_period.to.toString(QStringLiteral("yyyyMMdd"))));
    const QString path = operatorDialogs().saveFileName(QStringLiteral("Exportar vendas"), suggested,
                                                        QStringLiteral("*.csv"));
    if (path.isEmpty())
        return;
    QString error;
    if (!SalesLedger::writeCsv(path, m_period.rows, &error))
        showError(error);
}

void TfrmVendas::btnImprimirClick()
{
    if (m_period.rows.empty()) {
        showError(kNothingToPrint);
        return;
    }
    const SalesReport report(m_period, QDateTime::currentDateTime());
    QPrinter printer(QPrinter::HighResolution);
    SalesReport::setUpPrinter(printer);
    QPrintPreviewDialog preview(&printer, this);
    preview.setWindowTitle(QString::fromUtf8(SalesReport::kTitle));
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [&report](QPrinter *p) { report.paint(p); });
    preview.resize(900, 700);
    preview.exec();
}

void TfrmVendas::closeEvent(QCloseEvent *event)
{
    // The port belongs to the read until it ends.
    if (m_runner->running()) {
        m_runner->cancel();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace torvane::manager
