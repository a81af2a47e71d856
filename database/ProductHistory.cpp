#include "ProductHistory.h"

#include "Db.h"
#include "Engine.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>

#include <sqlite3.h>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace torvane::db {

namespace {

constexpr const char *kTriggerName = "historico_plu";

// What the rows of one connection are written with; lives as long as the
// connection's driver (the file's function points at it).
class HistoryContext : public QObject {
public:
    explicit HistoryContext(QSqlDriver *driver) : QObject(driver) {}
    QByteArray operation, user = thisUser().toUtf8(), computer = thisComputer().toUtf8();
};

HistoryContext *contextOf(const QSqlDatabase &db, bool make)
{
    QSqlDriver *driver = db.driver();
    if (!driver)
        return nullptr;
    for (QObject *child : driver->children())
        if (auto *c = dynamic_cast<HistoryContext *>(child))
            return c;
    return make ? new HistoryContext(driver) : nullptr;
}

// torvane_contexto(0): the operation, (1) the user, (2) the computer.
void contextFunc(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const auto *c = static_cast<const HistoryContext *>(sqlite3_user_data(ctx));
    const QByteArray *value = nullptr;
    switch (sqlite3_value_int(argv[0])) {
    case 0:
        value = &c->operation;
        break;
    case 1:
        value = &c->user;
        break;
    default:
        value = &c->computer;
        break;
    }
    sqlite3_result_text(ctx, value->constData(), int(value->size()), SQLITE_TRANSIENT);
}

sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

QString quoted(QString text)
{
    return u'\'' + text.replace(u'\'', QStringLiteral("''")) + u'\'';
}

// "old.Preco IS NOT new.Preco OR ..." in the engine's spelling.
QString anyChanged(const QString &differs)
{
    QStringList parts;
    for (const QString &c : historyColumns())
        parts << differs.arg(c);
    return parts.join(QStringLiteral(" OR "));
}

bool exec(const QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    if (error)
        *error = errorText(q.lastError());
    return false;
}

const QString kInsertColumns =
    QStringLiteral("Quando, Computador, Usuario, Operacao, pluNo, Codigo, Campo, Antes, Depois");

// For the session, not the transaction: a save outside a bulk change is a
// transaction of its own.
void setServerOperation(const QSqlDatabase &db, const QString &operation)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT set_config('torvane.operation', ?, false)"));
    q.addBindValue(operation);
    q.exec();
}

// The server's trigger as a base holds it.  An older base fires one for each
// row (a multi-row change called it as many times), or runs the insert of a
// version before this one (each value written out for every column, and
// compiled by the server's JIT when it guessed the statement large).
enum class ServerTrigger { Missing, EachRow, OlderInsert, Current };

// Set on this version's function (its SET jit = off, as the server keeps
// it): how the upgrade tells it from an older one.
const QString kFunctionMark = QStringLiteral("jit=off");

ServerTrigger serverTrigger(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT t.tgtype & 1, coalesce(? = ANY(p.proconfig), false) FROM pg_trigger t"
                             " JOIN pg_class c ON c.oid = t.tgrelid JOIN pg_proc p ON p.oid = t.tgfoid"
                             " WHERE c.relname = 'plu' AND c.relnamespace = current_schema()::regnamespace"
                             " AND t.tgname = ?"));
    q.addBindValue(kFunctionMark);
    q.addBindValue(QLatin1String(kTriggerName));
    if (!q.exec() || !q.next())
        return ServerTrigger::Missing;
    if (q.value(0).toInt() != 0)
        return ServerTrigger::EachRow;
    return q.value(1).toBool() ? ServerTrigger::Current : ServerTrigger::OlderInsert;
}

