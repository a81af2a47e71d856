#include "Engine.h"

#include "Db.h"
#include "ServerHandle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <QDateTime>

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace torvane::db {

bool isSqlIdentChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

qsizetype sqlQuotedEnd(const QString &sql, qsizetype quoteAt)
{
    const QChar quote = sql.at(quoteAt);
    const qsizetype n = sql.size();
    qsizetype i = quoteAt + 1;
    while (i < n) {
        if (sql.at(i) == quote) {
            // A doubled quote stands for itself inside the text.
            if (i + 1 < n && sql.at(i + 1) == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return n;
}

namespace {

void keepServerConnection(const QSqlDatabase &db);

bool isWord(QStringView word, const char16_t *name)
{
    return word.compare(QStringView(name), Qt::CaseInsensitive) == 0;
}

// One piece of a statement: a quoted text, a name, or anything else.
struct Token {
    enum Kind { Text, Word, Other } kind;
    QStringView text;
};

QVector<Token> tokenize(const QString &sql)
{
    QVector<Token> out;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = sql.at(i);
        if (c == u'\'' || c == u'"') {
            const qsizetype start = i;
            i = sqlQuotedEnd(sql, i);
            out.push_back({Token::Text, QStringView(sql).mid(start, i - start)});
        } else if (c == u'[') {
            const qsizetype end = sql.indexOf(u']', i);
            const qsizetype stop = end < 0 ? n : end + 1;
            // A bracketed name is a plain name to the server.
            out.push_back({Token::Word, QStringView(sql).mid(i + 1, (end < 0 ? n : end) - i - 1)});
            i = stop;
        } else if (isSqlIdentChar(c)) {
            qsizetype j = i;
            while (j < n && isSqlIdentChar(sql.at(j)))
                ++j;
            out.push_back({Token::Word, QStringView(sql).mid(i, j - i)});
            i = j;
        } else {
            out.push_back({Token::Other, QStringView(sql).mid(i, 1)});
            ++i;
        }
    }
    return out;
}

// Access quotes text in either quote; the server reads "..." as a name.
QString serverText(QStringView quoted)
{
    if (quoted.startsWith(u'\''))
        return quoted.toString();
    const QChar q = quoted.at(0);
    QString body = quoted.mid(1, quoted.size() - (quoted.endsWith(q) && quoted.size() > 1 ? 2 : 1)).toString();
    body.replace(QString(2, q), QString(q));
    body.replace(QStringLiteral("'"), QStringLiteral("''"));
    return u'\'' + body + u'\'';
}

QString mapServerSql(const QString &sql)
{
    const QVector<Token> tokens = tokenize(sql);
    bool ddl = false;
    bool creating = false;
    for (const Token &t : tokens) {
        if (t.kind == Token::Word) {
            creating = isWord(t.text, u"create");
            ddl = creating || isWord(t.text, u"alter");
            break;
        }
    }
    QString out;
    out.reserve(sql.size() + 16);
    // The file sorts a missing value before every other; the server after.
    // Each item of the closing Order By says where they go.
    bool inOrder = false;
    bool itemDesc = false;
    bool itemOpen = false;
    int depth = 0;
    QStringView lastWord;
    // Depths at which an UCase argument, cast to text, closes: Access's
    // UCase and Like take numbers too (UCase(pluNo) Like '12%').
    QVector<int> castCloses;
    auto closeItem = [&] {
        if (inOrder && itemOpen)
            out += itemDesc ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST");
        itemDesc = itemOpen = false;
    };
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        const Token &t = tokens[k];
        if (t.kind == Token::Text) {
            out += serverText(t.text);
            itemOpen = true;
            continue;
        }
        if (t.kind == Token::Other) {
            if (t.text == u"(") {
                ++depth;
            } else if (t.text == u")") {
                if (!castCloses.isEmpty() && castCloses.last() == depth) {
                    castCloses.removeLast();
                    out += QStringLiteral(" AS text)");
                }
                --depth;
            }
            else if (t.text == u"," && depth == 0)
                closeItem();
            else if (!t.text.at(0).isSpace())
                itemOpen = true;
            out += t.text;
            continue;
        }
        if (depth == 0 && isWord(t.text, u"by") && isWord(lastWord, u"order")) {
            inOrder = true;
            itemDesc = itemOpen = false;
            lastWord = t.text;
            out += t.text;
            continue;
        }
        lastWord = t.text;
        if (inOrder && depth == 0) {
            if (isWord(t.text, u"desc"))
                itemDesc = true;
            else if (!isWord(t.text, u"asc"))
                itemOpen = true;
        }
        const bool qualified = k > 0 && tokens[k - 1].text == u".";
        const QStringView w = t.text;
        // In a table definition a type follows its column's name; a column
        // may itself be called like a type (RECORD.dateTime).
        qsizetype prev = k - 1;
        while (prev >= 0 && tokens[prev].kind == Token::Other && tokens[prev].text.at(0).isSpace())
            --prev;
        const bool typePlace = ddl && prev >= 0 && tokens[prev].kind == Token::Word;
        if (!qualified && isWord(w, u"true"))
            out += u'1';
        else if (!qualified && isWord(w, u"false"))
            out += u'0';
        else if (isWord(w, u"UCase") && k + 1 < tokens.size() && tokens[k + 1].text == u"(") {
            out += QStringLiteral("upper(CAST(");
            ++depth;
            castCloses.push_back(depth);
            ++k;
        } else if (isWord(w, u"UCase"))
            out += QStringLiteral("upper");
        else if (isWord(w, u"immediate") && k >= 2 && isWord(tokens[k - 2].text, u"begin"))
            out.chop(1); // the server takes its write locks row by row: a plain BEGIN
        else if (isWord(w, u"rowid"))
            out += QStringLiteral("ctid");
        else if (typePlace && isWord(w, u"bit"))
            out += QStringLiteral("yesno");
        else if (typePlace && isWord(w, u"tinyint"))
            out += QStringLiteral("smallint");
        else if (typePlace && isWord(w, u"double"))
            out += QStringLiteral("double precision");
        else if (typePlace && isWord(w, u"datetime"))
            out += QStringLiteral("timestamp");
        else if (typePlace && isWord(w, u"blob"))
            out += QStringLiteral("bytea");
        else if (typePlace && creating
                 && (isWord(w, u"varchar") || isWord(w, u"text") || isWord(w, u"char"))) {
            // A new table's texts sort the way the operator reads them, as
            // the file's Order By does (accents and case second).
            out += w;
            qsizetype j = k + 1;
            while (j < tokens.size() && tokens[j].kind == Token::Other && tokens[j].text.at(0).isSpace())
                ++j;
            if (j < tokens.size() && tokens[j].text == u"(") {
                while (j < tokens.size() && tokens[j].text != u")")
                    out += tokens[j++].text;
                if (j < tokens.size())
                    out += tokens[j].text;
                k = j;
            }
            out += QStringLiteral(" COLLATE ") + QLatin1String(kServerCollation);
        }
        else if (isWord(w, u"like")) {
            // Access's Like has no escape character; the server's default is
            // the backslash, so a typed "\" would change the pattern.
            qsizetype before = k - 1;
            while (before >= 0 && tokens[before].kind == Token::Other && tokens[before].text.at(0).isSpace())
                --before;
            const bool operand = before >= 0
                && ((tokens[before].kind == Token::Word && !isWord(tokens[before].text, u"not"))
                    || tokens[before].text == u")");
            if (operand) {
                // Before the blanks that precede Like: "pluNo::text ILIKE".
                qsizetype trail = out.size();
                while (trail > 0 && out.at(trail - 1).isSpace())
                    --trail;
                out.insert(trail, QStringLiteral("::text"));
            }
            out += QStringLiteral("ILIKE");
            qsizetype j = k + 1;
            while (j < tokens.size() && tokens[j].kind == Token::Other && tokens[j].text.at(0).isSpace())
                out += tokens[j++].text;
            if (j < tokens.size() && (tokens[j].kind == Token::Text || tokens[j].text == u"?")) {
                out += tokens[j].kind == Token::Text ? serverText(tokens[j].text) : tokens[j].text.toString();
                qsizetype m = j + 1;
                while (m < tokens.size() && tokens[m].kind == Token::Other && tokens[m].text.at(0).isSpace())
                    ++m;
                if (m >= tokens.size() || !isWord(tokens[m].text, u"escape"))
                    out += QStringLiteral(" ESCAPE ''");
                k = j;
            } else {
                k = j - 1;
            }
        } else
            out += w;
    }
    // Before the trailing blanks, so the statement reads as written.
    qsizetype trail = out.size();
    while (trail > 0 && out.at(trail - 1).isSpace())
        --trail;
    const QString tail = out.mid(trail);
    out.truncate(trail);
    closeItem();
    return out + tail;
}

} // namespace

Engine engineOf(const QSqlDatabase &db)
{
    return db.driverName() == QLatin1String("QPSQL") ? Engine::Server : Engine::File;
}

QString serverFileFor(const QString &databasePath)
{
    const QString path = QFileInfo(databasePath).absoluteDir().filePath(QLatin1String(kServerFileName));
    return QFileInfo(path).isFile() ? path : QString();
}

bool readServerFile(const QString &path, QString *connectionString, QString *error)
{
    const QString name = QFileInfo(path).fileName();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("O arquivo de conexão %1 não pode ser lido: %2.").arg(name, f.errorString());
        return false;
    }
    QStringList lines;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty() && !text.startsWith(u'#'))
            lines << text;
    }
    const QString conninfo = lines.join(u' ');
    if (conninfo.isEmpty()) {
        *error = QStringLiteral("O arquivo de conexão %1 está vazio.").arg(name);
        return false;
    }
    const QString format = QStringLiteral("use uma linha no formato \"host=... dbname=... user=...\", com os itens "
                                          "separados por espaços, e a senha no arquivo .pgpass do usuário");
    if (conninfo.startsWith(QLatin1String("postgres://")) || conninfo.startsWith(QLatin1String("postgresql://"))) {
        *error = QStringLiteral("O arquivo de conexão %1 não pode conter uma URL; %2.").arg(name, format);
        return false;
    }
    // Read exactly as libpq will read it when connecting: what it takes for
    // a secret is refused, whatever the spelling around it.
    char *parseError = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &parseError);
    if (!options) {
        const QString why = parseError ? QString::fromUtf8(parseError).trimmed() : QStringLiteral("sem memória");
        PQfreemem(parseError);
        *error = QStringLiteral("O arquivo de conexão %1 não pôde ser lido (%2); %3.").arg(name, why, format);
        return false;
    }
    QStringList keywords, secrets, given;
    for (const PQconninfoOption *o = options; o->keyword; ++o) {
        const QString keyword = QString::fromUtf8(o->keyword);
        keywords << keyword;
        const bool secret = o->dispchar && std::strchr(o->dispchar, '*');
        if (secret)
            secrets << keyword;
        if (o->val)
            given << keyword + u'=' + QString::fromUtf8(o->val);
    }
    PQconninfoFree(options);
    // libpq separates the items by blanks only: "host=srv;password=x" is a
    // host named "srv;password=x", and the password would still lie in the
    // file for everyone who sees the folder.
    static const QRegularExpression item(QStringLiteral("(?:^|[\\s;,&?])([A-Za-z_]+)\\s*="));
    QStringList secretsFound;
    bool joined = false;
    for (const QString &pair : std::as_const(given)) {
        const qsizetype eq = pair.indexOf(u'=');
        if (secrets.contains(pair.left(eq)))
            secretsFound << pair.left(eq);
        for (auto m = item.globalMatch(pair.mid(eq + 1)); m.hasNext();) {
            const QString key = m.next().captured(1).toLower();
            if (secrets.contains(key))
                secretsFound << key;
            else if (keywords.contains(key))
                joined = true;
        }
    }
    if (!secretsFound.isEmpty()) {
        secretsFound.removeDuplicates();
        *error = QStringLiteral("O arquivo de conexão %1 não pode conter senha (%2), pois quem vê a pasta a leria; "
                                "tire-a do arquivo e guarde-a no arquivo .pgpass do usuário (ou em PGPASSWORD).")
                     .arg(name, secretsFound.join(QStringLiteral(", ")));
        return false;
    }
    if (joined) {
        *error = QStringLiteral("O arquivo de conexão %1 junta itens com \";\" ou \",\"; %2.").arg(name, format);
        return false;
    }
    *connectionString = conninfo;
    return true;
}

