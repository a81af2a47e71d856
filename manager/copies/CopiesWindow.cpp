#include "CopiesWindow.h"

#include "CopyBeforeRisk.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace torvane::manager {

TfrmCopias::TfrmCopias(const QString &databasePath, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmCopias"));
    setWindowTitle(QStringLiteral("Restaurar cópia"));
    setModal(true);
    resize(620, 380);
    const db::BaseCopies base(databasePath);
    m_copies = base.list();

    auto *layout = new QVBoxLayout(this);
    lblPasta = new QLabel(this);
    lblPasta->setObjectName(QStringLiteral("lblPasta"));
    lblPasta->setWordWrap(true);
    lblPasta->setText(m_copies.isEmpty()
                          ? QStringLiteral("Ainda não há cópias de segurança em %1.")
                                .arg(QDir::toNativeSeparators(base.folder()))
                          : QStringLiteral("Cópias de segurança em %1. Escolha a cópia e pressione Restaurar.")
                                .arg(QDir::toNativeSeparators(base.folder())));
    layout->addWidget(lblPasta);

    grdCopias = new QTableWidget(int(m_copies.size()), 3, this);
    grdCopias->setObjectName(QStringLiteral("grdCopias"));
    grdCopias->setHorizontalHeaderLabels(
        {QStringLiteral("Data"), QStringLiteral("Feita antes de"), QStringLiteral("Tamanho")});
    grdCopias->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdCopias->setSelectionMode(QAbstractItemView::SingleSelection);
    grdCopias->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdCopias->verticalHeader()->hide();
    grdCopias->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    for (int r = 0; r < m_copies.size(); ++r) {
        const db::BaseCopy &c = m_copies[r];
        grdCopias->setItem(r, 0, new QTableWidgetItem(c.when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))));
        grdCopias->setItem(r, 1, new QTableWidgetItem(c.after));
        auto *size = new QTableWidgetItem(brazil.formattedDataSize(c.bytes, 1, QLocale::DataSizeSIFormat));
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grdCopias->setItem(r, 2, size);
    }
    grdCopias->resizeColumnToContents(0);
    grdCopias->resizeColumnToContents(2);
    layout->addWidget(grdCopias, 1);

    auto *keep = new QHBoxLayout;
    keep->addWidget(new QLabel(QStringLiteral("Manter as últimas"), this));
    edtManter = new QSpinBox(this);
    edtManter->setObjectName(QStringLiteral("edtManter"));
    edtManter->setRange(1, db::kMaxCopiesKept);
    edtManter->setValue(copiesKept());
    keep->addWidget(edtManter);
    keep->addWidget(new QLabel(QStringLiteral("cópias (as mais antigas são apagadas ao fazer a próxima)"), this), 1);
    layout->addLayout(keep);
    connect(edtManter, &QSpinBox::valueChanged, this, [](int n) { setCopiesKept(n); });

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnRestaurar = new QPushButton(QStringLiteral("&Restaurar"), this);
    btnRestaurar->setObjectName(QStringLiteral("btnRestaurar"));
    btnFechar = new QPushButton(QStringLiteral("&Fechar"), this);
    btnFechar->setObjectName(QStringLiteral("btnFechar"));
    buttons->addWidget(btnRestaurar);
    buttons->addWidget(btnFechar);
    layout->addLayout(buttons);
    btnRestaurar->setEnabled(false);
    connect(grdCopias, &QTableWidget::itemSelectionChanged, this,
            [this] { btnRestaurar->setEnabled(!grdCopias->selectedItems().isEmpty()); });
    connect(grdCopias, &QTableWidget::cellDoubleClicked, this, [this] { btnRestaurarClick(); });
    connect(btnRestaurar, &QPushButton::clicked, this, &TfrmCopias::btnRestaurarClick);
    connect(btnFechar, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmCopias::btnRestaurarClick()
{
    const int row = grdCopias->currentRow();
    if (row < 0 || row >= m_copies.size() || grdCopias->selectedItems().isEmpty())
        return;
    m_chosen = m_copies[row];
    accept();
}

} // namespace torvane::manager
