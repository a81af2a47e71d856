#include "ServerBase.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

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
