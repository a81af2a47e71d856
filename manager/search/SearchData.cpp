#include "SearchData.h"

#include "DataModule.h"
#include "Db.h"
#include "Globals.h"
#include "OperatorDialogs.h"
#include "ProductGridModel.h"
#include "ProductQuery.h"
#include "RadioGroup.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStyle>
#include <QTableView>
#include <QToolButton>

namespace torvane::manager {

TFormSearchData *FormSearchData = nullptr;

namespace {

const QString kNotFound = QStringLiteral("Dado não encontrado");
const QString kNoRows = QStringLiteral("Não há registros a serem localizados.");

// Upper case of the edit: every letter typed is shown and kept in capitals.
class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        input = input.toUpper();
        return Acceptable;
    }
};

} // namespace

// ---- The search statement --------------------------------------------------

bool SearchQuery::open(QString *error)
{
    close();
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(db::mapAccessSql(text()))) {
        *error = db::errorText(q.lastError());
        return false;
    }
    for (const QVariant &v : bindings)
        q.addBindValue(v);
    if (!q.exec()) {
        *error = db::errorText(q.lastError());
        return false;
    }
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        m_fields << rec.fieldName(i);
    while (q.next()) {
        QVariantList row;
        row.reserve(rec.count());
        for (int i = 0; i < rec.count(); ++i)
            row << q.value(i);
        m_rows << row;
    }
    m_open = true;
    m_current = m_rows.isEmpty() ? -1 : 0;
    return true;
}

void SearchQuery::close()
{
    m_open = false;
    m_fields.clear();
    m_rows.clear();
    m_current = -1;
}

bool SearchQuery::next()
{
    if (!m_open || m_current + 1 >= m_rows.size())
        return false;
    ++m_current;
    return true;
}

QVariant SearchQuery::value(int column) const
{
    if (m_current < 0 || m_current >= m_rows.size())
        return {};
    return m_rows[m_current].value(column);
}

// ---- Texts -----------------------------------------------------------------

QString searchPatternText(const QString &typed)
{
    QString out = typed;
    for (QChar &c : out)
        if (c < QLatin1Char('A') || c > QLatin1Char('Z'))
            c = c.toLower();
    return out;
}

QString booleanSearchText(const QString &text)
{
    QString s = text.toUpper();
    s.replace(QStringLiteral("NÃO"), QStringLiteral("0"));
    s.replace(QStringLiteral("NAO"), QStringLiteral("0"));
    s.replace(QStringLiteral("FALSE"), QStringLiteral("0"));
    s.replace(QStringLiteral("SIM"), QStringLiteral("1"));
    s.replace(QStringLiteral("TRUE"), QStringLiteral("1"));
    return s;
}

int GetTextDelimited(const QString &text, int n)
{
    const QStringList parts = text.split(QLatin1Char(';'));
    if (n < 0 || n >= parts.size())
        return -1;
    const QString part = parts.at(n).trimmed();
    if (part.isEmpty())
        return -1;
    bool ok = false;
    const int value = part.toInt(&ok);
    return ok ? value : -1;
}

// ---- The dialog ------------------------------------------------------------

