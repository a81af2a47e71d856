#pragma once
// The driver's own libpq connection behind a server connection, for the
// engine layer's few calls the driver does not offer (asking whether a
// transaction is open, sending statements together).  Null on the file.

#include <libpq-fe.h>

class QSqlDatabase;

namespace torvane::db {

PGconn *pgConnection(const QSqlDatabase &db);

} // namespace torvane::db
