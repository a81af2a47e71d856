#pragma once
// The printed product listing: every product slot's description and PLU
// number, sorted by description, in five 38 mm columns to an A4 page, with
// date, time and page number at the foot of each page.
//
// ProductListing lays the pages out in millimetres and paints them on any
// paint device (a printer, the preview, a PDF).  TqrlProdutos is the report
// window of the program: it runs the query, shows the preview from which the
// operator prints or saves a PDF.

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <functional>

class QPainter;
class QPrinter;
class QPagedPaintDevice;
class QPrintPreviewDialog;
class QWidget;

namespace torvane::manager {

struct ListingRow {
    QString pluDesc;
    qint64 pluNo = 0;
};

// Page geometry of the listing, in millimetres.
struct ListingGeometry {
    static constexpr double kPageWidth = 210.0;
    static constexpr double kPageHeight = 297.0;
    static constexpr double kMarginTop = 10.0;
    static constexpr double kMarginLeft = 10.0;
    static constexpr double kMarginRight = 10.0;
    static constexpr double kMarginBottom = 15.0;
    static constexpr int kColumns = 5;
    static constexpr double kColumnWidth = 38.0;
    static constexpr double kCellWidth = 37.8;
    static constexpr double kCellHeight = 4.0;
    static constexpr double kFooterHeight = 5.3;

    static constexpr double kDescLeft = 0.3;
    static constexpr double kDescTop = 0.8;
    static constexpr double kDescWidth = 31.75;
    static constexpr double kFieldHeight = 3.7;
    static constexpr double kNumberRight = 37.3;

    static constexpr double kFooterTextTop = 0.3;
    static constexpr double kDateLeft = 109.0;
    static constexpr double kPageWordLeft = 155.0;
    static constexpr double kPageNumberLeft = 173.0;

    // Top of the page footer band: it sits on the bottom margin.
    static constexpr double footerTop() { return kPageHeight - kMarginBottom - kFooterHeight; }
    // Cells one column holds above the footer.
    static int cellsPerColumn();
    static int cellsPerPage() { return cellsPerColumn() * kColumns; }
    static int pageCount(int rows);
};

class ProductListing {
public:
    static constexpr const char *kTitle = "Listagem dos Produtos";

    ProductListing() = default;
    ProductListing(QVector<ListingRow> rows, QDateTime printedAt);

    const QVector<ListingRow> &rows() const { return m_rows; }
    int pageCount() const { return ListingGeometry::pageCount(int(m_rows.size())); }
    // The date and time the footer shows, in the operator's short formats.
    QString footerDateTime() const;

    // Paints every page on the device (new pages between them).  False, and
    // nothing painted, when there are no rows.
    bool paint(QPagedPaintDevice *device) const;
    // Paints one page (from 0) with the painter's origin at the paper's
    // top-left corner and dotsPerMm device pixels per millimetre.
    void paintPage(QPainter &painter, int page, double dotsPerMm) const;
    // Writes the listing as a PDF file.
    bool writePdf(const QString &path, QString *error) const;

private:
    QVector<ListingRow> m_rows;
    QDateTime m_printedAt;
};

// Sets up a printer for the listing: A4 portrait, whole paper addressed, one
// copy, simplex, first tray, job named after the report.
void setUpListingPrinter(QPrinter &printer);

// The report window.  One instance, qrlProdutos, lives for the whole run.
class TqrlProdutos : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kQuery = "Select PluDesc, PluNo From Plu Order By PluDesc";

    explicit TqrlProdutos(QObject *parent = nullptr);
    ~TqrlProdutos() override;

    // The connection the report reads through (the data module's).
    void setConnection(const QSqlDatabase &db) { m_db = db; }

    // Runs the query afresh: the listing shows the table as it is now.
    // False, with *error set, when the query fails.
    bool qrtProdutosBeforePrint(QString *error);
    const ProductListing &listing() const { return m_listing; }

    // Shows the preview (modal) with printing and saving as PDF; the query
    // is run first.  False, with *error set, when the query fails.  Nothing
    // is shown when there are no rows.
    bool Preview(QWidget *owner, QString *error);
    // The preview dialog while it is open (tests drive it).
    QPrintPreviewDialog *previewDialog() const { return m_preview; }

    // Asks for the file name of the PDF saved from the preview; empty to
    // cancel.  Replaceable so tests and the operator dialogs can answer.
    using PdfNameAsker = std::function<QString(QWidget *parent)>;
    void setPdfNameAsker(PdfNameAsker asker) { m_askPdfName = std::move(asker); }
    // Saves the current listing as PDF through the asker, reporting failure
    // through reportError.
    void savePdfFromPreview(QWidget *parent);
    std::function<void(const QString &)> reportError;

    void FormClose();

private:
    QSqlDatabase m_db;
    ProductListing m_listing;
    QPrintPreviewDialog *m_preview = nullptr;
    PdfNameAsker m_askPdfName;
};

extern TqrlProdutos *qrlProdutos;

} // namespace torvane::manager
