#include "BulkChanges.h"
#include "Engine.h"
#include "ProductQuery.h"
#include "Unitutil.h"

#include <QSqlDatabase>
#include <QSqlError>

#include <climits>
#include <cmath>

namespace torvane::manager {

ProductsTransaction::ProductsTransaction(QSqlDatabase db)
    : m_db(std::move(db))
    , m_active(m_db.isOpen() && db::beginTransaction(m_db))
{
    // A change of every row may give a row the code another row gives up
    // later in the same walk; the codes are checked when it is committed.
    if (m_active)
        db::deferUniqueChecks(m_db);
}

ProductsTransaction::~ProductsTransaction()
{
    if (m_active)
        m_db.rollback();
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
                           const std::function<void()> &step)
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

    bool stopped = false;
    if (!products.isEmpty()) {
        products.first();
        for (;;) {
            skipValidation = true;
            if (!products.edit()) {
                result.error = QStringLiteral("O produto não pôde ser editado");
                stopped = true;
                break;
            }
            QString why;
            if (!change(products, &why)) {
                products.cancel();
                result.error = why;
                stopped = true;
                break;
            }
            const ProductQuery::PostResult posted = products.post();
            if (posted != ProductQuery::PostResult::Posted) {
                result.error = describeFailure(products, posted);
                products.cancel();
                stopped = true;
                break;
            }
            ++result.rowsSaved;
            if (step)
                step();
            if (products.recNo() >= products.count() - 1)
                break;
            if (!products.next()) {
                result.error = QStringLiteral("Não foi possível passar ao próximo produto");
                stopped = true;
                break;
            }
        }
    }

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