QString mapAccessSql(const QSqlDatabase &db, const QString &sql)
{
    if (engineOf(db) != Engine::Server)
        return mapAccessSql(sql);
    keepServerConnection(db);
    return mapServerSql(sql);
}

bool objectType(const QSqlDatabase &db, const QString &name, QString *type, QString *error)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (engineOf(db) == Engine::Server)
        // From the catalog: the standard's views of it are slow to answer
        // (see rowKey), and the start asks this for every table.
        q.prepare(QStringLiteral("SELECT CASE WHEN relkind = 'v' THEN 'view' ELSE 'table' END FROM pg_class"
                                 " WHERE relnamespace = current_schema()::regnamespace AND relkind IN ('r', 'p', 'f', 'v')"
                                 " AND lower(relname) = lower(?)"));
    else
        q.prepare(QStringLiteral("SELECT type FROM sqlite_master WHERE name = ? COLLATE NOCASE"
                                 " AND type IN ('table', 'view')"));
    q.addBindValue(name);
    if (!q.exec()) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    *type = q.next() ? q.value(0).toString() : QString();
    return true;
}

QString columnType(const QSqlDatabase &db, const QString &table, const QString &column)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (engineOf(db) == Engine::Server) {
        q.prepare(QStringLiteral("SELECT CASE WHEN domain_name = 'yesno' THEN 'bit' ELSE data_type END"
                                 " FROM information_schema.columns WHERE table_schema = current_schema()"
                                 " AND lower(table_name) = lower(?) AND lower(column_name) = lower(?)"));
        q.addBindValue(table);
        q.addBindValue(column);
        if (q.exec() && q.next())
            return q.value(0).toString().toLower();
        return {};
    }
    if (!q.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(QString(table).remove(QLatin1Char('"')))))
        return {};
    while (q.next())
        if (q.value(1).toString().compare(column, Qt::CaseInsensitive) == 0)
            return q.value(2).toString().toLower();
    return {};
}