TFormSearchData::TFormSearchData(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("FormSearchData"));
    setWindowTitle(QStringLiteral("Localizar Registro"));
    setModal(false);
    setFixedSize(kClientWidth, kClientHeight);
    // The small dialog font the layout was drawn for.
    QFont small(QStringLiteral("Liberation Sans"));
    small.setStyleHint(QFont::SansSerif);
    small.setPixelSize(11);
    setFont(small);

    GroupBox1 = new QGroupBox(QStringLiteral("Procura:"), this);
    GroupBox1->setGeometry(4, 2, 226, 114);
    lblCampo = new QLabel(QStringLiteral("Campo:"), GroupBox1);
    lblCampo->setGeometry(8, 18, 100, 14);
    CBCampo = new QComboBox(GroupBox1);
    CBCampo->setObjectName(QStringLiteral("CBCampo"));
    CBCampo->setEditable(false);
    CBCampo->setGeometry(6, 33, 213, 24);
    lblCampo->setBuddy(CBCampo);
    lblDado = new QLabel(QStringLiteral("Dado:"), GroupBox1);
    lblDado->setGeometry(8, 62, 100, 14);
    EditDado = new QLineEdit(GroupBox1);
    EditDado->setObjectName(QStringLiteral("EditDado"));
    EditDado->setGeometry(6, 77, 210, 24);
    EditDado->setValidator(new UpperCaseValidator(EditDado));
    lblDado->setBuddy(EditDado);

    rgOpcoes = new RadioGroup(QStringLiteral("Opções de Localização:"),
                              {QStringLiteral("Procurar em qualquer parte do campo."),
                               QStringLiteral("Procurar no início do campo."),
                               QStringLiteral("Procurar exatamente igual a frase")},
                              1, this);
    rgOpcoes->setObjectName(QStringLiteral("rgOpcoes"));
    rgOpcoes->setGeometry(4, 115, 226, 68);
    rgOpcoes->setItemIndex(0);
    if (rgOpcoes->layout())
        rgOpcoes->layout()->setContentsMargins(4, 0, 2, 0);

    ToolBar1 = new QWidget(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setGeometry(kClientWidth - 91 - 4, 4, 91, 3 * 38);
    const auto image = [this](int index, QStyle::StandardPixmap fallback) {
        QIcon icon = DM ? DM->image(index) : QIcon();
        return icon.isNull() ? style()->standardIcon(fallback) : icon;
    };
    const auto makeButton = [this](const QString &name, const QString &caption, const QIcon &icon) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(name);
        b->setText(caption);
        b->setIcon(icon);
        b->setIconSize(QSize(32, 32));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setAutoRaise(true);
        b->setGeometry(0, 38 * (ToolBar1->children().size() - 1), 91, 38);
        return b;
    };
    btnLocalizar = makeButton(QStringLiteral("btnLocalizar"), QStringLiteral("&Localizar"),
                              image(6, QStyle::SP_FileDialogContentsView));
    btnProximo = makeButton(QStringLiteral("btnProximo"), QStringLiteral("&Próximo"),
                            image(6, QStyle::SP_FileDialogContentsView));
    btnCancelar = makeButton(QStringLiteral("btnCancelar"), QStringLiteral("&Retornar"),
                             image(26, QStyle::SP_ArrowBack));
    btnProximo->setEnabled(false);

    connect(EditDado, &QLineEdit::textChanged, this, [this] { EditDadoChange(); });
    connect(CBCampo, &QComboBox::currentIndexChanged, this, [this] { CBCampoChange(); });
    connect(rgOpcoes, &RadioGroup::changed, this, [this] { rgOpcoesClick(); });
    connect(btnLocalizar, &QToolButton::clicked, this, [this] { btnLocalizarClick(); });
    connect(btnProximo, &QToolButton::clicked, this, [this] { btnProximoClick(); });
    connect(btnCancelar, &QToolButton::clicked, this, [this] { btnCancelarClick(); });

    // The window sees key presses before its controls.
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);
}

TFormSearchData::~TFormSearchData()
{
    if (FormSearchData == this)
        FormSearchData = nullptr;
}

