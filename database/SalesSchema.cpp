#include "SalesSchema.h"

#include "Db.h"
#include "Engine.h"
#include "SalesKey.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace torvane::db {

namespace {

// What the sales record lacks, as the statements that add it.
QStringList missingStatements(const QSqlDatabase &db)
{
    QStringList statements;
    if (!HasSaleKey(db))
        statements << QStringLiteral("ALTER TABLE RECORD ADD saleKey varchar(255)");
    if (!hasIndex(db, QStringLiteral("RECORD_saleKey")))
        statements << QStringLiteral("CREATE UNIQUE INDEX RECORD_saleKey ON RECORD (saleKey)");
    if (!hasIndex(db, QStringLiteral("RECORD_dateTime")))
        statements << QStringLiteral("CREATE INDEX RECORD_dateTime ON RECORD (dateTime)");
    return statements;
}

} // namespace

bool HasSalesRecordSchema(const QSqlDatabase &db)
{
    return missingStatements(db).isEmpty();
}

bool UpgradeSalesRecord(const QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Only what is missing is created: a fully upgraded file may be
    // read-only.
    for (const QString &sql : missingStatements(db)) {
        if (!q.exec(mapAccessSql(db, sql))) {
            if (error)
                *error = errorText(q.lastError());
            return false;
        }
        q.finish();
    }
    return true;
}

} // namespace torvane::db