bool prepareSchema(const QSqlDatabase &db, QString *error)
{
    if (engineOf(db) != Engine::Server)
        return true;
    // Yes/no columns hold 0/1 as in the file; the domain lets a yes/no
    // column still be told apart from a number.
    QSqlQuery q(db);
    const bool hasDomain = q.exec(QStringLiteral("SELECT 1 FROM pg_type t JOIN pg_namespace n ON n.oid = t.typnamespace"
                                                 " WHERE t.typname = 'yesno' AND n.nspname = current_schema()"))
        && q.next();
    if (!hasDomain && !q.exec(QStringLiteral("CREATE DOMAIN yesno AS smallint"))) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    // The operator's order: ICU's root order compares letters first, then
    // accents, then case (capitals first, as the file's tie-break does).
    const bool hasCollation = q.exec(QStringLiteral("SELECT 1 FROM pg_collation c JOIN pg_namespace n"
                                                    " ON n.oid = c.collnamespace WHERE c.collname = '%1'"
                                                    " AND n.nspname = current_schema()")
                                         .arg(QLatin1String(kServerCollation)))
        && q.next();
    if (!hasCollation
        && !q.exec(QStringLiteral("CREATE COLLATION %1 (provider = icu, locale = 'und-u-kf-upper')")
                       .arg(QLatin1String(kServerCollation)))) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    return true;
}

