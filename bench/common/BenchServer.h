#pragma once
// Lets a benchmark run its case on a PostgreSQL server as well as on the
// file.  TORVANE_BENCH_PG (or else TORVANE_TEST_PG, which scripts/with-pg.sh
// sets) holds a libpq connection string; without one the benchmarks measure
// the file alone.  Each case on the server gets its own empty schema, named
// in a vendabase.pgconn written into the case's folder, so the programs'
// own code that opens the folder's vendabase.accdb reaches the server.
//
// Header only: the benchmark programs each include it.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace torvane::bench {

// The server's connection string, or empty when the benchmarks run on the
// file alone.
inline QString serverConnection()
{
    const QString own = qEnvironmentVariable("TORVANE_BENCH_PG");
    return own.isEmpty() ? qEnvironmentVariable("TORVANE_TEST_PG") : own;
}

enum class Engine { File, Server };

inline const char *engineName(Engine e)
{
    return e == Engine::File ? "file" : "server";
}

// While alive, the folder's base lives in a fresh schema on the server
// (nothing happens for the file).  Create it before the base and let it go
// after every connection to the base has closed: the schema is dropped.
class BaseFolder
{
public:
    BaseFolder(const QString &folder, Engine engine)
    {
        if (engine == Engine::File)
            return;
        static int counter = 0;
        m_schema = QStringLiteral("bench_%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
        if (!admin(QStringLiteral("CREATE SCHEMA ") + m_schema)) {
            std::exit(1);
        }
        QFile f(QDir(folder).filePath(QStringLiteral("vendabase.pgconn")));
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
            std::exit(1);
        }
        f.write((serverConnection() + QStringLiteral(" options='-c search_path=%1'\n").arg(m_schema)).toUtf8());
    }
    ~BaseFolder()
    {
        if (!m_schema.isEmpty())
            admin(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(m_schema));
    }
    BaseFolder(const BaseFolder &) = delete;
    BaseFolder &operator=(const BaseFolder &) = delete;

    // Leaves the tables as a shop's server holds them when the operator
    // starts a command: within a minute of a change of every row its
    // autovacuum has cleared the row versions that change left behind and
    // counted the table afresh.  A bench that changes every row to set up
    // its base, just before it times a command, does that here, so the
    // figure is the command's and not its setup's (the file leaves nothing
    // behind to clear).  TORVANE_BENCH_UNSETTLED=1 leaves the tables as the
    // setup left them, to time a command right after such a change.
    // Nothing happens on the file.
    void settle(const QStringList &tables) const
    {
        if (m_schema.isEmpty() || qEnvironmentVariableIntValue("TORVANE_BENCH_UNSETTLED") == 1)
            return;
        QStringList named;
        for (const QString &t : tables)
            named << m_schema + u'.' + t;
        if (!admin(QStringLiteral("VACUUM (ANALYZE) ") + named.join(QStringLiteral(", "))))
            std::exit(1);
    }

private:
    static bool admin(const QString &sql)
    {
        const QString name = QStringLiteral("bench-server-admin");
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setConnectOptions(serverConnection());
            if (!db.open()) {
                std::fprintf(stderr, "server: %s\n", qPrintable(db.lastError().text()));
            } else {
                QSqlQuery q(db);
                q.exec(QStringLiteral("SET client_min_messages = warning")); // no notice per dropped table
                ok = q.exec(sql);
                if (!ok)
                    std::fprintf(stderr, "server: %s\n", qPrintable(q.lastError().text()));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return ok;
    }

    QString m_schema;
};

// The engines to measure: the file, and the server when one is named.
inline QList<Engine> engines()
{
    if (serverConnection().isEmpty())
        return {Engine::File};
    return {Engine::File, Engine::Server};
}

// What one statement's round trip to the server costs now, in microseconds
// (best of a few rounds of "SELECT 1"): most of the server's extra time is
// the statements per row times this, and a busy machine raises it.
inline double serverRoundTripUs()
{
    const QString name = QStringLiteral("bench-server-round-trip");
    double best = 1e300;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setConnectOptions(serverConnection());
        if (db.open()) {
            QSqlQuery q(db);
            for (int round = 0; round < 5; ++round) {
                QElapsedTimer t;
                t.start();
                for (int i = 0; i < 500; ++i)
                    q.exec(QStringLiteral("SELECT 1"));
                best = std::min(best, double(t.nsecsElapsed()) / 1e3 / 500);
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return best;
}

// The line that tells the server's round trip (not the connection string,
// which may hold a password).
inline void printServerLine()
{
    if (!serverConnection().isEmpty())
        std::printf("server: one statement's round trip %.0f us\n", serverRoundTripUs());
}

// "server / file" as text, or empty when the server was not measured.
inline QString ratio(double file, double server)
{
    return file > 0 ? QString::asprintf("%.2f", server / file) : QStringLiteral("-");
}

} // namespace torvane::bench
