#pragma once
// The scale's sales as the shop reads them: the RECORD rows of a period with
// their totals per product, per day and for the whole period, the CSV a
// Brazilian spreadsheet opens as it stands.
//
// A record carries either a weight (grams, product sold by weight) or a
// total (hundredths, product sold by unit).  The other figure comes from the
// scale's price of the product kept with the sale when it was read
// (SalesSchema.h): the total of a weighed sale is weight × price, the
// quantity of a unit sale is total ÷ price, and a price sent later changes
// neither.  Only on a base that cannot keep them (not upgraded, read-only)
// are they derived from the scale's price now (PLU_UPLOADED, the base's PLU
// when the scale's copy is missing).  Records whose date was not valid are
// stored without one: they are listed with every period as "sem data",
// after the dated ones, and counted in its totals.
//
// No widgets.  Every query runs on the connection given.

#include <QDate>
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <vector>

namespace torvane::manager {

struct SaleRow {
    qint64 id = 0;
    int pluNo = 0;
    qint64 codigo = 0;      // the base's product code (0: unknown / free slot)
    QString pluDesc;
    QDateTime when;         // invalid: "sem data"
    bool byWeight = false;
    qint64 weightGrams = 0; // by weight
    qint64 quantity = -1;   // by unit, when the price allows it (-1: unknown)
    qint64 totalCents = 0;
};

struct ProductTotal {
    int pluNo = 0;
    QString pluDesc;
    int sales = 0;
    qint64 weightGrams = 0;
    qint64 quantity = 0;
    qint64 totalCents = 0;
};

struct DayTotal {
    QDate day; // invalid: the sales without date
    int sales = 0;
    qint64 totalCents = 0;
};

struct SalesPeriod {
    QDate from, to;
    std::vector<SaleRow> rows;       // newest first, then the ones without date
    std::vector<ProductTotal> products; // by PLU number
    std::vector<DayTotal> days;         // newest first, "sem data" last
    int undated = 0;
    qint64 totalCents = 0;
};

inline constexpr const char *kNoDate = "sem data";

// Formatting of the window, the CSV and the printout: "1,250", "12,34".
QString FormatKg(qint64 grams);
QString FormatMoney(qint64 cents);
QString FormatDay(const QDate &day); // "dd/MM/yyyy" or "sem data"

class SalesLedger {
public:
    explicit SalesLedger(QSqlDatabase db) : m_db(std::move(db)) {}

    // The sales from `from` to `to` (both days included).  False with *error
    // set (the engine's text) when a table cannot be read.
    bool load(const QDate &from, const QDate &to, SalesPeriod *out, QString *error) const;

    // The rows as CSV: UTF-8 with a byte-order mark, ";" between fields,
    // decimal comma, CRLF line ends, a header line.
    static QByteArray toCsv(const std::vector<SaleRow> &rows);
    static QStringList csvHeader();
    static bool writeCsv(const QString &path, const std::vector<SaleRow> &rows, QString *error);

private:
    QSqlDatabase m_db;
};

} // namespace torvane::manager
