#include "ProductForm.h"
#include "ProductRules.h"

#include "CopyBeforeRisk.h"
#include "DataModule.h"
#include "Engine.h"
#include "NetworkShare.h"
#include "OperatorDialogs.h"
#include "ProductTable.h"
#include "Schema.h"
#include "StatusWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace torvane::manager {

namespace {

const QString kTitle = QStringLiteral("Keldro Torvane - Software Gerenciador");
const QString kVersion = QStringLiteral("Versão 2.09 de 18/12/2021");
const QString kStartOrder = QStringLiteral("Order By PluNo ");

// Numbers typed by the operator: either decimal separator, no thousands
// separators, optional sign.
bool parseDecimal(const QString &text, double *out)
{
    QString t = text.trimmed();
    t.replace(u',', u'.');
    if (t.count(u'.') > 1)
        return false;
    for (QChar c : t)
        if (!(c.isDigit() || c == u'.' || c == u'-' || c == u'+'))
            return false;
    bool ok = false;
    const double d = QLocale::c().toDouble(t, &ok);
    if (ok && std::isfinite(d)) {
        *out = d;
        return true;
    }
    return false;
}

QString integerError(const QString &text)
{
    return QStringLiteral("'%1' não é um valor inteiro válido").arg(text);
}

QString decimalError(const QString &text)
{
    return QStringLiteral("'%1' não é um valor numérico válido").arg(text);
}


} // namespace

