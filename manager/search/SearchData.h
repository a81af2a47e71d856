#pragma once
// FormSearchData ("Localizar Registro"): finds rows of a grid by the
// contents of one of its columns.  It runs its own query over the grid's
// table and moves the grid's dataset onto each match in turn, by key
// columns.  Modeless, always on top; it closes when another window of the
// program becomes active.
//
// The operator's text is bound to the statement as a parameter, never
// pasted into it: an apostrophe searches for an apostrophe, while % and _
// still act as the Like wildcards.

#include <QDialog>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTableView;
class QToolButton;

namespace torvane::manager {

class ProductQuery;
class RadioGroup;

// The search statement (qrySearch): its own query over the connection the
// caller gives it, with every result row held so "Próximo" can step on.
class SearchQuery {
public:
    void setDatabase(const QSqlDatabase &db) { m_db = db; }
    QSqlDatabase database() const { return m_db; }

    // The statement as lines, as it is built.
    QStringList SQL;
    // Values bound to the statement's "?" in order.
    QVariantList bindings;

    // Runs the statement; false with *error (the engine's text) on failure.
    bool open(QString *error);
    void close();
    bool isOpen() const { return m_open; }
    // The statement that ran (the lines joined).
    QString text() const { return SQL.join(QLatin1Char('\n')); }

    int count() const { return int(m_rows.size()); }
    int recNo() const { return m_current; }
    bool next();
    QString fieldName(int column) const { return m_fields.value(column); }
    int fieldCount() const { return int(m_fields.size()); }
    QVariant value(int column) const;

private:
    QSqlDatabase m_db;
    bool m_open = false;
    QStringList m_fields;
    QVector<QVariantList> m_rows;
    int m_current = -1;
};

// The text the search puts into its pattern: capitals A to Z stay, every
// other character (accented capitals included) in lower case.
QString searchPatternText(const QString &typed);
// For a yes/no column: NÃO, NAO, FALSE become 0; SIM and TRUE become 1.
QString booleanSearchText(const QString &text);
// The n-th (from 0) ";"-separated part as an integer; -1 when it is empty
// or missing.
int GetTextDelimited(const QString &text, int n);

class TFormSearchData : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 321;
    static constexpr int kClientHeight = 185;
    static constexpr int kLeft = 874;

    explicit TFormSearchData(QWidget *parent = nullptr);
    ~TFormSearchData() override;

    // Binds the dialog to a grid and the dataset it shows, the table (or a
    // whole SELECT) to search, the key columns ("00;" = the first column of
    // the result) and an extra condition (empty for none).  The grid's
    // columns name their fields through ProductGridModel, or through the
    // header's Qt::UserRole for other models.
    bool SetSearch(QTableView *grid, ProductQuery *dataSet, const QString &table, const QString &keyColumns,
                   const QString &condition);

    QString GetFieldNameFromCaption(const QString &caption) const;
    bool LocateTable();

    // ---- Controls ----
    QGroupBox *GroupBox1;
    QLabel *lblCampo;
    QComboBox *CBCampo;
    QLabel *lblDado;
    QLineEdit *EditDado;
    RadioGroup *rgOpcoes;
    QWidget *ToolBar1;   // the flat button bar on the right
    QToolButton *btnLocalizar;
    QToolButton *btnProximo;
    QToolButton *btnCancelar;
    SearchQuery qrySearch;

    // ---- Members set by SetSearch ----
    QTableView *FGrid = nullptr;
    ProductQuery *FDataSet = nullptr;
    QString FTableSql;
    QString FKeyColumns;
    QString FCondition;
    QString FUpperFunction;

    // ---- Handlers ----
    void FormShow();
    void EditDadoChange();
    void CBCampoChange();
    void rgOpcoesClick();
    void btnLocalizarClick();
    void btnProximoClick();
    void btnCancelarClick();
    void FormDeactivate();
    void FormClose();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Column {
        QString title;
        QString field;
    };
    bool FormKeyDown(int key);
    void showMessage(const QString &text);
    bool isBooleanField(const QString &field) const;
    QString upperFunctionFor(const QSqlDatabase &db) const;

    QVector<Column> m_columns;
    bool m_inMessage = false;
};

extern TFormSearchData *FormSearchData;

} // namespace torvane::manager
