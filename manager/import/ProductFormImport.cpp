// Import, search and the printed listing of the product form.
#include "ProductForm.h"

#include "DataModule.h"
#include "Engine.h"
#include "OperatorDialogs.h"
#include "ProductImport.h"
#include "ReportProdutos.h"
#include "SearchData.h"
#include "StatusWindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace torvane::manager {

namespace {

// The product list as the import writes it: every row through the form's
// own save path, so pluCode is derived exactly as on any other save.
class FormImportTable : public ImportTable {
public:
    explicit FormImportTable(TfrmProdutos *form) : m_form(form), m_query(*form->qryProdutos) {}
    ~FormImportTable() override { commitBatch(nullptr); }

    int codeSize() override { return m_form->dm()->codeSize(); }

    void clearAllRows() override
    {
        for (int r = 0; r < m_query.count(); ++r)
            clearRow(r);
    }

    void markAllRows() override
    {
        saved();
        QString error;
        if (!m_form->qryAux.exec(QStringLiteral("Update plu Set flgDel = true"), {}, &error))
            throw ImportFailure(error);
        m_query.close();
        if (!m_query.open(&error))
            throw ImportFailure(error);
    }

    int rowCount() override { return m_query.count(); }

    std::optional<qint64> codigoAt(int row) override
    {
        const QVariant v = m_query.value(row, QStringLiteral("Codigo"));
        if (v.isNull())
            return std::nullopt;
        return v.toLongLong();
    }

    void writeRow(int row, const ImportedProduct &p) override
    {
        moveTo(row);
        m_form->flgSemValidacao = true;
        if (!m_query.edit())
            throw ImportFailure(m_query.lastError());
        m_query.setValue(QStringLiteral("Codigo"), p.codigo);
        m_query.setValue(QStringLiteral("flgDel"), false);
        m_query.setValue(QStringLiteral("sellFlag"), p.sellFlag);
        m_query.setValue(QStringLiteral("pluDesc"), p.description);
        m_query.setValue(QStringLiteral("unitPrice"), p.unitPrice);
        m_query.setValue(QStringLiteral("Preco"), p.preco);
        if (p.validDays)
            m_query.setValue(QStringLiteral("validDays"), *p.validDays);
        if (p.tareWeight) {
            m_query.setValue(QStringLiteral("Tara"), double(*p.tareWeight) / 1000.0);
            m_query.setValue(QStringLiteral("tareWeight"), *p.tareWeight);
        }
        for (const auto &[column, value] : {std::pair{"Setor", p.setor}, std::pair{"preFix", p.preFix},
                                            std::pair{"Prefixb", p.prefixb}, std::pair{"BarcodeMode", p.barcodeMode}})
            if (value)
                m_query.setValue(QLatin1String(column), *value);
        // The save procedure derives pluCode and, with the flag set, skips
        // its checks and clears the flag.
        if (m_query.post() != ProductQuery::PostResult::Posted) {
            const QString error = m_query.lastError();
            m_query.cancel();
            m_form->flgSemValidacao = false;
            throw ImportFailure(error);
        }
        saved();
    }

    void clearMarkedRows() override
    {
        for (int r = 0; r < m_query.count(); ++r)
            if (m_query.value(r, QStringLiteral("flgDel")).toBool())
                clearRow(r);
    }

    void moveFirst() override { m_query.first(); }

    void commit() override
    {
        QString error;
        if (!commitBatch(&error))
            throw ImportFailure(error);
    }

    void finish() override
    {
        // After a failure: keep what was written up to it.
        commitBatch(nullptr);
        m_form->flgSemValidacao = false;
    }

private:
    // Saves are grouped into short transactions: one commit (and one flush
    // to disk) per few hundred rows instead of one per row, while the write
    // lock is never held long enough to keep the transmitter waiting.  Rows
    // written before a failure are committed like the rest.
    static constexpr int kRowsPerCommit = 200;
    static constexpr qint64 kMsPerCommit = 250;

    void saved()
    {
        if (!m_inTransaction) {
            QSqlDatabase db = m_query.database();
            m_inTransaction = db.isValid() && db::beginTransaction(db);
            m_pending = 0;
            m_clock.start();
            return;
        }
        if (++m_pending >= kRowsPerCommit || m_clock.elapsed() >= kMsPerCommit) {
            commit();
            saved();
        }
    }
    bool commitBatch(QString *error)
    {
        if (!m_inTransaction)
            return true;
        m_inTransaction = false;
        QSqlDatabase db = m_query.database();
        if (db.commit())
            return true;
        if (error)
            *error = db::errorText(db.lastError());
        db.rollback();
        return false;
    }

    void moveTo(int row)
    {
        if (m_query.recNo() != row && !m_query.moveTo(row))
            throw ImportFailure(m_query.lastError());
    }
    void clearRow(int row)
    {
        moveTo(row);
        // LimpaRegistro shows its own error; the import only stops.
        if (!m_form->LimpaRegistro())
            throw ImportFailure(QString());
        saved();
    }

