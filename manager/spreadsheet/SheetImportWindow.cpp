#include "SheetImportWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace torvane::manager {

namespace {

const csv::Encoding kEncodings[] = {csv::Encoding::Utf8, csv::Encoding::Windows1252, csv::Encoding::Utf16};
const QChar kSeparators[] = {QLatin1Char(';'), QLatin1Char(','), QLatin1Char('\t')};

// Spreadsheet column letters: A, B, ..., Z, AA, ...
QString columnLetter(int column)
{
    QString out;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        out.prepend(QChar(u'A' + (n - 1) % 26));
    return out;
}

} // namespace

TfrmPlanilha::TfrmPlanilha(const QString &path, const csv::CsvSurvey &survey, int codeSize, QWidget *parent)
    : QDialog(parent), m_path(path), m_records(survey.records), m_filledRecords(survey.filledRecords),
      m_codeSize(codeSize)
{
    setObjectName(QStringLiteral("frmPlanilha"));
    setWindowTitle(QStringLiteral("Importar planilha"));
    setModal(true);
    resize(900, 600);
    auto *layout = new QVBoxLayout(this);

    lblArquivo = new QLabel(QStringLiteral("Arquivo: %1").arg(QFileInfo(path).fileName()), this);
    lblArquivo->setObjectName(QStringLiteral("lblArquivo"));
    layout->addWidget(lblArquivo);

    auto *reading = new QHBoxLayout;
    reading->addWidget(new QLabel(QStringLiteral("Codificação:"), this));
    cbCodificacao = new QComboBox(this);
    cbCodificacao->setObjectName(QStringLiteral("cbCodificacao"));
    for (csv::Encoding e : kEncodings)
        cbCodificacao->addItem(csv::encodingName(e));
    cbCodificacao->setCurrentIndex(int(std::find(std::begin(kEncodings), std::end(kEncodings), survey.encoding) -
                                       std::begin(kEncodings)));
    reading->addWidget(cbCodificacao);
    reading->addSpacing(16);
    reading->addWidget(new QLabel(QStringLiteral("Separador:"), this));
    cbSeparador = new QComboBox(this);
    cbSeparador->setObjectName(QStringLiteral("cbSeparador"));
    cbSeparador->addItems({QStringLiteral("; (ponto e vírgula)"), QStringLiteral(", (vírgula)"),
                           QStringLiteral("Tabulação")});
    cbSeparador->setCurrentIndex(int(std::find(std::begin(kSeparators), std::end(kSeparators), survey.separator) -
                                     std::begin(kSeparators)));
    reading->addWidget(cbSeparador);
    reading->addSpacing(16);
    ckbTitulos = new QCheckBox(QStringLiteral("A primeira linha tem os títulos das colunas"), this);
    ckbTitulos->setObjectName(QStringLiteral("ckbTitulos"));
    reading->addWidget(ckbTitulos);
    reading->addStretch(1);
    layout->addLayout(reading);

    auto *fields = new QGroupBox(QStringLiteral("Coluna da planilha para cada campo (* obrigatório)"), this);
    auto *grid = new QGridLayout(fields);
    for (int f = 0; f < kSheetFieldCount; ++f) {
        const auto field = SheetField(f);
        auto *label = new QLabel(sheetFieldTitle(field) + (sheetFieldRequired(field) ? QStringLiteral(" *") : QString()) +
                                     QLatin1Char(':'),
                                 fields);
        cbCampo[f] = new QComboBox(fields);
        cbCampo[f]->setObjectName(QStringLiteral("cbCampo%1").arg(f));
        cbCampo[f]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        cbCampo[f]->setMinimumContentsLength(18);
        grid->addWidget(label, f % 5, (f / 5) * 2);
        grid->addWidget(cbCampo[f], f % 5, (f / 5) * 2 + 1);
        connect(cbCampo[f], &QComboBox::currentIndexChanged, this, [this, field](int index) {
            if (!m_filling)
                setColumn(field, index - 1);
        });
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addWidget(fields);

    auto *previewTitle = new QLabel(QStringLiteral("Primeiras linhas e o que cada uma vai ser:"), this);
    layout->addWidget(previewTitle);
    grdPrevia = new QTableWidget(this);
    grdPrevia->setObjectName(QStringLiteral("grdPrevia"));
    grdPrevia->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdPrevia->verticalHeader()->hide();
    layout->addWidget(grdPrevia, 1);

    lblSituacao = new QLabel(this);
    lblSituacao->setObjectName(QStringLiteral("lblSituacao"));
    lblSituacao->setWordWrap(true);
    layout->addWidget(lblSituacao);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnImportar = new QPushButton(QStringLiteral("&Importar"), this);
    btnImportar->setObjectName(QStringLiteral("btnImportar"));
    btnImportar->setDefault(true);
    btnCancelar = new QPushButton(QStringLiteral("&Cancelar"), this);
    btnCancelar->setObjectName(QStringLiteral("btnCancelar"));
    buttons->addWidget(btnImportar);
    buttons->addWidget(btnCancelar);
    layout->addLayout(buttons);
    connect(btnImportar, &QPushButton::clicked, this, [this] {
        if (btnImportar->isEnabled())
            accept();
    });
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);

    readRows();
    m_mapping = rememberedMapping(firstRow(), looksLikeHeadings(firstRow()));
    m_filling = true;
    ckbTitulos->setChecked(m_mapping.header);
    m_filling = false;
    fillColumnChoices();
    showPreview();

    auto reread = [this] {
        if (m_filling)
            return;
        readRows();
        fillColumnChoices();
        showPreview();
    };
    connect(cbCodificacao, &QComboBox::currentIndexChanged, this, reread);
    connect(cbSeparador, &QComboBox::currentIndexChanged, this, reread);
    connect(ckbTitulos, &QCheckBox::toggled, this, [this](bool on) {
        if (m_filling)
            return;
        m_mapping.header = on;
        fillColumnChoices();
        showPreview();
    });
}