bool tableColumns(const QSqlDatabase &db, const QString &table, QStringList *columns, QString *error)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (engineOf(db) == Engine::Server) {
        q.prepare(QStringLiteral("SELECT a.attname FROM pg_attribute a JOIN pg_class t ON t.oid = a.attrelid"
                                 " WHERE t.relnamespace = current_schema()::regnamespace AND lower(t.relname) = lower(?)"
                                 " AND t.relkind IN ('r', 'p', 'f', 'v') AND a.attnum > 0 AND NOT a.attisdropped"
                                 " ORDER BY a.attnum"));
        q.addBindValue(table);
    } else {
        q.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"));
        q.addBindValue(table);
    }
    columns->clear();
    if (!q.exec()) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    while (q.next())
        *columns << q.value(0).toString();
    return true;
}

bool hasIndex(const QSqlDatabase &db, const QString &name)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (engineOf(db) == Engine::Server)
        q.prepare(QStringLiteral("SELECT 1 FROM pg_indexes WHERE schemaname = current_schema()"
                                 " AND lower(indexname) = lower(?)"));
    else
        q.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?"));
    q.addBindValue(name);
    return q.exec() && q.next();
}

QString rowKey(const QSqlDatabase &db, const QString &table)
{
    if (engineOf(db) != Engine::Server)
        return QStringLiteral("rowid");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // From the catalog itself: the standard's views of it (information_schema)
    // take the server some 20 ms to answer here, and every list of a table asks.
    q.prepare(QStringLiteral("SELECT a.attname FROM pg_index i JOIN pg_class t ON t.oid = i.indrelid"
                             " JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = ANY(i.indkey)"
                             " WHERE i.indisprimary AND t.relnamespace = current_schema()::regnamespace"
                             " AND lower(t.relname) = lower(?) ORDER BY a.attnum"));
    q.addBindValue(table);
    QStringList keys;
    if (q.exec())
        while (q.next())
            keys << q.value(0).toString();
    return keys.size() == 1 ? keys.first() : QStringLiteral("ctid");
}

QString tableOrder(const QSqlDatabase &db, const QString &table)
{
    if (engineOf(db) != Engine::Server)
        return {};
    return QStringLiteral(" ORDER BY ") + rowKey(db, table);
}

PGconn *pgConnection(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Registered under the struct's own name or the typedef's.
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn *const *>(handle.constData());
}

