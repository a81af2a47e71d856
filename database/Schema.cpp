#include "Schema.h"

#include "Db.h"
#include "Engine.h"
#include "SchemaSteps.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QRandomGenerator>
#include <QVariant>

namespace torvane::schema {

QString buildPluCode(qint64 codigo, qint64 prefixb, int codeSize, bool flgPrefixo2)
{
    auto digits = [](qint64 value, int width) { return QString::number(value).rightJustified(width, u'0'); };
    const QString prefix = QString::number(prefixb);
    switch (codeSize) {
    case 6:
        return digits(codigo, 6);
    case 5:
        return flgPrefixo2 ? prefix + digits(codigo, 5) : digits(codigo, 5) + u'0';
    case 4:
        return flgPrefixo2 ? prefix + digits(codigo, 4) + u'0' : digits(codigo, 4) + QStringLiteral("00");
    default:
        return {};
    }
}

namespace {

struct DemoProduct {
    const char *desc;
    double preco;
    double tara;
    int validDays;
    int sellFlag;
    int setor;
};

// A small shop's counter, enough to see every column in use.
const DemoProduct kDemo[] = {
    {"PAO FRANCES", 14.90, 0.000, 1, 1, 5},
    {"QUEIJO MINAS FRESCAL", 39.90, 0.010, 10, 1, 3},
    {"PRESUNTO COZIDO", 42.50, 0.010, 7, 1, 3},
    {"MORTADELA BOLOGNA", 24.90, 0.010, 7, 1, 3},
    {"ALCATRA BOVINA", 54.90, 0.020, 3, 1, 1},
    {"PICANHA BOVINA", 89.90, 0.020, 3, 1, 1},
    {"FRANGO INTEIRO", 15.99, 0.020, 3, 1, 1},
    {"LINGUIÇA TOSCANA", 22.90, 0.010, 5, 1, 1},
    {"BANANA PRATA", 6.49, 0.000, 0, 1, 2},
    {"MAÇÃ GALA", 9.99, 0.000, 0, 1, 2},
    {"TOMATE ITALIANO", 8.79, 0.000, 0, 1, 2},
    {"BATATA INGLESA", 5.99, 0.000, 0, 1, 2},
    {"AÇÚCAR MASCAVO", 12.40, 0.004, 180, 1, 4},
    {"FEIJÃO CARIOCA GRANEL", 8.90, 0.004, 180, 1, 4},
    {"CASTANHA DO PARÁ", 119.00, 0.004, 90, 1, 4},
    {"SALMÃO FILÉ", 119.90, 0.030, 2, 1, 6},
    {"TILÁPIA FILÉ", 49.90, 0.030, 2, 1, 6},
    {"FRANGO ASSADO", 34.90, 0.050, 1, 2, 7},
    {"LASANHA BOLONHESA", 59.90, 0.040, 2, 1, 7},
    {"BOLO DE CENOURA", 29.90, 0.030, 3, 1, 5},
    {"SONHO DE CREME", 4.50, 0.000, 1, 2, 5},
    {"PÃO DE QUEIJO", 44.90, 0.010, 2, 1, 5},
    {"AZEITONA VERDE", 39.90, 0.006, 30, 1, 4},
    {"OVOS CAIPIRA DÚZIA", 16.90, 0.000, 20, 2, 8},
};

bool exec(QSqlQuery &q, const QSqlDatabase &db, const QString &sql, QString *error)
{
    if (q.exec(db::mapAccessSql(db, sql)))
        return true;
    if (error)
        *error = db::errorText(q.lastError());
    return false;
}

} // namespace

bool createTables(QSqlDatabase &db, const CreateOptions &options, QString *error)
{
    if (options.slotCount < 0) {
        if (error)
            *error = QStringLiteral("O número de produtos não pode ser negativo.");
        return false;
    }
    const bool current = options.layout == Layout::Current;
    QSqlQuery q(db);
    // Inside the caller's transaction when one is open (the move of a file
    // onto a server creates and copies in one), else in one of its own.
    const bool own = db::beginTransaction(db);
    auto rollback = [&db, own] {
        if (own)
            db.rollback();
        return false;
    };

    // pluNo is the first column; the rest follow the order the manager shows.
    if (!db::prepareSchema(db, error))
        return rollback();
    QString plu = QStringLiteral("CREATE TABLE PLU (pluNo ") + db::autoNumberKey(db);
    if (current)
        plu += QStringLiteral(", Codigo int");
    plu += QStringLiteral(", pluCode varchar(255), pluDesc varchar(255), Preco double, unitPrice int,"
                          " Tara double, tareWeight smallint, validDays smallint, sellFlag tinyint,"
                          " preFix tinyint");
    if (current)
        plu += QStringLiteral(", Prefixb int");
    plu += QStringLiteral(", Setor smallint");
    if (current)
        plu += QStringLiteral(", BarcodeMode int, flgDel bit");
    plu += u')';
    if (!exec(q, db, plu, error))
        return rollback();
    if (!exec(q, db,
              QStringLiteral("CREATE TABLE PLU_UPLOADED (pluNo int, preFix tinyint, pluCode varchar(255),"
                             " pluDesc varchar(255), validDays int, tareWeight int, unitPrice int,"
                             " sellFlag tinyint)"),
              error))
        return rollback();
    if (!exec(q, db,
              QStringLiteral("CREATE TABLE RECORD (ID %1, pluNo int,"
                             " pluDesc varchar(255), dateTime datetime, weight int, totalPrice int)")
                  .arg(db::autoNumberKey(db)),
              error))
        return rollback();
    if (current) {
        if (!exec(q, db, QStringLiteral("CREATE TABLE Config (CodeSize smallint, flgPrefixo2 bit)"), error))
            return rollback();
        if (!exec(q, db,
                  QStringLiteral("INSERT INTO Config (CodeSize, flgPrefixo2) VALUES (%1, 0)").arg(kDefaultCodeSize),
                  error))
            return rollback();
    }

    QSqlQuery ins(db);
    const QString insertSql = current
        ? QStringLiteral("INSERT INTO PLU (pluNo, Codigo, pluCode, pluDesc, Preco, unitPrice, Tara, tareWeight,"
                         " validDays, sellFlag, preFix, Prefixb, Setor, BarcodeMode, flgDel)"
                         " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 2, 0, ?, 1, 0)")
        : QStringLiteral("INSERT INTO PLU (pluNo, pluCode, pluDesc, Preco, unitPrice, Tara, tareWeight,"
                         " validDays, sellFlag, preFix, Setor) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 2, ?)");
    if (!ins.prepare(db::mapAccessSql(db, insertSql))) {
        if (error)
            *error = db::errorText(ins.lastError());
        return rollback();
    }
    const int demoCount = options.demoProducts ? int(std::size(kDemo)) : 0;
    for (int slot = 1; slot <= options.slotCount; ++slot) {
        const DemoProduct *d = slot <= demoCount ? &kDemo[slot - 1] : nullptr;
        // Demo products get codes 101, 102, ...; as delivered, every slot's
        // code is its own number, demo products included (a demo code of
        // 101 would meet slot 101's own code when the upgrade fills Codigo).
        const int codigo = d ? 100 + slot : 0;
        const QString pluCode = current ? buildPluCode(codigo, 0, kDefaultCodeSize, false)
                                        : QString::number(slot).rightJustified(6, u'0');
        int i = 0;
        ins.bindValue(i++, slot);
        if (current)
            ins.bindValue(i++, codigo);
        ins.bindValue(i++, pluCode);
        ins.bindValue(i++, d ? QString::fromUtf8(d->desc) : QString(QLatin1String(""))); // empty text, not NULL
        ins.bindValue(i++, d ? d->preco : 0.0);
        ins.bindValue(i++, d ? qRound(d->preco * 100) : 0);
        ins.bindValue(i++, d ? d->tara : 0.0);
        ins.bindValue(i++, d ? qRound(d->tara * 1000) : 0);
        ins.bindValue(i++, d ? d->validDays : 0);
        ins.bindValue(i++, d ? d->sellFlag : 1);
        ins.bindValue(i++, d ? d->setor : 0);
        if (!ins.exec()) {
            if (error)
                *error = db::errorText(ins.lastError());
            return rollback();
        }
    }
    ins.finish();
    if (!db::syncAutoNumber(db, QStringLiteral("PLU"), QStringLiteral("pluNo"), error))
        return rollback();
    // Everything later versions added, as the upgrade adds it to older
    // files; a base as delivered gets it from the upgrade.
    if (current && !db::createSchemaAdditions(db, error))
        return rollback();
    q.finish();
    if (own && !db.commit()) {
        if (error)
            *error = db::errorText(db.lastError());
        return rollback();
    }
    return true;
}

bool createDatabaseFile(const QString &path, const CreateOptions &options, QString *error)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    const QString serverFile = db::serverFileFor(path);
    if (!serverFile.isEmpty())
        return createServerBase(serverFile, options, error);
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return fail(QStringLiteral("O arquivo %1 já existe; nada foi alterado.").arg(path));

