#include "HistoryWindow.h"

#include "DataModule.h"
#include "OperatorDialogs.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

#include <iterator>

namespace torvane::manager {

// The rows, read straight from the list (a busy year is many rows: no item
// per cell).
class HistoryRowsModel : public QAbstractTableModel {
public:
    // The CSV's columns, but before and after side by side in one.
    HistoryRowsModel(const std::vector<HistoryRow> &rows, QObject *parent)
        : QAbstractTableModel(parent), m_rows(rows),
          m_titles(historyTitles().mid(0, kBefore) << QStringLiteral("Antes → Depois"))
    {
    }
    void reset()
    {
        beginResetModel();
        endResetModel();
    }
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_titles.size()); }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        return o == Qt::Horizontal && role == Qt::DisplayRole ? QVariant(m_titles.value(section)) : QVariant();
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        // A value wider than its column is read whole in its tip.
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
            return {};
        const QStringList cells = historyCells(m_rows[size_t(index.row())]);
        if (index.column() == kBefore)
            return cells.value(kBefore) + QStringLiteral("  →  ") + cells.value(kBefore + 1);
        return cells.value(index.column());
    }

private:
    static constexpr int kBefore = 7;
    const std::vector<HistoryRow> &m_rows;
    QStringList m_titles;
};

TfrmHistorico::TfrmHistorico(TDM *dm, QWidget *parent) : QDialog(parent), m_dm(dm)
{
    setObjectName(QStringLiteral("frmHistorico"));
    setWindowTitle(QStringLiteral("Histórico dos produtos"));
    resize(960, 600);

    auto dateEdit = [this](const char *name, const QDate &date) {
        auto *e = new QDateEdit(date, this);
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
    cbProduto = new QComboBox(this);
    cbProduto->setObjectName(QStringLiteral("cbProduto"));
    cbProduto->setMinimumContentsLength(28);
    cbProduto->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    dtDe = dateEdit("dtDe", QDate::currentDate().addDays(-30));
    dtAte = dateEdit("dtAte", QDate::currentDate());
    btnMostrar = button("btnMostrar", QStringLiteral("&Mostrar"));
    btnExportar = button("btnExportar", QStringLiteral("&Exportar CSV"));
    btnFechar = button("btnFechar", QStringLiteral("&Fechar"));

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Produto:"), this));
    top->addWidget(cbProduto, 1);
    top->addWidget(new QLabel(QStringLiteral("De:"), this));
    top->addWidget(dtDe);
    top->addWidget(new QLabel(QStringLiteral("Até:"), this));
    top->addWidget(dtAte);
    top->addWidget(btnMostrar);

    m_model = new HistoryRowsModel(m_rows, this);
    gridHistorico = new QTableView(this);
    gridHistorico->setObjectName(QStringLiteral("gridHistorico"));
    gridHistorico->setModel(m_model);
    gridHistorico->setSelectionBehavior(QAbstractItemView::SelectRows);
    gridHistorico->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridHistorico->setWordWrap(false);
    gridHistorico->verticalHeader()->hide();
    gridHistorico->verticalHeader()->setDefaultSectionSize(gridHistorico->fontMetrics().height() + 6);
    gridHistorico->horizontalHeader()->setStretchLastSection(true);
    // Widths for what each column holds, so 1024 x 768 shows every column.
    const int ch = gridHistorico->fontMetrics().horizontalAdvance(u'0');
    const int widths[] = {19, 10, 8, 17, 4, 6, 17};
    for (int c = 0; c < int(std::size(widths)); ++c)
        gridHistorico->setColumnWidth(c, (widths[c] + 1) * ch);

    lblTotal = new QLabel(this);
    lblTotal->setObjectName(QStringLiteral("lblTotal"));
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblTotal, 1);
    bottom->addWidget(btnExportar);
    bottom->addWidget(btnFechar);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(gridHistorico, 1);
    layout->addLayout(bottom);

    connect(btnMostrar, &QPushButton::clicked, this, [this] { Mostra(); });
    connect(cbProduto, &QComboBox::activated, this, [this] { Mostra(); });
    connect(btnExportar, &QPushButton::clicked, this, [this] { btnExportarClick(); });
    connect(btnFechar, &QPushButton::clicked, this, &QDialog::close);
}

void TfrmHistorico::setProducts(const std::vector<Product> &products, std::optional<qint64> chosen)
{
    cbProduto->clear();
    cbProduto->addItem(QStringLiteral("Todos os produtos"));
    for (const Product &p : products) {
        cbProduto->addItem(p.label, p.pluNo);
        if (chosen && *chosen == p.pluNo)
            cbProduto->setCurrentIndex(cbProduto->count() - 1);
    }
}

bool TfrmHistorico::Mostra()
{
    if (dtDe->date() > dtAte->date()) {
        showError(QStringLiteral("A data inicial é depois da data final; corrija o período."));
        return false;
    }
    HistoryFilter filter;
    filter.from = dtDe->date();
    filter.to = dtAte->date();
    if (const QVariant pluNo = cbProduto->currentData(); pluNo.isValid())
        filter.pluNo = pluNo.toLongLong();
    QString error;
    db::Connection *conn = m_dm->ADOC(&error);
    const bool read = conn && readHistory(conn->database(), filter, &m_rows, &error);
    if (!read)
        m_rows.clear();
    m_model->reset();
    lblTotal->setText(QStringLiteral("%1 alteração(ões) no período").arg(m_rows.size()));
    if (!read)
        showApplicationError(error);
    return read;
}

void TfrmHistorico::btnExportarClick()
{
    if (m_rows.empty()) {
        showError(QStringLiteral("Não há alterações a serem exportadas; escolha outro produto ou período."));
        return;
    }
    QString folder = QDir::currentPath();
    if (db::Connection *conn = m_dm->isConnected() ? m_dm->ADOC() : nullptr)
        folder = QFileInfo(conn->path()).absolutePath();
    const QString suggested = QDir(folder).filePath(QStringLiteral("historico_%1_%2.csv")
                                                        .arg(dtDe->date().toString(QStringLiteral("yyyyMMdd")),
                                                             dtAte->date().toString(QStringLiteral("yyyyMMdd"))));
    const QString path =
        operatorDialogs().saveFileName(QStringLiteral("Exportar histórico"), suggested, QStringLiteral("*.csv"));
    if (path.isEmpty())
        return;
    const QByteArray bytes = historyCsv(m_rows);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        showError(QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                      .arg(QDir::toNativeSeparators(path), file.errorString()));
        return;
    }
    showInformation(QStringLiteral("%1 alteração(ões) exportadas para o arquivo %2.")
                        .arg(m_rows.size())
                        .arg(QDir::toNativeSeparators(path)));
}

} // namespace torvane::manager
