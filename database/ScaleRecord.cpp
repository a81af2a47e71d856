#include "ScaleRecord.h"

#include "Db.h"
#include "Engine.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <mutex>

namespace torvane::db {

QString RecordTimeStamp()
{
    // Several scales' threads stamp at once, and the C library's time-zone
    // state behind local time is not safe to initialise from two threads.
    static std::mutex localTime;
    std::lock_guard<std::mutex> lock(localTime);
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

ScaleRecord::ScaleRecord(const QString &databasePath, const QString &scale, const QString &port)
    : m_path(databasePath), m_scale(scale), m_port(port)
{
}

ScaleRecord::~ScaleRecord() = default;

bool ScaleRecord::fail(const QString &error)
{
    m_error = error.isEmpty() ? QStringLiteral("erro no banco de dados") : error;
    return false;
}

QByteArray ScaleRecord::frame(int pluNo) const
{
    const auto it = m_frames.find(pluNo);
    return it == m_frames.end() ? QByteArray() : it->second;
}

bool ScaleRecord::needsSending(int pluNo, const QByteArray &frame) const
{
    if (!m_trusted)
        return true;
    const auto it = m_frames.find(pluNo);
    return it == m_frames.end() || it->second != frame;
}

bool ScaleRecord::load()
{
    m_error.clear();
    m_frames.clear();
    m_trusted = false;
    m_available = false;
    if (!m_conn) {
        QString error;
        m_conn = Connection::open(m_path, &error);
        if (!m_conn)
            return fail(error);
    }
    QSqlDatabase db = m_conn->database();
    // Asked through the engine layer: a server lists its tables under their
    // schema's name.
    for (const char *table : {"ScaleTransfer", "ScaleAck"}) {
        QString type, why;
        if (!objectType(db, QString::fromLatin1(table), &type, &why))
            return fail(why);
        if (type.isEmpty())
            return true; // not upgraded yet: everything goes, nothing is recorded
    }
    if (columnType(db, QStringLiteral("ScaleTransfer"), QStringLiteral("Port")).isEmpty())
        return true; // upgraded before records kept their port: not kept until the next upgrade adds it
    m_available = true;

    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT Complete, Port FROM ScaleTransfer WHERE Scale = ?"));
    q.addBindValue(m_scale);
    if (!q.exec())
        return fail(errorText(q.lastError()));
    // Reached through another port since (or never said through which),
    // the scale may have been sent to under another name meanwhile.
    m_trusted = q.next() && q.value(0).toInt() != 0 && q.value(1).toString() == m_port;
    q.finish();
    if (!m_trusted)
        return true; // the frames would not be used
    q.prepare(QStringLiteral("SELECT pluNo, Frame FROM ScaleAck WHERE Scale = ?"));
    q.addBindValue(m_scale);
    if (!q.exec())
        return fail(errorText(q.lastError()));
    while (q.next())
        m_frames[q.value(0).toInt()] = q.value(1).toByteArray();
    if (q.lastError().isValid())
        return fail(errorText(q.lastError()));
    return true;
}

bool ScaleRecord::markStarted()
{
    if (!m_available)
        return true;
    QSqlDatabase db = m_conn->database();
    // Through the engine layer: a server connection ended during a long
    // transfer is made again first, and the file's write lock is taken at
    // once.
    QString why;
    if (!beginTransaction(db, &why))
        return fail(why);
    QSqlQuery own(db), others(db);
    own.prepare(QStringLiteral("INSERT INTO ScaleTransfer (Scale, Complete, StartedAt, EndedAt, Products, Port)"
                               " VALUES (?, 0, ?, NULL, 0, ?)"
                               " ON CONFLICT (Scale) DO UPDATE SET Complete = 0, StartedAt = excluded.StartedAt,"
                               " EndedAt = NULL, Products = 0, Port = excluded.Port"));
    own.addBindValue(m_scale);
    own.addBindValue(RecordTimeStamp());
    own.addBindValue(m_port);
    // The same scale under another name: what that record says it holds
    // is about to change.
    others.prepare(QStringLiteral("UPDATE ScaleTransfer SET Complete = 0 WHERE Port = ? AND Scale <> ?"));
    others.addBindValue(m_port);
    others.addBindValue(m_scale);
    for (QSqlQuery *q : {&own, &others}) {
        if (!q->exec()) {
            const QString text = errorText(q->lastError());
            db.rollback();
            return fail(text);
        }
        q->finish();
    }
    if (!db.commit()) {
        const QString text = errorText(db.lastError());
        db.rollback();
        return fail(text);
    }
    return true;
}

bool ScaleRecord::finish(const std::map<int, QByteArray> &acknowledged, bool trustedNow)
{
    if (!m_available)
        return true;
    QSqlDatabase db = m_conn->database();
    // Through the engine layer: a server connection ended during a long
    // transfer is made again first, and the file's write lock is taken at
    // once.
    QString why;
    if (!beginTransaction(db, &why))
        return fail(why);
    auto rollback = [&](const QSqlError &e) {
        const QString text = errorText(e);
        db.rollback();
        return fail(text);
    };
    QSqlQuery ack(db);
    if (!ack.prepare(QStringLiteral("INSERT INTO ScaleAck (Scale, pluNo, Frame, AckedAt) VALUES (?, ?, ?, ?)"
                                            " ON CONFLICT (Scale, pluNo) DO UPDATE SET Frame = excluded.Frame,"
                                            " AckedAt = excluded.AckedAt")))
        return rollback(ack.lastError());
    const QString at = RecordTimeStamp();
    for (const auto &[pluNo, frame] : acknowledged) {
        ack.bindValue(0, m_scale);
        ack.bindValue(1, pluNo);
        ack.bindValue(2, frame);
        ack.bindValue(3, at);
        if (!ack.exec())
            return rollback(ack.lastError());
    }
    ack.finish();
    QSqlQuery end(db);
    end.prepare(QStringLiteral("UPDATE ScaleTransfer SET Complete = ?, EndedAt = ?, Products = ? WHERE Scale = ?"));
    end.addBindValue(trustedNow ? 1 : 0);
    end.addBindValue(at);
    end.addBindValue(int(acknowledged.size()));
    end.addBindValue(m_scale);
    if (!end.exec())
        return rollback(end.lastError());
    end.finish();
    if (!db.commit())
        return rollback(db.lastError());
    for (const auto &[pluNo, frame] : acknowledged)
        m_frames[pluNo] = frame;
    m_trusted = trustedNow;
    return true;
}

} // namespace torvane::db
