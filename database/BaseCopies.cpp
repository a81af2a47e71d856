#include "BaseCopies.h"

#include "Db.h"
#include "Engine.h"
#include "ProductHistory.h"
#include "SalesSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QThread>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <numeric>

namespace torvane::db {

namespace {

BaseCopies::SpaceProbe g_spaceProbe;

struct ReasonName {
    CopyReason reason;
    const char *key;
    const char *text;
};

const ReasonName kReasons[] = {
    {CopyReason::Upgrade, "atualizacao", "Atualização do banco de dados"},
    {CopyReason::Daily, "diaria", "Cópia do dia (primeira abertura)"},
    {CopyReason::CodeSize, "tamanho-codigo", "Alteração do tamanho do código"},
    {CopyReason::Prefix1, "prefixo1", "Alteração do prefixo 1 de todos os produtos"},
    {CopyReason::Prefix2, "prefixo2", "Alteração do prefixo 2 de todos os produtos"},
    {CopyReason::BarcodeMode, "peso-total", "Alteração de peso ou total de todos os produtos"},
    {CopyReason::ClearAll, "limpeza", "Limpeza de todos os produtos"},
    {CopyReason::Import, "importacao", "Importação de arquivo texto"},
    {CopyReason::SheetImport, "planilha", "Importação de planilha"},
    {CopyReason::Restore, "restauracao", "Restauração de uma cópia"},
};

// name-yyyyMMdd-HHmmss-key[-n].accdb
const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss");

QRegularExpression copyPattern(const QString &baseName)
{
    return QRegularExpression(QStringLiteral("^%1-(\\d{8}-\\d{6})-([a-z0-9-]+?)(?:-(\\d+))?\\.accdb$")
                                  .arg(QRegularExpression::escape(baseName)));
}

QString sizeText(qint64 bytes)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString sqliteText(sqlite3 *db, int rc)
{
    const char *msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    return QString::fromUtf8(msg ? msg : sqlite3_errstr(rc));
}

// What an engine result means for the operator, then the engine's words.
QString failureText(int rc, const QString &engine)
{
    const QString sentence = engineErrorSentence(classifyError(rc, engine));
    return engine.isEmpty() ? sentence : QStringLiteral("%1 (%2)").arg(sentence, engine);
}

struct Sqlite {
    sqlite3 *db = nullptr;
    ~Sqlite() { close(); }
    void close()
    {
        if (db)
            sqlite3_close_v2(db);
        db = nullptr;
    }
};

int openRaw(const QString &path, bool write, bool create, Sqlite *out)
{
    QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    if (!create)
        uri += write ? QStringLiteral("?mode=rw") : QStringLiteral("?mode=ro");
    const int flags = SQLITE_OPEN_URI | (write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) |
                      (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(uri.toUtf8().constData(), &out->db, flags, nullptr);
    if (rc == SQLITE_OK)
        sqlite3_busy_timeout(out->db, kBusyTimeoutMs);
    return rc;
}

// Copies every page of `from` into `to`.  A lock held by the other program
// is waited for as every statement waits for it.
int backup(sqlite3 *to, sqlite3 *from)
{
    sqlite3_backup *b = sqlite3_backup_init(to, "main", from, "main");
    if (!b)
        return sqlite3_errcode(to);
    int rc = SQLITE_OK;
    int waited = 0;
    for (;;) {
        rc = sqlite3_backup_step(b, -1);
        if (rc == SQLITE_DONE)
            break;
        if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && waited < kBusyTimeoutMs) {
            QThread::msleep(50);
            waited += 50;
            continue;
        }
        break;
    }
    sqlite3_backup_finish(b);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

qint64 freeSpace(const QString &folder)
{
    if (g_spaceProbe)
        return g_spaceProbe(folder);
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

} // namespace

QString copyReasonText(CopyReason reason)
{
    for (const ReasonName &r : kReasons)
        if (r.reason == reason)
            return QString::fromUtf8(r.text);
    return {};
}

QString copyReasonKey(CopyReason reason)
{
    for (const ReasonName &r : kReasons)
        if (r.reason == reason)
            return QString::fromLatin1(r.key);
    return {};
}

void BaseCopies::setSpaceProbe(SpaceProbe probe)
{
    g_spaceProbe = std::move(probe);
}

BaseCopies::BaseCopies(const QString &databasePath) : m_base(QFileInfo(databasePath).absoluteFilePath()) {}

QString BaseCopies::folder() const
{
    return QDir(QFileInfo(m_base).absolutePath()).filePath(QLatin1String(kCopiesFolder));
}

bool BaseCopies::make(CopyReason reason, int keep, QString *error, QString *madePath) const
{
    const QString dir = folder();
    const QString baseName = QFileInfo(m_base).completeBaseName();
    auto fail = [&](const QString &why) {
        *error = QStringLiteral("Não foi possível fazer a cópia de segurança do banco de dados: %1").arg(why);
        return false;
    };
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("a pasta %1 não pôde ser criada; verifique se a pasta do banco de dados "
                                   "permite gravação.")
                        .arg(QDir::toNativeSeparators(dir)));

    Sqlite source;
    const bool writable = QFileInfo(m_base).isWritable();
    int rc = openRaw(m_base, writable, false, &source);
    if (rc != SQLITE_OK)
        return fail(failureText(rc, sqliteText(source.db, rc)));

    // The room the copy takes, checked before anything is written: a disk
    // filled to the last byte would also refuse the base its next save.
    qint64 pages = 0;
    qint64 pageSize = 0;
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(source.db, "SELECT page_count * page_size, page_size FROM pragma_page_count(), "
                                          "pragma_page_size()",
                               -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            pages = sqlite3_column_int64(st, 0);
            pageSize = sqlite3_column_int64(st, 1);
        }
        rc = sqlite3_errcode(source.db);
        sqlite3_finalize(st);
        if (pageSize == 0)
            return fail(failureText(rc, sqliteText(source.db, rc)));
    }
    const qint64 needed = pages + std::max<qint64>(1 << 20, pages / 10);
    const qint64 available = freeSpace(dir);
    if (available >= 0 && available < needed)
        return fail(QStringLiteral("não há espaço livre no disco (%1 livres, a cópia precisa de %2). Libere "
                                   "espaço no disco.")
                        .arg(sizeText(available), sizeText(needed)));