TfrmProdutos::TfrmProdutos(TDM *dm, TfrmStatus *status, QWidget *parent)
    : QMainWindow(parent), m_dm(dm), m_status(status)
{
    setObjectName(QStringLiteral("frmProdutos"));
    setWindowTitle(kTitle);
    resize(783, 492);

    qryProdutos = new ProductQuery(this);
    qryProdutos->setObjectName(QStringLiteral("qryProdutos"));
    qryProdutos->setTable(QStringLiteral("PLU"), QStringLiteral("pluNo"));
    qryProdutos->beforePost = [this] { return qryProdutosBeforePost(); };
    qryProdutos->insideSave = [this] { return qryProdutosInsideSave(); };
    dsProdutos = new ProductGridModel(qryProdutos, this);

    buildMenu();
    buildToolBar();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildPanel();
    buildGrid();
    layout->addWidget(Panel1);
    layout->addWidget(DBGrid1, 1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    // The window can be resized and maximised; the grid takes the room.
    StatusBar1->setSizeGripEnabled(true);
    auto *version = new QLabel(kVersion, StatusBar1);
    StatusBar1->addWidget(version);
    setStatusBar(StatusBar1);

    connect(qryProdutos, &ProductQuery::afterScroll, this, &TfrmProdutos::qryProdutosAfterScroll);
    connect(qryProdutos, &ProductQuery::afterPost, this, &TfrmProdutos::qryProdutosAfterPost);
    connect(qryProdutos, &ProductQuery::closed, this, [this] { MostraRegistro(); });
    // The toolbar always matches the row: a command that saves or drops a
    // pending edit on its own (moving, reloading) ends in browsing too.
    connect(qryProdutos, &ProductQuery::stateChanged, this,
            [this](ProductQuery::State state) { EstadoEdicao(state == ProductQuery::State::Edit); });

    EstadoEdicao(false);
    MostraRegistro();

    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

TfrmProdutos::~TfrmProdutos() = default;

// ---- Layout -------------------------------------------------------------------

void TfrmProdutos::buildMenu()
{
    Arquivo1 = menuBar()->addMenu(QStringLiteral("Arquivo"));
    Arquivo1->setObjectName(QStringLiteral("Arquivo1"));
    AlterarTodosProdutos1 = Arquivo1->addMenu(QStringLiteral("Alterar todos produtos"));
    AlterarTodosProdutos1->setObjectName(QStringLiteral("AlterarTodosProdutos1"));
    Prefixo11 = AlterarTodosProdutos1->addAction(QStringLiteral("Prefixo 1"));
    Prefixo11->setObjectName(QStringLiteral("Prefixo11"));
    Prefixo21 = AlterarTodosProdutos1->addAction(QStringLiteral("Prefixo 2"));
    Prefixo21->setObjectName(QStringLiteral("Prefixo21"));
    PesoOuTotal1 = AlterarTodosProdutos1->addMenu(QStringLiteral("Peso ou Total"));
    PesoOuTotal1->setObjectName(QStringLiteral("PesoouTotal1"));
    Peso1 = PesoOuTotal1->addAction(QStringLiteral("Peso"));
    Peso1->setObjectName(QStringLiteral("Peso1"));
    Total1 = PesoOuTotal1->addAction(QStringLiteral("Total"));
    Total1->setObjectName(QStringLiteral("Total1"));
    LimparTodosProdutos1 = Arquivo1->addAction(QStringLiteral("Limpar todos produtos"));
    LimparTodosProdutos1->setObjectName(QStringLiteral("LimparTodosProdutos1"));
    Arquivo1->addSeparator();
    Configurar2 = Arquivo1->addAction(QStringLiteral("Configurar"));
    Configurar2->setObjectName(QStringLiteral("Configurar2"));
    Importar1 = Arquivo1->addAction(QStringLiteral("Importar"));
    Importar1->setObjectName(QStringLiteral("Importar1"));
    ImportarPlanilha1 = Arquivo1->addAction(QStringLiteral("Importar planilha"));
    ImportarPlanilha1->setObjectName(QStringLiteral("ImportarPlanilha1"));
    Exportar1 = Arquivo1->addAction(QStringLiteral("Exportar produtos"));
    Exportar1->setObjectName(QStringLiteral("Exportar1"));
    RestaurarCopia1 = Arquivo1->addAction(QStringLiteral("Restaurar cópia…"));
    RestaurarCopia1->setObjectName(QStringLiteral("RestaurarCopia1"));
    Historico1 = Arquivo1->addAction(QStringLiteral("Histórico"));
    Historico1->setObjectName(QStringLiteral("Historico1"));
    Arquivo1->addSeparator();
    Vendas1 = Arquivo1->addAction(QStringLiteral("Vendas"));
    Vendas1->setObjectName(QStringLiteral("Vendas1"));
    ConferirBalanca1 = Arquivo1->addAction(QStringLiteral("Conferir balança"));
    ConferirBalanca1->setObjectName(QStringLiteral("ConferirBalanca1"));

    connect(Prefixo11, &QAction::triggered, this, [this] { Prefixo11Click(); });
    connect(Prefixo21, &QAction::triggered, this, [this] { Prefixo21Click(); });
    connect(Peso1, &QAction::triggered, this, [this] { Peso1Click(); });
    connect(Total1, &QAction::triggered, this, [this] { Total1Click(); });
    connect(LimparTodosProdutos1, &QAction::triggered, this, [this] { LimparTodosProdutos1Click(); });
    connect(Configurar2, &QAction::triggered, this, [this] { Configurar2Click(); });
    connect(Importar1, &QAction::triggered, this, [this] { Importar1Click(); });
    connect(ImportarPlanilha1, &QAction::triggered, this, [this] { ImportarPlanilha1Click(); });
    connect(Exportar1, &QAction::triggered, this, [this] { Exportar1Click(); });
    connect(RestaurarCopia1, &QAction::triggered, this, [this] { RestaurarCopia1Click(); });
    connect(Historico1, &QAction::triggered, this, [this] { Historico1Click(); });
    connect(Vendas1, &QAction::triggered, this, [this] { Vendas1Click(); });
    connect(ConferirBalanca1, &QAction::triggered, this, [this] { ConferirBalanca1Click(); });
}

void TfrmProdutos::buildToolBar()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    auto button = [this](const char *name, const QString &caption, int image) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(caption);
        b->setIcon(m_dm->image(image));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setFixedSize(58, 52);
        // The caption must fit the 58 pixels whole ("Rirodidovu" is long).
        QFont small = b->font();
        small.setPixelSize(11);
        const QString plain = QString(caption).remove(u'&');
        while (small.pixelSize() > 8 && QFontMetrics(small).horizontalAdvance(plain) > 50)
            small.setPixelSize(small.pixelSize() - 1);
        b->setFont(small);
        ToolBar1->addWidget(b);
        return b;
    };
    btnEditar = button("btnEditar", QStringLiteral("&Editar"), 2);
    btnExcluir = button("btnExcluir", QStringLiteral("&Limpar"), 1);
    btnGravar = button("btnGravar", QStringLiteral("&Gravar"), 3);
    btnCancelar = button("btnCancelar", QStringLiteral("&Cancelar"), 4);
    ToolBar1->addSeparator();
    ToolButton3 = button("ToolButton3", QStringLiteral("&Localizar"), 6);
    ToolButton1 = button("ToolButton1", QStringLiteral("Imprimi&r"), 7);
    ToolBar1->addSeparator();
    ToolButton5 = button("ToolButton5", QStringLiteral("&Rirodidovu"), 35);
    ToolBar1->addSeparator();
    ToolButton4 = button("ToolButton4", QStringLiteral("&Sair"), 26);

    connect(btnEditar, &QToolButton::clicked, this, [this] { btnEditarClick(); });
    connect(btnExcluir, &QToolButton::clicked, this, [this] { btnExcluirClick(); });
    connect(btnGravar, &QToolButton::clicked, this, [this] { btnGravarClick(); });
    connect(btnCancelar, &QToolButton::clicked, this, [this] { btnCancelarClick(); });
    connect(ToolButton3, &QToolButton::clicked, this, [this] { ToolButton3Click(); });
    connect(ToolButton1, &QToolButton::clicked, this, [this] { ToolButton1Click(); });
    connect(ToolButton5, &QToolButton::clicked, this, [this] { ToolButton5Click(); });
    connect(ToolButton4, &QToolButton::clicked, this, [this] { ToolButton4Click(); });
}