namespace {

enum class ServerTransaction { Unknown, Open, None };

// Asked of the driver's libpq connection: no round trip, and no refused
// statement in the server's log for every save.
ServerTransaction serverTransaction(const QSqlDatabase &db)
{
    PGconn *conn = pgConnection(db);
    if (!conn)
        return ServerTransaction::Unknown;
    // The driver reads the end of a statement's answer only when it sends
    // the next one: until then the connection counts as busy, and a walk
    // begun right after the list was read would take itself for part of a
    // transaction that is not there.  The end is read here, as the driver
    // would (the answer itself was read already).
    if (PQtransactionStatus(conn) == PQTRANS_ACTIVE)
        while (!PQisBusy(conn)) {
            PGresult *rest = PQgetResult(conn);
            if (!rest)
                break;
            PQclear(rest);
        }
    switch (PQtransactionStatus(conn)) {
    case PQTRANS_IDLE:
        return ServerTransaction::None;
    case PQTRANS_INTRANS:
    case PQTRANS_INERROR:
    case PQTRANS_ACTIVE:
        return ServerTransaction::Open;
    default:
        return ServerTransaction::Unknown;
    }
}

// What the programs keep about one server connection, on its driver (which
// lives as long as the connection's name, across a reconnect).
class ServerSession : public QObject
{
public:
    explicit ServerSession(QSqlDriver *driver) : QObject(driver) {}
    QStringList setup;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> droppers;
};

ServerSession *serverSession(const QSqlDatabase &db)
{
    QSqlDriver *driver = db.driver();
    if (!driver)
        return nullptr;
    for (QObject *child : driver->children())
        if (auto *session = dynamic_cast<ServerSession *>(child))
            return session;
    return nullptr;
}

// Between two statements the server has nothing to say; what it sends
// there ends the session (a restart, an administrator), and the end of its
// stream follows.  Reading it tells libpq the connection is gone.
bool serverEndedSession(PGconn *conn)
{
    for (int i = 0; i < 2 && PQstatus(conn) == CONNECTION_OK; ++i) {
        pollfd ready{PQsocket(conn), POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0)
            break;
        PQconsumeInput(conn);
    }
    return PQstatus(conn) != CONNECTION_OK;
}

// Where every operation meets the engine (a statement mapped, a transaction
// or a savepoint begun): a server connection the server has ended (a
// restart) is made again, once the server answers.  Never in the middle of
// a transaction: its work went with the old session, and a new one would
// take the rest of it row by row.  A loss found here, between two
// statements of a transaction, fails the statement that follows (and with
// it the operation); a loss a statement ran into has failed its operation
// already.  Either way the next operation connects again.
void keepServerConnection(const QSqlDatabase &db)
{
    if (engineOf(db) != Engine::Server)
        return;
    ServerSession *session = serverSession(db);
    if (!session)
        return;
    PGconn *conn = pgConnection(db);
    if (conn && PQstatus(conn) == CONNECTION_OK) {
        const PGTransactionStatusType state = PQtransactionStatus(conn);
        if (state == PQTRANS_ACTIVE || !serverEndedSession(conn) || state != PQTRANS_IDLE)
            return;
    }
    // Until the server answers, the old connection stays: each statement
    // on it fails at once, saying the connection fell.
    PGconn *probe = PQconnectdb(db.connectOptions().toUtf8().constData());
    const bool answers = PQstatus(probe) == CONNECTION_OK;
    PQfinish(probe);
    if (!answers)
        return;
    // Statements prepared on the old session go first: dropping one later
    // would fail, and end the new session's transaction with it.
    for (auto &[owner, drop] : session->droppers)
        if (owner)
            drop();
    QSqlDatabase again = db;
    again.close();
    if (!again.open())
        return;
    QSqlQuery q(again);
    for (const QString &sql : std::as_const(session->setup))
        q.exec(sql);
}

} // namespace

void startServerSession(const QSqlDatabase &db, const QStringList &setup)
{
    ServerSession *session = serverSession(db);
    if (!session)
        session = new ServerSession(db.driver());
    session->setup = setup;
    QSqlQuery q(db);
    for (const QString &sql : setup)
        q.exec(sql);
}

void dropOnReconnect(const QSqlDatabase &db, QObject *owner, std::function<void()> drop)
{
    ServerSession *session = serverSession(db);
    if (!session)
        return;
    auto &droppers = session->droppers;
    droppers.erase(std::remove_if(droppers.begin(), droppers.end(),
                                  [owner](const auto &d) { return !d.first || d.first == owner; }),
                   droppers.end());
    droppers.emplace_back(owner, std::move(drop));
}

bool execWrite(const QSqlDatabase &db, QSqlQuery &query)
{
    if (engineOf(db) != Engine::Server || serverTransaction(db) == ServerTransaction::None)
        return query.exec();
    // Outside a transaction the savepoint is refused and nothing is needed.
    QSqlQuery mark(db);
    const bool marked = mark.exec(QStringLiteral("SAVEPOINT torvane_write"));
    const bool ok = query.exec();
    if (marked)
        mark.exec(ok ? QStringLiteral("RELEASE SAVEPOINT torvane_write")
                     : QStringLiteral("ROLLBACK TO SAVEPOINT torvane_write"));
    return ok;
}

bool transactionOpen(const QSqlDatabase &db)
{
    if (engineOf(db) == Engine::Server)
        return serverTransaction(db) == ServerTransaction::Open;
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *h = *static_cast<sqlite3 *const *>(handle.constData());
    return h && !sqlite3_get_autocommit(h);
}

bool beginTransaction(QSqlDatabase db, QString *error)
{
    keepServerConnection(db);
    const ServerTransaction state = engineOf(db) == Engine::Server ? serverTransaction(db) : ServerTransaction::Unknown;
    auto begin = [&] {
        if (db.transaction())
            return true;
        if (error)
            *error = errorText(db.lastError());
        return false;
    };
    if (state != ServerTransaction::Unknown)
        return state == ServerTransaction::None && begin();
    if (engineOf(db) == Engine::Server) {
        // A savepoint is accepted only inside a transaction.
        QSqlQuery probe(db);
        if (probe.exec(QStringLiteral("SAVEPOINT torvane_probe"))) {
            probe.exec(QStringLiteral("RELEASE torvane_probe"));
            return false;
        }
        return begin();
    }
    if (transactionOpen(db))
        return false;
    // The file's write lock from the start (waiting for the other program
    // as any write does): what the transaction reads, the settings and the
    // rows, stays what it writes over, and a write committed by the other
    // program in between cannot make its first write fail.
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    if (error)
        *error = errorText(q.lastError());
    // A refused lock (a read-only file) can leave the transaction begun
    // without it; nothing may go on in it unseen.
    if (transactionOpen(db))
        q.exec(QStringLiteral("ROLLBACK"));
    return false;
}

