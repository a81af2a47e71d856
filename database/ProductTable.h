#pragma once
// What the programs require of the product table before they use it: the
// table itself, every column they read or write, and one row per pluNo.
// A file that fails is refused with one message before anything is written
// to it (a foreign SQLite file must not get a Config table, a table
// without Preco must not have prices saved into nothing, and a pluNo that
// is not unique would make one save rewrite two products).

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace torvane::db {

// The columns present in every database the programs open.
const QStringList &baseProductColumns();
// The columns the upgrade adds to older files.
const QStringList &upgradeProductColumns();

// Checks PLU in db (fileName names the file in the message).  With
// upgraded false only the base columns are required (the upgrade adds the
// others); with upgraded true every column is.  Returns false and sets
// *error (operator text) when the table is missing, lacks a column or holds
// one pluNo on more than one row.
bool checkProductTable(const QSqlDatabase &db, const QString &fileName, bool upgraded, QString *error);

} // namespace torvane::db
