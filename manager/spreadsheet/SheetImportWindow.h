#pragma once
// "Importar planilha": the operator says which column of the CSV feeds each
// field of the product (the columns remembered from the last import come
// preset), how the file is written (encoding, separator, a heading row),
// and sees the first rows with what each would become before anything is
// written.  The window only asks; the product form runs the import.

#include "CsvFile.h"
#include "ProductSheet.h"

#include <QDialog>
#include <QVector>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace torvane::manager {

class TfrmPlanilha : public QDialog {
    Q_OBJECT
public:
    // Rows of the preview under the headings.
    static constexpr int kPreviewRows = 20;

    TfrmPlanilha(const QString &path, const csv::CsvSurvey &survey, int codeSize, QWidget *parent = nullptr);

    SheetMapping mapping() const { return m_mapping; }
    csv::Encoding encoding() const;
    QChar separator() const;
    // The file's first row (the headings when it has them).
    QStringList firstRow() const { return m_rows.value(0); }

    // Chooses the column for a field (-1: not imported), as the combo does.
    void setColumn(SheetField field, int column);

    QLabel *lblArquivo = nullptr;
    QComboBox *cbCodificacao = nullptr;
    QComboBox *cbSeparador = nullptr;
    QCheckBox *ckbTitulos = nullptr;
    std::array<QComboBox *, kSheetFieldCount> cbCampo{};
    QTableWidget *grdPrevia = nullptr;
    QLabel *lblSituacao = nullptr;
    QPushButton *btnImportar = nullptr;
    QPushButton *btnCancelar = nullptr;

private:
    void readRows();
    void fillColumnChoices();
    void showPreview();

    QString m_path;
    qint64 m_records;
    qint64 m_filledRecords;
    int m_codeSize;
    QVector<QStringList> m_rows;
    SheetMapping m_mapping;
    bool m_filling = false;
};

} // namespace torvane::manager
