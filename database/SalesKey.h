#pragma once
// The keys a stored sale carries in RECORD.saleKey (SalesSchema.h), kept in
// one place for every path that reads the scale's sales.
//
//   "<scale>|<run>|<place>"  a sale stored since runs exist: the scale's name
//                            when its run began, the run, and the sale's
//                            place among the scale's records in that run;
//   "pluNo|dateTime|weight|totalPrice|n"  a sale stored before: its values
//                            and its place among the records of one read
//                            with those same values.

#include <QString>
#include <QVariant>

namespace torvane::db {

// The date part of a sale's key for a dateTime value as the engine hands it
// back: the file gives the text it stores ("yyyy-MM-dd HH:mm:ss" from every
// writer) and it stands as it is; the server gives a date and time, written
// in that same text, so a base moved from its file keeps its keys.
QString SaleKeyDate(const QVariant &dateTime);

QString RunSaleKey(const QString &scale, qint64 run, int place);
QString ValueSaleKey(int pluNo, const QString &date, qint64 weight, qint64 totalPrice, int n);

} // namespace torvane::db
