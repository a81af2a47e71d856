#include "SchemaSteps.h"

#include "Db.h"
#include "Engine.h"
#include "ProductHistory.h"
#include "SalesSchema.h"
#include "ScaleRecordSchema.h"
#include "Upgrade.h"

#include <QSqlError>
#include <QSqlQuery>

namespace torvane::db {

const std::vector<SchemaStep> &schemaSteps()
{
    static const std::vector<SchemaStep> steps = [] {
        std::vector<SchemaStep> all;
        // The record of what each scale acknowledged.
        for (const auto &table : scaleRecordSteps()) {
            SchemaStep &step = all.emplace_back();
            step.probe = table.probe;
            step.create = table.create;
        }
        // Every save looks its new code up among all the others; without an
        // index each look-up reads the whole table, and the back-fill grows
        // with the square of the slots.
        SchemaStep &index = all.emplace_back();
        index.present = [](const QSqlDatabase &db) { return hasIndex(db, QStringLiteral("PLU_pluCode")); };
        index.create = {DatabaseUpgrade::kPluCodeIndex};
        index.optional = true;
        // What every sales read stores with a sale (SalesSchema.h): the key
        // that stores a sale read twice once, its scale's run and place
        // (table SalesRun), its price and worth when read (filled once for
        // the sales stored before), and the indexes.
        SchemaStep &sales = all.emplace_back();
        sales.present = [](const QSqlDatabase &db) { return HasSalesRecordSchema(db); };
        sales.ensure = [](const QSqlDatabase &db, QString *error) { return UpgradeSalesRecord(db, error); };
        sales.optional = true;
        // The record of every change of a product's price, tare, code,
        // description, sale type or prefixes (ProductHistory.h).
        SchemaStep &history = all.emplace_back();
        history.present = historyPresent;
        history.ensure = createHistory;
        history.optional = true;
        // No two products with one code, kept by the engine itself.
        SchemaStep &codes = all.emplace_back();
        codes.ensure = [](const QSqlDatabase &db, QString *error) { return ensureUniqueCodes(db, error); };
        codes.afterCodesRefusal = [](const QSqlDatabase &db, const QString &error) {
            return DatabaseUpgrade::uniqueCodesMessage(repeatedCodes(db), error);
        };
        return all;
    }();
    return steps;
}

bool createSchemaAdditions(const QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    for (const SchemaStep &step : schemaSteps()) {
        for (const QString &sql : step.create) {
            if (!q.exec(mapAccessSql(db, sql))) {
                if (error)
                    *error = errorText(q.lastError());
                return false;
            }
        }
        if (step.ensure && !step.ensure(db, error))
            return false;
    }
    return true;
}

} // namespace torvane::db
