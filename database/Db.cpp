#include "Db.h"

#include "Engine.h"
#include "LikeMatch.h"
#include "ProductHistory.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QRegularExpression>
#include <QUrl>
#include <QVariant>

#include <sqlite3.h>

namespace torvane::db {

namespace {

QAtomicInteger<quint64> g_connectionCounter;

QString displayName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// ---- SQL functions ---------------------------------------------------------

QString argText(sqlite3_value *v)
{
    const auto *p = reinterpret_cast<const char16_t *>(sqlite3_value_text16(v));
    if (!p)
        return {};
    return QString::fromUtf16(p, sqlite3_value_bytes16(v) / 2);
}

void ucaseFunc(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (argc != 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString upper = argText(argv[0]).toUpper();
    sqlite3_result_text16(ctx, upper.utf16(), int(upper.size() * 2), SQLITE_TRANSIENT);
}

// like(pattern, text[, escape]): SQLite calls the function with the pattern
// first, the reverse of the operator's order.
void likeFunc(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    QChar escape;
    if (argc == 3) {
        const QString e = argText(argv[2]);
        if (e.size() != 1) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = e.at(0);
    }
    sqlite3_result_int(ctx, accessLike(argText(argv[0]), argText(argv[1]), escape) ? 1 : 0);
}

// The order an operator reads: accents and case set aside ("água",
// "Ágata" and "banana" sort as agata, agua, banana), then the exact text
// so equal keys still have one order.
QString operatorSortKey(const QString &s)
{
    QString out;
    const QString d = s.normalized(QString::NormalizationForm_D);
    out.reserve(d.size());
    for (QChar c : d)
        if (c.category() != QChar::Mark_NonSpacing)
            out += c;
    return out.toCaseFolded();
}

int operatorCollation(void *, int lenA, const void *a, int lenB, const void *b)
{
    const QString sa = QString::fromUtf8(static_cast<const char *>(a), lenA);
    const QString sb = QString::fromUtf8(static_cast<const char *>(b), lenB);
    const int byKey = operatorSortKey(sa).compare(operatorSortKey(sb));
    if (byKey != 0)
        return byKey;
    return sa.compare(sb);
}

// Every ORDER BY term gets the operator's collation.  Numbers still sort as
// numbers: a collation only takes part when two texts are compared.
QString collateOrderBy(const QString &sql)
{
    static const QRegularExpression orderBy(QStringLiteral("\\border\\s+by\\s+"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = orderBy.match(sql);
    if (!m.hasMatch() || sql.contains(QLatin1String("collate"), Qt::CaseInsensitive))
        return sql;
    static const QRegularExpression direction(QStringLiteral("^(.*?)(\\s+(?:asc|desc))?\\s*$"),
                                              QRegularExpression::CaseInsensitiveOption |
                                                  QRegularExpression::DotMatchesEverythingOption);
    QStringList terms;
    for (const QString &term : sql.mid(m.capturedEnd()).split(u',')) {
        const QRegularExpressionMatch t = direction.match(term);
        terms << t.captured(1) + QStringLiteral(" COLLATE ") + QLatin1String(kOperatorCollation) + t.captured(2);
    }
    return sql.left(m.capturedEnd()) + terms.join(u',');
}

} // namespace

FileKind probeFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return FileKind::Missing;
    QFile f(path);
    if (info.isDir() || !f.open(QIODevice::ReadOnly))
        return FileKind::Unreadable;
    const QByteArray head = f.read(32);
    if (head.isEmpty())
        return FileKind::Empty;
    if (head.startsWith(QByteArray("SQLite format 3\0", 16)))
        return FileKind::SQLite;
    // Jet (.mdb) and ACE (.accdb) files carry their engine's name at offset 4.
    const QByteArray sig = head.mid(4, 15);
    if (sig == "Standard Jet DB" || sig == "Standard ACE DB")
        return FileKind::AccessFile;
    return FileKind::NotDatabase;
}

QString describeProblem(FileKind kind, const QString &path)
{
    const QString name = displayName(path);
    switch (kind) {
    case FileKind::Missing:
        return QStringLiteral("O banco de dados %1 não foi encontrado na pasta %2.")
            .arg(name, QFileInfo(path).absolutePath());
    case FileKind::Unreadable:
        return QStringLiteral("O banco de dados %1 não pode ser lido (verifique as permissões do arquivo).").arg(name);
    case FileKind::Empty:
        return QStringLiteral("O arquivo %1 está vazio e não é um banco de dados.").arg(name);
    case FileKind::AccessFile:
        return QStringLiteral("O arquivo %1 é um banco de dados do Microsoft Access, que este programa não lê. "
                              "Crie um banco novo com a ferramenta de criação e importe os produtos.")
            .arg(name);
    case FileKind::NotDatabase:
        return QStringLiteral("O arquivo %1 não é um banco de dados.").arg(name);
    case FileKind::SQLite:
        break;
    }
    return {};
}

EngineError classifyError(int engineCode, const QString &engineText)
{
    // Extended result codes carry the primary code in their low byte.
    if (engineCode == SQLITE_CONSTRAINT_UNIQUE || engineCode == SQLITE_CONSTRAINT_PRIMARYKEY)
        return EngineError::Duplicate;
    switch (engineCode < 0 ? -1 : engineCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return EngineError::Locked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return EngineError::Damaged;
    case SQLITE_READONLY:
        return EngineError::ReadOnly;
    case SQLITE_FULL:
    case SQLITE_IOERR: // a write refused by the system: no room, or over the file-size limit
        return EngineError::DiskFull;
    default:
        break;
    }
    const QString t = engineText.toLower();
    if (t.contains(QLatin1String("no such table")) || t.contains(QLatin1String("no such column")))
        return EngineError::MissingTable;
    if (t.contains(QLatin1String("is locked")) || t.contains(QLatin1String("database is busy")))
        return EngineError::Locked;
    if (t.contains(QLatin1String("malformed")) || t.contains(QLatin1String("not a database")))
        return EngineError::Damaged;
    if (t.contains(QLatin1String("readonly")) || t.contains(QLatin1String("read-only")))
        return EngineError::ReadOnly;
    if (t.contains(QLatin1String("disk is full")) || t.contains(QLatin1String("disk i/o error")))
        return EngineError::DiskFull;
    if (t.contains(QLatin1String("unique constraint failed")))
        return EngineError::Duplicate;
    if (engineCode == SQLITE_OK && t.isEmpty())
        return EngineError::None;
    return EngineError::Other;
}

EngineError classifyError(const QSqlError &error)
{
    if (error.type() == QSqlError::NoError)
        return EngineError::None;
    if (const EngineError server = classifyServerError(error); server != EngineError::None)
        return server;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return classifyError(ok ? code : -1, engineText(error));
}

QString engineErrorSentence(EngineError kind)
{
    switch (kind) {
    case EngineError::None:
        return {};
    case EngineError::Locked:
        return QStringLiteral("O banco de dados está ocupado por outro programa (por exemplo o Rirodidovu) e a "
                              "operação não foi feita; aguarde o outro programa terminar e tente de novo.");
    case EngineError::Damaged:
        return QStringLiteral("O arquivo do banco de dados está danificado ou não é um banco de dados; "
                              "restaure uma cópia de segurança do arquivo.");
    case EngineError::MissingTable:
        return QStringLiteral("O banco de dados não tem uma tabela ou coluna de que o programa precisa; "
                              "use um banco de dados criado ou atualizado pelo Torvane.");
    case EngineError::ReadOnly:
        return QStringLiteral("O banco de dados está protegido contra gravação (o arquivo ou a sua pasta é "
                              "somente leitura); libere a gravação e tente de novo.");
    case EngineError::DiskFull:
        return QStringLiteral("Não foi possível gravar o banco de dados no disco (disco cheio ou falha de "
                              "gravação); libere espaço no disco e tente de novo.");
    case EngineError::Duplicate:
        return QStringLiteral("O banco de dados já tem outro registro com esse valor (outro computador pode "
                              "tê-lo gravado agora); nada foi gravado.");
    case EngineError::ConnectionLost:
        return QStringLiteral("A conexão com o servidor do banco de dados caiu e a operação não foi feita; confira "
                              "se o servidor está ligado e a rede deste computador, e tente de novo (o programa se "
                              "conecta de novo sozinho).");
    case EngineError::NoPermission:
        return QStringLiteral("O usuário deste computador no servidor não tem permissão para alterar a estrutura do "
                              "banco de dados, que precisa ser atualizado: o dono do banco (o usuário que o criou) "
                              "deve abrir o Torvane nele uma vez; depois os outros computadores o usam normalmente.");
    case EngineError::Other:
        return QStringLiteral("O banco de dados informou um erro e a operação não foi feita; tente de novo e, "
                              "se o erro continuar, guarde esta mensagem para o suporte.");
    }
    return {};
}

QString engineText(const QSqlError &error)
{
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.driverText();
    return text;
}

QString errorText(const QSqlError &error)
{
    const QString engine = engineText(error).trimmed();
    EngineError kind = classifyError(error);
    // Asked because something failed, yet the engine said nothing: Qt
    // refuses a statement on a connection that is not open without a word,
    // and only a server's connection closes during a run (the file's stays
    // open until the program ends).  Never an empty box.
    if (kind == EngineError::None && engine.isEmpty())
        kind = EngineError::ConnectionLost;
    if (kind == EngineError::None)
        return engine;
    if (engine.isEmpty())
        return engineErrorSentence(kind);
    return QStringLiteral("%1 (%2)").arg(engineErrorSentence(kind), engine);
}

bool registerAccessFunctions(QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *h = *static_cast<sqlite3 *const *>(handle.constData());
    if (!h)
        return false;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    bool ok = sqlite3_create_function(h, "UCase", 1, flags, nullptr, ucaseFunc, nullptr, nullptr) == SQLITE_OK;
    ok = ok && sqlite3_create_function(h, "like", 2, flags, nullptr, likeFunc, nullptr, nullptr) == SQLITE_OK;
    ok = ok && sqlite3_create_function(h, "like", 3, flags, nullptr, likeFunc, nullptr, nullptr) == SQLITE_OK;
    ok = ok && sqlite3_create_collation(h, kOperatorCollation, SQLITE_UTF8, nullptr, operatorCollation) == SQLITE_OK;
    return ok;
}

QString mapAccessSql(const QString &sql)
{
    // Only the yes/no literals need a spelling SQLite reads the same way on
    // every version; strings are copied untouched.
    QString out;
    out.reserve(sql.size());
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = sql.at(i);
        if (c == u'\'' || c == u'"') {
            const qsizetype start = i;
            i = sqlQuotedEnd(sql, i);
            out += QStringView(sql).mid(start, i - start);
            continue;
        }
        if (c == u'[') {
            const qsizetype end = sql.indexOf(u']', i);
            const qsizetype stop = end < 0 ? n : end + 1;
            out += QStringView(sql).mid(i, stop - i);
            i = stop;
            continue;
        }
        if (isSqlIdentChar(c)) {
            qsizetype j = i;
            while (j < n && isSqlIdentChar(sql.at(j)))
                ++j;
            const QStringView word = QStringView(sql).mid(i, j - i);
            const bool boundaryBefore = i == 0 || !(sql.at(i - 1) == u'.');
            if (boundaryBefore && word.compare(u"true", Qt::CaseInsensitive) == 0)
                out += u'1';
            else if (boundaryBefore && word.compare(u"false", Qt::CaseInsensitive) == 0)
                out += u'0';
            else
                out += word;
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return collateOrderBy(out);
}

Connection::Connection(QString name, QString path, bool readOnly)
    : m_name(std::move(name)), m_path(std::move(path)), m_readOnly(readOnly)
{
}

Connection::~Connection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase Connection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

std::unique_ptr<Connection> Connection::open(const QString &path, QString *error, bool readOnly)
{
    const QString serverFile = serverFileFor(path);
    if (!serverFile.isEmpty())
        return openServer(serverFile, path, error, readOnly);
    return openFile(path, error, readOnly);
}

std::unique_ptr<Connection> Connection::openFile(const QString &path, QString *error, bool readOnly)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return std::unique_ptr<Connection>();
    };

    const FileKind kind = probeFile(path);
    if (kind != FileKind::SQLite)
        return fail(describeProblem(kind, path));

    const QFileInfo info(path);
    // A file marked read-only is opened for reading even by a user who could
    // write it anyway (root): the mark is the operator's intent, and both
    // programs honour it alike.
    const QFileDevice::Permissions writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    const bool marked = !(info.permissions() & writeBits);
    const bool fileWritable = info.isWritable() && !readOnly && !marked;
    const bool dirWritable = QFileInfo(info.absolutePath()).isWritable();

    const QString name = QStringLiteral("torvane-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1) + 1);
    // A file in a folder that cannot be written cannot take a save either
    // (the engine writes its journal beside the file): it is announced as
    // read-only like a write-protected file.
    std::unique_ptr<Connection> conn(new Connection(name, info.absoluteFilePath(), !fileWritable || !dirWritable));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // A URI with mode=rw (or ro) never creates a file, even if the file
        // vanished between the probe above and this open.
        QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
        QString uri = url.toString(QUrl::FullyEncoded);
        uri += fileWritable ? QStringLiteral("?mode=rw") : QStringLiteral("?mode=ro");
        db.setDatabaseName(uri);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1%2")
                                 .arg(kBusyTimeoutMs)
                                 .arg(fileWritable ? QString() : QStringLiteral(";QSQLITE_OPEN_READONLY")));
        if (!db.open())
            return fail(QStringLiteral("Não foi possível abrir o banco de dados %1. %2")
                            .arg(displayName(path), errorText(db.lastError())));
        if (!registerAccessFunctions(db) || !registerHistoryContext(db))
            return fail(QStringLiteral("Não foi possível preparar o banco de dados %1.").arg(displayName(path)));

        QSqlQuery q(db);
        // The engine keeps what a savepoint must undo in a temporary journal.
        // Every product save is a savepoint inside the bulk change's or the
        // import's one transaction, and with the history trigger a save
        // touches a dozen pages: kept in a file, that journal costs tens of
        // thousands of writes per 5,000 rows (an import took half as long
        // again).  It is set first, before any temporary object is made:
        // changing it later drops them (the history trigger).
        q.exec(QStringLiteral("PRAGMA temp_store=MEMORY"));
        // Touch the schema: a damaged file shows here, not in the middle of
        // work.  A lock held by the other program is not damage: each says
        // its own cause.
        if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            return fail(QStringLiteral("Não foi possível abrir o banco de dados %1. %2")
                            .arg(displayName(path), errorText(q.lastError())));
        // Only our own file is switched to WAL: the switch writes to the
        // file's header, and a foreign file must be left as it was found.
        const bool ours = q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'PLU' "
                                                "COLLATE NOCASE")) && q.next();
        if (fileWritable && dirWritable && ours) {
            // WAL lets the manager and the transmitter read while the other
            // writes; FULL keeps every committed save across a power cut.
            q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
            q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
        }
        q.finish();
    }
    return conn;
}

} // namespace torvane::db
