#include "Upgrade.h"

#include "ConfigRow.h"
#include "Db.h"
#include "SalesSchema.h"
#include "ScaleRecordSchema.h"
#include "Schema.h"

#include <QSqlError>
#include <QSqlQuery>

namespace torvane::db {

const QString DatabaseUpgrade::kRestartMessage =
    QStringLiteral("Foram realizadas alterações no banco de dados e o programa\nprecisa ser reinicializado.");
const QString DatabaseUpgrade::kPluCodeIndex = QStringLiteral("CREATE INDEX IF NOT EXISTS PLU_pluCode ON PLU (pluCode)");
const QString DatabaseUpgrade::kBackFillMessage = QStringLiteral("Atualizando banco de dados...");

DatabaseUpgrade::DatabaseUpgrade(const QSqlDatabase &db, ConfigRow &config, UpgradeHost &host)
    : m_db(db), m_config(config), m_host(host)
{
}

bool DatabaseUpgrade::probe(const QString &sql)
{
    m_statements << sql;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // Any error means the table or column is missing; it is not reported.
    const bool ok = q.exec(mapAccessSql(sql));
    q.finish();
    return ok;
}

bool DatabaseUpgrade::execute(const QString &sql, QString *error)
{
    m_statements << sql;
    QSqlQuery q(m_db);
    if (q.exec(mapAccessSql(sql)))
        return true;
    *error = errorText(q.lastError());
    return false;
}

DatabaseUpgrade::Result DatabaseUpgrade::run()
{
    Result failed;
    failed.outcome = Outcome::Failed;
    auto run = [&](const QString &sql) { return execute(sql, &failed.error); };
    // The sales window's key and indexes on RECORD.  Products do not need
    // them: a file that cannot take them (read-only) still opens, and the
    // sales window reports the engine's error when it reads.
    UpgradeSalesRecord(m_db, nullptr);

    // 1. No Config: the first version's file.  Create it and Codigo, then
    //    the program must be started again.
    if (!probe(QStringLiteral("Select * From Config"))) {
        if (!run(QStringLiteral("Create Table Config ( CodeSize smallint )")))
            return failed;
        if (!run(QStringLiteral("Alter Table PLU Add Codigo int")))
            return failed;
        m_host.showInformation(kRestartMessage);
        m_host.closeMainWindow();
        Result r;
        r.outcome = Outcome::RestartRequired;
        return r;
    }
    // 2. Barcode mode and second prefix.
    if (!probe(QStringLiteral("Select BarcodeMode From PLU"))) {
        if (!run(QStringLiteral("Alter Table PLU Add BarcodeMode int")) ||
            !run(QStringLiteral("Alter Table PLU Add Prefixb int")) ||
            !run(QStringLiteral("Update PLU Set BarcodeMode = 1, Prefixb =0")))
            return failed;
    }
    // 3. Use of the second prefix: a settings row that existed before keeps
    //    the second prefix in use.
    if (!probe(QStringLiteral("Select flgPrefixo2 From Config"))) {
        if (!run(QStringLiteral("Alter Table Config Add flgPrefixo2 bit ")) ||
            !run(QStringLiteral("Update Config Set flgPrefixo2 = true")))
            return failed;
    }
    // 4. The import mark.
    if (!probe(QStringLiteral("Select flgDel From plu"))) {
        if (!run(QStringLiteral("Alter Table plu Add flgDel bit ")))
            return failed;
    }
    // The record of what each scale acknowledged.
    for (const auto &step : scaleRecordSteps())
        if (!probe(step.probe))
            for (const auto &sql : step.create)
                if (!run(sql))
                    return failed;
    // 5. The settings row and, the first time a code size is set, Codigo.
    if (!m_config.open(m_db, &failed.error))
        return failed;
    if (!schema::isValidCodeSize(m_config.codeSize())) {
        const bool newRow = !m_config.hasRow();
        m_config.edit();
        m_config.setCodeSize(schema::kDefaultCodeSize);
        if (newRow) // a new row starts without the second prefix
            m_config.setFlgPrefixo2(false);
        if (!m_config.post(&failed.error)) {
            m_config.cancel();
            return failed;
        }
        return backFill();
    }
    return {};
}

DatabaseUpgrade::Result DatabaseUpgrade::backFill()
{
    Result failed;
    failed.outcome = Outcome::Failed;
    if (!m_host.openProductList(&failed.error))
        return failed;
    const int rows = m_host.productCount();
    if (rows == 0)
        return {};
    // Every save below looks its new code up among all the others; without
    // an index each look-up reads the whole table and the back-fill grows
    // with the square of the slots.
    if (!execute(kPluCodeIndex, &failed.error))
        return failed;
    // The saves run inside one transaction that is committed on every way
    // out, so the rows saved before a failure stay saved while the file is
    // synced once instead of once per row.
    struct CommitOnExit {
        QSqlDatabase db;
        bool active;
        ~CommitOnExit()
        {
            if (active && !db.commit())
                db.rollback();
        }
    } transaction{m_db, m_db.transaction()};
    m_host.progressMessage(kBackFillMessage);
    m_host.progressShow(QStringLiteral("Aguarde..."), rows);
    m_host.firstProduct();
    for (int i = 0; i < rows; ++i) {
        const QString pluCode = m_host.currentPluCode();
        bool ok = false;
        const qint64 codigo = pluCode.toLongLong(&ok, 10);
        if (!ok) {
            m_host.progressHide();
            failed.error = QStringLiteral("'%1' não é um valor inteiro válido").arg(pluCode);
            return failed;
        }
        switch (m_host.saveCurrentCodigo(codigo, &failed.error)) {
        case UpgradeHost::SaveResult::Saved:
            break;
        case UpgradeHost::SaveResult::Refused:
            m_host.progressHide();
            failed.error.clear();
            failed.errorShown = true;
            return failed;
        case UpgradeHost::SaveResult::Failed:
            m_host.progressHide();
            return failed;
        }
        m_host.progressStep();
        if (i + 1 < rows)
            m_host.nextProduct();
    }
    if (transaction.active) {
        transaction.active = false;
        if (!m_db.commit()) {
            failed.error = errorText(m_db.lastError());
            m_db.rollback();
            m_host.progressHide();
            return failed;
        }
    }
    m_host.firstProduct();
    m_host.progressHide();
    return {};
}

} // namespace torvane::db
