// Moving a shop's product base from its file onto its server.
#include "Db.h"
#include "Engine.h"
#include "SalesKey.h"
#include "Schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace torvane::schema {

namespace {

// The scales' record goes too: without it every scale would be sent every
// product again, and a scale whose record says it holds a product would not.
// The sales' runs go with the sales: without them the next read of a scale
// would store every sale it still holds a second time.  The record of the
// products' changes goes too.
const char *const kTables[] = {"PLU",    "PLU_UPLOADED",  "RECORD",   "SalesRun",
                               "Config", "ScaleTransfer", "ScaleAck", "Historico"};

bool count(const QSqlDatabase &db, const QString &table, qint64 *n, QString *error)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM ") + table) || !q.next()) {
        *error = db::errorText(q.lastError());
        return false;
    }
    *n = q.value(0).toLongLong();
    return true;
}

// Every row of one table, the columns both sides have, in one statement per
// row inside the caller's transaction.
bool copyTable(const QSqlDatabase &from, const QSqlDatabase &to, const QString &table, QString *error)
{
    QSqlQuery src(from);
    src.setForwardOnly(true);
    if (!src.exec(QStringLiteral("SELECT * FROM ") + table)) {
        *error = db::errorText(src.lastError());
        return false;
    }
    const QSqlRecord targetColumns = to.record(table.toLower());
    const QSqlRecord rec = src.record();
    QStringList names, marks;
    QVector<int> columns;
    for (int i = 0; i < rec.count(); ++i) {
        if (targetColumns.indexOf(rec.fieldName(i).toLower()) < 0)
            continue;
        names << rec.fieldName(i);
        marks << QStringLiteral("?");
        columns << i;
    }
    QSqlQuery ins(to);
    if (!ins.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                         .arg(table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))))) {
        *error = db::errorText(ins.lastError());
        return false;
    }
    while (src.next()) {
        for (int k = 0; k < columns.size(); ++k)
            ins.bindValue(k, db::bindable(src.value(columns[k])));
        if (!ins.exec()) {
            *error = table + QStringLiteral(": ") + db::errorText(ins.lastError());
            return false;
        }
    }
    return true;
}

// The copied sales keys with their date part as the server writes it for
// the same dateTime (the file keeps whatever text it was given): the scale
// still holds those sales, and its next read must find every one stored.
bool rekeySales(const QSqlDatabase &to, QString *error)
{
    QSqlQuery rows(to);
    rows.setForwardOnly(true);
    if (!rows.exec(QStringLiteral("SELECT ID, dateTime, saleKey FROM RECORD WHERE saleKey IS NOT NULL"))) {
        *error = db::errorText(rows.lastError());
        return false;
    }
    QVector<QPair<qint64, QString>> changed;
    while (rows.next()) {
        QStringList parts = rows.value(2).toString().split(u'|');
        const QString date = db::SaleKeyDate(rows.value(1));
        if (parts.size() != 5 || parts[1] == date)
            continue;
        parts[1] = date;
        changed.append({rows.value(0).toLongLong(), parts.join(u'|')});
    }
    QSqlQuery set(to);
    set.prepare(QStringLiteral("UPDATE RECORD SET saleKey = ? WHERE ID = ?"));
    for (const auto &[id, key] : changed) {
        set.addBindValue(key);
        set.addBindValue(id);
        if (!set.exec()) {
            *error = QStringLiteral("RECORD: ") + db::errorText(set.lastError());
            return false;
        }
    }
    return true;
}

} // namespace

bool copyFileToServer(const QString &sourceFile, const QString &targetPath, QString *summary, QString *error)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (db::serverFileFor(targetPath).isEmpty())
        return fail(QStringLiteral("A pasta de %1 não tem o arquivo de conexão %2.")
                        .arg(targetPath, QLatin1String(db::kServerFileName)));
    QString err;
    auto source = db::Connection::openFile(sourceFile, &err, true);
    if (!source)
        return fail(err);
    const QSqlDatabase from = source->database();
    // Only a base the manager has brought up to date: the copy keeps every
    // column as it is and the server base must not need the upgrade.
    for (const char *probe : {"SELECT Codigo, BarcodeMode, Prefixb, flgDel FROM PLU", "SELECT flgPrefixo2 FROM Config",
                              "SELECT saleRun, saleTotal FROM RECORD", "SELECT Records FROM SalesRun",
                              "SELECT Port FROM ScaleTransfer"}) {
        QSqlQuery q(from);
        if (!q.exec(QLatin1String(probe)))
            return fail(QStringLiteral("O banco de dados %1 precisa ser atualizado: abra-o uma vez no programa "
                                       "Torvane antes de copiá-lo.")
                            .arg(sourceFile));
    }
    // The server takes no two products with one code: say which ones
    // before anything is created there.
    {
        QSqlQuery q(from);
        if (!q.exec(QStringLiteral("SELECT pluCode, group_concat(pluNo, ', ') FROM PLU WHERE Codigo <> 0"
                                   " GROUP BY pluCode HAVING count(*) > 1 ORDER BY pluCode")))
            return fail(db::errorText(q.lastError()));
        QStringList repeated;
        while (q.next())
            repeated << QStringLiteral("código %1 nos PLU %2").arg(q.value(0).toString(), q.value(1).toString());
        if (!repeated.isEmpty())
            return fail(QStringLiteral("O banco de dados %1 tem produtos com o mesmo código (%2), e o servidor não "
                                       "aceita dois produtos com um código; corrija-os no Torvane e copie de novo.")
                            .arg(sourceFile, repeated.join(QStringLiteral("; "))));
    }
    // The base's creation and every row in one transaction: a copy stopped
    // half-way leaves nothing behind, and can simply be run again.
    QStringList counts;
    auto copyRows = [&](QSqlDatabase &to, QString *error) {
        QSqlQuery q(to);
        // The new base's default settings row gives way to the file's.
        if (!q.exec(QStringLiteral("DELETE FROM Config"))) {
            *error = db::errorText(q.lastError());
            return false;
        }
        for (const char *t : kTables) {
            const QString table = QLatin1String(t);
            QString type;
            if (!db::objectType(from, table, &type, error))
                return false;
            if (type.isEmpty()) // a file from before the scales' record
                continue;
            qint64 before = 0, after = 0;
            if (!copyTable(from, to, table, error) || !count(from, table, &before, error)
                || !count(to, table, &after, error))
                return false;
            if (before != after) {
                *error = QStringLiteral("%1: %2 linhas no arquivo, %3 no servidor").arg(table).arg(before).arg(after);
                return false;
            }
            counts << QStringLiteral("%1 %2").arg(table).arg(after);
        }
        return rekeySales(to, error) && db::syncAutoNumber(to, QStringLiteral("PLU"), QStringLiteral("pluNo"), error)
            && db::syncAutoNumber(to, QStringLiteral("RECORD"), QStringLiteral("ID"), error)
            && db::syncAutoNumber(to, QStringLiteral("Historico"), QStringLiteral("ID"), error);
    };
    CreateOptions options;
    options.slotCount = 0;
    if (!createServerBase(db::serverFileFor(targetPath), options, &err, copyRows,
                          QStringLiteral("A cópia de %1 para o servidor").arg(sourceFile)))
        return fail(err);
    if (summary)
        *summary = counts.join(QStringLiteral(", "));
    return true;
}

} // namespace torvane::schema
