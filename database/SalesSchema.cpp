#include "SalesSchema.h"

#include "Db.h"
#include "Engine.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace torvane::db {

namespace {

struct Column {
    const char *name;
    const char *type;
};

// In the order they are added.
const Column kColumns[] = {{"saleKey", "varchar(255)"}, {"saleScale", "varchar(64)"}, {"saleRun", "int"},
                           {"saleSeq", "int"},          {"salePrice", "int"},          {"saleTotal", "bigint"}};

const char *const kIndexes[][2] = {
    {"RECORD_saleKey", "CREATE UNIQUE INDEX RECORD_saleKey ON RECORD (saleKey)"},
    {"RECORD_dateTime", "CREATE INDEX RECORD_dateTime ON RECORD (dateTime)"},
    {"RECORD_saleRun", "CREATE UNIQUE INDEX RECORD_saleRun ON RECORD (saleRun, saleSeq)"},
};

bool hasColumn(const QStringList &columns, const char *name)
{
    return columns.contains(QLatin1String(name), Qt::CaseInsensitive);
}

} // namespace

bool HasSalesRuns(const QSqlDatabase &db)
{
    QStringList columns;
    QString type, ignored;
    if (!tableColumns(db, QStringLiteral("RECORD"), &columns, &ignored)
        || !objectType(db, QStringLiteral("SalesRun"), &type, &ignored) || type.isEmpty())
        return false;
    for (const Column &c : kColumns)
        if (!hasColumn(columns, c.name))
            return false;
    return true;
}

bool HasSalesRecordSchema(const QSqlDatabase &db)
{
    if (!HasSalesRuns(db))
        return false;
    for (const auto &index : kIndexes)
        if (!hasIndex(db, QLatin1String(index[0])))
            return false;
    return true;
}

bool UpgradeSalesRecord(const QSqlDatabase &db, QString *error)
{
    // Asked of the catalogue, not by a failing statement: on the server a
    // failed statement would end the caller's transaction.
    QStringList columns;
    QString runTable, why;
    if (!tableColumns(db, QStringLiteral("RECORD"), &columns, &why)
        || !objectType(db, QStringLiteral("SalesRun"), &runTable, &why)) {
        if (error)
            *error = why;
        return false;
    }
    // Only what is missing is created: a fully upgraded file may be
    // read-only.
    QStringList statements;
    for (const Column &c : kColumns)
        if (!hasColumn(columns, c.name))
            statements << QStringLiteral("ALTER TABLE RECORD ADD %1 %2").arg(QLatin1String(c.name), QLatin1String(c.type));
    if (!hasColumn(columns, "saleTotal")) {
        // The sales stored before: priced once, as the window priced them
        // until now (the scale's copy first, then the base).
        // One pass per table: a correlated look-up in PLU_UPLOADED (no key)
        // for each of 100,000 sales takes seconds at the manager's start.
        statements << QStringLiteral("UPDATE RECORD SET salePrice = (SELECT p.unitPrice FROM PLU p"
                                     " WHERE p.pluNo = RECORD.pluNo) WHERE saleTotal IS NULL")
                   << QStringLiteral("UPDATE RECORD SET salePrice = u.price FROM (SELECT pluNo, max(unitPrice) AS price"
                                     " FROM PLU_UPLOADED GROUP BY pluNo) AS u"
                                     " WHERE u.pluNo = RECORD.pluNo AND RECORD.saleTotal IS NULL")
                   << QStringLiteral("UPDATE RECORD SET salePrice = COALESCE(salePrice, 0), saleTotal = CASE"
                                     " WHEN weight <> 0 AND totalPrice = 0"
                                     " THEN CAST(round(CAST(weight AS bigint) * COALESCE(salePrice, 0) / 1000.0) AS bigint)"
                                     " ELSE totalPrice END WHERE saleTotal IS NULL");
    }
    for (const auto &index : kIndexes)
        if (!hasIndex(db, QLatin1String(index[0])))
            statements << QLatin1String(index[1]);
    if (runTable.isEmpty())
        statements << QStringLiteral("CREATE TABLE SalesRun ( ID int Primary Key, Scale varchar(64), Port varchar(255),"
                                     " Records int, StartedAt datetime, ReadAt datetime )");
    if (statements.isEmpty())
        return true;

    QSqlDatabase conn = db;
    // False without a cause when the caller's transaction is open (a new
    // base is made in one): the statements then belong to it.
    QString refused;
    const bool own = beginTransaction(conn, &refused);
    if (!own && !refused.isEmpty()) {
        if (error)
            *error = refused;
        return false;
    }
    QSqlQuery q(db);
    for (const QString &sql : statements) {
        if (!q.exec(mapAccessSql(db, sql))) {
            if (error)
                *error = errorText(q.lastError());
            q.finish();
            if (own)
                conn.rollback();
            return false;
        }
        q.finish();
    }
    if (own && !conn.commit()) {
        if (error)
            *error = errorText(conn.lastError());
        conn.rollback();
        return false;
    }
    return true;
}

} // namespace torvane::db
