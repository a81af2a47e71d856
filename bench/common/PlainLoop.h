#pragma once
// The yardstick of the benchmarks that change every product: the same work
// written as the plainest loop on the engine's own client library (the
// sqlite3 C API for the file, libpq for the server), with nothing of the
// program around it.  One transaction (on the file taken with BEGIN
// IMMEDIATE, as the program takes it); the settings row and the product rows
// read once at its start; then for every row a savepoint, the row read, the
// update of the columns the change writes (returning the row) and the
// release; then the commit.  Those are the statements the program runs for
// a row; the program's time divided by this loop's, measured in the same
// run on a base made the same way, is the ratio the benchmarks print.
// The rows of the product history are part of those statements: the
// server's trigger is in the base; on the file the loop's connection makes
// the same trigger the program's connection makes for itself.
//
// Header only: the benchmark programs each include it.

#include "ProductHistory.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace torvane::bench {

// A value the loop writes: a number or a text.
struct PlainValue {
    bool text = false;
    long long number = 0;
    std::string chars;
    static PlainValue of(long long n) { return {false, n, {}}; }
    static PlainValue of(const std::string &s) { return {true, 0, s}; }
};

// What the change writes to one row: the columns (setList, "a = ?, b = ?")
// and, for each row by its pluNo and the values read from it, the values.
struct PlainChange {
    std::string setList;
    std::function<std::vector<PlainValue>(long long pluNo)> values;
};

namespace detail {

inline bool sqliteOk(sqlite3 *db, int rc, const char *what)
{
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW)
        return true;
    std::fprintf(stderr, "plain loop (%s): %s\n", what, sqlite3_errmsg(db));
    return false;
}

// Steps a statement to its end, reading every column of every row (what the
// program reads back).
inline bool sqliteRun(sqlite3 *db, sqlite3_stmt *st, const char *what, long long *sink)
{
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const int n = sqlite3_column_count(st);
        for (int i = 0; i < n; ++i) {
            if (sqlite3_column_type(st, i) == SQLITE_TEXT)
                *sink += sqlite3_column_bytes(st, i);
            else
                *sink += sqlite3_column_int64(st, i);
        }
    }
    sqlite3_reset(st);
    return sqliteOk(db, rc, what);
}