bool createServerTrigger(const QSqlDatabase &db, QString *error)
{
    QStringList names, changed, before, after;
    for (qsizetype i = 0; i < historyColumns().size(); ++i) {
        const QString &c = historyColumns()[i];
        names << QStringLiteral("'%1'").arg(c);
        changed << QStringLiteral("CASE WHEN a.%1 IS DISTINCT FROM d.%1 THEN %2 END").arg(c).arg(i + 1);
        before << QStringLiteral("WHEN %2 THEN a.%1::text").arg(c).arg(i + 1);
        after << QStringLiteral("WHEN %2 THEN d.%1::text").arg(c).arg(i + 1);
    }
    // psql and other clients that name no operation are recorded by their
    // application_name; a client that sets no computer by its address.  The
    // table is named with its schema: a client's search path may differ.
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT quote_ident(current_schema())")) || !q.next()) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    const QString table = q.value(0).toString() + QStringLiteral(".historico");
    // The rows before and after the statement are paired by the slot's
    // number, which no change of the programs moves.  Each pair gives a row
    // for each column that changed, and only those are written out as text;
    // who, when and why are worked out once for the statement (OFFSET 0
    // keeps them from being repeated for each row).
    // The pairing is planned for each statement's count of rows: a plan kept
    // from a one-row save would pair the rows of a change of all products
    // each with each.  The server cannot know how many columns change and
    // guesses many; on a large statement that guess had it compile the
    // insert (the JIT), which took longer than the insert.
    const QString function =
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql"
            " SET plan_cache_mode = force_custom_plan SET jit = off AS $body$ BEGIN"
            " INSERT INTO %3 (%2)"
            " SELECT s.*, d.pluno, d.codigo, (ARRAY[%4])[k.i], CASE k.i %5 END, CASE k.i %6 END"
            " FROM (SELECT localtimestamp(0),"
            " coalesce(nullif(current_setting('torvane.host', true), ''), host(inet_client_addr()), ''),"
            " session_user,"
            " coalesce(nullif(current_setting('torvane.operation', true), ''),"
            " current_setting('application_name', true), '') OFFSET 0) s,"
            " torvane_antes a JOIN torvane_depois d ON d.pluno = a.pluno,"
            " LATERAL unnest(array_remove(ARRAY[%7], NULL)) AS k(i);"
            " RETURN NULL; END $body$")
            .arg(QLatin1String(kTriggerName), kInsertColumns, table, names.join(u','), before.join(u' '),
                 after.join(u' '), changed.join(QStringLiteral(", ")));
    // Once for each statement, not each row: a change of many products in
    // one statement writes its history in one insert.
    const QString trigger = QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE ON plu"
                                           " REFERENCING OLD TABLE AS torvane_antes NEW TABLE AS torvane_depois"
                                           " FOR EACH STATEMENT EXECUTE FUNCTION %1()")
                                .arg(QLatin1String(kTriggerName));
    const ServerTrigger found = serverTrigger(db);
    // An older trigger goes before its function changes under it.
    if ((found == ServerTrigger::EachRow || found == ServerTrigger::OlderInsert)
        && !exec(db, QStringLiteral("DROP TRIGGER %1 ON plu").arg(QLatin1String(kTriggerName)), error))
        return false;
    return exec(db, function, error) && (found == ServerTrigger::Current || exec(db, trigger, error));
}

} // namespace

const QStringList &historyColumns()
{
    static const QStringList columns = {QStringLiteral("Codigo"),  QStringLiteral("pluCode"),
                                        QStringLiteral("pluDesc"), QStringLiteral("Preco"),
                                        QStringLiteral("Tara"),    QStringLiteral("sellFlag"),
                                        QStringLiteral("preFix"),  QStringLiteral("Prefixb")};
    return columns;
}

QString thisComputer()
{
    return QSysInfo::machineHostName();
}

QString thisUser()
{
    for (const char *name : {"USER", "LOGNAME", "USERNAME"})
        if (const QString user = qEnvironmentVariable(name); !user.isEmpty())
            return user;
#ifdef Q_OS_UNIX
    // A service or a session that sets none (the transfer timer's user).
    // The reentrant form: the scales' threads open connections at once.
    passwd entry{};
    passwd *pw = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &pw) == 0 && pw)
        return QString::fromLocal8Bit(pw->pw_name);
#endif
    return {};
}

bool hasHistoryTable(const QSqlDatabase &db)
{
    QString type, error;
    return objectType(db, QLatin1String(kHistoryTable), &type, &error) && type == QLatin1String("table");
}

bool historyPresent(const QSqlDatabase &db)
{
    return hasHistoryTable(db) && (engineOf(db) != Engine::Server || serverTrigger(db) == ServerTrigger::Current);
}

bool createHistory(const QSqlDatabase &db, QString *error)
{
    if (!hasHistoryTable(db)) {
        const QStringList statements = {
            QStringLiteral("Create Table Historico ( ID %1, Quando datetime, Computador varchar(255),"
                           " Usuario varchar(255), Operacao varchar(255), pluNo int, Codigo int, Campo varchar(32),"
                           " Antes varchar(255), Depois varchar(255) )")
                .arg(autoNumberKey(db)),
            QStringLiteral("Create Index Historico_Quando On Historico (Quando)"),
            QStringLiteral("Create Index Historico_pluNo On Historico (pluNo, Quando)"),
        };
        for (const QString &sql : statements)
            if (!exec(db, mapAccessSql(db, sql), error))
                return false;
    }
    if (engineOf(db) == Engine::Server)
        return createServerTrigger(db, error);
    installHistoryTrigger(db);
    return true;
}

