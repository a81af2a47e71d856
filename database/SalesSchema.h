#pragma once
// What the manager adds to RECORD so the sales window and torvane-transfer
// can tell a sale already stored from a new one, and the window can find a
// period's sales quickly.
//
// The scale keeps its sales records until it is cleared and sends all of
// them on every read, so the same sale arrives again and again.  A sale is
// identified by its product, its date and time as stored (or none), its
// weight and total, and its place among the records of one read that carry
// those same values: "pluNo|dateTime|weight|totalPrice|n".  The key lives in
// the column saleKey under a unique index; rows without a key (the
// transmitter's own reads) are left alone; SalesKey.h gives the keys.
// dateTime gets an index of its own.

#include <QSqlDatabase>
#include <QString>

namespace torvane::db {

inline constexpr const char *kSaleKeyColumn = "saleKey";

// Adds saleKey and the two indexes when missing.  False with *error set (the
// engine's text, when error is not null) when a statement fails.
bool UpgradeSalesRecord(const QSqlDatabase &db, QString *error);
// Whether saleKey and both indexes are there.
bool HasSalesRecordSchema(const QSqlDatabase &db);

} // namespace torvane::db