    const QString stamp = QDateTime::currentDateTime().toString(kStampFormat);
    const QString key = copyReasonKey(reason);
    // Copies of one second are numbered in the order they are made, so the
    // list can tell which came last.
    int sameSecond = 0;
    for (const BaseCopy &c : list())
        if (c.when.toString(kStampFormat) == stamp)
            ++sameSecond;
    QString target;
    for (int n = sameSecond + 1;; ++n) {
        target = QDir(dir).filePath(n < 2 ? QStringLiteral("%1-%2-%3.accdb").arg(baseName, stamp, key)
                                          : QStringLiteral("%1-%2-%3-%4.accdb").arg(baseName, stamp, key).arg(n));
        if (!QFileInfo::exists(target))
            break;
    }
    // Written under another name and renamed when complete: a copy cut
    // short never shows in the list.
    const QString partial = target + QStringLiteral(".parcial");
    QFile::remove(partial);
    {
        Sqlite copy;
        rc = openRaw(partial, true, true, &copy);
        if (rc == SQLITE_OK)
            rc = backup(copy.db, source.db);
        // One file on its own, read without a log beside it.
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(copy.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const QString engine = sqliteText(copy.db, rc);
            copy.close();
            for (const char *suffix : {"", "-journal", "-wal", "-shm"})
                QFile::remove(partial + QLatin1String(suffix));
            const EngineError kind = classifyError(rc, engine);
            if (kind == EngineError::DiskFull)
                return fail(QStringLiteral("o disco ficou cheio durante a cópia (%1). Libere espaço no disco.")
                                .arg(engine));
            return fail(failureText(rc, engine));
        }
    }
    if (!QFile::rename(partial, target)) {
        QFile::remove(partial);
        return fail(QStringLiteral("o arquivo %1 não pôde ser gravado.").arg(QDir::toNativeSeparators(target)));
    }
    if (madePath)
        *madePath = target;
    prune(keep);
    return true;
}

QVector<BaseCopy> BaseCopies::list() const
{
    QVector<BaseCopy> out;
    QVector<int> order;
    const QRegularExpression pattern = copyPattern(QFileInfo(m_base).completeBaseName());
    const QFileInfoList files = QDir(folder()).entryInfoList(QDir::Files);
    for (const QFileInfo &f : files) {
        const QRegularExpressionMatch m = pattern.match(f.fileName());
        if (!m.hasMatch())
            continue;
        BaseCopy c;
        c.path = f.absoluteFilePath();
        c.when = QDateTime::fromString(m.captured(1), kStampFormat);
        if (!c.when.isValid())
            continue;
        c.after = m.captured(2);
        for (const ReasonName &r : kReasons)
            if (c.after == QLatin1String(r.key))
                c.after = QString::fromUtf8(r.text);
        c.bytes = f.size();
        out.push_back(c);
        order.push_back(m.captured(3).toInt());
    }
    // Newest first; copies of one second by the number that tells them apart.
    QVector<int> index(out.size());
    std::iota(index.begin(), index.end(), 0);
    std::sort(index.begin(), index.end(), [&](int a, int b) {
        if (out[a].when != out[b].when)
            return out[a].when > out[b].when;
        return order[a] > order[b];
    });
    QVector<BaseCopy> sorted;
    sorted.reserve(out.size());
    for (int i : index)
        sorted.push_back(out[i]);
    return sorted;
}

bool BaseCopies::hasCopyFrom(const QDate &day) const
{
    const QVector<BaseCopy> copies = list();
    return std::any_of(copies.begin(), copies.end(), [&](const BaseCopy &c) { return c.when.date() == day; });
}

void BaseCopies::prune(int keep) const
{
    const QVector<BaseCopy> copies = list();
    for (qsizetype i = std::max(keep, 1); i < copies.size(); ++i)
        QFile::remove(copies[i].path);
}

namespace {

// The columns of one table that both the restored base and the attached
// base before the restore have.
QStringList commonColumns(const QSqlDatabase &db, const QString &table)
{
    QStringList restored, before, common;
    QString ignored;
    tableColumns(db, table, &restored, &ignored);
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT name FROM pragma_table_info('%1', 'atual')").arg(table)))
        while (q.next())
            before << q.value(0).toString();
    for (const QString &c : restored)
        if (before.contains(c, Qt::CaseInsensitive))
            common << c;
    return common;
}

// Runs keep in one transaction with the base as it was before the restore
// attached as "atual" (ATTACH cannot run inside a transaction).
bool besideBefore(QSqlDatabase db, const QString &before, QString *error, const std::function<bool(QSqlQuery &)> &keep)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("ATTACH DATABASE ? AS atual"));
    q.addBindValue(before);
    if (!q.exec()) {
        *error = errorText(q.lastError());
        return false;
    }
    bool kept = beginTransaction(db, error) && keep(q);
    if (kept && !db.commit()) {
        *error = errorText(db.lastError());
        kept = false;
    }
    if (!kept && transactionOpen(db))
        db.rollback();
    q.exec(QStringLiteral("DETACH DATABASE atual"));
    return kept;
}