bool TFormSearchData::SetSearch(QTableView *grid, ProductQuery *dataSet, const QString &table,
                                const QString &keyColumns, const QString &condition)
{
    FGrid = grid;
    FDataSet = dataSet;
    FTableSql = table;
    FKeyColumns = keyColumns;
    FCondition = condition;

    m_columns.clear();
    {
        const QSignalBlocker block(CBCampo);
        CBCampo->clear();
    }
    QAbstractItemModel *model = grid ? grid->model() : nullptr;
    if (!model || !dataSet)
        return true;
    const auto *productModel = qobject_cast<ProductGridModel *>(model);
    const QHeaderView *header = grid->horizontalHeader();
    const int columns = model->columnCount();
    for (int visual = 0; visual < columns; ++visual) {
        const int logical = header ? header->logicalIndex(visual) : visual;
        if (logical < 0 || grid->isColumnHidden(logical))
            continue;
        QString title = model->headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString();
        QString field;
        if (productModel) {
            const auto &cols = ProductGridModel::gridColumns();
            if (logical >= cols.size() || cols.at(logical).computed)
                continue;
            field = cols.at(logical).field;
        } else {
            field = model->headerData(logical, Qt::Horizontal, Qt::UserRole).toString();
        }
        // Only columns of the dataset itself: computed and looked-up
        // columns have nothing to search in the table.
        if (field.isEmpty() || !dataSet->hasField(field))
            continue;
        m_columns.push_back({title, field});
        const QSignalBlocker block(CBCampo);
        CBCampo->addItem(title);
    }
    return true;
}

QString TFormSearchData::GetFieldNameFromCaption(const QString &caption) const
{
    for (const Column &c : m_columns)
        if (c.title == caption)
            return c.field;
    return QString();
}

void TFormSearchData::FormShow()
{
    // Top edge of the screen, 874 pixels from its left (pulled in when the
    // screen is too narrow to show the whole window there).
    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = s ? s->geometry() : QRect(0, 0, 1280, 1024);
    const int frameExtra = frameGeometry().width() - width();
    const int left = std::max(area.left(), std::min(area.left() + kLeft, area.right() + 1 - width() - frameExtra));
    move(left, area.top());
    EditDado->clear();
    if (CBCampo->count() > 0)
        CBCampo->setCurrentIndex(0);
    btnLocalizar->setEnabled(false);
}

void TFormSearchData::EditDadoChange()
{
    btnLocalizar->setEnabled(!EditDado->text().isEmpty());
    btnProximo->setEnabled(false);
}

void TFormSearchData::CBCampoChange()
{
    btnProximo->setEnabled(false);
}

void TFormSearchData::rgOpcoesClick()
{
    btnProximo->setEnabled(false);
}

bool TFormSearchData::FormKeyDown(int key)
{
    if (key == Qt::Key_Escape) {
        btnCancelarClick();
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (btnLocalizar->isEnabled())
            btnLocalizarClick();
        return true;
    }
    return false;
}

void TFormSearchData::showMessage(const QString &text)
{
    // The message box must not count as another window taking over.
    m_inMessage = true;
    operatorDialogs().message(kCaptionInformation, text, DialogIcon::Information);
    m_inMessage = false;
}

QString TFormSearchData::upperFunctionFor(const QSqlDatabase &db) const
{
    // "UCase" is the Access engine's; our engine layer registers it on every
    // connection it opens, so the program's own database counts as one.
    const QString connection = (db.driverName() + QLatin1Char(';') + db.connectOptions()).toUpper();
    if (connection.contains(QLatin1String("MICROSOFT")) || db.driverName() == QLatin1String("QSQLITE"))
        return QStringLiteral("UCase");
    return QStringLiteral("Upper");
}

bool TFormSearchData::isBooleanField(const QString &field) const
{
    // The declared type of the column in the searched table.
    static const QRegularExpression fromTable(QStringLiteral("\\bFROM\\s+\\[?([A-Za-z_][A-Za-z0-9_]*)"),
                                              QRegularExpression::CaseInsensitiveOption);
    QString table = FTableSql.trimmed();
    if (table.contains(QLatin1String("SELECT"), Qt::CaseInsensitive)) {
        const auto m = fromTable.match(FTableSql);
        if (!m.hasMatch())
            return false;
        table = m.captured(1);
    }
    QSqlQuery q(qrySearch.database());
    if (!q.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(QString(table).remove(QLatin1Char('"')))))
        return false;
    while (q.next()) {
        if (q.value(1).toString().compare(field, Qt::CaseInsensitive) == 0) {
            const QString type = q.value(2).toString().toLower();
            return type == QLatin1String("bit") || type == QLatin1String("bool") ||
                   type == QLatin1String("boolean") || type == QLatin1String("yesno");
        }
    }
    return false;
}