    TfrmProdutos *m_form;
    ProductQuery &m_query;
    bool m_inTransaction = false;
    int m_pending = 0;
    QElapsedTimer m_clock;
};

class StatusImportProgress : public ImportProgress {
public:
    StatusImportProgress(TfrmStatus *status, QWidget *owner) : m_status(status), m_owner(owner) {}
    void start(qint64 maximum) override
    {
        if (!m_status)
            return;
        m_status->SetMessage(QStringLiteral("Importando..."));
        const int max = int(std::min<qint64>(maximum, std::numeric_limits<int>::max()));
        m_status->ShowProgress(m_owner, QStringLiteral("Aguarde..."), TfrmStatus::Bar, max, TfrmStatus::ScreenCentre);
    }
    void step() override
    {
        if (m_status)
            m_status->StepProgress();
    }
    void finish() override
    {
        if (m_status)
            m_status->HideProgress();
    }

private:
    TfrmStatus *m_status;
    QWidget *m_owner;
};

} // namespace

void TfrmProdutos::Importar1Click()
{
    if (qryProdutos->isEditing()) {
        showError(QStringLiteral("Grave ou cancele o registro antes de importar."));
        return;
    }
    const QString path =
        operatorDialogs().openFileName(QStringLiteral("Importar"), strDirPrograma, QStringLiteral("*.TXT"));
    if (path.isEmpty())
        return;

    // A first look at the whole file, before anything changes.
    ImportSurvey survey;
    QString error;
    if (!surveyImportFile(path, &survey, &error)) {
        showError(error);
        return;
    }
    if (survey.lines == 0) {
        operatorDialogs().message(kCaptionInformation, QStringLiteral("O arquivo está vazio."),
                                  DialogIcon::Information);
        return;
    }
    if (survey.looksBinary()) {
        showError(QStringLiteral("O arquivo %1 não é um arquivo de texto com produtos. Nenhum produto foi alterado.")
                      .arg(QFileInfo(path).fileName()));
        return;
    }
    const QString logDir = PastaLogImportacao();
    if (logDir.isEmpty())
        return;

    const bool clearFirst = askChoice(QStringLiteral("Limpar dados existentes ?"));
    if (!CopiaAntes(db::CopyReason::Import))
        return;
    ExecutaImportacao(logDir, [&](ProductImport &import) { return import.run(path, survey, clearFirst); });
}

QString TfrmProdutos::PastaLogImportacao()
{
    // The log goes next to the program, or next to the database when the
    // program's folder is not writable (an installed program).
    const QString databaseDir = QFileInfo(m_dm->databasePath()).absolutePath();
    const QString logDir = ImportLog::chooseDirectory(strDirPrograma, databaseDir);
    if (logDir.isEmpty()) {
        showError(QStringLiteral("Não é possível gravar o arquivo %1 na pasta do programa (%2) nem na pasta do "
                                 "banco de dados (%3). Nenhum produto foi alterado.")
                      .arg(QLatin1String(ImportLog::kFileName), QDir::toNativeSeparators(strDirPrograma),
                           QDir::toNativeSeparators(databaseDir)));
    }
    return logDir;
}

void TfrmProdutos::ExecutaImportacao(const QString &logDir, const std::function<ImportOutcome(ProductImport &)> &run)
{
    FormImportTable table(this);
    ImportLog log(QDir(logDir).filePath(QLatin1String(ImportLog::kFileName)));
    StatusImportProgress progress(m_status, this);
    ProductImport import(table, log, &progress);
    ImportOutcome outcome;
    try {
        outcome = run(import);
    } catch (const ImportFailure &failure) {
        // Show what the database holds now.
        const int row = qryProdutos->recNo();
        FiltraProdutos();
        if (row > 0)
            qryProdutos->moveTo(std::min(row, qryProdutos->count() - 1));
        MostraRegistro();
        if (!failure.text().isEmpty())
            showApplicationError(failure.text());
        return;
    }
    MostraRegistro();
    MontaCB();

    if (outcome.errors() &&
        askChoice(QStringLiteral("Ocorreram erros durante a importação. Deseja visualizar ?")) &&
        !shellActions().openDocument(log.path()))
        operatorDialogs().message(kCaptionInformation,
                                  QStringLiteral("Nenhum programa abriu o arquivo de erros. Ele está em:\n%1")
                                      .arg(QDir::toNativeSeparators(log.path())),
                                  DialogIcon::Information);
}

void TfrmProdutos::ToolButton3Click()
{
    QString error;
    db::Connection *connection = m_dm->ADOC(&error);
    if (!connection) {
        showApplicationError(error);
        return;
    }
    if (!FormSearchData)
        FormSearchData = new TFormSearchData(this);
    FormSearchData->qrySearch.setDatabase(connection->database());
    FormSearchData->SetSearch(DBGrid1, qryProdutos, QStringLiteral("PLU"), QStringLiteral("00;"), QString());
    FormSearchData->show();
    FormSearchData->raise();
    FormSearchData->activateWindow();
}

void TfrmProdutos::ToolButton1Click()
{
    if (qryProdutos->isEmpty()) {
        showError(QStringLiteral("Não há produtos a serem impressos."));
        return;
    }
    QString error;
    db::Connection *connection = m_dm->ADOC(&error);
    if (!connection) {
        showApplicationError(error);
        return;
    }
    if (!qrlProdutos)
        qrlProdutos = new TqrlProdutos(this);
    qrlProdutos->setConnection(connection->database());
    if (!qrlProdutos->Preview(this, &error))
        showApplicationError(error);
}

} // namespace torvane::manager
