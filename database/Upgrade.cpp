#include "Upgrade.h"

#include "ConfigRow.h"
#include "Db.h"
#include "Engine.h"
#include "SchemaSteps.h"
#include "Schema.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>

namespace torvane::db {

const QString DatabaseUpgrade::kRestartMessage =
    QStringLiteral("Foram realizadas alterações no banco de dados e o programa\nprecisa ser reinicializado.");
const QString DatabaseUpgrade::kPluCodeIndex = QStringLiteral("CREATE INDEX IF NOT EXISTS PLU_pluCode ON PLU (pluCode)");
const QString DatabaseUpgrade::kBackFillMessage = QStringLiteral("Atualizando banco de dados...");
const QString DatabaseUpgrade::kNotChangedMessage =
    QStringLiteral("O banco de dados precisa ser atualizado, mas a atualização não foi feita porque não havia "
                   "cópia de segurança; nada foi alterado. Resolva o problema da cópia e abra o programa novamente.");

namespace {

// Commits on every way out; finish() says whether the commit worked (when
// it did not, nothing of the transaction is stored).
struct CommitOnExit {
    QSqlDatabase db;
    bool active;
    bool finish(QString *error)
    {
        if (!active)
            return true;
        active = false;
        if (db.commit())
            return true;
        *error = errorText(db.lastError());
        db.rollback();
        return false;
    }
    ~CommitOnExit()
    {
        QString ignored;
        finish(&ignored);
    }
};

} // namespace

DatabaseUpgrade::DatabaseUpgrade(const QSqlDatabase &db, ConfigRow &config, UpgradeHost &host)
    : m_db(db), m_config(config), m_host(host)
{
}

QString DatabaseUpgrade::invalidCodeSizeMessage(int stored)
{
    return QStringLiteral("O tamanho do código gravado nas configurações (%1) não é 4, 5 nem 6; o programa passa "
                          "a usar 5 e os códigos dos produtos não foram alterados. Confira o tamanho em "
                          "Arquivo, Configurar.")
        .arg(stored);
}

QString DatabaseUpgrade::rowsLeftMessage(int rows, const QString &why)
{
    return QStringLiteral("%1 produto(s) ficaram sem código porque o preenchimento dos códigos parou (%2). "
                          "Os códigos já preenchidos ficam; o preenchimento continua na próxima vez que o programa "
                          "for aberto.")
        .arg(rows)
        .arg(why);
}

bool DatabaseUpgrade::probe(const QString &sql)
{
    m_statements << sql;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // A missing table or column is what a probe asks about; any other error is kept.
    const bool ok = q.exec(mapAccessSql(m_db, sql));
    if (!ok && classifyError(q.lastError()) != EngineError::MissingTable && m_probeError.isEmpty())
        m_probeError = errorText(q.lastError());
    q.finish();
    return ok;
}

bool DatabaseUpgrade::mayChange()
{
    if (!m_mayChange)
        m_mayChange = m_host.beforeChange();
    return *m_mayChange;
}

bool DatabaseUpgrade::execute(const QString &sql, QString *error)
{
    if (!mayChange()) {
        *error = kNotChangedMessage;
        return false;
    }
    m_statements << sql;
    QSqlQuery q(m_db);
    if (q.exec(mapAccessSql(m_db, sql)))
        return true;
    *error = errorText(q.lastError());
    return false;
}

DatabaseUpgrade::Result DatabaseUpgrade::run()
{
    Result failed;
    failed.outcome = Outcome::Failed;
    auto run = [&](const QString &sql) { return execute(sql, &failed.error); };

    // 1. No Config: the first version's file.  Create it and Codigo, then
    //    the program must be started again.
    auto missing = [&](const QString &sql) { return !probe(sql) && m_probeError.isEmpty(); };
    auto probeFailed = [&] {
        failed.error = m_probeError;
        return failed;
    };
    if (!probe(QStringLiteral("Select * From Config"))) {
        if (!m_probeError.isEmpty())
            return probeFailed();
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
    if (missing(QStringLiteral("Select BarcodeMode From PLU"))) {
        if (!run(QStringLiteral("Alter Table PLU Add BarcodeMode int")) ||
            !run(QStringLiteral("Alter Table PLU Add Prefixb int")) ||
            !run(QStringLiteral("Update PLU Set BarcodeMode = 1, Prefixb =0")))
            return failed;
    }
    // 3. Use of the second prefix: a settings row that existed before keeps
    //    the second prefix in use.
    if (missing(QStringLiteral("Select flgPrefixo2 From Config"))) {
        if (!run(QStringLiteral("Alter Table Config Add flgPrefixo2 bit ")) ||
            !run(QStringLiteral("Update Config Set flgPrefixo2 = true")))
            return failed;
    }
    // 4. The import mark.
    if (missing(QStringLiteral("Select flgDel From plu"))) {
        if (!run(QStringLiteral("Alter Table plu Add flgDel bit ")))
            return failed;
    }
    // What later versions added, as every new base is made with it.
    for (const SchemaStep &step : schemaSteps()) {
        QString error;
        if (!step.afterCodesRefusal && !addStep(step, &error) && (!step.optional || m_mayChange == false)) {
            failed.error = error;
            return failed;
        }
    }
    if (!m_probeError.isEmpty())
        return probeFailed();
    // 5. The settings row and the codes of rows that have none yet.
    if (!m_config.open(m_db, &failed.error))
        return failed;
    {
        QSqlQuery empty(m_db);
        const bool codesToFill = empty.exec(QStringLiteral("Select count(*) From PLU Where Codigo Is Null")) &&
                                 empty.next() && empty.value(0).toInt() > 0;
        empty.finish();
        if ((codesToFill || !schema::isValidCodeSize(m_config.codeSize())) && !mayChange()) {
            failed.error = kNotChangedMessage;
            return failed;
        }
    }
    // The settings and the codes filled for them are committed together:
    // a failure leaves neither, and the next start tries again.
    QElapsedTimer settingsAndCodes;
    settingsAndCodes.start();
    CommitOnExit transaction{m_db, beginTransaction(m_db)};
    if (!schema::isValidCodeSize(m_config.codeSize())) {
        const bool newRow = !m_config.hasRow();
        const int stored = m_config.codeSize();
        m_config.edit();
        m_config.setCodeSize(schema::kDefaultCodeSize);
        if (newRow) // a new row starts without the second prefix
            m_config.setFlgPrefixo2(false);
        if (!m_config.post(&failed.error)) {
            m_config.cancel();
            return failed;
        }
        // A size that was set but is not one the scale knows: the codes
        // were made for some other size and are kept as they are.
        if (stored != 0)
            m_host.showInformation(invalidCodeSizeMessage(stored));
    }
    Result r = backFill();
    const bool committed = transaction.finish(&failed.error);
    m_backFillNs = settingsAndCodes.nsecsElapsed();
    if (!committed) {
        // Nothing was stored: the settings row shows the file again.
        QString reread;
        m_config.open(m_db, &reread);
        return failed;
    }
    if (r.outcome == Outcome::Failed || r.errorShown) {
        QSqlQuery left(m_db);
        const int rows = left.exec(QStringLiteral("Select count(*) From PLU Where Codigo Is Null")) && left.next()
                             ? left.value(0).toInt()
                             : 0;
        if (rows > 0 && r.outcome == Outcome::Failed && !r.errorShown)
            r.error = QStringLiteral("%1. %2").arg(r.error, rowsLeftMessage(rows, QStringLiteral("erro acima")));
        else if (rows > 0)
            m_host.showInformation(rowsLeftMessage(rows, m_backFillRefusal));
    }
    // The rules on the codes, once the codes are filled (the engine itself
    // refuses a second product with a code: two PCs saving at once, any path
    // that writes).  Codes that are repeated already keep one from being added;
    // the products stay usable, the operator is told, and the next start
    // tries again.
    for (const SchemaStep &step : schemaSteps()) {
        QString error;
        if (step.afterCodesRefusal && r.outcome != Outcome::Failed && !addStep(step, &error))
            m_host.showInformation(step.afterCodesRefusal(m_db, error));
    }
    return r;
}

bool DatabaseUpgrade::addStep(const SchemaStep &step, QString *error)
{
    const bool missingPart = !step.probe.isEmpty() ? !probe(step.probe) && m_probeError.isEmpty()
                           : step.present          ? !step.present(m_db)
                                                   : true;
    if (!missingPart)
        return true;
    // The copy before the upgrade is made before the first addition.  A
    // rule on the codes changes no row, and a base whose codes repeat tries
    // it at every start: a copy each time would push the good ones out.
    if (!step.afterCodesRefusal && !mayChange()) {
        *error = kNotChangedMessage;
        return false;
    }
    for (const QString &sql : step.create)
        if (!execute(sql, error))
            return false;
    return !step.ensure || step.ensure(m_db, error);
}

QString DatabaseUpgrade::uniqueCodesMessage(const QStringList &repeated, const QString &error)
{
    return QStringLiteral("Há produtos com o mesmo código, e enquanto for assim o banco de dados não pode recusar "
                          "códigos repetidos por conta própria. Os produtos podem ser usados; altere o código de um "
                          "produto de cada grupo abaixo e abra o programa de novo.\n\n%1\n\n(%2)")
        .arg(repeated.join(u'\n'), error);
}

DatabaseUpgrade::Result DatabaseUpgrade::backFill()
{
    Result failed;
    failed.outcome = Outcome::Failed;
    {
        QSqlQuery empty(m_db);
        if (!empty.exec(QStringLiteral("Select count(*) From PLU Where Codigo Is Null")) || !empty.next()) {
            failed.error = errorText(empty.lastError());
            return failed;
        }
        if (empty.value(0).toInt() == 0)
            return {};
    }
    if (!m_host.openProductList(&failed.error))
        return failed;
    const int rows = m_host.productCount();
    if (rows == 0)
        return {};
    if (!m_host.backFillAllowed()) {
        m_backFillRefusal = QStringLiteral("dois produtos ficariam com o mesmo código");
        Result r;
        r.errorShown = true;
        return r;
    }
    m_host.progressMessage(kBackFillMessage);
    m_host.progressShow(QStringLiteral("Aguarde..."), rows);
    Result r = fillCodes(rows);
    if (!m_host.finishSaves(&failed.error)) {
        // An earlier save than the one that ended the filling failed.
        m_host.progressHide();
        return failed;
    }
    return r;
}

DatabaseUpgrade::Result DatabaseUpgrade::fillCodes(int rows)
{
    Result failed;
    failed.outcome = Outcome::Failed;
    m_host.firstProduct();
    for (int i = 0; i < rows; ++i) {
        if (m_host.currentHasCodigo()) {
            m_host.progressStep();
            if (i + 1 < rows)
                m_host.nextProduct();
            continue;
        }
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
        case UpgradeHost::SaveResult::Refused: {
            // The save showed why; the rows saved before stay saved, the
            // list is loaded so the operator can mend the row, and the
            // next start fills the rows still empty.
            m_host.progressHide();
            m_backFillRefusal = QStringLiteral("a gravação do código %1 foi recusada").arg(codigo);
            Result r;
            r.errorShown = true;
            return r;
        }
        case UpgradeHost::SaveResult::Failed:
            m_host.progressHide();
            return failed;
        }
        m_host.progressStep();
        if (i + 1 < rows)
            m_host.nextProduct();
    }
    m_host.firstProduct();
    m_host.progressHide();
    return {};
}

} // namespace torvane::db
