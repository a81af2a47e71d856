#pragma once
// The manager's settings row (the first row of Config), read once and kept
// in memory; every reader sees a change as soon as it is saved.

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVector>

namespace torvane::db {

class ConfigRow {
public:
    // Reads the first row of Config.  An empty table gives a row-less open
    // query whose CodeSize reads 0.
    bool open(const QSqlDatabase &db, QString *error);
    void close();
    bool isOpen() const { return m_open; }
    bool hasRow() const { return m_rowid.isValid(); }

    int codeSize() const;
    bool flgPrefixo2() const;
    QVariant value(const QString &column) const;

    // Puts the row in edit; an empty table gets a new row, written on post.
    bool edit();
    bool isEditing() const { return m_editing; }
    bool setValue(const QString &column, const QVariant &value);
    void setCodeSize(int size) { setValue(QStringLiteral("CodeSize"), size); }
    void setFlgPrefixo2(bool on) { setValue(QStringLiteral("flgPrefixo2"), on); }
    // Writes the row (an update by rowid, or an insert for a new row).
    bool post(QString *error);
    void cancel();

private:
    int index(const QString &column) const;

    QSqlDatabase m_db;
    bool m_open = false;
    bool m_editing = false;
    QVariant m_rowid;
    QStringList m_fields;
    QVector<QVariant> m_values;
    QVector<QVariant> m_backup;
};

} // namespace torvane::db
