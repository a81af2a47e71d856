#pragma once
// The product list (qryProdutos): a snapshot of PLU rows held in memory,
// with a current row that can be edited and saved back to its PLU row by
// pluNo.  Changes by other programs show after the next open.
//
// Moving to another row while the current one is in edit saves it first
// (through BeforePost); a refused or failed save keeps the row in edit and
// the move does not happen.

#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

namespace torvane::manager {

class ProductQuery : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit };
    enum class PostResult { Posted, Refused, Failed };

    explicit ProductQuery(QObject *parent = nullptr);
    ~ProductQuery() override;

    // The table rows are written back to, and its key column.
    void setTable(const QString &table, const QString &keyColumn);
    void setDatabase(const QSqlDatabase &db);
    QSqlDatabase database() const { return m_db; }

    void setSql(const QString &sql) { m_sql = sql; }
    const QString &sql() const { return m_sql; }

    // Runs the SQL (through mapAccessSql) and loads every row; the first row
    // becomes current.  On failure the query stays closed and *error holds
    // the engine's text.
    bool open(QString *error = nullptr);
    void close();
    bool isOpen() const { return m_state != State::Inactive; }
    State state() const { return m_state; }
    bool isEditing() const { return m_state == State::Edit; }

    // Columns, by name without regard to case.
    int fieldCount() const { return int(m_fields.size()); }
    const QStringList &fieldNames() const { return m_fields; }
    int fieldIndex(const QString &name) const;
    bool hasField(const QString &name) const { return fieldIndex(name) >= 0; }

    // Rows and the current row.
    int count() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.isEmpty(); }
    int recNo() const { return m_current; } // -1 when there is no row
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    bool first();
    bool last();
    bool next(); // at the last row sets eof() and stays
    bool prior();
    bool moveTo(int row);
    // Moves to the first row whose columns equal the values (compared as
    // the same type when possible, else as text, exactly).
    bool locate(const QStringList &columns, const QVariantList &values);

    QVariant value(const QString &column) const;
    // The value the row in edit held when the edit began (as shown then);
    // the current value when the row is not in edit.
    QVariant oldValue(const QString &column) const;
    QVariant value(int row, const QString &column) const;
    QVariant value(int row, int column) const;
    // Only while editing; returns false for an unknown column, and the save
    // of that edit then fails (the value would otherwise be lost unseen).
    // A null text is stored as the empty text.
    bool setValue(const QString &column, const QVariant &value);

    // Puts the current row in edit (no-op when it is already).
    bool edit();
    // Saves the row in edit: BeforePost may refuse (it shows its own
    // message); then the changed columns are written to the table in their
    // own transaction.  A database error leaves the row in edit and its text
    // in lastError().
    PostResult post();
    void cancel();
    QString lastError() const { return m_lastError; }
    // Why the last save failed.  ChangedElsewhere: another PC saved the row
    // after it was shown; the row now holds what is stored and is no longer
    // in edit.  Duplicate: the engine refused a value the table holds once
    // (a code another PC saved first); the row stays in edit.
    enum class Failure { None, Engine, Duplicate, ChangedElsewhere };
    Failure failure() const { return m_failure; }

    // Runs before every save; return false to refuse it silently.
    std::function<bool()> beforePost;
    // Runs inside the save's transaction, before the row is read again and
    // written, when the save changes anything: what it reads (the settings,
    // a look-up) is what other PCs committed, and the values it sets are
    // written with the rest.  Return false to refuse (it shows its own
    // message); the row stays in edit.
    std::function<bool()> insideSave;

signals:
    void opened();
    void closed();
    void afterPost();
    void afterScroll();
    void rowChanged(int row);
    void stateChanged(State state);

private:
    bool moveInternal(int row);
    bool leaveEdit();
    // The end of a save that went through: the row is browsed again.
    PostResult posted();
    void setState(State s);
    // Runs a statement of the save (through mapAccessSql, kept prepared)
    // with values bound in order; each result row is split evenly into one
    // row for each of into (the stored row, then the written one).
    bool runStatement(const QString &sql, const QVariantList &values, const QVector<QVariant> &fallback,
                      std::initializer_list<QVector<QVector<QVariant>> *> into, QSqlError *error);
    // The query's current row, its columns from..to-1 by name, over a copy
    // of fallback.
    QVector<QVariant> readRow(const QSqlQuery &q, const QSqlRecord &rec, const QVector<QVariant> &fallback, int from,
                              int to) const;
    // "Label: shown → stored" for each column that differs.
    QStringList differences(const QVector<QVariant> &shown, const QVector<QVariant> &stored) const;

    // A statement of the save, prepared once and kept while the list is
    // open on its connection (a server would otherwise parse it, and the
    // driver prepare and drop it, for every row).  Its lastError() is set
    // when preparing failed.
    QSqlQuery *statement(const QString &sql);

    QSqlDatabase m_db;
    std::map<QString, std::unique_ptr<QSqlQuery>> m_statements;
    QString m_table = QStringLiteral("PLU");
    QString m_keyColumn = QStringLiteral("pluNo");
    QString m_sql;
    QStringList m_fields;
    QVector<QString> m_lowerFields;
    QVector<QVector<QVariant>> m_rows;
    QVector<QVariant> m_backup;
    QStringList m_unknownColumns; // set during this edit, not in the table
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    State m_state = State::Inactive;
    QString m_lastError;
    Failure m_failure = Failure::None;
};

// A scratch statement (qryAux): runs one probe, check or update at a time,
// always through mapAccessSql.
class AuxQuery {
public:
    void setDatabase(const QSqlDatabase &db) { m_db = db; }
    QSqlDatabase database() const { return m_db; }
    // Runs a statement that returns rows; bound values fill "?" in order.
    bool open(const QString &sql, const QVariantList &bindings = {}, QString *error = nullptr);
    // Runs a statement without a result.
    bool exec(const QString &sql, const QVariantList &bindings = {}, QString *error = nullptr);
    void close();
    // Rows of the last open.
    int count() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.isEmpty(); }
    QVariant value(int row, int column) const;
    QVariant value(int row, const QString &column) const;
    const QString &sql() const { return m_sql; }
    QString lastError() const { return m_lastError; }

private:
    QSqlDatabase m_db;
    QString m_sql;
    QStringList m_fields;
    QVector<QVector<QVariant>> m_rows;
    QString m_lastError;
};

} // namespace torvane::manager
