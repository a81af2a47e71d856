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

} // namespace torvane::test
