#pragma once
// Products to and from a spreadsheet.
//
// Export: every product slot, one row each in slot order, with a header row
// and the columns of kSheetFields, in the conventions a Brazilian
// spreadsheet opens without questions (csv::Encoding, ";" separator,
// decimal comma); or the fixed-column text the import ("Arquivo",
// "Importar") reads, in Windows-1252.
//
// Import: the operator maps the CSV's columns to the product's fields once
// (remembered for the next file with the same headings); each row becomes
// the same ImportedProduct the fixed-column import produces, or is refused
// with its row number and reason, and the import's own run writes them
// (ProductImport), so every product rule applies to both imports alike.

#include "CsvFile.h"
#include "ProductImport.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <memory>
#include <optional>

class QFile;

namespace torvane::manager {

// The product's fields as a spreadsheet carries them, in the export's order
// (after the slot number, which the import does not read: a product takes
// the slot that carries its code, or the first free one).
enum class SheetField { Codigo, Descricao, Preco, Tara, Validade, TipoVenda, Setor, Prefixo1, Prefixo2, CodigoBarras };
inline constexpr int kSheetFieldCount = 10;

// The heading the export writes for a field ("Código", "Preço (R$)"...).
QString sheetFieldTitle(SheetField field);
// The heading of the slot column.
QString sheetSlotTitle();
// Fields every mapping must give: a price list without them is none.
bool sheetFieldRequired(SheetField field);

// Which column of the file feeds each field (-1: none), and whether the
// first row holds headings.
struct SheetMapping {
    std::array<int, kSheetFieldCount> column;
    bool header = true;

    SheetMapping() { column.fill(-1); }
    int &operator[](SheetField f) { return column[std::size_t(f)]; }
    int operator[](SheetField f) const { return column[std::size_t(f)]; }
    // The fields a required one is missing from, for the operator ("Código, Preço").
    QStringList missing() const;

    // The columns whose headings name a field (accents, case and blanks set
    // aside: "Preco", "PREÇO (R$)", "valor" all give the price).
    static SheetMapping guess(const QStringList &headings);
};

// Whether a first row holds headings: it names a field, or none of its
// cells is a number.
bool looksLikeHeadings(const QStringList &row);

// The mapping remembered from the last import: matched by heading when the
// file has headings, else by position.  guess() fills what it does not give.
SheetMapping rememberedMapping(const QStringList &firstRow, bool header);
void rememberMapping(const SheetMapping &mapping, const QStringList &firstRow);

// What one row of the file becomes.
struct SheetRow {
    std::optional<ImportedProduct> product;
    QString reason;   // why the row is refused (empty when it is not)
    bool blank = false; // every cell empty: skipped without a word
};
SheetRow readSheetRow(const QStringList &cells, const SheetMapping &mapping, int codeSize);

// The log line of a refused row (rows counted from 1, as a spreadsheet shows them).
QString sheetRowMessage(qint64 row, const QString &reason);

// A product as the preview and the export show each field.
QStringList describeSheetProduct(const ImportedProduct &product);

// The records of a CSV file through a mapping.
class SheetImportSource : public ImportSource {
public:
    SheetImportSource(QIODevice *device, const QString &path, csv::Encoding encoding, QChar separator,
                      const SheetMapping &mapping);
    bool next(int codeSize, ImportRecord *record) override;
    bool oneRecordPerProduct() const override { return true; }

private:
    csv::CsvReader m_reader;
    QString m_path;
    SheetMapping m_mapping;
    bool m_headerSkipped = false;
};

// The first rows of a file, to show in the mapping dialog.
struct SheetPreview {
    QVector<QStringList> rows; // the first rows as read (headings included)
    QString error;
};
SheetPreview previewSheet(const QString &path, csv::Encoding encoding, QChar separator, int rows);

// ---- Export ------------------------------------------------------------------

enum class ExportFormat { CsvUtf8, Csv1252, FixedColumns };

struct ExportOutcome {
    qint64 rows = 0;       // rows written (CSV: every slot; fixed columns: the products)
    qint64 products = 0;   // slots holding a product
    qint64 skipped = 0;    // products the fixed columns cannot hold (code or price too long)
    qint64 cut = 0;        // descriptions cut to the 22 characters of the fixed columns
};

// The products of the base in the chosen format, as the file's bytes.
bool exportProducts(const QSqlDatabase &db, ExportFormat format, QByteArray *out, ExportOutcome *outcome,
                    QString *error);
// The same written to a file (replaced whole or not at all).
bool exportProductsTo(const QSqlDatabase &db, ExportFormat format, const QString &path, ExportOutcome *outcome,
                      QString *error);
// What the operator is told after an export.
QString exportSummary(ExportFormat format, const ExportOutcome &outcome, const QString &path);

} // namespace torvane::manager
