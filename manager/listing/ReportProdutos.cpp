#include "ReportProdutos.h"

#include "Db.h"
#include "OperatorDialogs.h"

#include <QAction>
#include <QFileDialog>
#include <QFont>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSqlError>
#include <QSqlQuery>
#include <QToolBar>

#include <cmath>

namespace torvane::manager {

TqrlProdutos *qrlProdutos = nullptr;

namespace {

// The report's typeface; fontconfig puts the metric-compatible Liberation
// Sans in its place.
constexpr const char *kFontFamily = "Arial";
constexpr double kCellFontPt = 6.0;
constexpr double kFooterFontPt = 10.0;
// A thin frame: a quarter of a point.
constexpr double kFrameMm = 0.09;

QFont reportFont(double points, double dotsPerMm)
{
    QFont font(QString::fromLatin1(kFontFamily));
    font.setStyleHint(QFont::SansSerif);
    // Pixel size from the device's own resolution, so the text has its size
    // in millimetres on every device (1 pt = 25.4 / 72 mm).
    font.setPixelSize(std::max(1, int(std::lround(points * 25.4 / 72.0 * dotsPerMm))));
    return font;
}

// The longest start of the text that fits the width: the cell shows (and
// the PDF's text holds) only what fits, never a wrapped second line.
QString fittingPrefix(const QString &text, const QFontMetricsF &metrics, double width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    qsizetype lo = 0;
    qsizetype hi = text.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (metrics.horizontalAdvance(text.left(mid)) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return text.left(lo);
}

} // namespace

// ---- Geometry --------------------------------------------------------------

int ListingGeometry::cellsPerColumn()
{
    // Floating-point division with a little slack, so 266.7 / 4.0 gives 66.
    return int(std::floor((footerTop() - kMarginTop) / kCellHeight + 1e-9));
}

int ListingGeometry::pageCount(int rows)
{
    if (rows <= 0)
        return 0;
    return (rows + cellsPerPage() - 1) / cellsPerPage();
}

// ---- Listing ---------------------------------------------------------------

ProductListing::ProductListing(QVector<ListingRow> rows, QDateTime printedAt)
    : m_rows(std::move(rows)), m_printedAt(std::move(printedAt))
{
}

QString ProductListing::footerDateTime() const
{
    const QLocale locale;
    return locale.toString(m_printedAt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(m_printedAt.time(), QLocale::ShortFormat);
}

void ProductListing::paintPage(QPainter &painter, int page, double dotsPerMm) const
{
    using G = ListingGeometry;
    const auto mm = [dotsPerMm](double v) { return v * dotsPerMm; };

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    const QFont cellFont = reportFont(kCellFontPt, dotsPerMm);
    painter.setFont(cellFont);
    const QFontMetricsF cellMetrics(cellFont, painter.device());
    QPen frame(Qt::black);
    frame.setWidthF(std::max(1.0, mm(kFrameMm)));
    const int perColumn = G::cellsPerColumn();
    const int first = page * G::cellsPerPage();
    const int last = std::min<int>(int(m_rows.size()), first + G::cellsPerPage());
    for (int i = first; i < last; ++i) {
        const int k = i - first;
        const int column = k / perColumn;
        const int cell = k % perColumn;
        const double x = G::kMarginLeft + column * G::kColumnWidth;
        const double y = G::kMarginTop + cell * G::kCellHeight;
        const QRectF box(mm(x), mm(y), mm(G::kCellWidth), mm(G::kCellHeight));
        painter.fillRect(box, Qt::white);
        painter.setPen(frame);
        painter.drawRect(box);

        painter.setPen(Qt::black);
        const ListingRow &row = m_rows.at(i);
        // The description is cut at its field's width, never wrapped.
        const QRectF desc(mm(x + G::kDescLeft), mm(y + G::kDescTop), mm(G::kDescWidth), mm(G::kFieldHeight));
        painter.save();
        painter.setClipRect(desc);
        painter.drawText(desc, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         fittingPrefix(row.pluDesc, cellMetrics, desc.width()));
        painter.restore();
        // The PLU number grows to the left from its right edge.
        const double right = x + G::kNumberRight;
        const QRectF number(mm(x), mm(y + G::kDescTop), mm(right - x), mm(G::kFieldHeight));
        painter.drawText(number, Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, QString::number(row.pluNo));
    }

    // Page footer.
    painter.setFont(reportFont(kFooterFontPt, dotsPerMm));
    painter.setPen(Qt::black);
    const double top = G::footerTop() + G::kFooterTextTop;
    const double height = G::kFooterHeight - G::kFooterTextTop;
    const auto footerText = [&](double left, const QString &text) {
        const QRectF r(mm(G::kMarginLeft + left), mm(top), mm(G::kPageWidth - G::kMarginRight - G::kMarginLeft - left),
                       mm(height));
        painter.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    };
    footerText(G::kDateLeft, footerDateTime());
    footerText(G::kPageWordLeft, QStringLiteral("Página"));
    footerText(G::kPageNumberLeft, QString::number(page + 1));
    painter.restore();
}

bool ProductListing::paint(QPagedPaintDevice *device) const
{
    if (m_rows.isEmpty())
        return false;
    // Address the whole sheet: the listing keeps its own margins.
    device->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(device))
        return false;
    // With no margins (and a printer set to address the full page) the
    // painter's origin is the paper's top-left corner.
    const double dotsPerMm = device->logicalDpiX() / 25.4;
    const int pages = pageCount();
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            device->newPage();
        paintPage(painter, p, dotsPerMm);
    }
    painter.end();
    return true;
}

bool ProductListing::writePdf(const QString &path, QString *error) const
{
    if (m_rows.isEmpty()) {
        *error = QStringLiteral("Não há produtos a serem impressos.");
        return false;
    }
    QPdfWriter writer(path);
    writer.setTitle(QString::fromLatin1(kTitle));
    writer.setCreator(QStringLiteral("Torvane"));
    writer.setResolution(600);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                     QPageLayout::Millimeter));
    if (!paint(&writer)) {
        *error = QStringLiteral("Não foi possível gravar o arquivo %1.").arg(path);
        return false;
    }
    return true;
}

