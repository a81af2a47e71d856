#pragma once
// The step that keeps a second read of the scale's sales from storing a sale
// twice, shared by the manager's "Vendas" window and torvane-transfer.
//
// A read appends the scale's records to RECORD after the highest ID it found
// (LastRecordId before the read).  AdoptSalesRead then gives those rows their
// saleKey ("pluNo|dateTime|weight|totalPrice|n", see SalesSchema.h) and
// deletes the ones whose key is already stored: the scale sends every record
// it holds on each read, in the same order, so the n-th record with the same
// values is the same sale every time.  A read that stopped half-way is keyed
// the same way: its records are a prefix of what a complete read sends.
//
// The rows appended since lastId must all come from one read of one scale;
// reads that run at the same time must be keyed one after another.

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

namespace torvane::db {

// The date part of a sale's key for a dateTime value as the engine hands it
// back: the file gives the text it stores ("yyyy-MM-dd HH:mm:ss" from every
// writer) and it stands as it is; the server gives a date and time, written
// in that same text, so a base moved from its file keeps its keys.
QString SaleKeyDate(const QVariant &dateTime);

// The highest ID in RECORD (0 when empty), -1 with *error set on failure.
qint64 LastRecordId(const QSqlDatabase &db, QString *error);

// Whether the upgrade has given RECORD its saleKey column.
bool HasSaleKey(const QSqlDatabase &db);

// Keys the rows after lastId that have none and deletes those already
// stored.  *kept and *removed count them.  One transaction: all or nothing.
bool AdoptSalesRead(const QSqlDatabase &db, qint64 lastId, int *kept, int *removed, QString *error);

} // namespace torvane::db
