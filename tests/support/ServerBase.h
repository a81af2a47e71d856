#pragma once
// Runs a test's product base on the PostgreSQL server when TORVANE_TEST_PG
// holds a connection string (scripts/with-pg.sh sets it): each base gets
// its own empty schema on that server, named in a vendabase.pgconn written
// into the test's folder, so every program path that opens the folder's
// vendabase.accdb reaches the server instead.

#include <QString>
#include <QVariant>

namespace torvane::test {

// True when the suite runs against the server.
bool onServer();

// Points the folder at a fresh schema on the server (no-op on the file).
// Call before creating the base in that folder.
void useServerBase(const QString &folder);

// Runs statements as the server's administrator (the test server's own
// user), one after another; a failure is a test failure.  Returns the first
// value the last one gave.
QVariant serverExec(const QStringList &statements);

// Makes the folder's base (already created in it) reached by a PC's own
// login role with least privilege: a new role, member of a new group that
// holds the grants torvane-createdb --roles prints.  Returns the role's
// name; *schema: the base's schema on the server.
QString usePcRole(const QString &folder, QString *schema = nullptr);

// Ends every connection the role holds, from the server's side, the way a
// restart of the server ends them.
void endConnections(const QString &role);

// A statement that makes the engine refuse (message given: an error with
// that text) or silently skip (no message) every `event` (INSERT or UPDATE)
// of a `table` row for which `condition` (on NEW) holds: a fault on purpose,
// in the dialect of the engine the suite runs on.
QString faultTrigger(const QString &name, const QString &event, const QString &table, const QString &condition,
                     const QString &message = {});

} // namespace torvane::test