void TfrmProdutos::buildPanel()
{
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(170);

    auto label = [](QWidget *parent, const QString &text, int x, int y) {
        auto *l = new QLabel(text, parent);
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    auto edit = [](QWidget *parent, const char *name, int maxLength, int x, int y, int w) {
        auto *e = new QLineEdit(parent);
        e->setObjectName(QString::fromLatin1(name));
        e->setMaxLength(maxLength);
        e->setGeometry(x, y, w, 22);
        return e;
    };

    // First row: code, description, price, tare, shelf life.
    lblCodigoTitle = label(Panel1, QStringLiteral("Código nas Barras"), 8, 6);
    edtCodigo = edit(Panel1, "edtCodigo", schema::kDefaultCodeSize, 8, 22, 110);
    lblDescTitle = label(Panel1, QStringLiteral("Descrição"), 126, 6);
    edtDesc = edit(Panel1, "edtDesc", 25, 126, 22, 230);
    lblPUTitle = label(Panel1, QStringLiteral("Preço/kg"), 364, 6);
    edtPU = edit(Panel1, "edtPU", 6, 364, 22, 72);
    edtPU->setAlignment(Qt::AlignRight);
    lblTaraTitle = label(Panel1, QStringLiteral("Tara (kg)"), 444, 6);
    edtTara = edit(Panel1, "edtTara", 5, 444, 22, 64);
    edtTara->setAlignment(Qt::AlignRight);

    gbValidade = new QGroupBox(QStringLiteral("Validade em dias:"), Panel1);
    gbValidade->setObjectName(QStringLiteral("gbValidade"));
    gbValidade->setGeometry(520, 2, 140, 48);
    edtValidade = edit(gbValidade, "edtValidade", 3, 10, 20, 60);
    edtValidade->setAlignment(Qt::AlignRight);
    SpeedButton3 = new QToolButton(gbValidade);
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    SpeedButton3->setText(QStringLiteral("?"));
    SpeedButton3->setToolTip(QStringLiteral("Instruções de preenchimento"));
    SpeedButton3->setGeometry(78, 19, 24, 24);
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });

    // Second row: sale type and sector on the left, the barcode on the right.
    dbrbTipo = new RadioGroup(QStringLiteral("Tipo venda ?"), {QStringLiteral("Peso"), QStringLiteral("Unidade")}, 2,
                              Panel1);
    dbrbTipo->setObjectName(QStringLiteral("dbrbTipo"));
    dbrbTipo->setGeometry(8, 56, 190, 42);
    lblSetor = label(Panel1, QStringLiteral("Setor:"), 8, 106);
    cbSetor = new QComboBox(Panel1);
    cbSetor->setObjectName(QStringLiteral("cbSetor"));
    cbSetor->addItems(sectorNames());
    cbSetor->setGeometry(8, 122, 190, 24);
    connect(cbSetor, &QComboBox::activated, this, [this](int index) { cbSetorChange(index); });

    gbCB = new QGroupBox(QStringLiteral("Código de barras:"), Panel1);
    gbCB->setObjectName(QStringLiteral("gbCB"));
    gbCB->setGeometry(214, 54, 440, 112);
    lblPrefixo1 = label(gbCB, QStringLiteral("Prefixo 1:"), 10, 22);
    edtPrefixo = edit(gbCB, "edtPrefixo", 1, 76, 18, 28);
    lblPrefixo2 = label(gbCB, QStringLiteral("Prefixo 2:"), 10, 48);
    lblPrefixo2->setObjectName(QStringLiteral("lblPrefixo2"));
    edtPrefixob = edit(gbCB, "edtPrefixob", 1, 76, 44, 28);
    edtPrefixo->installEventFilter(this);
    edtPrefixob->installEventFilter(this);
    SpeedButton1 = new QToolButton(gbCB);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("?"));
    SpeedButton1->setToolTip(QStringLiteral("Instruções de preenchimento"));
    SpeedButton1->setGeometry(168, 17, 24, 24);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

    dbrbTP = new RadioGroup(QStringLiteral("Imprimir:"), {QStringLiteral("Peso"), QStringLiteral("Total a Pagar")}, 2,
                            gbCB);
    dbrbTP->setObjectName(QStringLiteral("dbrbTP"));
    dbrbTP->setGeometry(8, 66, 186, 42);
    connect(dbrbTP, &RadioGroup::changed, this, [this] { dbrbTPChange(); });

    // The barcode illustration: picture frame and the four digit groups.
    Image2 = new QLabel(gbCB);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(200, 17, 119, 46);
    MostraFiguraCB();
    QFont mono(QStringLiteral("Liberation Mono"));
    mono.setStyleHint(QFont::Monospace);
    mono.setBold(true);
    mono.setPixelSize(12);
    auto digits = [&](const char *name, const QString &caption, const QColor &colour, int x) {
        auto *l = new QLabel(caption, gbCB);
        l->setObjectName(QString::fromLatin1(name));
        l->setFont(mono);
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, colour);
        l->setPalette(pal);
        l->move(x, 62);
        l->adjustSize();
        return l;
    };
    lblPrefixo = digits("lblPrefixo", QStringLiteral("AB"), Qt::red, 208);
    lblCodigo = digits("lblCodigo", QStringLiteral("CCCCC"), Qt::blue, 224);
    lblPeso = digits("lblPeso", QStringLiteral("PPPPP"), QColor(0, 128, 0), 264);
    lblDV = digits("lblDV", QStringLiteral("D"), QColor(128, 0, 128), 304);
    lblDV->setToolTip(QStringLiteral("Dígito Verificador"));
}

void TfrmProdutos::buildGrid()
{
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(dsProdutos);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setAlternatingRowColors(true);
    DBGrid1->verticalHeader()->setDefaultSectionSize(20);
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The row numbers are as wide as the largest of them ("500", not "5(").
    auto fitRowNumbers = [this] {
        QHeaderView *rows = DBGrid1->verticalHeader();
        const int largest = qMax(1, dsProdutos->rowCount());
        rows->setFixedWidth(rows->fontMetrics().horizontalAdvance(QString::number(largest)) + 12);
    };
    connect(dsProdutos, &QAbstractItemModel::modelReset, this, fitRowNumbers);
    connect(dsProdutos, &QAbstractItemModel::layoutChanged, this, fitRowNumbers);
    fitRowNumbers();
    QHeaderView *header = DBGrid1->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setHighlightSections(false);
    const int charWidth = DBGrid1->fontMetrics().averageCharWidth();
    const auto &columns = ProductGridModel::gridColumns();
    for (int i = 0; i < columns.size(); ++i)
        DBGrid1->setColumnWidth(i, qMax(columns[i].widthChars, int(columns[i].title.size())) * charWidth + 12);
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) { DBGrid1TitleClick(section); });
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                if (!current.isValid() || qryProdutos->isEditing() || current.row() == qryProdutos->recNo())
                    return;
                qryProdutos->moveTo(current.row());
            });
}

