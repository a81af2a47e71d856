#include "SalesRead.h"

#include "Db.h"
#include "Engine.h"
#include "SalesKey.h"
#include "SalesSchema.h"
#include "ScaleRecord.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <map>

namespace torvane::db {

namespace {

constexpr const char *kDateFormat = "yyyy-MM-dd HH:mm:ss";

// One record as it is compared with a stored one: the scale's own values.
struct Seen {
    int pluNo = 0;
    QString date;
    qint64 value = 0; // the record's one value, stored as weight or total
    bool operator==(const Seen &o) const { return pluNo == o.pluNo && date == o.date && value == o.value; }
};

QString dateText(const QDateTime &when)
{
    return when.isValid() ? when.toString(QLatin1String(kDateFormat)) : QString();
}

Seen seenOf(const ReadSale &s)
{
    return {s.pluNo, dateText(s.when), s.weight + s.totalPrice};
}

struct Run {
    qint64 id = 0;
    QString scale;
    int records = 0;
    std::map<int, Seen> rows; // by place
};

} // namespace

qint64 SaleWorth(qint64 weight, qint64 totalPrice, qint64 unitPrice)
{
    if (weight == 0 || totalPrice != 0)
        return totalPrice;
    return std::llround(double(weight) * double(unitPrice) / 1000.0);
}

bool BeginSalesStore(const QSqlDatabase &db, QSqlError *error)
{
    // The file's write lock, or the server's advisory lock of this base's
    // schema (it needs no privilege: a PC's role takes it); both wait the
    // connection's lock time-out.
    if (engineOf(db) == Engine::Server) {
        // Begun through the engine layer: a connection the server ended
        // while the scale was read (a restart) is made again first.
        QString why;
        if (!beginTransaction(db, &why)) {
            *error = db.lastError().isValid() ? db.lastError()
                                              : QSqlError(QString(), why, QSqlError::TransactionError);
            return false;
        }
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(current_schema() || '.SalesRun'))"))) {
            *error = q.lastError();
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        return true;
    }
    // Not beginTransaction here: a lock held too long must reach the
    // caller as the engine's error, which tells it from any other.
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        *error = q.lastError();
        if (transactionOpen(db))
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

QString SalesRead::busyMessage()
{
    return QStringLiteral("Outra leitura das vendas (ou outra gravação no banco de dados) está em andamento e não "
                          "terminou em %1 segundos. As vendas lidas agora não foram gravadas: elas continuam na "
                          "balança. Leia as vendas de novo quando a outra leitura terminar.")
        .arg(kBusyTimeoutMs / 1000);
}

SalesRead::SalesRead(const QString &databasePath, const QString &scale, const QString &port)
    : m_path(databasePath), m_scale(scale), m_port(port)
{
}

SalesRead::~SalesRead() = default;

bool SalesRead::fail(const QString &error)
{
    m_error = error.isEmpty() ? QStringLiteral("erro no banco de dados") : error;
    return false;
}

bool SalesRead::open()
{
    m_error.clear();
    QString error;
    m_conn = Connection::open(m_path, &error);
    if (!m_conn)
        return fail(error);
    // The columns every version has: a missing table or column is told
    // now, in the engine's words, not after the read.
    QSqlQuery probe(m_conn->database());
    if (!probe.exec(QStringLiteral("SELECT ID, pluNo, pluDesc, dateTime, weight, totalPrice FROM RECORD WHERE 1 = 0")))
        return fail(errorText(probe.lastError()));
    m_keyed = HasSalesRuns(m_conn->database());
    return true;
}

bool SalesRead::store(bool complete)
{
    m_new = m_known = m_notWritten = 0;
    m_error.clear();
    if (!m_conn)
        return fail(QString());
    QSqlDatabase db = m_conn->database();
    QSqlQuery q(db);
    auto rollback = [&](const QSqlError &e) {
        const QString text = classifyError(e) == EngineError::Locked ? busyMessage() + QStringLiteral("\n(")
                                                                           + engineText(e) + u')'
                                                                     : errorText(e);
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        m_new = m_known = 0;
        return fail(text);
    };

    QSqlError locked;
    if (!BeginSalesStore(db, &locked))
        return rollback(locked);

    QSqlQuery insert(db);
    const QString columns = m_keyed ? QStringLiteral(", saleKey, saleScale, saleRun, saleSeq, salePrice, saleTotal")
                                    : QString();
    const QString marks = m_keyed ? QStringLiteral(", ?, ?, ?, ?, ?, ?") : QString();
    if (!insert.prepare(QStringLiteral("INSERT INTO RECORD (pluNo, pluDesc, dateTime, weight, totalPrice%1)"
                                       " VALUES (?, ?, ?, ?, ?%2)")
                            .arg(columns, marks)))
        return rollback(insert.lastError());
    auto add = [&](const ReadSale &s, const QString &key, qint64 run, int place) {
        insert.bindValue(0, s.pluNo);
        insert.bindValue(1, s.pluDesc.isNull() ? QStringLiteral("") : s.pluDesc);
        insert.bindValue(2, s.when.isValid() ? QVariant(dateText(s.when)) : QVariant(QMetaType(QMetaType::QString)));
        insert.bindValue(3, s.weight);
        insert.bindValue(4, s.totalPrice);
        if (m_keyed) {
            insert.bindValue(5, key);
            insert.bindValue(6, m_scale);
            insert.bindValue(7, run);
            insert.bindValue(8, place);
            insert.bindValue(9, s.unitPrice);
            insert.bindValue(10, SaleWorth(s.weight, s.totalPrice, s.unitPrice));
        }
        if (!insert.exec())
            return false;
        // A row the base declined without an error (a rule of its own).
        if (insert.numRowsAffected() == 0)
            ++m_notWritten;
        return true;
    };
    const int n = count();

    if (!m_keyed) {
        // Not upgraded yet: nothing tells a sale read before from a new one.
        for (const ReadSale &s : m_sales)
            if (!add(s, QString(), 0, 0))
                return rollback(insert.lastError());
        if (!q.exec(QStringLiteral("COMMIT")))
            return rollback(q.lastError());
        m_new = n;
        return true;
    }

    // The scale's runs: the last one under its name, the last one through
    // its port.
    std::vector<Run> candidates;
    for (const char *by : {"Scale", "Port"}) {
        q.prepare(QStringLiteral("SELECT ID, Scale, Records FROM SalesRun WHERE %1 = ? ORDER BY ID DESC LIMIT 1")
                      .arg(QLatin1String(by)));
        q.addBindValue(QLatin1String(by) == QLatin1String("Scale") ? m_scale : m_port);
        if (!q.exec())
            return rollback(q.lastError());
        if (q.next()) {
            const qint64 id = q.value(0).toLongLong();
            if (candidates.empty() || candidates.front().id != id)
                candidates.push_back({id, q.value(1).toString(), q.value(2).toInt(), {}});
        }
        q.finish();
    }
    QSqlQuery rows(db);
    rows.setForwardOnly(true);
    rows.prepare(QStringLiteral("SELECT saleSeq, pluNo, dateTime, weight, totalPrice FROM RECORD WHERE saleRun = ?"));
    for (Run &run : candidates) {
        rows.addBindValue(run.id);
        if (!rows.exec())
            return rollback(rows.lastError());
        while (rows.next())
            run.rows[rows.value(0).toInt()] = {rows.value(1).toInt(), SaleKeyDate(rows.value(2)),
                                               rows.value(3).toLongLong() + rows.value(4).toLongLong()};
        rows.finish();
    }

    // The run this read continues: its records repeat the run's from the
    // first (a place whose row was deleted is not held against it), and a
    // complete read holds at least as many.  The longer one when both do.
    const Run *continued = nullptr;
    for (const Run &run : candidates) {
        if (complete && n < run.records)
            continue;
        bool repeats = true;
        for (int i = 0; i < std::min(n, run.records) && repeats; ++i) {
            const auto stored = run.rows.find(i + 1);
            repeats = stored == run.rows.end() || stored->second == seenOf(m_sales[size_t(i)]);
        }
        if (repeats && (!continued || run.records > continued->records))
            continued = &run;
    }

    const QString now = RecordTimeStamp();
    qint64 runId = 0;
    QString runScale = m_scale;
    int from = 0;
    if (continued) {
        runId = continued->id;
        runScale = continued->scale;
        from = std::min(n, continued->records);
        m_known = from;
        q.prepare(QStringLiteral("UPDATE SalesRun SET Records = ?, Port = ?, ReadAt = ? WHERE ID = ?"));
        q.addBindValue(std::max(n, continued->records));
        q.addBindValue(m_port);
        q.addBindValue(now);
        q.addBindValue(runId);
    } else {
        if (!q.exec(QStringLiteral("SELECT COALESCE(max(ID), 0) + 1 FROM SalesRun")) || !q.next())
            return rollback(q.lastError());
        runId = q.value(0).toLongLong();
        q.finish();
        q.prepare(QStringLiteral("INSERT INTO SalesRun (ID, Scale, Port, Records, StartedAt, ReadAt)"
                                 " VALUES (?, ?, ?, ?, ?, ?)"));
        q.addBindValue(runId);
        q.addBindValue(m_scale);
        q.addBindValue(m_port);
        q.addBindValue(n);
        q.addBindValue(now);
        q.addBindValue(now);
    }
    if (!q.exec())
        return rollback(q.lastError());
    q.finish();

    // A scale read for the first time may hold sales stored before runs
    // existed: each is found by the key it was stored under and taken into
    // the run instead of being stored again.
    const bool claimOld = candidates.empty();
    QSqlQuery old(db), claim(db);
    old.prepare(QStringLiteral("SELECT ID FROM RECORD WHERE saleKey = ? AND saleRun IS NULL"));
    claim.prepare(QStringLiteral("UPDATE RECORD SET saleKey = ?, saleScale = ?, saleRun = ?, saleSeq = ? WHERE ID = ?"));
    QHash<QString, int> seen;
    for (int i = from; i < n; ++i) {
        const ReadSale &s = m_sales[size_t(i)];
        const QString key = RunSaleKey(runScale, runId, i + 1);
        if (claimOld) {
            const QString date = dateText(s.when);
            const QString values = ValueSaleKey(s.pluNo, date, s.weight, s.totalPrice, 0);
            old.addBindValue(ValueSaleKey(s.pluNo, date, s.weight, s.totalPrice, ++seen[values]));
            if (!old.exec())
                return rollback(old.lastError());
            const QVariant id = old.next() ? old.value(0) : QVariant();
            old.finish();
            if (id.isValid()) {
                claim.addBindValue(key);
                claim.addBindValue(m_scale);
                claim.addBindValue(runId);
                claim.addBindValue(i + 1);
                claim.addBindValue(id);
                if (!claim.exec())
                    return rollback(claim.lastError());
                ++m_known;
                continue;
            }
        }
        if (!add(s, key, runId, i + 1))
            return rollback(insert.lastError());
        ++m_new;
    }
    if (!q.exec(QStringLiteral("COMMIT")))
        return rollback(q.lastError());
    return true;
}

} // namespace torvane::db
