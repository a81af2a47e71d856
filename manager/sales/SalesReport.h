#pragma once
// The printed sales of a period: A4 portrait, one line per sale (newest
// first, the ones without date last), then the totals per day, per product
// and the period's total, with the period, date of printing and page number
// at the foot of every page.  Painted on any paged device: the printer
// behind the preview, or a PDF.

#include "SalesLedger.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

class QPagedPaintDevice;
class QPrinter;

namespace torvane::manager {

class SalesReport {
public:
    static constexpr const char *kTitle = "Vendas da balança";

    SalesReport(const SalesPeriod &period, QDateTime printedAt);

    int pageCount() const;
    // False, nothing painted, when the period has no sales.
    bool paint(QPagedPaintDevice *device) const;
    bool writePdf(const QString &path, QString *error) const;

    // A4 portrait, the whole sheet addressed, job named after the report.
    static void setUpPrinter(QPrinter &printer);

private:
    struct Line {
        QStringList cells;
        bool heading = false;
    };
    const SalesPeriod &m_period;
    QDateTime m_printedAt;
    std::vector<Line> m_lines;
};

} // namespace torvane::manager