// The sales as the base before the restore held them, with the runs they
// belong to: a sale read after the copy stays, a sale the base had taken
// into a run since keeps its run, and each run keeps how many of the
// scale's records it holds.  Without the runs the next read of a scale
// would store again the sales it still holds (or be refused by their keys).
bool keepSales(QSqlDatabase db, const QString &before, QString *error)
{
    return besideBefore(db, before, error, [&](QSqlQuery &q) {
        const QStringList common = commonColumns(db, QStringLiteral("RECORD"));
        // A copy from before the runs existed gets them first, so the sales
        // keep their runs.
        if (common.contains(QStringLiteral("ID"), Qt::CaseInsensitive)
            && !common.contains(QStringLiteral("saleRun"), Qt::CaseInsensitive)
            && q.exec(QStringLiteral("SELECT 1 FROM pragma_table_info('RECORD', 'atual') WHERE name = 'saleRun' "
                                     "COLLATE NOCASE")) && q.next()) {
            q.finish();
            if (!UpgradeSalesRecord(db, error))
                return false;
        }
        q.finish();
        for (const char *table : {"RECORD", "SalesRun"}) {
            const QStringList columns = commonColumns(db, QLatin1String(table));
            if (!columns.contains(QStringLiteral("ID"), Qt::CaseInsensitive))
                continue;
            // The later row wins: it is what the scale's reads since made
            // of the same sale or run.
            if (!q.exec(QStringLiteral("INSERT OR REPLACE INTO main.%1 (%2) SELECT %2 FROM atual.%1")
                            .arg(QLatin1String(table), columns.join(QStringLiteral(", "))))) {
                *error = errorText(q.lastError());
                return false;
            }
        }
        return true;
    });
}