namespace {

sqlite3 *fileHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

// The error as the driver gives it, so it is told and classified alike.
QSqlError fileError(sqlite3 *handle, const char *what)
{
    return QSqlError(QString::fromLatin1(what), QString::fromUtf8(sqlite3_errmsg(handle)), QSqlError::StatementError,
                     QString::number(sqlite3_extended_errcode(handle)));
}

void bindFileValue(sqlite3_stmt *st, int at, const QVariant &v)
{
    if (v.isNull()) {
        sqlite3_bind_null(st, at);
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        sqlite3_bind_int64(st, at, v.toLongLong());
        return;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        sqlite3_bind_int64(st, at, qint64(v.toULongLong()));
        return;
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(st, at, v.toDouble());
        return;
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        sqlite3_bind_blob(st, at, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        return;
    }
    case QMetaType::QDateTime:
        // As the driver writes them.
        {
            const QString t = v.toDateTime().toString(Qt::ISODateWithMs);
            sqlite3_bind_text16(st, at, t.utf16(), int(t.size() * sizeof(QChar)), SQLITE_TRANSIENT);
        }
        return;
    default: {
        const QString t = v.toString();
        sqlite3_bind_text16(st, at, t.utf16(), int(t.size() * sizeof(QChar)), SQLITE_TRANSIENT);
        return;
    }
    }
}

// A column as the driver reads it: a null reads as a null text.
QVariant fileValue(sqlite3_stmt *st, int i)
{
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(st, i);
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(st, i)), sqlite3_column_bytes(st, i));
    default:
        return QString(reinterpret_cast<const QChar *>(sqlite3_column_text16(st, i)),
                       sqlite3_column_bytes16(st, i) / int(sizeof(QChar)));
    }
}

} // namespace

KeptStatements::Statement::~Statement()
{
    sqlite3_finalize(static_cast<sqlite3_stmt *>(file));
}

void KeptStatements::setDatabase(const QSqlDatabase &db)
{
    clear();
    m_db = db;
}

KeptStatements::Statement &KeptStatements::get(const QString &sql)
{
    auto it = m_statements.find(sql);
    if (it != m_statements.end()) {
        const Statement &kept = *it->second;
        if (!kept.prepareError.isValid() && (kept.file || !kept.query.lastError().isValid()))
            return *it->second;
        m_statements.erase(it); // a failed statement is prepared again
    }
    // Callers that build statements from what changed (an import, an
    // operator at work) must not keep them without bound.
    if (m_statements.size() >= 32)
        m_statements.clear();
    auto kept = std::make_unique<Statement>();
    if (sqlite3 *handle = engineOf(m_db) == Engine::File ? fileHandle(m_db) : nullptr) {
        sqlite3_stmt *st = nullptr;
        const QByteArray text = mapAccessSql(m_db, sql).toUtf8();
        if (sqlite3_prepare_v3(handle, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr)
            != SQLITE_OK)
            kept->prepareError = fileError(handle, "Unable to execute statement");
        kept->file = st;
        for (int i = 0; st && i < sqlite3_column_count(st); ++i)
            kept->names << QString::fromUtf8(sqlite3_column_name(st, i));
    } else {
        kept->query = QSqlQuery(m_db);
        kept->query.setForwardOnly(true);
        kept->query.prepare(mapAccessSql(m_db, sql));
    }
    return *m_statements.emplace(sql, std::move(kept)).first->second;
}

bool KeptStatements::run(Statement &s, const QVariantList &values, const Row &row, QSqlError *error)
{
    if (s.prepareError.isValid()) {
        *error = s.prepareError;
        return false;
    }
    if (auto *st = static_cast<sqlite3_stmt *>(s.file)) {
        for (int i = 0; i < values.size(); ++i)
            bindFileValue(st, i + 1, bindable(values[i]));
        const int n = sqlite3_column_count(st);
        QVector<QVariant> rowValues(n);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            for (int i = 0; i < n; ++i)
                rowValues[i] = fileValue(st, i);
            if (row)
                row(rowValues);
        }
        const bool ok = rc == SQLITE_DONE;
        if (!ok)
            *error = fileError(sqlite3_db_handle(st), "Unable to fetch row");
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        return ok;
    }
    QSqlQuery &q = s.query;
    if (q.lastError().isValid()) { // get() gives no statement that failed to run
        *error = q.lastError();
        return false;
    }
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, bindable(values[i]));
    if (!q.exec()) {
        *error = q.lastError();
        return false;
    }
    if (s.names.isEmpty()) {
        const QSqlRecord rec = q.record();
        for (int i = 0; i < rec.count(); ++i)
            s.names << rec.fieldName(i);
    }
    const int n = int(s.names.size());
    QVector<QVariant> rowValues(n);
    while (q.next()) {
        for (int i = 0; i < n; ++i)
            rowValues[i] = q.value(i);
        if (row)
            row(rowValues);
    }
    q.finish();
    return true;
}

