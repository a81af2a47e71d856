#pragma once
// The loops that change every product row at once (a prefix for all
// products, the rewrite of every code after a change of code size), kept
// apart from the form so they can be measured and tested on their own.

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <optional>

namespace torvane::manager {

class ProductQuery;

// Keeps the saves of one bulk change in one transaction, so a file that
// syncs every commit is synced once per change instead of once per row,
// and what the change reads first (the settings, the rows as stored) is
// what it writes over.  Whatever has been saved when the change ends (also
// when it stops early) is committed; destroying it uncommitted rolls back.
// Inside a transaction already open (a change that holds one itself) it
// does nothing.
class ProductsTransaction {
public:
    explicit ProductsTransaction(QSqlDatabase db);
    ~ProductsTransaction();
    ProductsTransaction(const ProductsTransaction &) = delete;
    ProductsTransaction &operator=(const ProductsTransaction &) = delete;
    // False, with the engine's text, when no transaction could be begun
    // (the other program kept the file locked): nothing may be changed.
    bool ok(QString *error) const;
    // False with the engine's text when the commit fails (nothing stored).
    bool commit(QString *error);

private:
    QSqlDatabase m_db;
    QString m_error; // before m_active, which its begin fills
    bool m_nested;
    bool m_active;
};

// The order a walk saves the rows in (CodePlan::order), and the rows first
// saved as free slots (CodePlan::parked).
struct WalkOrder {
    QVector<int> rows;
    QVector<int> parked;
};

// How a walk over the product rows ended.
struct RowWalkResult {
    bool completed = false; // every row was changed and saved
    int rowsSaved = 0;      // rows saved before the end or the failure
    QString error;          // why it stopped (operator text) when not completed
    bool rolledBack = false; // the final commit failed: nothing was stored,
                             // the list shows values the file does not hold
};

// Changes one row in edit: sets its columns.  Returns false with *error set
// to stop the walk (a value the column cannot take).
using RowChange = std::function<bool(ProductQuery &row, QString *error)>;

// Walks the product list from its first row to its last, in the list's
// current order.  For each row: sets skipValidation (the form's one-shot
// flgSemValidacao, which the save procedure clears), puts the row in edit,
// applies change, saves it, moves on and calls step.  After the last row it
// goes back to the first.
//
// The first change that fails, and the first save that is refused or fails,
// stops the walk: that row's edit is cancelled (so the row shows what the
// database holds and the form is not left in edit), the rows saved before it
// keep their new values, and the reason is returned.  The saves of one walk
// are committed together at its end (also when it stops early), which keeps
// the walk fast on a file that syncs every commit.  skipValidation is false
// again when the walk returns, however it ended.
//
// With an order, the rows are saved in that order instead (every row of the
// list, once), the parked ones first saved with code 0 and then again with
// their own code and the change.
RowWalkResult walkProducts(ProductQuery &products, bool &skipValidation, const RowChange &change,
                           const std::function<void()> &step = {}, const WalkOrder *order = nullptr);

// The prefix digit an answer of the prefix prompt stands for.  The prompt
// accepts any number from 0 to 9, fractions included; a whole number (also
// written "5,0" or with blanks) is stored, a true fraction cannot be stored
// in the whole-number column and gives nothing.
std::optional<int> prefixDigit(const QString &answer);

// The conversion error shown when an answer cannot be stored in a
// whole-number column.
QString notAnIntegerMessage(const QString &answer);

// The statement that sets what every barcode carries: 1 = weight, 2 = total.
QString barcodeModeStatement(int mode);

} // namespace torvane::manager
