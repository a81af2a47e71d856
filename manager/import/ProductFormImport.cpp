// Import, search and the printed listing of the product form.
#include "ProductForm.h"

#include "BulkChanges.h"
#include "CodePlan.h"
#include "DataModule.h"
#include "Engine.h"
#include "OperatorDialogs.h"
#include "ProductImport.h"
#include "ReportProdutos.h"
#include "Schema.h"
#include "SearchData.h"
#include "StatusWindow.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace torvane::manager {

namespace {

// The product list as the import writes it: every row through the form's
// own save path, so pluCode is derived exactly as on any other save, all in
// one transaction.  The settings and the rows are read inside it, and the
// code gate orders the saves (and refuses a change that would give two
// products one code) before the first one.
class FormImportTable : public ImportTable {
public:
    explicit FormImportTable(TfrmProdutos *form) : m_form(form), m_query(*form->qryProdutos) {}
    ~FormImportTable() override { finish(); }

    void begin() override
    {
        QString error;
        m_transaction = std::make_unique<ProductsTransaction>(m_query.database());
        if (!m_transaction->ok(&error))
            throw ImportFailure(error);
        m_settings = std::make_unique<TfrmProdutos::SettingsHeld>(*m_form, &error);
        if (!m_settings->ok())
            throw ImportFailure(error);
        // The rows as stored now: another PC may have saved some since
        // this PC loaded them.
        if (!m_query.open(&error))
            throw ImportFailure(error);
        // The fields and the grid show the list once, when the import ends.
        m_quiet = std::make_unique<ProductQuery::Quiet>(m_query);
        m_batch = std::make_unique<ProductQuery::Batch>(m_query);
    }

    int codeSize() override { return m_form->dm()->codeSize(); }

    int rowCount() override { return m_query.count(); }

    std::optional<qint64> codigoAt(int row) override
    {
        const QVariant v = m_query.value(row, QStringLiteral("Codigo"));
        if (v.isNull())
            return std::nullopt;
        return v.toLongLong();
    }

    // Exactly when the second prefix is part of the scale code.
    bool secondPrefixInUse() override
    {
        const CodeSettings s = m_form->codeSettings();
        return schema::buildPluCode(1, 1, s.codeSize, s.prefix2) != schema::buildPluCode(1, 2, s.codeSize, s.prefix2);
    }

    qint64 prefixbAt(int row) override { return m_query.value(row, QStringLiteral("Prefixb")).toLongLong(); }

    void write(const QVector<std::optional<ImportedProduct>> &rows, bool clearedFirst,
               const std::function<void()> &step) override
    {
        CodePlan plan(m_form->storedCodes(), m_form->codeSettings());
        plan.setRefuseCodeZero(false); // a line of code 000000 fills a free slot
        for (int r = 0; r < rows.size(); ++r)
            plan.save(r, rows[r] ? rows[r]->codigo : 0,
                      rows[r] && rows[r]->prefixb ? *rows[r]->prefixb
                                                  : m_query.value(r, QStringLiteral("Prefixb")).toLongLong());
        if (!plan.check())
            throw ImportFailure(plan.refusal(QStringLiteral("A importação não foi feita")), true);
        for (int r : plan.parked())
            save(r, [this] { m_query.setValue(QStringLiteral("Codigo"), 0); });
        for (int r : plan.order()) {
            save(r, [&] {
                const std::optional<ImportedProduct> &p = rows[r];
                if (!p || clearedFirst)
                    TfrmProdutos::setClearedValues(m_query);
                m_query.setValue(QStringLiteral("flgDel"), !p);
                if (!p)
                    return;
                m_query.setValue(QStringLiteral("Codigo"), p->codigo);
                m_query.setValue(QStringLiteral("sellFlag"), p->sellFlag);
                m_query.setValue(QStringLiteral("pluDesc"), p->description);
                m_query.setValue(QStringLiteral("unitPrice"), p->unitPrice);
                m_query.setValue(QStringLiteral("Preco"), p->preco);
                if (p->validDays)
                    m_query.setValue(QStringLiteral("validDays"), *p->validDays);
                // What a spreadsheet carries besides the fixed layout's fields.
                if (p->tareWeight) {
                    m_query.setValue(QStringLiteral("Tara"), double(*p->tareWeight) / 1000.0);
                    m_query.setValue(QStringLiteral("tareWeight"), *p->tareWeight);
                }
                for (const auto &[column, value] :
                     {std::pair{"Setor", p->setor}, std::pair{"preFix", p->preFix}, std::pair{"Prefixb", p->prefixb},
                      std::pair{"BarcodeMode", p->barcodeMode}})
                    if (value)
                        m_query.setValue(QLatin1String(column), *value);
            });
            step();
        }
    }

    void moveFirst() override { m_query.first(); }

    void commit() override
    {
        QString error;
        // The last saves a server was sent in a batch may fail too.
        if (m_batch && !m_batch->finish())
            throw ImportFailure(m_query.lastError());
        if (m_transaction && !m_transaction->commit(&error))
            throw ImportFailure(error);
    }

    void finish() override
    {
        // Not committed: the transaction rolls back.
        m_batch.reset();
        m_quiet.reset();
        m_settings.reset();
        m_transaction.reset();
        m_form->flgSemValidacao = false;
    }

private:
    // Saves one row with the values set by `set`, skipping the save-time
    // checks; the save procedure derives pluCode.
    void save(int row, const std::function<void()> &set)
    {
        if (m_query.recNo() != row && !m_query.moveTo(row))
            throw ImportFailure(m_query.lastError());
        m_form->flgSemValidacao = true;
        if (!m_query.edit())
            throw ImportFailure(m_query.lastError());
        set();
        if (m_query.post() != ProductQuery::PostResult::Posted) {
            const QString error = m_query.lastError();
            m_query.cancel();
            m_form->flgSemValidacao = false;
            throw ImportFailure(error);
        }
    }

    TfrmProdutos *m_form;
    ProductQuery &m_query;
    std::unique_ptr<ProductsTransaction> m_transaction;
    std::unique_ptr<TfrmProdutos::SettingsHeld> m_settings;
    std::unique_ptr<ProductQuery::Quiet> m_quiet;
    std::unique_ptr<ProductQuery::Batch> m_batch;
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
    const db::HistoryOperation operation(qryProdutos->database(), QStringLiteral("Importar"));
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