void KeptStatements::clear()
{
    m_statements.clear();
}

bool Savepoint::run(const QString &sql, QSqlError *error)
{
    // The server prepares no savepoint statement.
    if (m_kept && engineOf(m_db) == Engine::File)
        return m_kept->run(m_kept->get(sql), {}, {}, error);
    QSqlQuery q(m_db);
    if (q.exec(sql))
        return true;
    *error = q.lastError();
    return false;
}

bool Savepoint::begin(QString *error)
{
    // Outside a transaction on the server, a transaction of its own does
    // what the savepoint would (the file opens one for the savepoint).
    const bool server = engineOf(m_db) == Engine::Server;
    keepServerConnection(m_db);
    if (!server || serverTransaction(m_db) != ServerTransaction::None) {
        QSqlError failed;
        if (run(QStringLiteral("SAVEPOINT ") + m_name, &failed))
            return true;
        // 25P01: no transaction is open on the server after all.
        if (!server || failed.nativeErrorCode() != QLatin1String("25P01")) {
            if (error)
                *error = errorText(failed);
            return false;
        }
    }
    if (!m_db.transaction()) {
        if (error)
            *error = errorText(m_db.lastError());
        return false;
    }
    m_ownTransaction = true;
    return true;
}

// A transaction of its own (only ever on the server) has no savepoint mark:
// its commit or rollback does the whole work.
bool Savepoint::release(QString *error)
{
    if (!m_ownTransaction) {
        QSqlError failed;
        if (run(QStringLiteral("RELEASE ") + m_name, &failed))
            return true;
        if (error)
            *error = errorText(failed);
        return false;
    }
    m_ownTransaction = false;
    if (m_db.commit())
        return true;
    if (error)
        *error = errorText(m_db.lastError());
    m_db.rollback();
    return false;
}

void Savepoint::rollback()
{
    if (m_ownTransaction) {
        m_db.rollback();
        m_ownTransaction = false;
        return;
    }
    QSqlError ignored;
    run(QStringLiteral("ROLLBACK TO ") + m_name, &ignored);
    run(QStringLiteral("RELEASE ") + m_name, &ignored);
}

EngineError classifyServerError(const QSqlError &error)
{
    // libpq's own words when the connection is gone (no SQLSTATE: the
    // server said nothing, or could not be reached).
    static const char *const lost[] = {
        "server closed the connection unexpectedly", "no connection to the server",
        "terminating connection", "could not receive data from server", "could not send data to server",
        "connection to server", "could not connect to server", "SSL SYSCALL error",
    };
    const QString all = error.databaseText() + u' ' + error.driverText();
    for (const char *words : lost)
        if (all.contains(QLatin1String(words), Qt::CaseInsensitive))
            return EngineError::ConnectionLost;
    // The server's texts start with their severity; the file's never do.
    const QString text = error.databaseText();
    if (!text.startsWith(QLatin1String("ERROR:")) && !text.startsWith(QLatin1String("FATAL:")))
        return EngineError::None;
    const QString state = error.nativeErrorCode();
    // Connection exceptions, and the server shutting down or starting up.
    if (state.startsWith(QLatin1String("08")) || state == QLatin1String("57P01") || state == QLatin1String("57P02")
        || state == QLatin1String("57P03"))
        return EngineError::ConnectionLost;
    if (state == QLatin1String("42501"))
        return EngineError::NoPermission;
    if (state == QLatin1String("42P01") || state == QLatin1String("42703"))
        return EngineError::MissingTable;
    if (state == QLatin1String("55P03") || state == QLatin1String("40P01"))
        return EngineError::Locked;
    if (state == QLatin1String("25006"))
        return EngineError::ReadOnly;
    if (state == QLatin1String("53100"))
        return EngineError::DiskFull;
    // A unique key or an exclusion constraint (the products' codes).
    if (state == QLatin1String("23505") || state == QLatin1String("23P01"))
        return EngineError::Duplicate;
    if (state == QLatin1String("XX001") || state == QLatin1String("XX002"))
        return EngineError::Damaged;
    return EngineError::Other;
}

QString updateReadingStored(const QSqlDatabase &db, const QString &table, const QString &setList,
                            const QString &keyColumn)
{
    if (engineOf(db) != Engine::Server)
        return {};
    // The locking read follows another PC's committed change, so "stored"
    // is what that PC left, and the write goes over that same row version.
    return QStringLiteral("WITH stored AS (SELECT * FROM %1 WHERE %3 = ? FOR UPDATE)"
                          " UPDATE %1 SET %2 FROM stored WHERE %1.%3 = stored.%3 RETURNING stored.*, %1.*")
        .arg(table, setList, keyColumn);
}

