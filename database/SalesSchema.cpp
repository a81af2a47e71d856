#include "SalesSchema.h"

#include "Db.h"
#include "Engine.h"
#include "SalesKey.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace torvane::db {

bool UpgradeSalesRecord(const QSqlDatabase &db, QString *error, const std::function<bool()> &beforeChange)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool hasKey = HasSaleKey(db);
    // Only what is missing is created: a fully upgraded file may be
    // read-only.
    auto hasIndex = [&](const char *name) { return db::hasIndex(db, QLatin1String(name)); };
    QStringList statements;
    if (!hasKey)
        statements << QStringLiteral("ALTER TABLE RECORD ADD saleKey varchar(255)");
    if (!hasIndex("RECORD_saleKey"))
        statements << QStringLiteral("CREATE UNIQUE INDEX RECORD_saleKey ON RECORD (saleKey)");
    if (!hasIndex("RECORD_dateTime"))
        statements << QStringLiteral("CREATE INDEX RECORD_dateTime ON RECORD (dateTime)");
    if (!statements.isEmpty() && beforeChange && !beforeChange())
        return false;
    for (const QString &sql : statements) {
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