    // Build the file under a temporary name beside the target, then move it
    // into place: a failure never leaves a half-made database under the real
    // name, and an existing file is never replaced.
    // The file gets the permissions the user's umask gives every new file
    // (a temporary file would be readable by its owner alone, shutting out
    // a second cashier account or the transfer timer's user).
    QString tmpPath;
    {
        QFile tmp;
        for (int attempt = 0; attempt < 100 && !tmp.isOpen(); ++attempt) {
            tmp.setFileName(info.absolutePath()
                            + QStringLiteral("/.vendabase-%1.tmp").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                        QLatin1Char('0')));
            tmp.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        }
        if (!tmp.isOpen())
            return fail(QStringLiteral("Não foi possível criar %1: %2.").arg(path, tmp.errorString()));
        tmpPath = tmp.fileName();
    }
    QString err;
    bool ok = false;
    const QString connName = QStringLiteral("torvane-create-%1").arg(quintptr(&err));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connName);
        db.setDatabaseName(tmpPath);
        if (!db.open()) {
            err = db::errorText(db.lastError());
        } else {
            QSqlQuery q(db);
            q.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
            q.finish();
            ok = createTables(db, options, &err);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connName);
    if (ok && !QFile::rename(tmpPath, path)) {
        ok = false;
        err = QFileInfo::exists(path) ? QStringLiteral("o arquivo já existe") : QStringLiteral("falha ao gravar");
    }
    if (!ok) {
        QFile::remove(tmpPath);
        return fail(QStringLiteral("Não foi possível criar %1: %2.").arg(path, err));
    }
    return true;
}

} // namespace torvane::schema