void TfrmProdutos::syncGridSelection()
{
    const int row = qryProdutos->recNo();
    if (row < 0)
        return;
    const QModelIndex current = DBGrid1->currentIndex();
    if (current.isValid() && current.row() == row)
        return;
    const int column = current.isValid() ? current.column() : 0;
    DBGrid1->setCurrentIndex(dsProdutos->index(row, column));
}

// ---- Start-up ---------------------------------------------------------------------

void TfrmProdutos::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_startQueued) {
        // After the window is on screen, before the operator can use it.
        m_startQueued = true;
        QMetaObject::invokeMethod(this, [this] { FormShow(); }, Qt::QueuedConnection);
    }
}

bool TfrmProdutos::FormShow()
{
    if (m_started)
        return false;
    m_started = true;
    m_startQueued = true;

    QString error;
    db::Connection *conn = m_dm->ADOC(&error);
    if (!conn) {
        // A missing, unreadable or foreign file: one message, an empty list.
        showApplicationError(error);
        return false;
    }
    qryProdutos->setDatabase(conn->database());
    qryAux.setDatabase(conn->database());

    // The file must hold our product table before anything is written to
    // it, and every column the saves use once the upgrade has run.
    const QString fileName = QFileInfo(conn->path()).fileName();
    if (!db::checkProductTable(conn->database(), fileName, false, &error)) {
        showApplicationError(error);
        return false;
    }
    // 1. The upgrade.
    db::DatabaseUpgrade upgrade(conn->database(), m_dm->qryConfig, *this);
    {
        // The upgrade reads the settings row inside its transaction; the
        // codes it fills are saved with those.  The fields and the grid
        // show the list once, when the filling ends.
        SettingsHeld held(*this, nullptr, SettingsHeld::Read::Already);
        ProductQuery::Quiet quiet(*qryProdutos);
        const db::HistoryOperation operation(conn->database(), QStringLiteral("Atualização do banco"));
        m_upgradeResult = upgrade.run();
    }
    m_upgradeStatements = upgrade.statements();
    m_upgradeBackFillNs = upgrade.backFillNanoseconds();
    switch (m_upgradeResult.outcome) {
    case db::DatabaseUpgrade::Outcome::RestartRequired:
        return false;
    case db::DatabaseUpgrade::Outcome::Failed:
        if (!m_upgradeResult.errorShown) {
            if (conn->readOnly())
                showApplicationError(
                    QStringLiteral("O banco de dados %1 está protegido contra gravação e precisa ser atualizado "
                                   "antes do uso. Libere a gravação do arquivo e abra o programa novamente (%2)")
                        .arg(QFileInfo(conn->path()).fileName(), m_upgradeResult.error));
            else
                showApplicationError(m_upgradeResult.error);
        }
        return false;
    case db::DatabaseUpgrade::Outcome::Completed:
        break;
    }
    if (!db::checkProductTable(conn->database(), fileName, true, &error)) {
        showApplicationError(error);
        return false;
    }
    // 2, 3. The code field and the second prefix follow the settings.
    AjustaCamposCodigo();
    // 4. Where the import writes its log.
    strDirPrograma = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    while (strDirPrograma.size() > 1 && strDirPrograma.endsWith(QDir::separator()))
        strDirPrograma.chop(1);
    // 5, 6. The product list in slot order.
    strOrdem = kStartOrder;
    FiltraProdutos();
    if (conn->readOnly())
        torvane::manager::showInformation(
            QStringLiteral("O banco de dados %1 está protegido contra gravação: os produtos podem ser "
                           "consultados, mas nenhuma alteração poderá ser gravada.")
                .arg(QFileInfo(conn->path()).fileName()));
    // A file on a network share: said once, as the program starts.
    const QString share = db::networkShareWarning(conn->path());
    if (!share.isEmpty())
        torvane::manager::showInformation(share);
    // Copies are the file's own: a server base has none to restore.
    RestaurarCopia1->setVisible(hasCopies(conn));
    dailyCopy(conn);
    return true;
}

void TfrmProdutos::AjustaCamposCodigo()
{
    const int size = m_dm->codeSize();
    if (schema::isValidCodeSize(size))
        edtCodigo->setMaxLength(size);
    const bool second = size != 6 && m_dm->flgPrefixo2();
    edtPrefixob->setVisible(second);
    lblPrefixo2->setVisible(second);
}

// ---- The product list ----------------------------------------------------------------

bool TfrmProdutos::openProductList(QString *error)
{
    if (!qryProdutos->database().isValid()) {
        db::Connection *conn = m_dm->ADOC(error);
        if (!conn)
            return false;
        qryProdutos->setDatabase(conn->database());
        qryAux.setDatabase(conn->database());
    }
    qryProdutos->close();
    // Before the list is sorted (the upgrade's back-fill) it reads the rows
    // in the order they were stored.
    const QString order = strOrdem.isEmpty() ? db::tableOrder(qryProdutos->database(), QStringLiteral("PLU")) : strOrdem;
    qryProdutos->setSql(QStringLiteral("Select * From Plu ") + order);
    return qryProdutos->open(error);
}

void TfrmProdutos::FiltraProdutos()
{
    QString error;
    if (!openProductList(&error))
        showApplicationError(error);
}

