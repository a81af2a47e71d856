// Commands of the product form that change every product at once (prefixes,
// barcode content, clearing), the code-size setting, and the barcode
// illustration with its picture.
#include "ProductForm.h"

#include "BulkChanges.h"
#include "CodePlan.h"
#include "CodeSize.h"
#include "DataModule.h"
#include "JpegImage.h"
#include "OperatorDialogs.h"
#include "ProductRules.h"
#include "StatusWindow.h"
#include "Unitselect.h"
#include "Unitutil.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>

#include <cstdio>

// Qt resources of a static library are registered by name, outside any
// namespace.
static void registerBarcodeResource()
{
    Q_INIT_RESOURCE(barcode);
}

namespace torvane::manager {

namespace {

const QString kWaitCaption = QStringLiteral("Aguarde...");

// Hides the progress window and clears the one-shot flag however the
// protected part of a command ends.
class ProgressEnd {
public:
    ProgressEnd(TfrmProdutos &form)
        : m_form(form)
    {
    }
    ~ProgressEnd()
    {
        m_form.status()->HideProgress();
        m_form.flgSemValidacao = false;
    }

private:
    TfrmProdutos &m_form;
};

// The commands that change every product are not offered while a row is in
// edit (their menu entries are disabled then); called anyway, they leave the
// pending edit alone and do nothing.
bool listReady(TfrmProdutos &form)
{
    if (form.qryProdutos->isEditing())
        return false;
    if (!form.qryProdutos->isOpen()) {
        showApplicationError(QStringLiteral("A lista de produtos não está aberta"));
        return false;
    }
    return true;
}

// After a command the toolbar, the grid and the menu follow the row's state.
void syncEditState(TfrmProdutos &form)
{
    form.EstadoEdicao(form.qryProdutos->isEditing());
}

// The start of a change that rewrites every product's scale code, inside
// the change's transaction: the settings and the rows are read as stored
// now (another PC may have saved either since this PC loaded them), every
// new code is worked out with the settings the saves will use, and a change
// that would give two products one code is refused (notDone says what was
// not changed) before anything is written.  The plan orders the saves.
std::optional<CodePlan> planEveryRow(TfrmProdutos &form, const CodeSettings &settings,
                                     const std::function<void(CodePlan &, int row)> &save, const QString &notDone)
{
    QString error;
    if (!form.qryProdutos->open(&error)) {
        showApplicationError(error);
        return std::nullopt;
    }
    CodePlan plan(form.storedCodes(), settings);
    for (int r = 0; r < form.qryProdutos->count(); ++r)
        save(plan, r);
    if (!plan.check()) {
        showError(plan.refusal(notDone));
        return std::nullopt;
    }
    return plan;
}

WalkOrder walkOrder(const CodePlan &plan)
{
    return {plan.order(), plan.parked()};
}

void changePrefix(TfrmProdutos &form, int which)
{
    if (!listReady(form))
        return;
    const QString n = QString::number(which);
    QString answer;
    if (!InputValue(QStringLiteral("Escolha o prefixo ") + n, QStringLiteral("Prefixo ") + n + QStringLiteral(" (0 a 9):"),
                    answer, QLatin1Char('N'), 0, 9, false))
        return;
    const QString column = which == 1 ? QStringLiteral("preFix") : QStringLiteral("Prefixb");
    const std::optional<int> digit = prefixDigit(answer);
    if (!form.CopiaAntes(which == 1 ? db::CopyReason::Prefix1 : db::CopyReason::Prefix2))
        return;
    const db::HistoryOperation operation(form.qryProdutos->database(), QStringLiteral("Prefixo ") + n);

    // One transaction: the settings and the rows are read in it once, the
    // plan is made on them, every row is saved in it.
    QString error;
    ProductsTransaction transaction(form.qryProdutos->database());
    TfrmProdutos::SettingsHeld settings(form, &error);
    if (!transaction.ok(&error) || !settings.ok()) {
        showApplicationError(error);
        return;
    }
    const std::optional<CodePlan> plan = planEveryRow(
        form, form.codeSettings(),
        [&](CodePlan &p, int r) {
            if (which == 2 && digit)
                p.save(r, form.qryProdutos->value(r, QStringLiteral("Codigo")), *digit);
            else
                p.save(r);
        },
        QStringLiteral("O prefixo ") + n + QStringLiteral(" não foi alterado"));
    if (!plan) {
        syncEditState(form);
        return;
    }
    const WalkOrder order = walkOrder(*plan);

    TfrmStatus *status = form.status();
    status->SetMessage(QStringLiteral("Alterando o prefixo ") + n + QStringLiteral(" dos produtos..."));
    status->ShowProgress(&form, kWaitCaption, TfrmStatus::Bar, form.qryProdutos->count(), TfrmStatus::ScreenCentre);
    RowWalkResult result;
    {
        ProgressEnd end(form);
        result = walkProducts(
            *form.qryProdutos, form.flgSemValidacao,
            [&](ProductQuery &row, QString *error) {
                if (!digit) {
                    *error = notAnIntegerMessage(answer);
                    return false;
                }
                row.setValue(column, *digit);
                return true;
            },
            [status] { status->StepProgress(); }, &order);
        // The rows saved before a failure keep the new value.
        if (!transaction.commit(&error)) {
            result.completed = false;
            result.rolledBack = true;
            result.error = error;
        }
    }
    if (result.rolledBack)
        form.FiltraProdutos();
    syncEditState(form);
    if (!result.completed) {
        if (!result.error.isEmpty())
            showApplicationError(result.error);
        return;
    }
    showInformation(QStringLiteral("Prefixo ") + n + QStringLiteral(" alterado com sucesso!!!"));
}

void setBarcodeMode(TfrmProdutos &form, int mode, const QString &question, const QString &success)
{
    if (!listReady(form))
        return;
    if (!askChoice(question))
        return;
    if (!form.CopiaAntes(db::CopyReason::BarcodeMode))
        return;
    QString error;
    if (!form.qryAux.exec(barcodeModeStatement(mode), {}, &error)) {
        showApplicationError(error);
        return;
    }
    // The list comes back in its current order, on its first row.
    form.qryProdutos->close();
    if (!form.qryProdutos->open(&error)) {
        syncEditState(form);
        showApplicationError(error);
        return;
    }
    syncEditState(form);
    showInformation(success);
}

// The selection dialog of the program, or one of this form's own when the
// program has not made one (a form built on its own, as in the tools).
TfrmSelect *selectDialog(TfrmProdutos &form)
{
    if (frmSelect)
        return frmSelect;
    auto *own = form.findChild<TfrmSelect *>(QString(), Qt::FindDirectChildrenOnly);
    return own ? own : new TfrmSelect(&form);
}

} // namespace

// ---- Prefixes and barcode content of all products ---------------------------------

void TfrmProdutos::Prefixo11Click()
{
    changePrefix(*this, 1);
}

void TfrmProdutos::Prefixo21Click()
{
    changePrefix(*this, 2);
}

void TfrmProdutos::Peso1Click()
{
    setBarcodeMode(*this, 1,
                   QStringLiteral("Você está prestes a alterar todos os produtos para impressão\nde PESO no código de barras.\nContinuar ?"),
                   QStringLiteral("Imprimir Peso alterado com sucesso!!!"));
}

void TfrmProdutos::Total1Click()
{
    setBarcodeMode(*this, 2,
                   QStringLiteral("Você está prestes a alterar todos os produtos para impressão\nde TOTAL no código de barras.\nContinuar ?"),
                   QStringLiteral("Imprimir Total alterado com sucesso!!!"));
}

// ---- Clearing ------------------------------------------------------------------------

void TfrmProdutos::LimparTodosProdutos1Click()
{
    if (!listReady(*this))
        return;
    if (!askChoice(QStringLiteral("Confirma limpar todos produtos ?\nEssa operação é irreversível")))
        return;
    if (!CopiaAntes(db::CopyReason::ClearAll))
        return;
    const db::HistoryOperation operation(qryProdutos->database(), QStringLiteral("Limpar todos produtos"));

    // No progress window: the window stays busy until the last row is clear.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool cleared = true;
    QString commitError;
    {
        ProductsTransaction transaction(qryProdutos->database());
        SettingsHeld held(*this, &commitError);
        // The fields and the grid show the list once, when it is clear.
        ProductQuery::Quiet quiet(*qryProdutos);
        ProductQuery::Batch batch(*qryProdutos);
        if (!transaction.ok(&commitError) || !held.ok())
            cleared = false;
        else if (!qryProdutos->isEmpty()) {
            qryProdutos->first();
            for (;;) {
                if (!LimpaRegistro()) { // shows its own error
                    cleared = false;
                    break;
                }
                if (qryProdutos->recNo() >= qryProdutos->count() - 1)
                    break;
                if (!qryProdutos->next()) {
                    cleared = false;
                    break;
                }
            }
        }
        // A clear sent with a later batch that failed: the rows from it on
        // are as they were, and the walk stops there.
        if (!batch.finish() && cleared) {
            cleared = false;
            showApplicationError(qryProdutos->lastError());
        }
        if (!transaction.commit(&commitError))
            cleared = false;
    }
    flgSemValidacao = false;
    QApplication::restoreOverrideCursor();
    if (!commitError.isEmpty()) {
        FiltraProdutos();
        showApplicationError(commitError);
    }
    syncEditState(*this);
    if (!cleared)
        return;
    if (!qryProdutos->isEmpty())
        qryProdutos->first();
    showInformation(QStringLiteral("Limpeza concluída com sucesso!!!"));
}

void TfrmProdutos::btnExcluirClick()
{
    // Only while browsing, and only when there is a product to clear.
    if (qryProdutos->isEditing() || qryProdutos->recNo() < 0)
        return;
    if (askChoice(QStringLiteral("Confirma limpar o produto selecionado ?"))) {
        const db::HistoryOperation operation(qryProdutos->database(), QStringLiteral("Limpar"));
        LimpaRegistro();
    }
    syncEditState(*this);
}

// ---- Code size ---------------------------------------------------------------------------

void TfrmProdutos::Configurar2Click()
{
    if (!listReady(*this))
        return;
    db::ConfigRow &config = m_dm->qryConfig;
    if (!config.isOpen()) {
        showApplicationError(QStringLiteral("As configurações não estão abertas"));
        return;
    }
    // The size as stored now: another PC may have changed it.
    QString error;
    if (!readSettings(&error)) {
        showApplicationError(error);
        return;
    }
    const int oldSize = config.codeSize();

    TfrmSelect *dialog = selectDialog(*this);
    dialog->SetOptions(TfrmSelect::kSingleChoice, QStringLiteral("Tamanho do código do produto:"),
                       QStringLiteral("4;5;6;"), oldSize - 4);
    if (dialog->exec() != TfrmSelect::ResultOk)
        return;
    // Ok with no size chosen changes nothing (it would ask for a size of 3).
    if (dialog->Selection < 0 || dialog->Selection > 2)
        return;
    const int newSize = 4 + dialog->Selection;

    const bool usePrefix2 = secondPrefixChoice(
        newSize, config.flgPrefixo2(),
        newSize != 6 && askChoice(QStringLiteral("Seu código de barras vai usar o segundo prefixo ?")));
    if (newSize == config.codeSize() && usePrefix2 == config.flgPrefixo2())
        return;
    // Every new code is worked out before anything is written: a change
    // that would give two products one code, or leave a product with code
    // 0, changes nothing and says which products are in the way.  Asked
    // first on the list as shown, before the confirmation; again inside the
    // change, on the rows and settings as stored then.
    const QString notDone = QStringLiteral("O tamanho do código não foi alterado");
    auto cutTo = [&](int fromSize) {
        return [this, fromSize, newSize](CodePlan &plan, int r) {
            const QVariant code = qryProdutos->value(r, QStringLiteral("Codigo"));
            plan.save(r, code.isNull() ? code : QVariant(rules::cutCode(code.toLongLong(), fromSize, newSize)),
                      qryProdutos->value(r, QStringLiteral("Prefixb")).toLongLong());
        };
    };
    {
        CodePlan shown(storedCodes(), {newSize, usePrefix2});
        for (int r = 0; r < qryProdutos->count(); ++r)
            cutTo(oldSize)(shown, r);
        if (!shown.check()) {
            showError(shown.refusal(notDone));
            return;
        }
    }

    if (!askChoice(QStringLiteral("Você está alterando o tamanho do código do produto.\nAo confirmar, os código "
                                  "existentes serão modificados\npara atender o novo padrão e a alteração será "
                                  "irreversível.\n\nContinuar ?")))
        return;
    if (!CopiaAntes(db::CopyReason::CodeSize))
        return;
    const db::HistoryOperation operation(qryProdutos->database(), QStringLiteral("Configurar"));

    // The settings and the rewritten codes are stored together or not at
    // all: a failure half-way (a full disk, a lock) must not leave the
    // settings saying one size while the codes keep another.
    RowWalkResult result;
    bool refused = false;
    {
        ProductsTransaction together(qryProdutos->database());
        SettingsHeld held(*this, &error);
        ProgressEnd end(*this);
        std::optional<CodePlan> plan;
        if (!together.ok(&error) || !held.ok()) {
            result.error = error;
        } else {
            // The size the stored codes have now is the one they are cut from.
            plan = planEveryRow(*this, {newSize, usePrefix2}, cutTo(config.codeSize()), notDone);
            refused = !plan;
        }
        if (plan) {
            config.edit();
            config.setFlgPrefixo2(usePrefix2);
            config.setCodeSize(newSize);
            if (!config.post(&error)) {
                config.cancel();
                result.error = error;
                plan.reset();
            }
        }
        // Without a plan nothing was written; the transaction rolls back.
        if (plan) {
            const WalkOrder order = walkOrder(*plan);
            m_status->SetMessage(QStringLiteral("Alterando os códigos dos produtos..."));
            m_status->ShowProgress(this, kWaitCaption, TfrmStatus::Bar, qryProdutos->count(), TfrmStatus::ScreenCentre);
            // Saving rebuilds pluCode from the new settings; a smaller size
            // also cuts the code itself.
            result = walkProducts(
                *qryProdutos, flgSemValidacao,
                [&plan](ProductQuery &row, QString *) {
                    const QVariant code = plan->newCodigo(row.recNo());
                    if (!code.isNull())
                        row.setValue(QStringLiteral("Codigo"), code);
                    return true;
                },
                [this] { m_status->StepProgress(); }, &order);
            if (result.completed && !together.commit(&error)) {
                result.completed = false;
                result.error = error;
            }
        }
    }
    if (!result.completed) {
        // Nothing was stored: the settings and the list show the file again.
        QString reread;
        if (!config.open(qryProdutos->database(), &reread) && result.error.isEmpty())
            result.error = reread;
        FiltraProdutos();
        if (!result.error.isEmpty())
            result.error = QStringLiteral("O tamanho do código não foi alterado e nenhum produto foi modificado. %1")
                               .arg(result.error);
    }
    edtCodigo->setMaxLength(m_dm->codeSize());
    AjustaCamposCodigo();
    syncEditState(*this);
    if (!result.completed && !refused && !result.error.isEmpty())
        showApplicationError(result.error);
}

// ---- Barcode illustration ------------------------------------------------------------------

void TfrmProdutos::SpeedButton1Click()
{
    torvane::manager::showInformation(barcodeHelpText());
}

void TfrmProdutos::MontaCB()
{
    const BarcodeLabels l = layoutBarcodeLabels(edtPrefixo->text(),
                                                qryProdutos->value(QStringLiteral("pluCode")).toString(),
                                                dbrbTP->itemIndex() == 1, lblDV->text(), lblPrefixo->x());
    lblPrefixo->setText(l.prefixo);
    lblCodigo->setText(l.codigo);
    lblPeso->setText(l.peso);
    for (QLabel *label : {lblPrefixo, lblCodigo, lblPeso, lblDV})
        label->adjustSize();
    lblCodigo->move(l.codigoLeft, lblCodigo->y());
    lblPeso->move(l.pesoLeft, lblPeso->y());
    lblDV->move(l.dvLeft, lblDV->y());
}

void TfrmProdutos::edtPrefixoExit()
{
    MontaCB();
}

void TfrmProdutos::dbrbTPChange()
{
    MontaCB();
}

void TfrmProdutos::MostraFiguraCB()
{
    registerBarcodeResource();
    showJpegInFrame(Image2, QStringLiteral(":/manager/barcode.jpg"), QStringLiteral("código de barras"));
}

void TfrmProdutos::EstadoMenu(bool editing)
{
    // Each of these walks or reloads the list, which would store or drop the
    // pending edit behind the operator's back; the scale's windows wait too,
    // so the scale is never compared with a row half typed.
    for (QAction *a : {AlterarTodosProdutos1->menuAction(), Prefixo11, Prefixo21, PesoOuTotal1->menuAction(), Peso1,
                       Total1, LimparTodosProdutos1, Configurar2, Importar1, ImportarPlanilha1, Exportar1,
                       RestaurarCopia1, Vendas1, ConferirBalanca1})
        a->setEnabled(!editing);
}

} // namespace torvane::manager
