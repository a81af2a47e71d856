#pragma once
// frmProdutos: the manager's main window.  The product list in a grid, the
// current product in the edit panel above it, the save procedure that
// validates each save and derives the columns the scale reads, and the
// commands of the toolbar and of the menu "Arquivo".
//
// Handlers live in several files: ProductForm.cpp (start-up, editing, saving,
// sorting, closing), ProductFormBulk.cpp (bulk changes, clearing, code size,
// barcode illustration), ProductFormImport.cpp (import, search, print),
// ProductFormSheet.cpp (products to and from a spreadsheet) and
// ProductFormCopies.cpp (the copies of the base).

#include "BaseCopies.h"
#include "CodePlan.h"
#include "ProductHistory.h"
#include "ProductGridModel.h"
#include "ProductQuery.h"
#include "ProductRules.h"
#include "RadioGroup.h"
#include "Upgrade.h"

#include <QMainWindow>

#include <functional>
#include <optional>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QTableView;
class QToolBar;
class QToolButton;

namespace torvane::manager {

class TDM;
class TfrmStatus;
class ProductImport;
struct ImportOutcome;
class TfrmVendas;
class TfrmHistorico;
class TfrmConferirBalanca;

class TfrmProdutos : public QMainWindow, private db::UpgradeHost {
    Q_OBJECT
public:
    // dm and status are the program's data module and progress window
    // (DM and frmStatus); the form uses them for its whole life.
    TfrmProdutos(TDM *dm, TfrmStatus *status, QWidget *parent = nullptr);
    ~TfrmProdutos() override;

    // ---- Members other commands use ------------------------------------------
    bool flgSemValidacao = false; // the next save skips validation (one shot)
    QString strOrdem;             // ORDER BY clause of the product list
    QString strDirPrograma;       // directory of the program file

    TDM *dm() const { return m_dm; }
    TfrmStatus *status() const { return m_status; }

    // ---- Data ----------------------------------------------------------------
    ProductQuery *qryProdutos;
    AuxQuery qryAux;
    ProductGridModel *dsProdutos;

    // ---- Controls --------------------------------------------------------------
    QToolBar *ToolBar1;
    QToolButton *btnEditar;
    QToolButton *btnExcluir;
    QToolButton *btnGravar;
    QToolButton *btnCancelar;
    QToolButton *ToolButton3; // Localizar
    QToolButton *ToolButton1; // Imprimir
    QToolButton *ToolButton5; // Rirodidovu
    QToolButton *ToolButton4; // Sair

    QWidget *Panel1;
    QLabel *lblCodigoTitle;
    QLineEdit *edtCodigo;
    QLabel *lblDescTitle;
    QLineEdit *edtDesc;
    QLabel *lblPUTitle;
    QLineEdit *edtPU;
    QLabel *lblTaraTitle;
    QLineEdit *edtTara;
    QGroupBox *gbValidade;
    QLineEdit *edtValidade;
    QToolButton *SpeedButton3;
    RadioGroup *dbrbTipo;
    QLabel *lblSetor;
    QComboBox *cbSetor;
    QGroupBox *gbCB;
    QLabel *lblPrefixo1;
    QLineEdit *edtPrefixo;
    QLabel *lblPrefixo2;
    QLineEdit *edtPrefixob;
    RadioGroup *dbrbTP;
    QLabel *Image2;
    QLabel *lblPrefixo;
    QLabel *lblCodigo;
    QLabel *lblPeso;
    QLabel *lblDV;
    QToolButton *SpeedButton1;

    QTableView *DBGrid1;
    QStatusBar *StatusBar1;

    QMenu *Arquivo1;
    QMenu *AlterarTodosProdutos1;
    QAction *Prefixo11;
    QAction *Prefixo21;
    QMenu *PesoOuTotal1;
    QAction *Peso1;
    QAction *Total1;
    QAction *LimparTodosProdutos1;
    QAction *Configurar2;
    QAction *Importar1;
    QAction *ImportarPlanilha1;
    QAction *Exportar1;
    QAction *RestaurarCopia1;
    QAction *Historico1;
    QAction *Vendas1;
    QAction *ConferirBalanca1;
    // Created on first use, kept for the run.
    TfrmVendas *frmVendas = nullptr;
    TfrmConferirBalanca *frmConferirBalanca = nullptr;
    TfrmHistorico *frmHistorico = nullptr;

    // ---- Operations (ProductForm.cpp) -----------------------------------------
    // The start sequence, run once when the window is first shown (queued
    // after the show, or called directly).  False when it stopped early.
    bool FormShow();
    bool startSequenceDone() const { return m_started; }
    // Result of the upgrade of the last start sequence.
    db::DatabaseUpgrade::Result upgradeResult() const { return m_upgradeResult; }
    QStringList upgradeStatements() const { return m_upgradeStatements; }
    qint64 upgradeBackFillNanoseconds() const { return m_upgradeBackFillNs; }
    // The time every copy of the base made before a command took, together
    // (the benchmarks print it apart from the commands' own work).
    qint64 copiesNanoseconds() const { return m_copiesNs; }

    void FiltraProdutos();
    // Clears the current row (a free slot).  False when the save failed: the
    // error was shown and the row keeps its values.
    bool LimpaRegistro();
    // The values a cleared row takes (pluNo, Prefixb, BarcodeMode and
    // flgDel keep theirs), set on the row in edit.
    static void setClearedValues(ProductQuery &q);
    // The save procedure: true lets the save go ahead.
    bool qryProdutosBeforePost();
    bool qryProdutosInsideSave();
    // Shows a refused save's message and puts the cursor on its field;
    // always false.
    bool refuseSave(const rules::Refusal &refusal);
    // Whether another product has the row's pluCode; nullopt when the
    // look-up failed (its error shown).
    std::optional<bool> codeTaken();

