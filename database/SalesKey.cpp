#include "SalesKey.h"

#include "Db.h"
#include "Engine.h"

#include <QDateTime>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <vector>

namespace torvane::db {

QString SaleKeyDate(const QVariant &dateTime)
{
    if (dateTime.isNull())
        return QString();
    if (dateTime.metaType().id() != QMetaType::QDateTime)
        return dateTime.toString();
    // Date and time as they are, with no conversion between time zones.
    const QDateTime dt = dateTime.toDateTime();
    return dt.toString(dt.time().msec() ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                        : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

qint64 LastRecordId(const QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT MAX(ID) FROM RECORD")) || !q.next()) {
        *error = errorText(q.lastError());
        return -1;
    }
    return q.value(0).toLongLong();
}

bool HasSaleKey(const QSqlDatabase &db)
{
    // Asked of the catalogue: a failing probe would end a server's
    // transaction (a new base is made in one).
    return !columnType(db, QStringLiteral("RECORD"), QStringLiteral("saleKey")).isEmpty();
}

bool AdoptSalesRead(const QSqlDatabase &connection, qint64 lastId, int *kept, int *removed, QString *error)
{
    *kept = 0;
    *removed = 0;
    QSqlDatabase db = connection;
    if (!db.transaction()) {
        *error = errorText(db.lastError());
        return false;
    }
    auto rollback = [&](const QSqlQuery &q) {
        *error = errorText(q.lastError());
        db.rollback();
        *kept = *removed = 0;
        return false;
    };
    QSqlQuery rows(db);
    rows.prepare(QStringLiteral("SELECT ID, pluNo, dateTime, weight, totalPrice FROM RECORD"
                                " WHERE ID > ? AND saleKey IS NULL ORDER BY ID"));
    rows.addBindValue(lastId);
    if (!rows.exec())
        return rollback(rows);
    struct NewRow {
        qint64 id;
        QString key;
    };
    std::vector<NewRow> fresh;
    // The n-th record of this read with the same values: the same sale in
    // every later read, since the scale sends its records in the same order.
    QHash<QString, int> seen;
    while (rows.next()) {
        const QString base = QStringLiteral("%1|%2|%3|%4")
                                 .arg(rows.value(1).toLongLong())
                                 .arg(SaleKeyDate(rows.value(2)))
                                 .arg(rows.value(3).toLongLong())
                                 .arg(rows.value(4).toLongLong());
        const int n = ++seen[base];
        fresh.push_back({rows.value(0).toLongLong(), base + u'|' + QString::number(n)});
    }
    rows.finish();

    QSqlQuery known(db), setKey(db), drop(db);
    known.prepare(QStringLiteral("SELECT 1 FROM RECORD WHERE saleKey = ?"));
    setKey.prepare(QStringLiteral("UPDATE RECORD SET saleKey = ? WHERE ID = ?"));
    drop.prepare(QStringLiteral("DELETE FROM RECORD WHERE ID = ?"));
    for (const NewRow &r : fresh) {
        known.addBindValue(r.key);
        if (!known.exec())
            return rollback(known);
        const bool already = known.next();
        known.finish();
        if (already) {
            drop.addBindValue(r.id);
            if (!drop.exec())
                return rollback(drop);
            ++*removed;
        } else {
            setKey.addBindValue(r.key);
            setKey.addBindValue(r.id);
            if (!setKey.exec())
                return rollback(setKey);
            ++*kept;
        }
    }
    if (!db.commit()) {
        *error = errorText(db.lastError());
        db.rollback();
        *kept = *removed = 0;
        return false;
    }
    return true;
}

} // namespace torvane::db
