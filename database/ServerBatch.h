#pragma once
// Statements sent to the server several at a time.
//
// A change of every product writes thousands of rows, one statement each;
// on a server each statement waits for its answer before the next goes
// out, and that wait (not the server's work) is most of the time.  Here a
// run of statements goes out together and their answers are read back in
// one wait (libpq's pipeline).  The server still runs them one after the
// other, in order, inside the caller's transaction: after the first that
// fails the rest are not run.
//
// Only on a server connection inside an open transaction, with no other
// statement's answer still being read; the file has no wait to save.

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <map>
#include <vector>

namespace torvane::db {

class ServerBatch
{
public:
    explicit ServerBatch(const QSqlDatabase &db);
    // Drops the statements it prepared (as long as the session lasts).
    ~ServerBatch();
    ServerBatch(const ServerBatch &) = delete;
    ServerBatch &operator=(const ServerBatch &) = delete;

    // Whether statements can be sent together on the connection now.
    static bool usable(const QSqlDatabase &db);

    // Rows as a JSON array of objects (names[i] name the values of rows[i],
    // in the server's case), each value in the text a bound value is sent
    // as, for a statement that reads many rows from one value.  Empty when a
    // value cannot go as text.
    static QString jsonRows(const QVector<QStringList> &names, const QVector<QVariantList> &rows);

    struct Statement {
        QString sql;         // in the server's dialect, "$1"... for values
        QVariantList values; // bound in order (bindable() values)
    };
    struct Result {
        QSqlError error;     // valid when the statement failed or was not run
        QStringList names;   // the result's columns
        QVector<QVector<QVariant>> rows;
    };

    // Runs the statements in order, answers read in one wait.  A statement
    // run more than once (with values) is prepared the first time and kept.
    // One result for each statement; false when any failed or was not run,
    // with the first failure in *error (the engine's error, as the driver
    // would give it, so it is told and classified alike).
    bool run(const QVector<Statement> &statements, QVector<Result> *results, QSqlError *error);

    // run() in two halves: send() puts the statements on their way and
    // returns at once (the server works through them while the caller
    // prepares the next ones); receive() reads their answers.  Between the
    // two nothing else may use the connection.
    void send(const QVector<Statement> &statements);
    bool receive(QVector<Result> *results, QSqlError *error);
    bool inFlight() const { return m_inFlight; }

private:
    struct Sent {
        qsizetype statement;
        bool preparation;
        QString sql; // of a preparation: forgotten when it fails
    };
    QSqlDatabase m_db;
    std::map<QString, QByteArray> m_prepared; // statement -> its name on the server
    std::vector<Sent> m_sent;
    qsizetype m_count = 0;
    QSqlError m_sendError;
    bool m_inFlight = false;
};

} // namespace torvane::db