void TfrmProdutos::qryProdutosAfterScroll()
{
    MostraRegistro();
    MontaCB();
    syncGridSelection();
}

void TfrmProdutos::qryProdutosAfterPost()
{
    MostraRegistro();
    MontaCB();
}

void TfrmProdutos::MostraRegistro()
{
    m_showingRow = true;
    const bool has = qryProdutos->isOpen() && qryProdutos->recNo() >= 0;
    auto v = [&](const char *column) { return has ? qryProdutos->value(QString::fromLatin1(column)) : QVariant(); };
    auto text = [](const QVariant &value) { return value.isNull() ? QString() : value.toString(); };
    edtCodigo->setText(text(v("Codigo")));
    edtDesc->setText(text(v("pluDesc")));
    edtPU->setText(formatPrice(v("Preco")));
    edtTara->setText(formatTare(v("Tara")));
    edtValidade->setText(text(v("validDays")));
    const QVariant sell = v("sellFlag");
    dbrbTipo->setItemIndex(sell.isNull() ? -1 : sell.toInt() - 1);
    const QVariant setor = v("Setor");
    cbSetor->setCurrentIndex(setor.isNull() ? -1 : (setor.toInt() >= 0 && setor.toInt() < cbSetor->count()
                                                        ? setor.toInt()
                                                        : -1));
    edtPrefixo->setText(text(v("preFix")));
    edtPrefixob->setText(text(v("Prefixb")));
    const QVariant mode = v("BarcodeMode");
    dbrbTP->setItemIndex(mode.isNull() ? -1 : mode.toInt() - 1);
    for (QLineEdit *e : {edtCodigo, edtDesc, edtPU, edtTara, edtValidade, edtPrefixo, edtPrefixob}) {
        e->setModified(false);
        e->setCursorPosition(0);
    }
    m_showingRow = false;
}

bool TfrmProdutos::GravaCampos()
{
    if (!qryProdutos->isEditing())
        return true;
    // Only what the operator changed is written, so a value the field
    // cannot show exactly is not replaced by its rounded display.
    struct IntField {
        QLineEdit *edit;
        const char *column;
    };
    for (const IntField &f : {IntField{edtCodigo, "Codigo"}, IntField{edtValidade, "validDays"},
                              IntField{edtPrefixo, "preFix"}, IntField{edtPrefixob, "Prefixb"}}) {
        if (!f.edit->isModified())
            continue;
        const QString t = f.edit->text().trimmed();
        QVariant value;
        if (!t.isEmpty()) {
            bool ok = false;
            const qint64 n = t.toLongLong(&ok);
            if (!ok) {
                showApplicationError(integerError(f.edit->text()));
                f.edit->setFocus();
                return false;
            }
            value = n;
        }
        qryProdutos->setValue(QString::fromLatin1(f.column), value);
    }
    for (QLineEdit *e : {edtPU, edtTara}) {
        if (!e->isModified())
            continue;
        const QString t = e->text().trimmed();
        QVariant value;
        if (!t.isEmpty()) {
            double d = 0;
            if (!parseDecimal(t, &d)) {
                showApplicationError(decimalError(e->text()));
                e->setFocus();
                return false;
            }
            value = d;
        }
        qryProdutos->setValue(e == edtPU ? QStringLiteral("Preco") : QStringLiteral("Tara"), value);
    }
    if (edtDesc->isModified())
        qryProdutos->setValue(QStringLiteral("pluDesc"), edtDesc->text());
    if (dbrbTipo->itemIndex() >= 0)
        qryProdutos->setValue(QStringLiteral("sellFlag"), dbrbTipo->itemIndex() + 1);
    if (dbrbTP->itemIndex() >= 0)
        qryProdutos->setValue(QStringLiteral("BarcodeMode"), dbrbTP->itemIndex() + 1);
    for (QLineEdit *e : {edtCodigo, edtDesc, edtPU, edtTara, edtValidade, edtPrefixo, edtPrefixob})
        e->setModified(false);
    return true;
}

// ---- Editing --------------------------------------------------------------------------

void TfrmProdutos::EstadoEdicao(bool editing)
{
    EstadoMenu(editing);
    btnEditar->setEnabled(!editing);
    btnExcluir->setEnabled(!editing);
    btnGravar->setEnabled(editing);
    btnCancelar->setEnabled(editing);
    DBGrid1->setEnabled(!editing);
    cbSetor->setEnabled(editing);
    for (QLineEdit *e : {edtCodigo, edtDesc, edtPU, edtTara, edtValidade, edtPrefixo, edtPrefixob})
        e->setReadOnly(!editing);
    dbrbTipo->setEditable(editing);
    dbrbTP->setEditable(editing);
}

void TfrmProdutos::btnEditarClick()
{
    if (!qryProdutos->edit())
        return;
    EstadoEdicao(true);
    edtCodigo->setFocus();
    edtCodigo->selectAll();
}

ProductQuery::PostResult TfrmProdutos::SalvaRegistro(bool fromFields)
{
    if (!qryProdutos->isEditing())
        return ProductQuery::PostResult::Posted;
    if (fromFields && !GravaCampos())
        return ProductQuery::PostResult::Refused;
    const ProductQuery::PostResult result = qryProdutos->post();
    if (result == ProductQuery::PostResult::Failed && qryProdutos->failure() == ProductQuery::Failure::Duplicate) {
        // Another PC saved this code first, after the look-up here passed.
        refuseSave({rules::kDuplicateCode, rules::Field::Codigo});
        return result;
    }
    if (result == ProductQuery::PostResult::Failed &&
        qryProdutos->failure() == ProductQuery::Failure::ChangedElsewhere) {
        // The row now shows what the other PC stored, out of edit.
        EstadoEdicao(false);
        MostraRegistro();
        MontaCB();
        showError(qryProdutos->lastError());
        return result;
    }
    if (result == ProductQuery::PostResult::Failed) {
        QString text = qryProdutos->lastError();
        db::Connection *conn = m_dm->isConnected() ? m_dm->ADOC() : nullptr;
        if (conn && conn->readOnly())
            text = QStringLiteral("O banco de dados %1 está protegido contra gravação; a alteração não foi gravada (%2)")
                       .arg(QFileInfo(conn->path()).fileName(), text);
        showApplicationError(text);
    }
    return result;
}