    // ---- The settings and the code gate ----------------------------------------
    // The code size and second prefix the saves build pluCode with.
    CodeSettings codeSettings() const;
    // Reads the settings row as stored now (unless a bulk change holds the
    // ones it read); the code fields follow a change made elsewhere.
    bool readSettings(QString *error);
    // Held by a bulk change for its one transaction: the settings are read
    // once at its start, inside it, and not again for every row.
    class SettingsHeld {
    public:
        // Already: the caller has just read them itself (the upgrade).
        enum class Read { Now, Already };
        SettingsHeld(TfrmProdutos &form, QString *error, Read read = Read::Now);
        ~SettingsHeld();
        bool ok() const { return m_ok; }

    private:
        TfrmProdutos &m_form;
        bool m_ok;
    };
    // The rows of the list as the code gate (CodePlan) sees them.
    QVector<StoredCode> storedCodes() const;
    // pluCode of the row in edit from its code, its second prefix and the
    // settings.
    void rebuildPluCode();
    void qryProdutosAfterPost();
    void qryProdutosAfterScroll();
    // Shows edtPrefixob and lblPrefixo2 when CodeSize is not 6 and the
    // second prefix is in use; sets edtCodigo's length to CodeSize.
    void AjustaCamposCodigo();
    // Writes the fields of the edit panel to the row in edit.  A value that
    // does not convert is shown in the standard error box; false then.
    bool GravaCampos();
    // Shows the current row in the fields.
    void MostraRegistro();
    // Saves the row in edit the way every command does: the fields are
    // written first when the operator typed them (fromFields).  Database
    // errors are shown in the standard error box.
    ProductQuery::PostResult SalvaRegistro(bool fromFields);
    void EstadoEdicao(bool editing);

    void btnEditarClick();
    void btnGravarClick();
    void btnCancelarClick();
    void cbSetorChange(int index);
    void DBGrid1TitleClick(int section);
    void OrdenaColuna(const QString &fieldName);
    void ToolButton4Click();
    void ToolButton5Click();
    void SpeedButton3Click();

    // ---- Bulk changes, clearing, code size, illustration (ProductFormBulk.cpp)
    void Prefixo11Click();
    void Prefixo21Click();
    void Peso1Click();
    void Total1Click();
    void LimparTodosProdutos1Click();
    void btnExcluirClick();
    void Configurar2Click();
    void SpeedButton1Click();
    void MontaCB();
    void edtPrefixoExit();
    void dbrbTPChange();
    // Decodes the barcode picture into Image2 (an empty frame if it fails).
    void MostraFiguraCB();
    // The menu "Arquivo" waits while a row is in edit, like the toolbar.
    void EstadoMenu(bool editing);

    // ---- Import, search, print (ProductFormImport.cpp) -----------------------
    void Importar1Click();
    // Where the import's log goes: the program's folder, else the
    // database's; empty (the operator told) when neither can take it.
    QString PastaLogImportacao();
    // Runs an import (the fixed-column file or a spreadsheet) over the
    // product list, with the progress window and the log in logDir, and
    // tells the operator how it ended.
    void ExecutaImportacao(const QString &logDir, const std::function<ImportOutcome(ProductImport &)> &run);

    // ---- Products to and from a spreadsheet (ProductFormSheet.cpp) -----------
    void ImportarPlanilha1Click();
    void Exportar1Click();

    // ---- Copies of the base (ProductFormCopies.cpp) --------------------------
    // The copy an operation makes before it changes products; false when it
    // could not be made and the operator chose not to go on without it.
    // *path gets the copy made (empty when none was).
    bool CopiaAntes(db::CopyReason reason, QString *path = nullptr);
    void RestaurarCopia1Click();
    // Asks, copies the base as it is, writes the copy into it and runs the
    // start sequence again (the copy may be of an older version).
    bool RestauraCopia(const db::BaseCopy &copy);

    // ---- The scale's sales and products, the products' history
    //      (ProductFormScale.cpp) ---------------------------------------------
    void Vendas1Click();
    void ConferirBalanca1Click();
    // "Histórico" on the current product.
    void Historico1Click();
    void ToolButton3Click();
    void ToolButton1Click();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildToolBar();
    void buildPanel();
    void buildGrid();
    void buildMenu();
    void syncGridSelection();

    // UpgradeHost
    void showInformation(const QString &text) override;
    void closeMainWindow() override;
    bool openProductList(QString *error) override;
    int productCount() override;
    void firstProduct() override;
    void nextProduct() override;
    QString currentPluCode() override;
    bool currentHasCodigo() override;
    SaveResult saveCurrentCodigo(qint64 codigo, QString *error) override;
    bool beforeChange() override;
    bool backFillAllowed() override;
    bool finishSaves(QString *error) override;
    void progressMessage(const QString &text) override;
    void progressShow(const QString &caption, int maximum) override;
    void progressStep() override;
    void progressHide() override;

    TDM *m_dm;
    TfrmStatus *m_status;
    bool m_started = false;
    bool m_validatedSave = false; // the save in progress went through the checks
    // The saves of the code filling, sent many at a time on a server; while
    // it lives, every code being filled was checked at once beforehand.
    std::unique_ptr<ProductQuery::Batch> m_fillBatch;
    int m_settingsHeld = 0;
    bool m_startQueued = false;
    bool m_showingRow = false;
    db::DatabaseUpgrade::Result m_upgradeResult;
    QStringList m_upgradeStatements;
    qint64 m_upgradeBackFillNs = 0;
    qint64 m_copiesNs = 0;
};

} // namespace torvane::manager
