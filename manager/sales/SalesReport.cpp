#include "SalesReport.h"

#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include <array>

namespace torvane::manager {

namespace {

constexpr double kMargin = 12.0;       // mm, every side
constexpr double kLineHeight = 4.6;    // mm
constexpr double kTitleHeight = 12.0;  // mm
constexpr double kFooterHeight = 6.0;  // mm
constexpr double kPageHeight = 297.0;
// Column left edges (mm from the margin); a negative width means
// right-aligned ending at that edge.
struct Column {
    double left;
    double width;
    bool right;
};
constexpr std::array<Column, 7> kColumns = {{{0, 32, false},
                                             {33, 12, true},
                                             {47, 16, true},
                                             {66, 60, false},
                                             {127, 20, true},
                                             {148, 12, true},
                                             {161, 25, true}}};

int linesPerPage()
{
    return int((kPageHeight - 2 * kMargin - kTitleHeight - kFooterHeight) / kLineHeight);
}

} // namespace

SalesReport::SalesReport(const SalesPeriod &period, QDateTime printedAt)
    : m_period(period), m_printedAt(std::move(printedAt))
{
    m_lines.push_back({{QStringLiteral("Data e hora"), QStringLiteral("PLU"), QStringLiteral("Código"),
                        QStringLiteral("Descrição"), QStringLiteral("Peso (kg)"), QStringLiteral("Qtde"),
                        QStringLiteral("Total (R$)")},
                       true});
    for (const SaleRow &r : period.rows)
        m_lines.push_back({{r.when.isValid() ? r.when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))
                                              : QLatin1String(kNoDate),
                            QString::number(r.pluNo), r.codigo > 0 ? QString::number(r.codigo) : QString(),
                            r.pluDesc, r.byWeight ? FormatKg(r.weightGrams) : QString(),
                            !r.byWeight && r.quantity >= 0 ? QString::number(r.quantity) : QString(),
                            FormatMoney(r.totalCents)}});
    m_lines.push_back({});
    m_lines.push_back({{QStringLiteral("Totais por dia"), QString(), QString(), QStringLiteral("Vendas"), QString(),
                        QString(), QStringLiteral("Total (R$)")},
                       true});
    for (const DayTotal &d : period.days)
        m_lines.push_back({{FormatDay(d.day), QString(), QString(), QString::number(d.sales), QString(), QString(),
                            FormatMoney(d.totalCents)}});
    m_lines.push_back({});
    m_lines.push_back({{QStringLiteral("Totais por produto"), QStringLiteral("PLU"), QString(),
                        QStringLiteral("Descrição (vendas)"), QStringLiteral("Peso (kg)"), QStringLiteral("Qtde"),
                        QStringLiteral("Total (R$)")},
                       true});
    for (const ProductTotal &p : period.products)
        m_lines.push_back({{QString(), QString::number(p.pluNo), QString(),
                            QStringLiteral("%1 (%2)").arg(p.pluDesc).arg(p.sales),
                            p.weightGrams ? FormatKg(p.weightGrams) : QString(),
                            p.quantity ? QString::number(p.quantity) : QString(), FormatMoney(p.totalCents)}});
    m_lines.push_back({});
    QString count = QStringLiteral("%1 vendas").arg(period.rows.size());
    if (period.undated > 0)
        count += QStringLiteral(", %1 %2").arg(period.undated).arg(QLatin1String(kNoDate));
    m_lines.push_back({{QStringLiteral("Total do período"), QString(), QString(), count, QString(), QString(),
                        FormatMoney(period.totalCents)},
                       true});
}

int SalesReport::pageCount() const
{
    const int per = linesPerPage();
    return (int(m_lines.size()) + per - 1) / per;
}

bool SalesReport::paint(QPagedPaintDevice *device) const
{
    if (m_period.rows.empty())
        return false;
    device->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(device))
        return false;
    const double mm = device->logicalDpiX() / 25.4;
    auto rect = [mm](double x, double y, double w, double h) { return QRectF(x * mm, y * mm, w * mm, h * mm); };
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8);
    QFont bold = font;
    bold.setBold(true);
    QFont title = font;
    title.setPointSizeF(12);
    title.setBold(true);
    const QString period = QStringLiteral("De %1 a %2").arg(FormatDay(m_period.from), FormatDay(m_period.to));
    const int per = linesPerPage();
    const int pages = pageCount();
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            device->newPage();
        painter.setFont(title);
        painter.drawText(rect(kMargin, kMargin, 186, 7), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 — %2").arg(QString::fromUtf8(kTitle), period));
        double y = kMargin + kTitleHeight;
        for (int i = p * per; i < std::min<int>((p + 1) * per, int(m_lines.size())); ++i) {
            const Line &line = m_lines[size_t(i)];
            painter.setFont(line.heading ? bold : font);
            for (int c = 0; c < line.cells.size() && c < int(kColumns.size()); ++c) {
                const Column &col = kColumns[size_t(c)];
                const QRectF r = rect(kMargin + col.left, y, col.width, kLineHeight);
                const QString text = painter.fontMetrics().elidedText(line.cells[c], Qt::ElideRight, int(r.width()));
                painter.drawText(r, (col.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, text);
            }
            if (line.heading)
                painter.drawLine(QPointF(kMargin * mm, (y + kLineHeight) * mm),
                                 QPointF((210 - kMargin) * mm, (y + kLineHeight) * mm));
            y += kLineHeight;
        }
        painter.setFont(font);
        const double footer = kPageHeight - kMargin - kFooterHeight + 1;
        painter.drawText(rect(kMargin, footer, 120, 5), Qt::AlignLeft | Qt::AlignVCenter,
                         QLocale().toString(m_printedAt, QLocale::ShortFormat));
        painter.drawText(rect(kMargin + 136, footer, 50, 5), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("Página %1 de %2").arg(p + 1).arg(pages));
    }
    painter.end();
    return true;
}

bool SalesReport::writePdf(const QString &path, QString *error) const
{
    QPdfWriter writer(path);
    writer.setTitle(QString::fromUtf8(kTitle));
    writer.setCreator(QStringLiteral("Torvane"));
    writer.setResolution(300);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                     QPageLayout::Millimeter));
    if (!paint(&writer)) {
        *error = QStringLiteral("Não há vendas a serem impressas.");
        return false;
    }
    return true;
}

void SalesReport::setUpPrinter(QPrinter &printer)
{
    printer.setDocName(QString::fromUtf8(kTitle));
    printer.setCreator(QStringLiteral("Torvane"));
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                      QPageLayout::Millimeter));
    printer.setFullPage(true);
}

} // namespace torvane::manager