void TFormSearchData::btnLocalizarClick()
{
    if (!FDataSet || FDataSet->isEmpty()) {
        showMessage(kNoRows);
        return;
    }
    FTableSql = FTableSql.toUpper();

    qrySearch.close();
    qrySearch.SQL.clear();
    qrySearch.bindings.clear();
    if (FTableSql.contains(QLatin1String("SELECT")))
        qrySearch.SQL << FTableSql;
    else
        qrySearch.SQL << QStringLiteral("Select * From ") + FTableSql;

    QString text = searchPatternText(EditDado->text());
    const QString field = GetFieldNameFromCaption(CBCampo->currentText());
    if (field.isEmpty()) {
        showMessage(kNotFound);
        btnProximo->setEnabled(false);
        return;
    }
    if (isBooleanField(field))
        text = booleanSearchText(text);

    QString clause = FTableSql.contains(QLatin1String("WHERE")) ? QStringLiteral(" And ") : QStringLiteral(" Where ");
    if (!FCondition.isEmpty())
        clause += FCondition + QStringLiteral(" And ");
    FUpperFunction = upperFunctionFor(qrySearch.database());

    QString pattern;
    switch (rgOpcoes->itemIndex()) {
    case 1:
        pattern = text + QLatin1Char('%');
        break;
    case 2:
        pattern = text;
        break;
    default:
        pattern = QLatin1Char('%') + text + QLatin1Char('%');
        break;
    }
    qrySearch.SQL << clause + FUpperFunction + QStringLiteral("( ") + field + QStringLiteral(") Like ?");
    qrySearch.bindings << pattern;

    QString error;
    if (!qrySearch.open(&error)) {
        // The dialog stays as it was; the engine's text goes to the
        // program's error box.
        m_inMessage = true;
        showApplicationError(error);
        m_inMessage = false;
        return;
    }
    if (qrySearch.count() == 0 || !LocateTable()) {
        showMessage(kNotFound);
        btnProximo->setEnabled(false);
        return;
    }
    btnProximo->setEnabled(true);
}

bool TFormSearchData::LocateTable()
{
    if (!FDataSet)
        return false;
    const int first = GetTextDelimited(FKeyColumns, 0);
    if (first < 0 || first >= qrySearch.fieldCount())
        return false;
    const QString name1 = qrySearch.fieldName(first);
    const QString value1 = qrySearch.value(first).toString();
    const int second = GetTextDelimited(FKeyColumns, 1);
    if (second >= 0) {
        if (second >= qrySearch.fieldCount())
            return false;
        return FDataSet->locate({name1, qrySearch.fieldName(second)},
                                {value1, qrySearch.value(second).toString()});
    }
    return FDataSet->locate({name1}, {value1});
}

void TFormSearchData::btnProximoClick()
{
    if (!qrySearch.next() || !LocateTable())
        showMessage(kNotFound);
}

void TFormSearchData::btnCancelarClick()
{
    if (FGrid && FGrid->isVisible())
        FGrid->setFocus();
    close();
}

void TFormSearchData::FormDeactivate()
{
    close();
}

void TFormSearchData::FormClose()
{
    qrySearch.close();
}

void TFormSearchData::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TFormSearchData::closeEvent(QCloseEvent *event)
{
    FormClose();
    QDialog::closeEvent(event);
}

void TFormSearchData::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow() && !m_inMessage) {
        // Another window of the program took over (a click on the product
        // list, for example); windows of other programs do not count.
        QWidget *active = QApplication::activeWindow();
        if (active && active != this)
            FormDeactivate();
    }
}

bool TFormSearchData::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (FormKeyDown(key->key()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormSearchData::keyPressEvent(QKeyEvent *event)
{
    if (FormKeyDown(event->key()))
        return;
    QDialog::keyPressEvent(event);
}

} // namespace torvane::manager