void setUpListingPrinter(QPrinter &printer)
{
    printer.setDocName(QString::fromLatin1(ProductListing::kTitle));
    printer.setCreator(QStringLiteral("Torvane"));
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                      QPageLayout::Millimeter));
    printer.setFullPage(true);
    printer.setCopyCount(1);
    printer.setDuplex(QPrinter::DuplexNone);
    printer.setPaperSource(QPrinter::Upper);
}

// ---- Report window ---------------------------------------------------------

TqrlProdutos::TqrlProdutos(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("qrlProdutos"));
    reportError = [](const QString &text) { showError(text); };
    m_askPdfName = [](QWidget *parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Salvar como PDF"),
                                            QStringLiteral("%1.pdf").arg(QString::fromLatin1(ProductListing::kTitle)),
                                            QStringLiteral("PDF (*.pdf)"));
    };
}

TqrlProdutos::~TqrlProdutos()
{
    if (qrlProdutos == this)
        qrlProdutos = nullptr;
}

bool TqrlProdutos::qrtProdutosBeforePrint(QString *error)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(db::mapAccessSql(QString::fromLatin1(kQuery)))) {
        *error = db::errorText(query.lastError());
        m_listing = ProductListing();
        return false;
    }
    QVector<ListingRow> rows;
    while (query.next())
        rows.push_back({query.value(0).toString(), query.value(1).toLongLong()});
    m_listing = ProductListing(std::move(rows), QDateTime::currentDateTime());
    return true;
}

void TqrlProdutos::savePdfFromPreview(QWidget *parent)
{
    QString path = m_askPdfName ? m_askPdfName(parent) : QString();
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path += QLatin1String(".pdf");
    QString error;
    if (!m_listing.writePdf(path, &error) && reportError)
        reportError(error);
}

bool TqrlProdutos::Preview(QWidget *owner, QString *error)
{
    if (!qrtProdutosBeforePrint(error))
        return false;
    // A report without rows is not printed.
    if (m_listing.rows().isEmpty())
        return true;

    QPrinter printer(QPrinter::HighResolution);
    setUpListingPrinter(printer);
    QPrintPreviewDialog dialog(&printer, owner);
    dialog.setWindowTitle(QString::fromLatin1(ProductListing::kTitle));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter *p) { m_listing.paint(p); });
    if (auto *bar = dialog.findChild<QToolBar *>()) {
        bar->addSeparator();
        QAction *save = bar->addAction(QStringLiteral("Salvar PDF"));
        save->setObjectName(QStringLiteral("actSalvarPdf"));
        save->setToolTip(QStringLiteral("Salvar a listagem como arquivo PDF"));
        connect(save, &QAction::triggered, &dialog, [this, &dialog] { savePdfFromPreview(&dialog); });
    }
    dialog.resize(900, 700);
    m_preview = &dialog;
    dialog.exec();
    m_preview = nullptr;
    FormClose();
    return true;
}

void TqrlProdutos::FormClose()
{
    // The rows are a copy; nothing stays open on the connection.
}

} // namespace torvane::manager