QString updateManyReadingStored(const QSqlDatabase &db, const QString &table, const QStringList &columns,
                                const QString &keyColumn)
{
    if (engineOf(db) != Engine::Server)
        return {};
    // A name the row lacks reads as null (one it holds as null, as JSON's).
    QStringList sets;
    for (const QString &c : columns)
        sets << QStringLiteral("%1 = CASE WHEN v.torvane_row -> '%2' IS NULL THEN %3.%1 ELSE v.%1 END").arg(c, c.toLower(), table);
    // The rows arrive typed as the table's own (the server reads each value
    // as it reads a bound one).  The keys go to the index as one array: a
    // join would have the planner read the whole table for a hundred rows.
    return QStringLiteral("WITH v AS (SELECT * FROM jsonb_array_elements(?::jsonb) AS a(torvane_row),"
                          " LATERAL jsonb_populate_record(NULL::%1, a.torvane_row)),"
                          " stored AS (SELECT * FROM %1 WHERE %3 = ANY(ARRAY(SELECT %3 FROM v)) FOR UPDATE)"
                          " UPDATE %1 SET %2 FROM stored, v WHERE %1.%3 = ANY(ARRAY(SELECT %3 FROM v))"
                          " AND %1.%3 = stored.%3 AND v.%3 = %1.%3 RETURNING stored.*, %1.*")
        .arg(table, sets.join(QStringLiteral(", ")), keyColumn);
}

bool ensureUniqueCodes(const QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    if (engineOf(db) != Engine::Server) {
        if (hasIndex(db, QLatin1String(kUniqueCodeConstraint)))
            return true;
        // Free slots all carry code 0 and share a pluCode: they take no part.
        if (q.exec(QStringLiteral("CREATE UNIQUE INDEX %1 ON PLU (pluCode) WHERE Codigo <> 0")
                       .arg(QLatin1String(kUniqueCodeConstraint))))
            return true;
        // A file nothing can be written to cannot come to repeat a code.
        if (classifyError(q.lastError()) == EngineError::ReadOnly)
            return true;
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    if (!q.exec(QStringLiteral("SELECT 1 FROM pg_constraint WHERE conname = '%1' AND conrelid = 'plu'::regclass")
                    .arg(QLatin1String(kUniqueCodeConstraint)))) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    if (q.next())
        return true;
    // Free slots all carry code 0 and share a pluCode: they take no part.
    if (q.exec(QStringLiteral("ALTER TABLE plu ADD CONSTRAINT %1 EXCLUDE USING btree (plucode WITH =)"
                              " WHERE (codigo <> 0) DEFERRABLE INITIALLY IMMEDIATE")
                   .arg(QLatin1String(kUniqueCodeConstraint))))
        return true;
    if (error)
        *error = errorText(q.lastError());
    return false;
}

QStringList repeatedCodes(const QSqlDatabase &db)
{
    QStringList out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT pluCode, Codigo, pluNo, pluDesc FROM PLU WHERE Codigo <> 0 AND pluCode IN"
                               " (SELECT pluCode FROM PLU WHERE Codigo <> 0 GROUP BY pluCode HAVING count(*) > 1)"
                               " ORDER BY pluCode, pluNo")))
        return out;
    while (q.next()) {
        const QString desc = q.value(3).toString().trimmed();
        out << QStringLiteral("código nas barras %1: código %2 (%3, PLU %4)")
                   .arg(q.value(0).toString(), q.value(1).toString(),
                        desc.isEmpty() ? QStringLiteral("sem descrição") : desc, q.value(2).toString());
    }
    return out;
}

void deferUniqueChecks(const QSqlDatabase &db)
{
    if (engineOf(db) != Engine::Server)
        return;
    // ALL, not the name: a base without the constraint yet must not see
    // its transaction fail over it.
    QSqlQuery q(db);
    q.exec(QStringLiteral("SET CONSTRAINTS ALL DEFERRED"));
}

QString autoNumberKey(const QSqlDatabase &db)
{
    return engineOf(db) == Engine::Server ? QStringLiteral("serial PRIMARY KEY")
                                          : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
}

bool syncAutoNumber(const QSqlDatabase &db, const QString &table, const QString &column, QString *error)
{
    if (engineOf(db) != Engine::Server)
        return true;
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', '%2'), coalesce(max(%2), 0) + 1, false)"
                              " FROM %1")
                   .arg(table.toLower(), column.toLower())))
        return true;
    if (error)
        *error = errorText(q.lastError());
    return false;
}

QVariant bindable(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.isNull() ? QVariant(QMetaType(QMetaType::Int)) : QVariant(value.toBool() ? 1 : 0);
    return value;
}

} // namespace torvane::db
