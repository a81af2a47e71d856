#pragma once
// The gate every change that rewrites the products' scale codes passes
// before anything is written: the form's save, "Prefixo 1" and "Prefixo 2"
// for all products, the code size and second prefix ("Configurar"), the
// import and the filling of the codes at start.
//
// Given the rows as stored and what each save gives them (a code and a
// second prefix; every saved row gets its pluCode rebuilt from them and the
// settings), the plan works out every new scale code and refuses a change
// that would give two products one code, or leave a product that had one
// with code 0, listing every product involved.  Rows that already shared a
// code before the change (an older file) are not merged by it and pass.
//
// It also orders the saves: rows are written one at a time, and the file's
// unique index on pluCode checks every statement, so a row that takes the
// code another row still holds is written after that row gives it up.  Rows
// in a ring (each takes the code the next one gives up) cannot be ordered:
// one of each ring is first saved as a free slot (code 0, outside the
// index) and later with its own code.  Only ring rows cost a second save.
//
// A plain class: no widgets, no database.

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>

namespace torvane::manager {

// The settings row's part in the scale code.
struct CodeSettings {
    int codeSize = 5;
    bool prefix2 = false;
};

// One row as stored.
struct StoredCode {
    qint64 pluNo = 0;
    QVariant codigo; // null: a row never given a code
    qint64 prefixb = 0;
    QString pluCode;
    QString pluDesc;
    double preco = 0;
};

class CodePlan {
public:
    CodePlan(QVector<StoredCode> rows, CodeSettings settings);

    // Row `row` will be saved with this code and second prefix.
    void save(int row, const QVariant &codigo, qint64 prefixb);
    // Row `row` will be saved as it stands (its pluCode rebuilt).
    void save(int row);
    // Whether a product (a description or a price) whose code becomes 0 is
    // refused; true unless changed (the import fills free slots with the
    // lines of code 000000).
    void setRefuseCodeZero(bool refuse) { m_refuseZero = refuse; }

    // Works the plan out.  False when two products would share a code or a
    // product would lose its code.
    bool check();

    struct Collision {
        int row = 0;
        QString newPluCode; // the code it would share, or the code of 0
        bool freed = false; // the product would become a free slot
    };
    const QVector<Collision> &collisions() const { return m_collisions; }
    // The operator's message: notDone (what was not changed, e.g. "O
    // prefixo 2 não foi alterado"), why, then one line per product, those
    // that would share a code side by side.
    QString refusal(const QString &notDone) const;

    // The saved rows in an order that never has two products hold one code
    // at once (only after check() returned true).
    const QVector<int> &order() const { return m_order; }
    // Rows to save with code 0 before the others (rings); each comes again
    // in order() with its own code.
    const QVector<int> &parked() const { return m_parked; }

    bool saved(int row) const { return m_saved.value(row); }
    QVariant newCodigo(int row) const { return m_newCodigo.value(row); }
    QString newPluCode(int row) const { return m_newPluCode.value(row); }

private:
    bool inIndexBefore(int row) const;
    bool inIndexAfter(int row) const;
    void orderSaves();

    QVector<StoredCode> m_rows;
    CodeSettings m_settings;
    bool m_refuseZero = true;
    QVector<bool> m_saved;
    QVector<QVariant> m_newCodigo;
    QVector<QString> m_newPluCode;
    QVector<Collision> m_collisions;
    QVector<int> m_order;
    QVector<int> m_parked;
};

} // namespace torvane::manager
