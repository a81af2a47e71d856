#pragma once
// Which engine holds the product base, and the one place that knows how the
// two engines differ.
//
// A shop with one PC keeps vendabase.accdb (an SQLite file) in the working
// directory.  A shop with several PCs puts a PostgreSQL server in its place:
// the working directory then holds vendabase.pgconn, one line with a libpq
// connection string ("host=loja-srv dbname=torvane user=caixa1").  Passwords
// never go in that file; libpq reads them from ~/.pgpass or PGPASSWORD.
//
// The programs' statements are written in the Access dialect (UCase, Like,
// true, [brackets], bit); mapAccessSql(db, sql) turns them into what the
// connection's engine reads with the same effect:
//   file:   UCase and the case-blind Like are registered on the connection.
//   server: UCase -> upper, Like -> ILIKE with no escape character (the
//           database is created with a UTF-8 character type, so ILIKE folds
//           case the way the file does and keeps accents), [x] -> x,
//           rowid -> ctid, yes/no columns are smallint 0/1 as in the file,
//           a new table's texts sort in the operator's order (collation).
// Names are folded to lower case by the server; every caller looks columns
// up without regard to case.

#include "Db.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <map>
#include <memory>

namespace torvane::db {

// Statement scanning shared by both engines' mappings: a character of a
// name, and the index just past a quoted text starting at quoteAt (a doubled
// quote inside stays part of the text; an unclosed text runs to the end).
bool isSqlIdentChar(QChar c);
qsizetype sqlQuotedEnd(const QString &sql, qsizetype quoteAt);

// The connection file looked for beside the database file.
inline constexpr const char *kServerFileName = "vendabase.pgconn";

enum class Engine { File, Server };

Engine engineOf(const QSqlDatabase &db);

// Path of the connection file that stands in for the database file at
// databasePath (same folder), or an empty string when there is none.
QString serverFileFor(const QString &databasePath);

// Reads the connection string from a connection file.  Refuses a file that
// holds a password (it would be readable by everyone who sees the folder).
bool readServerFile(const QString &path, QString *connectionString, QString *error);

// The Access statement in the connection's dialect.
QString mapAccessSql(const QSqlDatabase &db, const QString &sql);

// "table", "view" or empty (no such name), compared without regard to case.
// Returns false and sets *error when the engine cannot be asked.
bool objectType(const QSqlDatabase &db, const QString &name, QString *type, QString *error);

// The declared type of a column, lower case ("bit" for the yes/no columns on
// both engines), or empty when the table has no such column.
QString columnType(const QSqlDatabase &db, const QString &table, const QString &column);

// The collation the server's text columns sort by (the operator's order).
inline constexpr const char *kServerCollation = "operador";

// Readies an empty database for the tables (the server's yes/no type and
// text order).
bool prepareSchema(const QSqlDatabase &db, QString *error);

// The names of a table's columns, as the engine stores them; empty when
// there is no such table.  False and *error when the engine cannot be asked.
bool tableColumns(const QSqlDatabase &db, const QString &table, QStringList *columns, QString *error);

// Whether an index of that name exists (compared without regard to case on
// the server, which folds names).
bool hasIndex(const QSqlDatabase &db, const QString &name);

// The column that finds a row of a table again: rowid on the file; on the
// server the table's key (ctid moves when another PC saves the row), or
// ctid for a table without one.
QString rowKey(const QSqlDatabase &db, const QString &table);

// The Order By that reads a table in the order the file returns it without
// one: "" on the file, the row key on the server.
QString tableOrder(const QSqlDatabase &db, const QString &table);

// Runs a prepared write.  Inside a transaction the file keeps what earlier
// statements wrote when one fails; the server would throw the whole
// transaction away, so there the statement runs under a savepoint that a
// failure rolls back to.
bool execWrite(const QSqlDatabase &db, QSqlQuery &query);

// Begins a transaction unless one is open already (then false, as the file
// answers; the server would only warn and a later commit would end the
// outer one).  On the file it takes the write lock at once (BEGIN
// IMMEDIATE), waiting for the other program as long as a write would; false
// with *error (operator text) when that wait ends or the file cannot be
// written.
bool beginTransaction(QSqlDatabase db, QString *error = nullptr);

// Whether a transaction is open on the connection (asked of the engine's
// own handle, no statement run).
bool transactionOpen(const QSqlDatabase &db);

// Statements a caller runs again and again on one connection (the saves of
// a bulk change, thousands in a row): each is mapped (mapAccessSql) and
// prepared once and kept until clear().  On the file they run on the
// engine's own handle: for a one-row read or write the driver's own work
// around each run (a row cache, a record of the columns, the values
// converted twice) costs more than the engine's.  A caller that keeps them
// on a server connection clears them when the connection is made again
// (dropOnReconnect); every caller clears them before its connection closes.
class KeptStatements
{
public:
    struct Statement {
        Statement() = default;
        Statement(const Statement &) = delete;
        Statement &operator=(const Statement &) = delete;
        ~Statement();
        QSqlQuery query;         // the server's
        void *file = nullptr;    // the file's prepared statement
        QSqlError prepareError;  // why preparing failed (prepared again next time)
        QStringList names;       // the result's columns, once it has run
        // Free for the caller: what it worked out once about the result's
        // columns (their places in its own rows).
        QVector<int> columns;
    };
    // Each result row's values, in column order.
    using Row = std::function<void(const QVector<QVariant> &values)>;