bool registerHistoryContext(QSqlDatabase &db)
{
    sqlite3 *h = sqliteHandle(db);
    HistoryContext *c = contextOf(db, true);
    return h && c
        && sqlite3_create_function(h, "torvane_contexto", 1, SQLITE_UTF8, c, contextFunc, nullptr, nullptr) == SQLITE_OK;
}

void installHistoryTrigger(const QSqlDatabase &db)
{
    if (engineOf(db) == Engine::Server || !contextOf(db, false) || !hasHistoryTable(db))
        return;
    // A base of an older version (a copy restored) may lack a column yet:
    // a trigger naming it would fail every save until the upgrade adds it.
    QStringList present;
    if (!tableColumns(db, QStringLiteral("PLU"), &present, nullptr))
        return;
    for (const QString &c : historyColumns())
        if (!present.contains(c, Qt::CaseInsensitive))
            return;
    QSqlQuery q(db);
    q.exec(fileHistoryTrigger());
}

QString fileHistoryTrigger()
{
    QStringList changes;
    for (const QString &c : historyColumns())
        changes << QStringLiteral("SELECT '%1' AS c, old.%1 AS a, new.%1 AS d WHERE old.%1 IS NOT new.%1").arg(c);
    // Made in the connection's own temporary schema: the file keeps no
    // trigger another tool would trip over.  Its table is named plainly:
    // a trigger may not name the schema of the table it writes.
    return QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS %1 AFTER UPDATE ON main.PLU WHEN %2 BEGIN"
                          " INSERT INTO Historico (%3)"
                          " SELECT strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), torvane_contexto(2),"
                          " torvane_contexto(1), torvane_contexto(0), new.pluNo, new.Codigo, c, a, d FROM (%4);"
                          " END")
        .arg(QLatin1String(kTriggerName), anyChanged(QStringLiteral("old.%1 IS NOT new.%1")), kInsertColumns,
             changes.join(QStringLiteral(" UNION ALL ")));
}

QStringList historySessionSetup()
{
    return {QStringLiteral("SELECT set_config('torvane.host', %1, false)").arg(quoted(thisComputer()))};
}

HistoryOperation::HistoryOperation(const QSqlDatabase &db, const QString &operation) : m_db(db)
{
    HistoryContext *c = contextOf(db, true);
    if (!c)
        return;
    m_previous = QString::fromUtf8(c->operation);
    c->operation = operation.toUtf8();
    if (engineOf(db) == Engine::Server) {
        mapAccessSql(db, QString()); // connects again first when the server ended the session
        setServerOperation(db, operation);
    }
}

HistoryOperation::~HistoryOperation()
{
    HistoryContext *c = contextOf(m_db, false);
    if (!c)
        return;
    c->operation = m_previous.toUtf8();
    if (engineOf(m_db) == Engine::Server)
        setServerOperation(m_db, m_previous);
}

bool recordDifferences(const QSqlDatabase &db, const QString &fromTable, const QString &operation, QString *error)
{
    // The columns both tables have (a copy of an older version may lack some).
    const QString schema = fromTable.section(u'.', 0, 0);
    QStringList mine, theirs, selects;
    QSqlQuery q(db);
    if (!tableColumns(db, QStringLiteral("PLU"), &mine, error))
        return false;
    if (q.exec(QStringLiteral("SELECT name FROM pragma_table_info('PLU', %1)").arg(quoted(schema))))
        while (q.next())
            theirs << q.value(0).toString();
    for (const QString &c : historyColumns())
        if (mine.contains(c, Qt::CaseInsensitive) && theirs.contains(c, Qt::CaseInsensitive))
            selects << QStringLiteral("SELECT m.pluNo, %1, '%2', a.%2, m.%2 FROM main.PLU m JOIN %3 a ON a.pluNo = m.pluNo"
                                      " WHERE a.%2 IS NOT m.%2")
                           .arg(mine.contains(QStringLiteral("Codigo"), Qt::CaseInsensitive) ? QStringLiteral("m.Codigo")
                                                                                              : QStringLiteral("NULL"),
                                c, fromTable);
    if (selects.isEmpty())
        return true;
    q.prepare(QStringLiteral("INSERT INTO main.Historico (%1) SELECT strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'),"
                             " ?, ?, ?, x.* FROM (%2) x")
                  .arg(kInsertColumns, selects.join(QStringLiteral(" UNION ALL "))));
    q.addBindValue(thisComputer());
    q.addBindValue(thisUser());
    q.addBindValue(operation);
    if (q.exec())
        return true;
    *error = errorText(q.lastError());
    return false;
}

} // namespace torvane::db