// The file opened as the program opens its own, with its history trigger
// when the base keeps a history; null when it cannot be opened.
inline sqlite3 *openPlainFile(const QString &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "plain loop: cannot open %s\n", qPrintable(path));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_exec(db, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_create_function(
        db, "torvane_contexto", 1, SQLITE_UTF8, nullptr,
        [](sqlite3_context *ctx, int, sqlite3_value **) { sqlite3_result_text(ctx, "bench", 5, SQLITE_STATIC); },
        nullptr, nullptr);
    if (sqlite3_table_column_metadata(db, "main", "Historico", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
        == SQLITE_OK)
        sqlite3_exec(db, db::fileHistoryTrigger().toUtf8().constData(), nullptr, nullptr, nullptr);
    return db;
}

inline double fileLoopMs(const QString &path, const PlainChange &change)
{
    sqlite3 *db = openPlainFile(path);
    if (!db)
        return -1;
    const std::string update = "UPDATE PLU SET " + change.setList + " WHERE pluNo = ? RETURNING *";
    const char *texts[] = {"BEGIN IMMEDIATE", "Select * From Config", "Select * From PLU", "SAVEPOINT product_save",
                           "Select * From PLU Where pluNo = ?", update.c_str(), "RELEASE product_save", "COMMIT"};
    enum { Begin, Settings, Rows, Mark, Read, Write, Release, Commit, Count };
    sqlite3_stmt *st[Count] = {};
    bool ok = true;
    for (int i = 0; ok && i < Count; ++i)
        ok = sqliteOk(db, sqlite3_prepare_v2(db, texts[i], -1, &st[i], nullptr), texts[i]);
    long long sink = 0;
    QElapsedTimer t;
    t.start();
    ok = ok && sqliteRun(db, st[Begin], "begin", &sink) && sqliteRun(db, st[Settings], "settings", &sink);
    std::vector<long long> keys;
    while (ok && sqlite3_step(st[Rows]) == SQLITE_ROW)
        keys.push_back(sqlite3_column_int64(st[Rows], 0));
    sqlite3_reset(st[Rows]);
    for (long long key : keys) {
        if (!ok)
            break;
        ok = ok && sqliteRun(db, st[Mark], "savepoint", &sink);
        sqlite3_bind_int64(st[Read], 1, key);
        ok = ok && sqliteRun(db, st[Read], "read", &sink);
        const std::vector<PlainValue> values = change.values(key);
        int at = 1;
        for (const PlainValue &v : values) {
            if (v.text)
                sqlite3_bind_text(st[Write], at++, v.chars.data(), int(v.chars.size()), SQLITE_TRANSIENT);
            else
                sqlite3_bind_int64(st[Write], at++, v.number);
        }
        sqlite3_bind_int64(st[Write], at, key);
        ok = ok && sqliteRun(db, st[Write], "update", &sink) && sqliteRun(db, st[Release], "release", &sink);
    }
    ok = ok && sqliteRun(db, st[Commit], "commit", &sink);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    for (sqlite3_stmt *s : st)
        sqlite3_finalize(s);
    sqlite3_close(db);
    return ok ? ms : -1;
}

inline bool pgOk(PGconn *conn, PGresult *r, const char *what)
{
    const ExecStatusType s = PQresultStatus(r);
    const bool ok = s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    if (!ok)
        std::fprintf(stderr, "plain loop (%s): %s\n", what, PQerrorMessage(conn));
    PQclear(r);
    return ok;
}

inline double serverLoopMs(const QString &conninfo, const PlainChange &change)
{
    PGconn *conn = PQconnectdb(conninfo.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        std::fprintf(stderr, "plain loop: %s\n", PQerrorMessage(conn));
        PQfinish(conn);
        return -1;
    }
    // The program's one statement that locks, reads and writes a row.
    std::string set;
    int param = 2;
    for (char c : change.setList) {
        if (c == '?')
            set += "$" + std::to_string(param++);
        else
            set += c;
    }
    const std::string update = "WITH stored AS (SELECT * FROM plu WHERE pluno = $1 FOR UPDATE) UPDATE plu SET "
        + set + " FROM stored WHERE plu.pluno = stored.pluno RETURNING stored.*, plu.*";
    bool ok = pgOk(conn, PQprepare(conn, "plain_write", update.c_str(), 0, nullptr), "prepare");
    QElapsedTimer t;
    t.start();
    ok = ok && pgOk(conn, PQexec(conn, "BEGIN"), "begin")
        && pgOk(conn, PQexec(conn, "SET CONSTRAINTS ALL DEFERRED"), "deferred")
        && pgOk(conn, PQexec(conn, "Select * From Config"), "settings");
    std::vector<long long> keys;
    if (ok) {
        PGresult *r = PQexec(conn, "Select * From PLU Order By pluNo");
        for (int i = 0; i < PQntuples(r); ++i)
            keys.push_back(std::stoll(PQgetvalue(r, i, 0)));
        ok = pgOk(conn, r, "rows");
    }
    for (long long key : keys) {
        if (!ok)
            break;
        const std::vector<PlainValue> values = change.values(key);
        std::vector<std::string> texts{std::to_string(key)};
        for (const PlainValue &v : values)
            texts.push_back(v.text ? v.chars : std::to_string(v.number));
        std::vector<const char *> params;
        for (const std::string &s : texts)
            params.push_back(s.c_str());
        ok = ok && pgOk(conn, PQexec(conn, "SAVEPOINT product_save"), "savepoint")
            && pgOk(conn, PQexecPrepared(conn, "plain_write", int(params.size()), params.data(), nullptr, nullptr, 0),
                    "update")
            && pgOk(conn, PQexec(conn, "RELEASE product_save"), "release");
    }
    ok = ok && pgOk(conn, PQexec(conn, "COMMIT"), "commit");
    const double ms = double(t.nsecsElapsed()) / 1e6;
    PQfinish(conn);
    return ok ? ms : -1;
}

} // namespace detail

// One statement in a transaction of its own on the file, then the product
// rows read again as the list shows them (the server is not measured for
// it): the milliseconds it took, or -1.
inline double plainStatementMs(const QString &folder, const char *sql)
{
    sqlite3 *db = detail::openPlainFile(QDir(folder).filePath(QStringLiteral("vendabase.accdb")));
    if (!db)
        return -1;
    QElapsedTimer t;
    t.start();
    const bool ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt *rows = nullptr;
    long long sink = 0;
    const bool read = ok && sqlite3_prepare_v2(db, "Select * From PLU", -1, &rows, nullptr) == SQLITE_OK
        && detail::sqliteRun(db, rows, "rows", &sink);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return read ? ms : -1;
}

// The plain loop on the base in folder (its vendabase.accdb, or the server
// its vendabase.pgconn names); the milliseconds it took, or -1 when it
// failed (the reason on standard error).
inline double plainLoopMs(const QString &folder, const PlainChange &change)
{
    QFile server(QDir(folder).filePath(QStringLiteral("vendabase.pgconn")));
    if (server.open(QIODevice::ReadOnly))
        return detail::serverLoopMs(QString::fromUtf8(server.readLine()).trimmed(), change);
    return detail::fileLoopMs(QDir(folder).filePath(QStringLiteral("vendabase.accdb")), change);
}

} // namespace torvane::bench