    void setDatabase(const QSqlDatabase &db);
    // The statement for sql (Access dialect), prepared.
    Statement &get(const QString &sql);
    // Runs it with values bound in order (as bindable() gives them), each
    // result row to row; false with *error when preparing or running failed.
    bool run(Statement &statement, const QVariantList &values, const Row &row, QSqlError *error);
    void clear();

private:
    QSqlDatabase m_db;
    std::map<QString, std::unique_ptr<Statement>> m_statements;
};

// A savepoint that undoes part of a transaction, or on its own a little
// transaction: the file opens one for a savepoint outside a transaction, the
// server refuses the savepoint there, so there one is begun for it.  With
// kept statements its three statements are prepared once for every use
// (on the file; the server prepares no savepoint statement).
class Savepoint
{
public:
    Savepoint(const QSqlDatabase &db, const QString &name, KeptStatements *kept = nullptr)
        : m_db(db), m_name(name), m_kept(kept)
    {
    }
    bool begin(QString *error);
    bool release(QString *error);
    void rollback();

private:
    bool run(const QString &sql, QSqlError *error);

    QSqlDatabase m_db;
    QString m_name;
    KeptStatements *m_kept;
    bool m_ownTransaction = false;
};

// A server connection's session: statements every session runs first
// (waiting for locks, ...), run now and again whenever the connection is
// made again after the server ended it (a restart).  Connection::open does
// this; the connection is then kept: every operation that meets the engine
// (mapAccessSql, beginTransaction, Savepoint::begin) connects again once,
// outside a transaction, when the server has ended the session.
void startServerSession(const QSqlDatabase &db, const QStringList &setup);

// A caller that keeps statements prepared on a server connection says how
// to drop them: when the connection is made again they are dropped before
// the new session starts (they cannot run on it, and dropping one later
// would fail inside its transaction).  Kept while owner lives; no-op on
// the file.
void dropOnReconnect(const QSqlDatabase &db, QObject *owner, std::function<void()> drop);

// What a server error means, by its SQLSTATE; EngineError::None when the
// error does not come from the server.
EngineError classifyServerError(const QSqlError &error);

// Column definition of an auto-numbered integer key, in the engine's words.
QString autoNumberKey(const QSqlDatabase &db);

// After rows were written with explicit keys, makes the next auto-number
// follow the highest key (the file does this by itself).
bool syncAutoNumber(const QSqlDatabase &db, const QString &table, const QString &column, QString *error);

// On the server, one statement that locks a table's row by its key, writes
// setList ("a = ?, b = ?") to it and returns the row as it was stored before
// the write, then as written (the key binds first, then the values); empty
// on the file, which reads the row, then writes it.
QString updateReadingStored(const QSqlDatabase &db, const QString &table, const QString &setList,
                            const QString &keyColumn);

// updateReadingStored for many rows in one statement, on a server: each
// object of the JSON array bound to its one "?" (named by the table's
// columns) writes to the row of its key the columns it names, among those
// given; the others keep what they hold.  Returns the rows as stored, then
// as written, as the single form does, in no set order; empty on the file.
QString updateManyReadingStored(const QSqlDatabase &db, const QString &table, const QStringList &columns,
                                const QString &keyColumn);

// Two products may not share a code: the engine itself refuses a second
// product (Codigo other than 0) with a pluCode another already has, so no
// path that writes PLU (another PC, another program, a mistake here) can
// double a code.  On the server an exclusion constraint on PLU, on the file
// a unique index of the same name over the same rows.  Added when missing;
// false and *error (the engine's words) when the table cannot take it
// because codes repeat already (repeatedCodes lists them).  A file that
// cannot be written needs none.
inline constexpr const char *kUniqueCodeConstraint = "plu_codigo_unico";
bool ensureUniqueCodes(const QSqlDatabase &db, QString *error);

// Every product whose pluCode another product shares, one line each
// ("código nas barras 000120: código 12 (PAO, PLU 3)"), grouped by code.
QStringList repeatedCodes(const QSqlDatabase &db);

// Inside a transaction that rewrites many codes (a new code size, a new
// second prefix), the server checks the codes at commit: rows rewritten one
// at a time may share a code half-way through.  The file checks every
// statement: there the writes come in an order that never shares one
// (CodePlan in the manager).  No-op on the file.
void deferUniqueChecks(const QSqlDatabase &db);

// Value ready to bind: the server's 0/1 yes/no columns take numbers, not
// true/false.
QVariant bindable(const QVariant &value);

} // namespace torvane::db
