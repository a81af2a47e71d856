#include "ServerBase.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QRegularExpression>

#include "ServerRoles.h"

#include <gtest/gtest.h>

namespace torvane::test {

bool onServer()
{
    return !qEnvironmentVariableIsEmpty("TORVANE_TEST_PG");
}

void useServerBase(const QString &folder)
{
    if (!onServer())
        return;
    static QAtomicInteger<int> counter;
    const QString conninfo = qEnvironmentVariable("TORVANE_TEST_PG");
    const QString schema = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    const QString name = QStringLiteral("test-server-admin-") + schema;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setConnectOptions(conninfo);
        if (!db.open()) {
            ADD_FAILURE() << db.lastError().text().toStdString();
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("CREATE SCHEMA ") + schema))
                ADD_FAILURE() << q.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    QFile f(QDir(folder).filePath(QStringLiteral("vendabase.pgconn")));
    if (!f.open(QIODevice::WriteOnly))
        ADD_FAILURE() << "cannot write " << f.fileName().toStdString();
    f.write((conninfo + QStringLiteral(" options='-c search_path=%1'\n").arg(schema)).toUtf8());
}

QVariant serverExec(const QStringList &statements)
{
    static QAtomicInteger<int> counter;
    const QString name = QStringLiteral("test-server-exec-%1").arg(++counter);
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setConnectOptions(qEnvironmentVariable("TORVANE_TEST_PG"));
        if (!db.open()) {
            ADD_FAILURE() << db.lastError().text().toStdString();
        } else {
            QSqlQuery q(db);
            for (const QString &sql : statements)
                if (!q.exec(sql))
                    ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
            if (q.next())
                value = q.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

QString usePcRole(const QString &folder, QString *schema)
{
    static QAtomicInteger<int> counter;
    const QString suffix = QStringLiteral("%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    QFile f(QDir(folder).filePath(QStringLiteral("vendabase.pgconn")));
    if (!f.open(QIODevice::ReadWrite)) {
        ADD_FAILURE() << "cannot open " << f.fileName().toStdString();
        return {};
    }
    const QString conninfo = QString::fromUtf8(f.readAll()).trimmed();
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("search_path=(\\w+)")).match(conninfo);
    schema::ServerRoles roles;
    roles.schema = m.captured(1);
    if (schema)
        *schema = roles.schema;
    roles.owner = QStringLiteral("torvane"); // the test server's own user made the base
    roles.group = QStringLiteral("caixas_") + suffix;
    roles.pcs = {QStringLiteral("caixa_") + suffix};
    serverExec(QStringList{QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(roles.group),
                           QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2").arg(roles.pcs[0], roles.group)}
               + schema::serverGrants(roles));
    f.resize(0);
    f.seek(0);
    f.write((conninfo + QStringLiteral(" user=") + roles.pcs[0] + u'\n').toUtf8());
    return roles.pcs[0];
}

void endConnections(const QString &role)
{
    // Ended: as after a restart, the server is past it when the program
    // next turns to it.
    serverExec({QStringLiteral("SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity WHERE usename = '%1'")
                    .arg(role)});
}

QString faultTrigger(const QString &name, const QString &event, const QString &table, const QString &condition,
                     const QString &message)
{
    if (!onServer())
        return QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 WHEN %4 BEGIN SELECT RAISE(%5); END")
            .arg(name, event, table, condition,
                 message.isEmpty() ? QStringLiteral("IGNORE") : QStringLiteral("ABORT, '%1'").arg(message));
    const QString action = message.isEmpty() ? QStringLiteral("RETURN NULL;")
                                             : QStringLiteral("RAISE EXCEPTION ''%1'';").arg(message);
    return QStringLiteral("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS"
                          " 'BEGIN IF %4 THEN %5 END IF; RETURN NEW; END';"
                          " CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH ROW EXECUTE FUNCTION %1()")
        .arg(name, event, table, condition, action);
}

} // namespace torvane::test