void TfrmProdutos::btnGravarClick()
{
    const db::HistoryOperation operation(qryProdutos->database(), QStringLiteral("Gravar"));
    if (SalvaRegistro(true) == ProductQuery::PostResult::Posted)
        EstadoEdicao(false);
}

void TfrmProdutos::btnCancelarClick()
{
    qryProdutos->cancel();
    EstadoEdicao(false);
    MostraRegistro();
    MontaCB();
}

void TfrmProdutos::cbSetorChange(int index)
{
    if (!m_showingRow && qryProdutos->isEditing() && index >= 0)
        qryProdutos->setValue(QStringLiteral("Setor"), index);
}

// ---- The save procedure ------------------------------------------------------------------

bool TfrmProdutos::refuseSave(const rules::Refusal &r)
{
    showError(r.message);
    switch (r.field) {
    case rules::Field::Codigo: edtCodigo->setFocus(); break;
    case rules::Field::Preco: edtPU->setFocus(); break;
    case rules::Field::Tara: edtTara->setFocus(); break;
    case rules::Field::Validade: edtValidade->setFocus(); break;
    }
    return false;
}

bool TfrmProdutos::qryProdutosBeforePost()
{
    m_validatedSave = false;
    ProductQuery &q = *qryProdutos;
    const QVariant codigo = q.value(QStringLiteral("Codigo"));
    auto refuse = [this](const rules::Refusal &r) { return refuseSave(r); };
    // 1. A product needs its code.
    if (!flgSemValidacao && codigo.isNull())
        return refuse({rules::kMissingCode, rules::Field::Codigo});
    // 2. The scale's code, from the code, the second prefix and the
    //    settings (read again inside the save, see qryProdutosInsideSave).
    rebuildPluCode();
    // 3. Non-interactive changes stop here.
    if (flgSemValidacao) {
        flgSemValidacao = false;
        return true;
    }
    // The code (not 0 on a product: 0 marks a free slot), price, tare and
    // validity, as every command that saves a product checks them.
    const rules::CheckedProduct checked =
        rules::checkProduct({codigo, q.value(QStringLiteral("pluDesc")).toString(), q.value(QStringLiteral("Preco")),
                             q.value(QStringLiteral("Tara")), q.value(QStringLiteral("validDays"))});
    if (checked.refusal && checked.refusal->field == rules::Field::Codigo)
        return refuse(*checked.refusal);
    // 4. No other product may carry the same code.  Free slots (code 0) all
    //    share the code of 0, so they take no part in the check.  It is
    //    asked again inside the save, where the settings and another PC's
    //    code saved in the meantime are seen (and the engine itself refuses
    //    a code saved later still).  The filling of the codes checked
    //    every code it fills at once (m_fillBatch).
    if (codigo.toLongLong() != 0 && !m_fillBatch) {
        const std::optional<bool> taken = codeTaken();
        if (!taken)
            return false;
        if (*taken)
            return refuse({rules::kDuplicateCode, rules::Field::Codigo});
    }
    // 5.-6. Price and tare ranges, validity.
    if (checked.refusal)
        return refuse(*checked.refusal);
    // 7. A price is stored and sent to the cent; the scale weighs tares in
    //    steps of 2 g.  Either rounding is said to the operator.
    q.setValue(QStringLiteral("Preco"), checked.price.preco);
    if (checked.price.rounded) {
        edtPU->setText(formatPrice(checked.price.preco));
        torvane::manager::showInformation(rules::kPriceRounded);
    }
    q.setValue(QStringLiteral("Tara"), checked.tare.tara);
    if (checked.tare.rounded) {
        edtTara->setText(formatTare(checked.tare.tara));
        torvane::manager::showInformation(rules::kTareRounded);
    }
    // 8. The columns the scale reads.
    q.setValue(QStringLiteral("tareWeight"), checked.tare.tareWeight);
    q.setValue(QStringLiteral("unitPrice"), checked.price.unitPrice);
    m_validatedSave = true;
    return true;
}

CodeSettings TfrmProdutos::codeSettings() const
{
    return {m_dm->codeSize(), m_dm->flgPrefixo2()};
}

void TfrmProdutos::rebuildPluCode()
{
    ProductQuery &q = *qryProdutos;
    const QString pluCode = schema::buildPluCode(q.value(QStringLiteral("Codigo")).toLongLong(),
                                                 q.value(QStringLiteral("Prefixb")).toLongLong(), m_dm->codeSize(),
                                                 m_dm->flgPrefixo2());
    if (!pluCode.isNull())
        q.setValue(QStringLiteral("pluCode"), pluCode);
}