csv::Encoding TfrmPlanilha::encoding() const
{
    return kEncodings[std::max(0, cbCodificacao->currentIndex())];
}

QChar TfrmPlanilha::separator() const
{
    return kSeparators[std::max(0, cbSeparador->currentIndex())];
}

void TfrmPlanilha::setColumn(SheetField field, int column)
{
    // A column feeds one field: choosing it here takes it from another.
    for (int &c : m_mapping.column)
        if (column >= 0 && c == column)
            c = -1;
    m_mapping[field] = column;
    fillColumnChoices();
    showPreview();
}

void TfrmPlanilha::readRows()
{
    const SheetPreview preview = previewSheet(m_path, encoding(), separator(), kPreviewRows + 1);
    m_rows = preview.rows;
}

void TfrmPlanilha::fillColumnChoices()
{
    m_filling = true;
    int columns = 0;
    for (const QStringList &r : m_rows)
        columns = std::max(columns, int(r.size()));
    const QStringList first = firstRow();
    for (int f = 0; f < kSheetFieldCount; ++f) {
        QComboBox *box = cbCampo[f];
        box->clear();
        box->addItem(QStringLiteral("(não importar)"));
        for (int c = 0; c < columns; ++c) {
            const QString sample = first.value(c).trimmed().left(24);
            box->addItem(m_mapping.header ? QStringLiteral("%1: %2").arg(columnLetter(c), sample)
                                          : QStringLiteral("%1 (%2)").arg(columnLetter(c), sample));
        }
        if (m_mapping.column[f] >= columns)
            m_mapping.column[f] = -1;
        box->setCurrentIndex(m_mapping.column[f] + 1);
    }
    ckbTitulos->setChecked(m_mapping.header);
    m_filling = false;
}

void TfrmPlanilha::showPreview()
{
    // What happens to each row comes first: a refused row's reason is read
    // without scrolling.
    QStringList headings{QStringLiteral("Linha"), QStringLiteral("Situação")};
    for (int f = 0; f < kSheetFieldCount; ++f)
        headings << sheetFieldTitle(SheetField(f));
    grdPrevia->clear();
    grdPrevia->setColumnCount(int(headings.size()));
    grdPrevia->setHorizontalHeaderLabels(headings);
    const int first = m_mapping.header ? 1 : 0;
    const int shownRows = std::max(0, int(m_rows.size()) - first);
    grdPrevia->setRowCount(std::min(shownRows, kPreviewRows));
    const QStringList missing = m_mapping.missing();
    int refused = 0;
    for (int r = 0; r < grdPrevia->rowCount(); ++r) {
        const QStringList &cells = m_rows.at(first + r);
        grdPrevia->setItem(r, 0, new QTableWidgetItem(QString::number(first + r + 1)));
        QString state;
        if (!missing.isEmpty()) {
            state = QStringLiteral("(escolha as colunas obrigatórias)");
        } else {
            const SheetRow row = readSheetRow(cells, m_mapping, m_codeSize);
            if (row.product) {
                const QStringList values = describeSheetProduct(*row.product);
                for (int f = 0; f < values.size(); ++f)
                    grdPrevia->setItem(r, f + 2, new QTableWidgetItem(values.at(f)));
                state = QStringLiteral("OK");
            } else if (row.blank) {
                state = QStringLiteral("Linha vazia ou posição livre: ignorada");
            } else {
                state = QStringLiteral("Recusada: ") + row.reason;
                ++refused;
            }
        }
        auto *item = new QTableWidgetItem(state);
        item->setToolTip(state);
        if (state.startsWith(QLatin1String("Recusada")))
            item->setForeground(Qt::darkRed);
        grdPrevia->setItem(r, 1, item);
    }
    grdPrevia->resizeColumnsToContents();
    constexpr int kStateWidth = 320; // a long reason is read whole in its tip
    if (grdPrevia->columnWidth(1) > kStateWidth)
        grdPrevia->setColumnWidth(1, kStateWidth);

    // A file of headings alone would clear every product and write none.
    const qint64 dataRows = std::max<qint64>(0, m_filledRecords - first);
    btnImportar->setEnabled(missing.isEmpty() && dataRows > 0);
    if (!missing.isEmpty())
        lblSituacao->setText(QStringLiteral("Escolha a coluna de: %1.").arg(missing.join(QStringLiteral(", "))));
    else if (dataRows == 0)
        lblSituacao->setText(QStringLiteral("A planilha não tem linhas de produtos, só os títulos; nada será "
                                            "importado."));
    else
        lblSituacao->setText(QStringLiteral("%1 linha(s) de produtos na planilha.%2 Produtos que não estão na "
                                            "planilha são limpos ao final, como na importação de arquivo texto.")
                                 .arg(dataRows)
                                 .arg(refused > 0 ? QStringLiteral(" %1 das primeiras linhas seriam recusadas "
                                                                   "(veja a coluna Situação).")
                                                        .arg(refused)
                                                  : QString()));
}

} // namespace torvane::manager
