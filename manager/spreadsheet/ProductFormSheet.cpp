// Products to and from a spreadsheet on the product form: "Importar
// planilha" and "Exportar produtos".
#include "ProductForm.h"

#include "DataModule.h"
#include "Db.h"
#include "OperatorDialogs.h"
#include "ProductImport.h"
#include "ProductSheet.h"
#include "SheetImportWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace torvane::manager {

void TfrmProdutos::ImportarPlanilha1Click()
{
    if (qryProdutos->isEditing()) {
        showError(QStringLiteral("Grave ou cancele o registro antes de importar."));
        return;
    }
    const QString folder = QFileInfo(m_dm->databasePath()).absolutePath();
    const QString path = operatorDialogs().openFileName(QStringLiteral("Importar planilha"), folder,
                                                        QStringLiteral("*.csv *.txt"));
    if (path.isEmpty())
        return;
    csv::CsvSurvey survey;
    QString error;
    if (!csv::surveyCsvFile(path, &survey, &error)) {
        showError(error);
        return;
    }
    if (survey.records == 0) {
        operatorDialogs().message(kCaptionInformation, QStringLiteral("O arquivo está vazio."),
                                  DialogIcon::Information);
        return;
    }
    if (survey.looksBinary()) {
        showError(QStringLiteral("O arquivo %1 não é uma planilha salva como CSV (texto com as colunas separadas "
                                 "por ponto e vírgula, vírgula ou tabulação). Na planilha, use Salvar como, CSV, e "
                                 "importe esse arquivo. Nenhum produto foi alterado.")
                      .arg(QFileInfo(path).fileName()));
        return;
    }
    TfrmPlanilha window(path, survey, m_dm->codeSize(), this);
    if (window.exec() != QDialog::Accepted)
        return;
    rememberMapping(window.mapping(), window.firstRow());

    const QString logDir = PastaLogImportacao();
    if (logDir.isEmpty())
        return;
    const bool clearFirst = askChoice(QStringLiteral("Limpar dados existentes ?"));
    if (!CopiaAntes(db::CopyReason::SheetImport))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showError(QStringLiteral("Não foi possível abrir o arquivo %1: %2. Nenhum produto foi alterado.")
                      .arg(QDir::toNativeSeparators(path), file.errorString()));
        return;
    }
    SheetImportSource source(&file, path, window.encoding(), window.separator(), window.mapping());
    const db::HistoryOperation operation(qryProdutos->database(), QStringLiteral("Importar planilha"));
    ExecutaImportacao(logDir, [&](ProductImport &import) { return import.run(source, survey.records, clearFirst); });
}

void TfrmProdutos::Exportar1Click()
{
    if (qryProdutos->isEditing())
        return;
    QString error;
    db::Connection *conn = m_dm->ADOC(&error);
    if (!conn) {
        showApplicationError(error);
        return;
    }
    const int choice = operatorDialogs().choose(
        QStringLiteral("Exportar produtos"), QStringLiteral("Em que formato exportar os produtos ?"),
        {QStringLiteral("Planilha CSV (UTF-8)"), QStringLiteral("Planilha CSV (Windows-1252)"),
         QStringLiteral("Texto de colunas fixas (para Importar)"), QStringLiteral("Cancelar")});
    if (choice < 0 || choice > 2)
        return;
    const auto format = ExportFormat(choice);
    const bool fixed = format == ExportFormat::FixedColumns;
    const QString suggested = QDir(QFileInfo(conn->path()).absolutePath())
                                  .filePath(fixed ? QStringLiteral("produtos.txt") : QStringLiteral("produtos.csv"));
    const QString path = operatorDialogs().saveFileName(QStringLiteral("Exportar produtos"), suggested,
                                                        fixed ? QStringLiteral("*.txt") : QStringLiteral("*.csv"));
    if (path.isEmpty())
        return;
    ExportOutcome outcome;
    if (!exportProductsTo(conn->database(), format, path, &outcome, &error)) {
        showError(error);
        return;
    }
    showInformation(exportSummary(format, outcome, path));
}

} // namespace torvane::manager