bool TfrmProdutos::readSettings(QString *error)
{
    db::ConfigRow &config = m_dm->qryConfig;
    if (m_settingsHeld > 0 || config.isEditing())
        return true;
    const CodeSettings before = codeSettings();
    // Read aside: a failed read keeps the row read last.
    db::ConfigRow fresh;
    if (!fresh.open(qryProdutos->database(), error))
        return false;
    config = fresh;
    // Another PC changed them: the fields follow from now on.
    const CodeSettings now = codeSettings();
    if (now.codeSize != before.codeSize || now.prefix2 != before.prefix2)
        AjustaCamposCodigo();
    return true;
}

TfrmProdutos::SettingsHeld::SettingsHeld(TfrmProdutos &form, QString *error, Read read)
    : m_form(form), m_ok(read == Read::Already || form.readSettings(error))
{
    ++form.m_settingsHeld;
}

TfrmProdutos::SettingsHeld::~SettingsHeld()
{
    --m_form.m_settingsHeld;
}

QVector<StoredCode> TfrmProdutos::storedCodes() const
{
    const ProductQuery &q = *qryProdutos;
    QVector<StoredCode> rows;
    rows.reserve(q.count());
    const int pluNo = q.fieldIndex(QStringLiteral("pluNo")), codigo = q.fieldIndex(QStringLiteral("Codigo")),
              prefixb = q.fieldIndex(QStringLiteral("Prefixb")), pluCode = q.fieldIndex(QStringLiteral("pluCode")),
              desc = q.fieldIndex(QStringLiteral("pluDesc")), preco = q.fieldIndex(QStringLiteral("Preco"));
    for (int r = 0; r < q.count(); ++r)
        rows.push_back({q.value(r, pluNo).toLongLong(), q.value(r, codigo), q.value(r, prefixb).toLongLong(),
                        q.value(r, pluCode).toString(), q.value(r, desc).toString(), q.value(r, preco).toDouble()});
    return rows;
}

std::optional<bool> TfrmProdutos::codeTaken()
{
    ProductQuery &q = *qryProdutos;
    QString error;
    QVector<QVector<QVariant>> holders;
    if (!q.lookUp(QStringLiteral("Select pluNo, Codigo, Prefixb, pluCode, pluDesc, Preco From PLU "
                                 "Where PluCode = ? And Codigo <> 0"),
                  {q.value(QStringLiteral("pluCode"))}, &holders, &error)) {
        showApplicationError(error);
        return std::nullopt;
    }
    // The row as it was shown, and every product that holds the code: the
    // one-row case of the plan every code change passes.
    QVector<StoredCode> rows{{q.value(QStringLiteral("pluNo")).toLongLong(), q.oldValue(QStringLiteral("Codigo")),
                              q.oldValue(QStringLiteral("Prefixb")).toLongLong(),
                              q.oldValue(QStringLiteral("pluCode")).toString(), QString(), 0.0}};
    for (const QVector<QVariant> &h : std::as_const(holders))
        if (h[0].toLongLong() != rows[0].pluNo)
            rows.push_back({h[0].toLongLong(), h[1], h[2].toLongLong(), h[3].toString(), h[4].toString(),
                            h[5].toDouble()});
    // No other product holds the code: one row alone cannot collide (and
    // code 0 is not asked here), so the plan would pass.  Saves nearly
    // every row of a back-fill or an import the plan's tables.
    if (rows.size() == 1)
        return false;
    CodePlan plan(rows, codeSettings());
    plan.setRefuseCodeZero(false); // said by the code check, before this
    plan.save(0, q.value(QStringLiteral("Codigo")), q.value(QStringLiteral("Prefixb")).toLongLong());
    return !plan.check();
}

bool TfrmProdutos::qryProdutosInsideSave()
{
    // The code size and second prefix as stored now, not as this PC read
    // them at start: another PC may have changed them since.  A bulk
    // change read them once, inside its own transaction.
    QString error;
    if (!readSettings(&error)) {
        showApplicationError(error);
        return false;
    }
    rebuildPluCode();
    // The filling of the codes checked every code it fills at once, inside
    // the same transaction (and the engine refuses a code another PC took
    // since): asked again row by row, each would wait for its batch.
    if (!m_validatedSave || qryProdutos->value(QStringLiteral("Codigo")).toLongLong() == 0 || m_fillBatch)
        return true;
    const std::optional<bool> taken = codeTaken();
    if (!taken)
        return false;
    return !*taken || refuseSave({rules::kDuplicateCode, rules::Field::Codigo});
}

// ---- Clearing ----------------------------------------------------------------------------

bool TfrmProdutos::LimpaRegistro()
{
    flgSemValidacao = true;
    if (!qryProdutos->edit()) {
        flgSemValidacao = false;
        return false;
    }
    ProductQuery &q = *qryProdutos;
    setClearedValues(q);
    if (SalvaRegistro(false) != ProductQuery::PostResult::Posted) {
        // The error was shown; the row goes back to what it held.
        q.cancel();
        flgSemValidacao = false;
        MostraRegistro();
        return false;
    }
    return true;
}

void TfrmProdutos::setClearedValues(ProductQuery &q)
{
    q.setValue(QStringLiteral("pluCode"), QString());
    q.setValue(QStringLiteral("Codigo"), 0);
    q.setValue(QStringLiteral("pluDesc"), QString());
    q.setValue(QStringLiteral("Preco"), 0.0);
    q.setValue(QStringLiteral("unitPrice"), 0);
    q.setValue(QStringLiteral("Tara"), 0.0);
    q.setValue(QStringLiteral("tareWeight"), 0);
    q.setValue(QStringLiteral("validDays"), 0);
    q.setValue(QStringLiteral("sellFlag"), 1);
    q.setValue(QStringLiteral("preFix"), 0);
    q.setValue(QStringLiteral("Setor"), 0);
}

