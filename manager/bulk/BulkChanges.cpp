#include "BulkChanges.h"
#include "Engine.h"
#include "ProductQuery.h"
#include "Unitutil.h"

#include <QSqlDatabase>
#include <QHash>
#include <QSqlError>

#include <climits>
#include <cmath>

namespace torvane::manager {

ProductsTransaction::ProductsTransaction(QSqlDatabase db)
    : m_db(std::move(db))
    , m_nested(m_db.isOpen() && db::transactionOpen(m_db))
    , m_active(m_db.isOpen() && !m_nested && db::beginTransaction(m_db, &m_error))
{
    if (!m_active && !m_nested && m_error.isEmpty())
        m_error = QStringLiteral("O banco de dados não está aberto");
    // A change of every row may give a row the code another row gives up
    // later in the same walk; the server checks the codes when it is
    // committed (the file, every statement: the walk is ordered for it).
    if (m_active)
        db::deferUniqueChecks(m_db);
}

ProductsTransaction::~ProductsTransaction()
{
    if (m_active)
        m_db.rollback();
}

bool ProductsTransaction::ok(QString *error) const
{
    if (m_active || m_nested)
        return true;
    if (error)
        *error = m_error;
    return false;
}

bool ProductsTransaction::commit(QString *error)
{
    if (!m_active)
        return true;
    m_active = false;
    if (m_db.commit())
        return true;
    if (error)
        *error = db::errorText(m_db.lastError());
    m_db.rollback();
    return false;
}

namespace {

QString describeFailure(const ProductQuery &products, ProductQuery::PostResult result)
{
    if (result == ProductQuery::PostResult::Failed)
        return products.lastError();
    return QString(); // a refused save has shown its own message
}

} // namespace

RowWalkResult walkProducts(ProductQuery &products, bool &skipValidation, const RowChange &change,
                           const std::function<void()> &step, const WalkOrder *order)
{
    RowWalkResult result;
    struct ClearFlag {
        bool &flag;
        ~ClearFlag() { flag = false; }
    } clearFlag{skipValidation};

    if (!products.isOpen()) {
        result.error = QStringLiteral("A lista de produtos não está aberta");
        return result;
    }
    ProductsTransaction transaction(products.database());
    if (!transaction.ok(&result.error))
        return result;
    // The views show the list once, as the walk leaves it.
    ProductQuery::Quiet quiet(products);
    // On a server the saves go many at a time.
    ProductQuery::Batch batch(products);

    QVector<int> rows;
    if (order) {
        rows = order->rows;
    } else {
        rows.reserve(products.count());
        for (int r = 0; r < products.count(); ++r)
            rows << r;
    }
    const QString codeColumn = QStringLiteral("Codigo");
    QHash<int, QVariant> parkedCodes;
    // Saves one row: moves there (which stores nothing: no row is left in
    // edit), edits, sets the values, saves.  False with result.error set
    // when it stopped.
    auto saveRow = [&](int row, const std::function<bool(QString *)> &set) {
        if (products.recNo() != row && !products.moveTo(row)) {
            result.error = QStringLiteral("Não foi possível passar ao próximo produto");
            return false;
        }
        skipValidation = true;
        if (!products.edit()) {
            result.error = QStringLiteral("O produto não pôde ser editado");
            return false;
        }
        QString why;
        if (!set(&why)) {
            products.cancel();
            result.error = why;
            return false;
        }
        const ProductQuery::PostResult posted = products.post();
        if (posted != ProductQuery::PostResult::Posted) {
            result.error = describeFailure(products, posted);
            products.cancel();
            return false;
        }
        return true;
    };

    bool stopped = false;
    if (order) {
        for (int row : order->parked) {
            stopped = !saveRow(row, [&](QString *) {
                parkedCodes.insert(row, products.value(codeColumn));
                return products.setValue(codeColumn, 0);
            });
            if (stopped)
                break;
        }
    }
    for (int i = 0; !stopped && i < rows.size(); ++i) {
        const int row = rows[i];
        stopped = !saveRow(row, [&](QString *why) {
            if (parkedCodes.contains(row))
                products.setValue(codeColumn, parkedCodes.value(row));
            return change(products, why);
        });
        if (stopped)
            break;
        ++result.rowsSaved;
        if (step)
            step();
    }

    // A save found to have failed when its batch was sent stops the walk
    // there: the saves after it were undone.
    if (!batch.finish()) {
        stopped = true;
        result.error = products.lastError();
    }
    result.rowsSaved -= batch.undone();
    // The walk stays on the row that failed, as one saved alone would.
    if (stopped && batch.failedRow() >= 0)
        products.moveTo(batch.failedRow());
    QString commitError;
    if (!transaction.commit(&commitError)) {
        result.error = commitError;
        result.rolledBack = true;
        return result;
    }
    if (stopped)
        return result;
    if (!products.isEmpty())
        products.first();
    result.completed = true;
    return result;
}

std::optional<int> prefixDigit(const QString &answer)
{
    const std::optional<double> number = ParseNumber(answer);
    if (!number || std::floor(*number) != *number || *number < INT_MIN || *number > INT_MAX)
        return std::nullopt;
    return int(*number);
}

QString notAnIntegerMessage(const QString &answer)
{
    return QStringLiteral("'%1' não é um valor inteiro válido").arg(answer);
}

QString barcodeModeStatement(int mode)
{
    return QStringLiteral("Update Plu Set BarcodeMode = %1").arg(mode);
}

} // namespace torvane::manager
