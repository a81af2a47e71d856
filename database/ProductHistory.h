#pragma once
// The record of every change to what a product sells for and how the scale
// knows it: its code (Codigo and the scale code pluCode), description,
// price, tare, sale type and both prefixes.  One row of table Historico per
// column changed, with when, on which computer, by which user, by which
// operation ("Gravar", "Prefixo 2", "Importar planilha"...), the product's
// PLU number and code, and the value before and after.
//
// The engine itself writes the rows, from a trigger on PLU, in the very
// statement that changes the product: a save that fails or a transaction
// rolled back leaves no row, and no path that writes PLU can skip it.
//   file:   a TEMP trigger made on the manager's connection (other tools
//           that open the file never meet a function they lack; what they
//           change is not recorded).  The computer, the user and
//           the operation come from a function registered on the
//           connection, so setting them runs no statement.
//   server: a trigger on PLU, for every client (psql included: its login,
//           and "psql" as the operation).  The computer comes from the
//           session's torvane.host (set when the programs connect; the
//           client's address otherwise), the user is the server's login,
//           the operation the session's torvane.operation, or the client's
//           application_name.
// A base whose table is missing (not yet upgraded) gets no trigger, so a
// save never fails over it.
//
// Per product row updated, the cost is the trigger's test of eight columns;
// each column that did change adds one small insert.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace torvane::db {

inline constexpr const char *kHistoryTable = "Historico";

// The columns watched, as PLU names them, in the order the rows list them.
const QStringList &historyColumns();

// Whether the table is there.
bool hasHistoryTable(const QSqlDatabase &db);
// Creates the table and its indexes when missing and, on the server, its
// trigger.  On the file also the connection's own trigger.
bool createHistory(const QSqlDatabase &db, QString *error);
// The table and (server) its trigger are there.
bool historyPresent(const QSqlDatabase &db);

// File connections: registers the function the trigger reads the
// computer, user and operation from (done by Connection::openFile), and
// makes the connection's trigger when the table exists (the manager does
// on its connection: the one program that changes products; a trigger on
// a connection keeps it from dropping or renaming PLU's columns).
bool registerHistoryContext(QSqlDatabase &db);
void installHistoryTrigger(const QSqlDatabase &db);
// The statement that makes that trigger (it reads the computer, user and
// operation from torvane_contexto(2), (1) and (0)).
QString fileHistoryTrigger();

// The statements a server session runs first: this computer's name.
QStringList historySessionSetup();

// The computer and the operating system's user this program runs as.
QString thisComputer();
QString thisUser();

// Names the operation whose changes follow, on this connection, until it
// is named again (the previous name comes back when this ends).  Never
// fails a change: a name that cannot be set leaves the previous one.
class HistoryOperation {
public:
    HistoryOperation(const QSqlDatabase &db, const QString &operation);
    ~HistoryOperation();
    HistoryOperation(const HistoryOperation &) = delete;
    HistoryOperation &operator=(const HistoryOperation &) = delete;

private:
    QSqlDatabase m_db;
    QString m_previous;
};

// Adds the rows of a change made without an UPDATE the trigger sees (a
// restore writes the whole base): every watched column of every product
// that differs between PLU and fromTable (a PLU of another attached base,
// "atual.PLU"), recorded under `operation`.
bool recordDifferences(const QSqlDatabase &db, const QString &fromTable, const QString &operation, QString *error);

} // namespace torvane::db
