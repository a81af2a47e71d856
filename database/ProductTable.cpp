#include "ProductTable.h"

#include "Db.h"
#include "Engine.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace torvane::db {

const QStringList &baseProductColumns()
{
    static const QStringList columns = {
        QStringLiteral("pluNo"),     QStringLiteral("preFix"),    QStringLiteral("pluCode"),
        QStringLiteral("pluDesc"),   QStringLiteral("validDays"), QStringLiteral("tareWeight"),
        QStringLiteral("unitPrice"), QStringLiteral("sellFlag"),  QStringLiteral("Preco"),
        QStringLiteral("Tara"),      QStringLiteral("Setor"),
    };
    return columns;
}

const QStringList &upgradeProductColumns()
{
    static const QStringList columns = {
        QStringLiteral("Codigo"),
        QStringLiteral("BarcodeMode"),
        QStringLiteral("Prefixb"),
        QStringLiteral("flgDel"),
    };
    return columns;
}

bool checkProductTable(const QSqlDatabase &db, const QString &fileName, bool upgraded, QString *error)
{
    QStringList columns;
    QString engineError;
    if (!tableColumns(db, QStringLiteral("PLU"), &columns, &engineError)) {
        *error = QStringLiteral("Não foi possível ler a tabela de produtos do banco de dados %1. %2")
                     .arg(fileName, engineError);
        return false;
    }
    QSet<QString> present;
    for (const QString &c : columns)
        present.insert(c.toLower());
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (present.isEmpty()) {
        *error = QStringLiteral("O arquivo %1 não é um banco de dados do Torvane: não tem a tabela de produtos "
                                "(PLU). Nada foi gravado no arquivo; abra o programa na pasta do banco de dados "
                                "da balança.")
                     .arg(fileName);
        return false;
    }
    QStringList missing;
    for (const QString &c : baseProductColumns() + (upgraded ? upgradeProductColumns() : QStringList()))
        if (!present.contains(c.toLower()))
            missing << c;
    if (!missing.isEmpty()) {
        *error = QStringLiteral("A tabela de produtos do banco de dados %1 está danificada: falta(m) a(s) coluna(s) "
                                "%2. Nada foi gravado; restaure uma cópia de segurança do arquivo.")
                     .arg(fileName, missing.join(QStringLiteral(", ")));
        return false;
    }
    if (!q.exec(QStringLiteral("SELECT pluNo FROM PLU GROUP BY pluNo HAVING count(*) > 1 LIMIT 1"))) {
        *error = QStringLiteral("Não foi possível ler a tabela de produtos do banco de dados %1. %2")
                     .arg(fileName, errorText(q.lastError()));
        return false;
    }
    if (q.next()) {
        *error = QStringLiteral("A tabela de produtos do banco de dados %1 está danificada: o número %2 está em mais "
                                "de um produto, e gravar um alteraria os dois. Nada foi gravado; restaure uma cópia "
                                "de segurança do arquivo.")
                     .arg(fileName, q.value(0).toString());
        return false;
    }
    return true;
}

} // namespace torvane::db
