#include "ConfigRow.h"

#include "Db.h"
#include "Engine.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace torvane::db {

bool ConfigRow::open(const QSqlDatabase &db, QString *error)
{
    close();
    m_db = db;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // rowid identifies the row for the save; Config has no key of its own.
    if (!q.exec(mapAccessSql(db, QStringLiteral("Select rowid, * From Config")))) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    const QSqlRecord rec = q.record();
    for (int i = 1; i < rec.count(); ++i)
        m_fields << rec.fieldName(i);
    m_values = QVector<QVariant>(m_fields.size());
    if (q.next()) {
        m_rowid = q.value(0);
        for (int i = 0; i < m_fields.size(); ++i)
            m_values[i] = q.value(i + 1);
    }
    m_open = true;
    return true;
}

void ConfigRow::close()
{
    m_open = false;
    m_editing = false;
    m_db = QSqlDatabase();
    m_rowid = QVariant();
    m_fields.clear();
    m_values.clear();
    m_backup.clear();
}

int ConfigRow::index(const QString &column) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].compare(column, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant ConfigRow::value(const QString &column) const
{
    const int i = index(column);
    return i < 0 ? QVariant() : m_values[i];
}

int ConfigRow::codeSize() const
{
    return value(QStringLiteral("CodeSize")).toInt();
}

bool ConfigRow::flgPrefixo2() const
{
    return value(QStringLiteral("flgPrefixo2")).toInt() != 0;
}

bool ConfigRow::edit()
{
    if (!m_open)
        return false;
    if (!m_editing) {
        m_backup = m_values;
        m_editing = true;
    }
    return true;
}

bool ConfigRow::setValue(const QString &column, const QVariant &value)
{
    const int i = index(column);
    if (!m_editing || i < 0)
        return false;
    m_values[i] = value;
    return true;
}

bool ConfigRow::post(QString *error)
{
    if (!m_editing)
        return true;
    QSqlQuery q(m_db);
    QStringList names;
    QVariantList values;
    for (int i = 0; i < m_fields.size(); ++i) {
        // A new row writes every value it was given; an existing row only
        // what changed.
        if (hasRow() ? (m_values[i] == m_backup[i] && m_values[i].isNull() == m_backup[i].isNull())
                     : m_values[i].isNull())
            continue;
        names << m_fields[i];
        values << m_values[i];
    }
    // The server moves a row when it is written (its rowid, ctid, changes):
    // the write hands back where the row now is.
    const bool server = engineOf(m_db) == Engine::Server;
    const QString returning = server ? QStringLiteral(" RETURNING rowid") : QString();
    bool ok = true;
    if (!hasRow()) {
        QStringList marks;
        for (int i = 0; i < names.size(); ++i)
            marks << QStringLiteral("?");
        ok = q.prepare(mapAccessSql(m_db, (names.isEmpty() ? QStringLiteral("INSERT INTO Config DEFAULT VALUES")
                                                           : QStringLiteral("INSERT INTO Config (%1) VALUES (%2)")
                                                                 .arg(names.join(QStringLiteral(", ")),
                                                                      marks.join(QStringLiteral(", "))))
                                              + returning));
    } else if (!names.isEmpty()) {
        QStringList sets;
        for (const QString &n : names)
            sets << n + QStringLiteral(" = ?");
        ok = q.prepare(mapAccessSql(
            m_db, QStringLiteral("UPDATE Config SET %1 WHERE rowid = ?").arg(sets.join(QStringLiteral(", "))) + returning));
        values << m_rowid;
    } else {
        m_editing = false;
        return true;
    }
    for (int i = 0; ok && i < values.size(); ++i)
        q.bindValue(i, bindable(values[i]));
    ok = ok && execWrite(m_db, q);
    if (!ok) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    if (server) {
        if (q.next())
            m_rowid = q.value(0);
    } else if (!hasRow()) {
        m_rowid = q.lastInsertId();
    }
    m_editing = false;
    m_backup.clear();
    return true;
}

void ConfigRow::cancel()
{
    if (!m_editing)
        return;
    m_values = m_backup;
    m_editing = false;
}

} // namespace torvane::db