bool keepHistory(QSqlDatabase db, const QString &before, QString *error)
{
    return besideBefore(db, before, error, [&](QSqlQuery &q) {
        const bool recorded = q.exec(QStringLiteral("SELECT 1 FROM atual.sqlite_master WHERE type = 'table' AND "
                                                    "name = 'Historico' COLLATE NOCASE")) && q.next();
        q.finish();
        if (!createHistory(db, error))
            return false;
        if (recorded && !q.exec(QStringLiteral("INSERT OR IGNORE INTO main.Historico (%1) SELECT %1 FROM "
                                               "atual.Historico WHERE ID NOT IN (SELECT ID FROM main.Historico)")
                                    .arg(QStringLiteral("ID, Quando, Computador, Usuario, Operacao, pluNo, Codigo, "
                                                        "Campo, Antes, Depois")))) {
            *error = errorText(q.lastError());
            return false;
        }
        return recordDifferences(db, QStringLiteral("atual.PLU"), QStringLiteral("Restaurar cópia"), error);
    });
}

} // namespace

bool BaseCopies::restore(const QString &copyPath, const QString &salesFrom, QString *error) const
{
    auto fail = [&](const QString &why) {
        *error = QStringLiteral("A cópia não foi restaurada: %1").arg(why);
        return false;
    };
    // A copy that does not read back whole must not replace the base.
    Sqlite copy;
    int rc = openRaw(copyPath, false, false, &copy);
    if (rc == SQLITE_OK) {
        sqlite3_stmt *st = nullptr;
        rc = sqlite3_prepare_v2(copy.db, "PRAGMA quick_check", -1, &st, nullptr);
        QString answer;
        if (rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            answer = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        if (rc == SQLITE_OK && answer != QLatin1String("ok"))
            return fail(QStringLiteral("o arquivo da cópia está danificado (%1); escolha outra cópia.")
                            .arg(answer.isEmpty() ? sqliteText(copy.db, SQLITE_CORRUPT) : answer));
        if (rc == SQLITE_OK) {
            rc = sqlite3_prepare_v2(copy.db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'PLU' "
                                             "COLLATE NOCASE",
                                    -1, &st, nullptr);
            const bool hasProducts = rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW;
            sqlite3_finalize(st);
            if (rc == SQLITE_OK && !hasProducts)
                return fail(QStringLiteral("o arquivo não é uma cópia de um banco de produtos; escolha outra cópia."));
        }
    }
    if (rc != SQLITE_OK)
        return fail(QStringLiteral("o arquivo da cópia não pôde ser lido. %1").arg(failureText(rc, sqliteText(copy.db, rc))));

    {
        Sqlite base;
        rc = openRaw(m_base, true, false, &base);
        if (rc == SQLITE_OK)
            rc = backup(base.db, copy.db);
        if (rc != SQLITE_OK)
            return fail(failureText(rc, sqliteText(base.db, rc)));
    }

    // What the copy cannot know: the sales read since, and what each scale
    // holds now.  Through a connection of our own, which has the functions
    // and the text order the tables are declared with.
    QString openError;
    auto conn = Connection::openFile(m_base, &openError);
    if (!conn)
        return fail(openError);
    QSqlDatabase db = conn->database();
    if (!salesFrom.isEmpty() && !keepSales(db, salesFrom, &openError))
        return fail(QStringLiteral("a cópia foi gravada, mas as vendas lidas depois dela não puderam ser "
                                   "mantidas; elas estão na cópia %1. %2")
                        .arg(QDir::toNativeSeparators(salesFrom), openError));
    // The record of the products' changes tells the base's story: what was
    // recorded since the copy stays, and the restore is recorded for every
    // product it changed.
    if (!salesFrom.isEmpty() && !keepHistory(db, salesFrom, &openError))
        return fail(QStringLiteral("a cópia foi gravada, mas o histórico dos produtos não pôde ser mantido; ele está "
                                   "na cópia %1. %2")
                        .arg(QDir::toNativeSeparators(salesFrom), openError));
    QString type;
    if (objectType(db, QStringLiteral("ScaleTransfer"), &type, &openError) && type == QLatin1String("table")) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("UPDATE ScaleTransfer SET Complete = 0")))
            return fail(errorText(q.lastError()));
    }
    return true;
}

QString backupCommand(const QString &connectionString, const QString &targetFolder)
{
    auto quoted = [](QString s) { return QLatin1Char('\'') + s.replace(u'\'', QStringLiteral("'\\''")) + QLatin1Char('\''); };
    const QString folder = quoted(targetFolder);
    return QStringLiteral("mkdir -p %1 && pg_dump --format=custom --file=%1/\"torvane-$(date +%Y%m%d-%H%M).dump\" %2 "
                          "&& find %1 -name 'torvane-*.dump' -mtime +%3 -delete")
        .arg(folder, quoted(connectionString))
        .arg(kServerDumpDays);
}

} // namespace torvane::db
