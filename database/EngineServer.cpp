// Opening a product base held by a PostgreSQL server, and creating one.
#include "Db.h"
#include "Engine.h"
#include "ProductHistory.h"
#include "Schema.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace torvane::db {

namespace {
QAtomicInteger<quint64> g_serverCounter;
} // namespace

namespace server {

QString serverFailure(const QString &serverFile, const QString &text)
{
    return QStringLiteral("Não foi possível conectar ao servidor do banco de dados indicado em %1: %2.")
        .arg(QFileInfo(serverFile).fileName(), text.trimmed());
}

// Connects under a fresh name.  The caller removes the name.
bool connectServer(const QString &name, const QString &serverFile, QString *error, bool readOnly = false)
{
    QString conninfo;
    if (!readServerFile(serverFile, &conninfo, error))
        return false;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    if (!db.isValid()) {
        *error = serverFailure(serverFile, QStringLiteral("o driver PostgreSQL do Qt não está instalado"));
        return false;
    }
    // A server that does not answer must not leave the program hanging.
    if (!conninfo.contains(QLatin1String("connect_timeout")))
        conninfo += QStringLiteral(" connect_timeout=10");
    db.setConnectOptions(conninfo);
    if (!db.open()) {
        *error = serverFailure(serverFile, errorText(db.lastError()));
        return false;
    }
    // Another PC's lock is waited for as long as on the file, then reported;
    // the server's notices (an index that exists already) are no news to
    // the operator.
    QStringList setup{QStringLiteral("SET lock_timeout = %1; SET client_min_messages = warning").arg(kBusyTimeoutMs)};
    if (readOnly)
        setup << QStringLiteral("SET default_transaction_read_only = on");
    // The computer the record of the products' changes names.
    setup << historySessionSetup();
    // The statements the programs send again and again (a save, the row
    // trigger of the product history, which passes the row's every column)
    // are planned once: left to choose, the server plans the history's
    // insert anew for every row, a third of a bulk change's time on the
    // server.  Their plans do not depend on the values.
    setup << QStringLiteral("SET plan_cache_mode = force_generic_plan");
    startServerSession(db, setup);
    return true;
}

} // namespace server

using server::connectServer;
using server::serverFailure;

std::unique_ptr<Connection> Connection::openServer(const QString &serverFile, const QString &path, QString *error,
                                                   bool readOnly)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return std::unique_ptr<Connection>();
    };
    const QString name = QStringLiteral("torvane-server-%1").arg(g_serverCounter.fetchAndAddRelaxed(1) + 1);
    std::unique_ptr<Connection> conn(new Connection(name, QFileInfo(path).absoluteFilePath(), readOnly));
    QString text;
    if (!connectServer(name, serverFile, &text, readOnly))
        return fail(text);
    QSqlDatabase db = conn->database();
    // The product base must be there: an empty server database is reported
    // now, not in the middle of work.
    QString type;
    if (!objectType(db, QStringLiteral("PLU"), &type, &text))
        return fail(serverFailure(serverFile, text));
    if (type.isEmpty())
        return fail(QStringLiteral("O banco de dados do servidor indicado em %1 não tem a tabela PLU; crie-o com "
                                   "torvane-createdb.")
                        .arg(QFileInfo(serverFile).fileName()));
    return conn;
}

} // namespace torvane::db

namespace torvane::schema {

namespace {

// The product base on the server, asked on a connection of its own: after
// a failure the one that did the work may be gone with it.
QString checkServerBase(const QString &serverFile, bool *present)
{
    const QString name = QStringLiteral("torvane-server-check-%1").arg(quintptr(present));
    QString err;
    {
        if (db::server::connectServer(name, serverFile, &err)) {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            QString type;
            if (db::objectType(db, QStringLiteral("PLU"), &type, &err))
                *present = !type.isEmpty();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return err;
}

} // namespace

bool createServerBase(const QString &serverFile, const CreateOptions &options, QString *error,
                      const std::function<bool(QSqlDatabase &db, QString *error)> &fill, const QString &what)
{
    const QString name = QStringLiteral("torvane-server-create-%1").arg(quintptr(error));
    QString err;
    bool ok = false;
    bool begun = false;
    {
        if (db::server::connectServer(name, serverFile, &err)) {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            QString type;
            if (!db::objectType(db, QStringLiteral("PLU"), &type, &err)) {
                err = db::server::serverFailure(serverFile, err);
            } else if (!type.isEmpty()) {
                err = QStringLiteral("O banco de dados do servidor já existe (tem a tabela PLU); nada foi alterado.");
            } else if (!db::prepareSchema(db, &err)) {
                // Made before the base's transaction and kept: creating the
                // collation locks the server database's whole list of them
                // until its transaction ends, and a long copy would hold
                // every other base's creation there past its lock time-out.
                err = db::server::serverFailure(serverFile, err);
            } else if (!(begun = db.transaction())) {
                err = db::server::serverFailure(serverFile, db::errorText(db.lastError()));
            } else {
                ok = createTables(db, options, &err) && (!fill || fill(db, &err));
                if (ok && !db.commit()) {
                    err = db::errorText(db.lastError());
                    ok = false;
                }
                if (!ok)
                    db.rollback();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (ok)
        return true;
    while (err.endsWith(u'.'))
        err.chop(1);
    if (begun) {
        // Said undone only once the server is seen as it was.
        const QString work = what.isEmpty() ? QStringLiteral("A criação do banco de dados no servidor") : what;
        bool present = true;
        const QString checkError = checkServerBase(serverFile, &present);
        if (!checkError.isEmpty())
            err = QStringLiteral("%1 falhou (%2), e não foi possível conferir se o servidor ficou como antes: %3")
                      .arg(work, err, checkError);
        else if (present)
            err = QStringLiteral("%1 falhou (%2) e não foi desfeita: o servidor ficou com a tabela PLU; apague as "
                                 "tabelas criadas antes de tentar de novo.")
                      .arg(work, err);
        else
            err = QStringLiteral("%1 falhou e foi desfeita; o servidor está como antes: %2.").arg(work, err);
    }
    if (error)
        *error = begun || err.isEmpty() ? err : err + u'.';
    return false;
}

} // namespace torvane::schema
