#pragma once
// What RECORD carries beyond the scale's own columns, so every sales read
// stores each sale once and the sales window shows what each sale was worth.
//
// The scale keeps its sales records until it is cleared and sends all of
// them, oldest first, on every read, so the same sale arrives again and
// again.  A scale's records since it was last cleared form a run (table
// SalesRun: which scale, through which port, how many records); each sale
// is stored once, with the run and its place in it (saleRun, saleSeq) and
// its key in saleKey: "<scale>|<run>|<place>".  SalesRead.h tells a read
// that continues a run from one of a cleared scale.
//
// Each sale also keeps the scale's price of its product when it was read
// (salePrice, hundredths per kg or per unit) and what it was worth
// (saleTotal, hundredths): a price sent later never changes a past sale.
// The name the sale was read under is in saleScale.
//
// Rows stored before runs existed keep their keys ("pluNo|dateTime|weight|
// totalPrice|n") and stay valid: the first read of their scale finds them by
// that key and takes them into its run.  When the columns are added, those
// rows get their price and total once, from the scale's copy of the product
// (PLU_UPLOADED, else PLU) as it is then: what the window showed for them
// until that moment, now fixed.  Rows without any key (reads of older
// versions' transmitter) are left as they are.

#include <QSqlDatabase>
#include <QString>

namespace torvane::db {

inline constexpr const char *kSaleKeyColumn = "saleKey";

// Adds what is missing (saleKey, the run columns, the price and total, the
// SalesRun table and the indexes) and fills the price and total of the rows
// stored before.  Runs inside the caller's transaction when one is open,
// otherwise in one of its own.  False with *error set (the engine's text,
// when error is not null) when a statement fails.
bool UpgradeSalesRecord(const QSqlDatabase &db, QString *error);
// Whether everything UpgradeSalesRecord adds is there, indexes included (the
// upgrade then changes nothing, and makes no copy of the base first).
bool HasSalesRecordSchema(const QSqlDatabase &db);

// Whether RECORD has the columns UpgradeSalesRecord adds and SalesRun exists:
// a sales read may then store its sales by their runs.
bool HasSalesRuns(const QSqlDatabase &db);

} // namespace torvane::db
