#pragma once
// The product list (qryProdutos): a snapshot of PLU rows held in memory,
// with a current row that can be edited and saved back to its PLU row by
// pluNo.  Changes by other programs show after the next open.
//
// Moving to another row while the current one is in edit saves it first
// (through BeforePost); a refused or failed save keeps the row in edit and
// the move does not happen.

#include "Engine.h"

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

    // While one lives, the views that follow the list (the form's fields,
    // the toolbar, the grid) are not told of each row a long walk moves to,
    // edits and saves: a walk over thousands of rows would spend most of its
    // time drawing rows no one can read.  When the last one ends they are
    // told once (rowsChanged, stateChanged, afterScroll) and show the list
    // as the walk left it.
    class Quiet {
    public:
        explicit Quiet(ProductQuery &query);
        ~Quiet();
        Quiet(const Quiet &) = delete;
        Quiet &operator=(const Quiet &) = delete;

    private:
        ProductQuery &m_query;
    };

    // While one lives, on a server inside a transaction, saves go to the
    // server 250 at a time, as one statement where the engine allows (one
    // wait for the answers instead of three for each save).  Each save is
    // checked as always (the row as stored, the row as written) when its
    // batch is sent, which is a few saves later: a save that fails then is
    // the one reported (lastError(), failure()), the saves after it are
    // undone and their rows show what is stored again.  Anything that reads
    // the table (lookUp) sends the batch first.  On the file, and outside a
    // transaction, saves go one at a time as before.  One at a time; the
    // owner is one walk.
    class Batch {
    public:
        explicit Batch(ProductQuery &query);
        // Sends what is left; a failure then stays in lastError().
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;
        // Sends what is left.  False when a save failed.
        bool finish();
        // How many saves post() reported as done were undone since.
        int undone() const;
        // The row whose save failed when its batch was sent, or -1.
        int failedRow() const;

    private:
        ProductQuery &m_query;
    };

    // A look-up the save procedure runs for every save (whether another
    // product holds a code): kept prepared with the save's statements.
    // Each result row in the statement's column order.
    bool lookUp(const QString &sql, const QVariantList &bindings, QVector<QVector<QVariant>> *rows, QString *error);

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
    void rowsChanged(); // any row may have changed (the end of a quiet walk)
    void stateChanged(State state);

private:
    bool moveInternal(int row);
    bool leaveEdit();
    // The end of a save that went through: the row is browsed again.
    PostResult posted();
    void setState(State s);
    // The signals a quiet walk holds back.
    void notifyScroll();
    void notifyRowChanged();
    // Runs a statement of the save (through mapAccessSql, kept prepared)
    // with values bound in order; each result row is split evenly into one
    // row for each of into (the stored row, then the written one).
    bool runStatement(const QString &sql, const QVariantList &values, const QVector<QVariant> &fallback,
                      std::initializer_list<QVector<QVector<QVariant>> *> into, QSqlError *error);
    // The save of the row in edit, kept to be sent with the next ones.
    PostResult queueSave(const QString &sql, const QVariantList &values, const QStringList &columns);
    // Checks the batch in flight, then sends the kept saves; with wait,
    // checks those too and closes the last savepoint.  False when a save
    // failed (its message in m_lastError), with every save after it undone.
    bool sendPending(bool wait);
    // Whether a save now goes with a batch.
    bool batchReady() const;
    // Reads and checks the batch in flight, if any.
    bool receiveBatch();
    // Why the row as stored (found) and as written cannot be kept, or
    // empty: the checks every save passes once the engine answered.
    QString storedRowProblem(const QVariant &key, const QVector<QVariant> &shown, const QVector<QVector<QVariant>> &found,
                             const QVector<QVector<QVariant>> &written, Failure *failure) const;
    // The result's rows split into the stored and written rows (as
    // runStatement does).
    void splitRows(const QStringList &names, QVector<int> &columns, const QVector<QVector<QVariant>> &result,
                   const QVector<QVariant> &fallback, std::initializer_list<QVector<QVector<QVariant>> *> into) const;
    // "Label: shown → stored" for each column that differs.
    QStringList differences(const QVector<QVariant> &shown, const QVector<QVariant> &stored) const;

    QSqlDatabase m_db;
    // The statements of the save, prepared once and kept while the list is
    // open on its connection (a server would otherwise parse each, and
    // both engines prepare and drop it, for every row).
    db::KeptStatements m_statements;
    QString m_table = QStringLiteral("PLU");
    QString m_keyColumn = QStringLiteral("pluNo");
    QString m_sql;
    QStringList m_fields;
    QVector<QVector<QVariant>> m_rows;
    QVector<QVariant> m_backup;
    QStringList m_unknownColumns; // set during this edit, not in the table
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    State m_state = State::Inactive;
    QString m_lastError;
    Failure m_failure = Failure::None;
    struct Batching;
    std::unique_ptr<Batching> m_batching; // while a Batch lives
    int m_quiet = 0;
    bool m_quietMissed = false; // a quiet walk held a signal back
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