// ---- Sorting ---------------------------------------------------------------------------------

void TfrmProdutos::DBGrid1TitleClick(int section)
{
    if (qryProdutos->isEmpty() || qryProdutos->isEditing())
        return;
    const auto &columns = ProductGridModel::gridColumns();
    if (section < 0 || section >= columns.size())
        return;
    const QString &field = columns[section].field;
    if (field == QLatin1String("TpVenda"))
        return;
    OrdenaColuna(field == QLatin1String("SetorStr") ? QStringLiteral("Setor") : field);
}

void TfrmProdutos::OrdenaColuna(const QString &fieldName)
{
    const QString ascending = QStringLiteral("Order By ") + fieldName;
    strOrdem = strOrdem == ascending ? ascending + QStringLiteral(" Desc") : ascending;
    FiltraProdutos();
}

// ---- Closing, transmitter, help -------------------------------------------------------------

void TfrmProdutos::closeEvent(QCloseEvent *event)
{
    if (qryProdutos->isEditing()) {
        showError(QStringLiteral("Grave ou cancele o registro para sair."));
        event->ignore();
        return;
    }
    qryProdutos->close();
    event->accept();
}

void TfrmProdutos::ToolButton4Click()
{
    if (askChoice(QStringLiteral("Confirma sair do programa ?")))
        close();
}

void TfrmProdutos::ToolButton5Click()
{
    // The transmitter lies beside the manager and opens the same database
    // because it starts in the same working directory.  Nothing waits for it.
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Rirodidovu"));
    if (!shellActions().startDetached(program, QDir::currentPath()))
        showError(QStringLiteral("Não foi possível iniciar o programa %1.").arg(QDir::toNativeSeparators(program)));
}

void TfrmProdutos::SpeedButton3Click()
{
    torvane::manager::showInformation(QStringLiteral(
        "Preencha com:\n0 - Não imprime data de validade\n1 a 999 - Calcula e imprime data de validade"));
}

bool TfrmProdutos::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && (watched == edtPrefixo || watched == edtPrefixob))
        edtPrefixoExit();
    return QMainWindow::eventFilter(watched, event);
}

// ---- What the upgrade needs of the form -------------------------------------------------------

void TfrmProdutos::showInformation(const QString &text)
{
    torvane::manager::showInformation(text);
}

void TfrmProdutos::closeMainWindow()
{
    close();
}

int TfrmProdutos::productCount()
{
    return qryProdutos->count();
}

void TfrmProdutos::firstProduct()
{
    qryProdutos->first();
}

void TfrmProdutos::nextProduct()
{
    qryProdutos->next();
}

QString TfrmProdutos::currentPluCode()
{
    return qryProdutos->value(QStringLiteral("pluCode")).toString();
}

bool TfrmProdutos::currentHasCodigo()
{
    return !qryProdutos->value(QStringLiteral("Codigo")).isNull();
}

db::UpgradeHost::SaveResult TfrmProdutos::saveCurrentCodigo(qint64 codigo, QString *error)
{
    if (!qryProdutos->edit()) {
        *error = QStringLiteral("O produto não pode ser alterado");
        return SaveResult::Failed;
    }
    qryProdutos->setValue(QStringLiteral("Codigo"), codigo);
    switch (qryProdutos->post()) {
    case ProductQuery::PostResult::Posted:
        return SaveResult::Saved;
    case ProductQuery::PostResult::Refused:
        // The form is in browse state: a row left in edit could be neither
        // saved nor cancelled by the operator.
        qryProdutos->cancel();
        return SaveResult::Refused;
    case ProductQuery::PostResult::Failed:
        *error = qryProdutos->lastError();
        qryProdutos->cancel();
        return SaveResult::Failed;
    }
    return SaveResult::Failed;
}

bool TfrmProdutos::beforeChange()
{
    return CopiaAntes(db::CopyReason::Upgrade);
}

bool TfrmProdutos::backFillAllowed()
{
    CodePlan plan(storedCodes(), codeSettings());
    for (int r = 0; r < qryProdutos->count(); ++r) {
        if (!qryProdutos->value(r, QStringLiteral("Codigo")).isNull())
            continue;
        // A scale code that is no number stops the filling when it comes
        // to that row, with the conversion error.
        bool ok = false;
        const qint64 codigo = qryProdutos->value(r, QStringLiteral("pluCode")).toString().toLongLong(&ok, 10);
        if (ok)
            plan.save(r, codigo, qryProdutos->value(r, QStringLiteral("Prefixb")).toLongLong());
    }
    if (!plan.check()) {
        showError(plan.refusal(QStringLiteral("Os códigos dos produtos não foram preenchidos")));
        return false;
    }
    m_fillBatch = std::make_unique<ProductQuery::Batch>(*qryProdutos);
    return true;
}

bool TfrmProdutos::finishSaves(QString *error)
{
    if (!m_fillBatch)
        return true;
    const bool sent = m_fillBatch->finish();
    if (!sent)
        *error = qryProdutos->lastError();
    m_fillBatch.reset();
    return sent;
}

void TfrmProdutos::progressMessage(const QString &text)
{
    m_status->SetMessage(text);
}

void TfrmProdutos::progressShow(const QString &caption, int maximum)
{
    m_status->ShowProgress(this, caption, TfrmStatus::Bar, maximum, TfrmStatus::ScreenCentre);
}

void TfrmProdutos::progressStep()
{
    m_status->StepProgress();
}

void TfrmProdutos::progressHide()
{
    m_status->HideProgress();
}

} // namespace torvane::manager
