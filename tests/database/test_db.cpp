#include "Db.h"
#include "Engine.h"
#include "NetworkShare.h"
#include "SalesKey.h"
#include "SalesRead.h"
#include "SalesSchema.h"
#include "LikeMatch.h"
#include "Schema.h"
#include "ServerBase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace torvane;

namespace {

QString makeDb(const QTemporaryDir &dir, schema::CreateOptions opts = {})
{
    const QString path = dir.filePath(QStringLiteral("vendabase.accdb"));
    test::useServerBase(dir.path());
    QString err;
    EXPECT_TRUE(schema::createDatabaseFile(path, opts, &err)) << err.toStdString();
    return path;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(PluCode, EveryCodeSizeAndPrefixChoice)
{
    EXPECT_EQ(schema::buildPluCode(123, 7, 6, true), "000123");
    EXPECT_EQ(schema::buildPluCode(123, 7, 6, false), "000123");
    EXPECT_EQ(schema::buildPluCode(123, 7, 5, true), "700123");
    EXPECT_EQ(schema::buildPluCode(123, 7, 5, false), "001230");
    EXPECT_EQ(schema::buildPluCode(123, 7, 4, true), "701230");
    EXPECT_EQ(schema::buildPluCode(123, 7, 4, false), "012300");
    EXPECT_EQ(schema::buildPluCode(5, 3, 4, true), "300050");
    EXPECT_EQ(schema::buildPluCode(5, 3, 4, false), "000500");
    EXPECT_TRUE(schema::buildPluCode(5, 3, 7, false).isNull());
    EXPECT_TRUE(schema::buildPluCode(5, 3, 0, false).isNull());
}

TEST(Open, RefusesWhatIsNotOurDatabaseAndCreatesNothing)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("vendabase.accdb"));
    QString err;
    EXPECT_EQ(db::Connection::open(missing, &err), nullptr);
    EXPECT_TRUE(err.contains(QStringLiteral("não foi encontrado"))) << err.toStdString();
    EXPECT_FALSE(QFile::exists(missing));

    QByteArray access(64, '\0');
    access.replace(4, 15, "Standard ACE DB");
    writeFile(missing, access);
    EXPECT_EQ(db::Connection::open(missing, &err), nullptr);
    EXPECT_TRUE(err.contains(QStringLiteral("Microsoft Access"))) << err.toStdString();
    QFile f(missing);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), access) << "an Access file must not be written to";
    f.close();

    writeFile(missing, "hello, this is text\n");
    EXPECT_EQ(db::Connection::open(missing, &err), nullptr);
    EXPECT_TRUE(err.contains(QStringLiteral("não é um banco de dados"))) << err.toStdString();

    writeFile(missing, "");
    EXPECT_EQ(db::Connection::open(missing, &err), nullptr);
    EXPECT_TRUE(err.contains(QStringLiteral("vazio"))) << err.toStdString();
}

TEST(Open, ALockAndADamagedFileEachSayTheirOwnCause)
{
    if (test::onServer())
        GTEST_SKIP() << "a locked or damaged file is the file's own case";
    QTemporaryDir dir;
    const QString path = makeDb(dir);
    {
        // The other program holds the file for a write of its own.
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(path);
        ASSERT_TRUE(holder.open());
        QSqlQuery h(holder);
        ASSERT_TRUE(h.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        ASSERT_TRUE(h.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        ASSERT_TRUE(h.exec(QStringLiteral("Update PLU Set Preco = 1 Where pluNo = 1")));
        QString err;
        EXPECT_EQ(db::Connection::open(path, &err), nullptr);
        EXPECT_TRUE(err.contains(QStringLiteral("ocupado por outro programa"))) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("database is locked"))) << err.toStdString();
        EXPECT_FALSE(err.contains(QStringLiteral("danificado"))) << err.toStdString();
        h.finish();
        holder.rollback();
        holder.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));

    QByteArray damaged(4096, '\x5a');
    damaged.replace(0, 16, QByteArray("SQLite format 3\0", 16));
    writeFile(path, damaged);
    QString err;
    EXPECT_EQ(db::Connection::open(path, &err), nullptr);
    EXPECT_TRUE(err.contains(QStringLiteral("danificado"))) << err.toStdString();
}

// The connection file is read as libpq reads it: a secret in any spelling
// libpq takes, or hidden behind a ";" it does not take, is refused before
// anything connects, and so is a line libpq cannot read.
TEST(Open, AConnectionFileWithASecretOrBadSyntaxIsRefused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vendabase.accdb"));
    const std::pair<const char *, const char *> cases[] = {
        {"host=loja-srv;password=senha1 dbname=torvane", "não pode conter senha (password)"},
        {"host=loja-srv dbname=torvane sslpassword=senha1", "não pode conter senha (sslpassword)"},
        {"host = loja-srv  password = 'senha 1'", "não pode conter senha (password)"},
        {"host=loja-srv;dbname=torvane", "junta itens"},
        {"host='loja-srv dbname=torvane", "não pôde ser lido"},
    };
    for (const auto &[line, expected] : cases) {
        writeFile(dir.filePath(QStringLiteral("vendabase.pgconn")), line);
        QString err;
        EXPECT_EQ(db::Connection::open(path, &err), nullptr) << line;
        EXPECT_TRUE(err.contains(QString::fromUtf8(expected))) << line << ": " << err.toStdString();
    }
}

TEST(Open, CreatorRefusesToOverwrite)
{
    QTemporaryDir dir;
    const QString path = makeDb(dir);
    QString err;
    EXPECT_FALSE(schema::createDatabaseFile(path, {}, &err));
    EXPECT_TRUE(err.contains(QStringLiteral("já existe")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(Sql, AccessStatementsRunWithTheirEffect)
{
    QTemporaryDir dir;
    schema::CreateOptions opts;
    opts.slotCount = 3;
    opts.layout = schema::Layout::AsDelivered;
    const QString path = makeDb(dir, opts);
    QString err;
    auto conn = db::Connection::open(path, &err);
    ASSERT_NE(conn, nullptr) << err.toStdString();
    QSqlQuery q(conn->database());

    EXPECT_FALSE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Select * From Config"))));
    EXPECT_FALSE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Select BarcodeMode From PLU"))));
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Create Table Config ( CodeSize smallint )"))));
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Alter Table PLU Add Codigo int"))));
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Alter Table Config Add flgPrefixo2 bit "))));
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Insert Into Config (CodeSize) Values (5)"))));
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Update Config Set flgPrefixo2 = true"))));
    ASSERT_TRUE(q.exec(QStringLiteral("Select flgPrefixo2 From Config")));
    ASSERT_TRUE(q.next());
    EXPECT_TRUE(q.value(0).toBool());
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Alter Table plu Add flgDel bit "))));
    EXPECT_TRUE(q.exec(QStringLiteral("Select flgDel From plu")));
    EXPECT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Select * From [PLU] Order By PluNo Desc"))));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 3);
    // A quoted 'true' stays text.
    EXPECT_EQ(db::mapAccessSql(QStringLiteral("x = 'true' and y = true")), QStringLiteral("x = 'true' and y = 1"));
}

TEST(Sql, LikeIgnoresCaseAlsoForAccentedLetters)
{
    EXPECT_TRUE(db::accessLike(QStringLiteral("%AÇÚCAR%"), QStringLiteral("açúcar mascavo")));
    EXPECT_TRUE(db::accessLike(QStringLiteral("são%"), QStringLiteral("SÃO JOÃO")));
    EXPECT_FALSE(db::accessLike(QStringLiteral("%acucar%"), QStringLiteral("açúcar")));
    EXPECT_TRUE(db::accessLike(QStringLiteral("p_o"), QStringLiteral("PÃO")));
    EXPECT_FALSE(db::accessLike(QStringLiteral("p_o"), QStringLiteral("PÃOS")));
    EXPECT_TRUE(db::accessLike(QStringLiteral("100!%"), QStringLiteral("100%"), u'!'));
    EXPECT_FALSE(db::accessLike(QStringLiteral("100!%"), QStringLiteral("1000"), u'!'));

    QTemporaryDir dir;
    schema::CreateOptions opts;
    opts.slotCount = 30;
    opts.demoProducts = true;
    auto conn = db::Connection::open(makeDb(dir, opts), nullptr);
    ASSERT_NE(conn, nullptr);
    QSqlQuery q(conn->database());
    ASSERT_TRUE(q.prepare(
        db::mapAccessSql(conn->database(), QStringLiteral("Select pluDesc From PLU Where UCase(pluDesc) Like UCase(?)"))));
    q.addBindValue(QStringLiteral("%açúcar%"));
    ASSERT_TRUE(q.exec());
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("AÇÚCAR MASCAVO"));
    EXPECT_FALSE(q.next());
}

// The search hands the operator's text to Like as it stands: a pattern of
// many "%" over a long description must end at once (it used to retry every
// split of the text, 2^n ways), and an empty text must be matched safely.
TEST(Sql, LikeOfManyWildcardsEndsAndStaysExact)
{
    const QString many = QStringLiteral("%a").repeated(15) + QStringLiteral("%b");
    const QString text = QString(60, u'a');
    EXPECT_FALSE(db::accessLike(many, text));
    EXPECT_TRUE(db::accessLike(many, text + u'b'));
    EXPECT_FALSE(db::accessLike(QStringLiteral("%x"), QString()));
    EXPECT_TRUE(db::accessLike(QStringLiteral("%%"), QString()));
    EXPECT_TRUE(db::accessLike(QStringLiteral("%b_n%"), QStringLiteral("banana")));
    EXPECT_TRUE(db::accessLike(QStringLiteral("%ana"), QStringLiteral("banana")));
    EXPECT_FALSE(db::accessLike(QStringLiteral("%ana_"), QStringLiteral("banana")));
    EXPECT_TRUE(db::accessLike(QStringLiteral("a!_%"), QStringLiteral("a_z"), u'!'));
    EXPECT_FALSE(db::accessLike(QStringLiteral("a!_%"), QStringLiteral("abz"), u'!'));
}

TEST(Open, TwoConnectionsReadWhileOneWrites)
{
    QTemporaryDir dir;
    const QString path = makeDb(dir);
    auto writer = db::Connection::open(path, nullptr);
    auto reader = db::Connection::open(path, nullptr);
    ASSERT_TRUE(writer && reader);
    QSqlDatabase w = writer->database();
    ASSERT_TRUE(w.transaction());
    QSqlQuery wq(w);
    ASSERT_TRUE(wq.exec(QStringLiteral("Update PLU Set Preco = 1.5 Where pluNo = 1")));
    QSqlQuery rq(reader->database());
    ASSERT_TRUE(rq.exec(QStringLiteral("Select count(*) From PLU"))) << "a reader must not see 'locked'";
    ASSERT_TRUE(rq.next());
    EXPECT_EQ(rq.value(0).toInt(), 500);
    rq.finish();
    ASSERT_TRUE(w.commit());
}

TEST(Open, ReadOnlyFileOpensAndRefusesWrites)
{
    if (test::onServer())
        GTEST_SKIP() << "file permissions do not reach a server";
    QTemporaryDir dir;
    const QString path = makeDb(dir);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
    // root can write any file, so ask for read-only where permissions do not bite.
    QString err;
    auto conn = db::Connection::open(path, &err, QFileInfo(path).isWritable());
    ASSERT_NE(conn, nullptr) << err.toStdString();
    EXPECT_TRUE(conn->readOnly());
    QSqlQuery q(conn->database());
    EXPECT_TRUE(q.exec(QStringLiteral("Select * From PLU")));
    EXPECT_FALSE(q.exec(QStringLiteral("Alter Table PLU Add Foo int")));
    EXPECT_TRUE(db::errorText(q.lastError()).startsWith(QStringLiteral("O banco de dados está protegido contra gravação")))
        << db::errorText(q.lastError()).toStdString();
}

TEST(Create, SlotsAndLayouts)
{
    QTemporaryDir dir;
    schema::CreateOptions opts;
    opts.slotCount = 40;
    opts.demoProducts = true;
    auto conn = db::Connection::open(makeDb(dir, opts), nullptr);
    ASSERT_NE(conn, nullptr);
    QSqlQuery q(conn->database());
    ASSERT_TRUE(q.exec(QStringLiteral("Select pluNo, Codigo, pluCode, unitPrice, Preco From PLU Order By pluNo")));
    int n = 0;
    int products = 0;
    QSet<QString> codes;
    while (q.next()) {
        ++n;
        EXPECT_EQ(q.value(0).toInt(), n) << "slots are numbered 1..N";
        const int codigo = q.value(1).toInt();
        if (codigo != 0) {
            ++products;
            EXPECT_EQ(q.value(2).toString(), schema::buildPluCode(codigo, 0, 5, false));
            EXPECT_EQ(q.value(3).toInt(), qRound(q.value(4).toDouble() * 100));
            EXPECT_FALSE(codes.contains(q.value(2).toString()));
            codes.insert(q.value(2).toString());
        } else {
            EXPECT_EQ(q.value(2).toString(), QStringLiteral("000000"));
        }
    }
    EXPECT_EQ(n, 40);
    EXPECT_GT(products, 10);
    ASSERT_TRUE(q.exec(QStringLiteral("Select CodeSize, flgPrefixo2 From Config")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 5);
    EXPECT_FALSE(q.value(1).toBool());

    QTemporaryDir oldDir;
    opts.layout = schema::Layout::AsDelivered;
    opts.demoProducts = false;
    auto old = db::Connection::open(makeDb(oldDir, opts), nullptr);
    ASSERT_NE(old, nullptr);
    QSqlQuery o(old->database());
    EXPECT_FALSE(o.exec(QStringLiteral("Select * From Config")));
    for (const char *col : {"Codigo", "BarcodeMode", "Prefixb", "flgDel"})
        EXPECT_FALSE(o.exec(QStringLiteral("Select %1 From PLU").arg(QLatin1String(col)))) << col;
    ASSERT_TRUE(o.exec(QStringLiteral("Select pluCode From PLU Where pluNo = 37")));
    ASSERT_TRUE(o.next());
    EXPECT_EQ(o.value(0).toString(), QStringLiteral("000037")) << "as delivered, each slot carries its own code";
    EXPECT_TRUE(o.exec(QStringLiteral("Select pluNo, preFix, pluCode, pluDesc, validDays, tareWeight, unitPrice,"
                                      " sellFlag From PLU_UPLOADED")));
    EXPECT_TRUE(o.exec(QStringLiteral("Select ID, pluNo, pluDesc, dateTime, weight, totalPrice From RECORD")));
}

// A shop's group (a second cashier account, the transfer timer's user)
// reaches a new file as the user's umask allows, like any file it makes.
TEST(Create, ANewFileHasThePermissionsTheUmaskGives)
{
    if (test::onServer())
        GTEST_SKIP() << "file permissions do not reach a server";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vendabase.accdb"));
    const mode_t before = ::umask(002);
    QString err;
    const bool created = schema::createDatabaseFile(path, {.slotCount = 2}, &err);
    ::umask(before);
    ASSERT_TRUE(created) << err.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
}

TEST(NetworkShare, NetworkFileSystemsAreToldFromLocalOnes)
{
    EXPECT_TRUE(db::isNetworkMagic(0x6969));     // NFS
    EXPECT_TRUE(db::isNetworkMagic(0xFF534D42)); // CIFS
    EXPECT_TRUE(db::isNetworkMagic(0xFE534D42)); // SMB2
    EXPECT_FALSE(db::isNetworkMagic(0xEF53));    // ext4
    EXPECT_FALSE(db::isNetworkMagic(0x01021994)); // tmpfs
    EXPECT_TRUE(db::isNetworkFuseType(QStringLiteral("fuse.sshfs")));
    EXPECT_FALSE(db::isNetworkFuseType(QStringLiteral("fuse.ntfs-3g")));
    QTemporaryDir dir; // a local folder: no warning
    EXPECT_TRUE(db::networkShareWarning(makeDb(dir)).isEmpty());
}

TEST(CopyToServer, EveryRowArrivesAndASecondCopyIsRefused)
{
    if (!test::onServer())
        GTEST_SKIP() << "needs the server";
    QTemporaryDir fileDir, serverDir;
    schema::CreateOptions opts;
    opts.slotCount = 40;
    opts.demoProducts = true;
    const QString file = fileDir.filePath(QStringLiteral("vendabase.accdb"));
    ASSERT_TRUE(schema::createDatabaseFile(file, opts, nullptr));
    {
        auto conn = db::Connection::open(file, nullptr);
        QSqlQuery q(conn->database());
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO RECORD (pluNo, pluDesc, dateTime, weight, totalPrice)"
                                          " VALUES (3, 'AÇÚCAR', '2024-03-15 09:30:05', 1500, 0)")));
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE Config SET CodeSize = 6, flgPrefixo2 = 1")));
        // What the scale "frios" acknowledged: sent again only where it changed.
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO ScaleTransfer (Scale, Complete, Products) VALUES ('frios', 1, 40)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO ScaleAck (Scale, pluNo, Frame) VALUES ('frios', 3, X'444C0003')")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO Historico (Quando, Operacao, pluNo, Campo, Antes, Depois)"
                                          " VALUES ('2024-03-15 09:00:00', 'Gravar', 3, 'Preco', '12.5', '13')")));
    }
    test::useServerBase(serverDir.path());
    const QString target = serverDir.filePath(QStringLiteral("vendabase.accdb"));
    QString summary, err;
    ASSERT_TRUE(schema::copyFileToServer(file, target, &summary, &err)) << err.toStdString();
    EXPECT_EQ(summary.toStdString(),
              "PLU 40, PLU_UPLOADED 0, RECORD 1, SalesRun 0, Config 1, ScaleTransfer 1, ScaleAck 1, Historico 1");

    auto conn = db::Connection::open(target, &err);
    ASSERT_TRUE(conn) << err.toStdString();
    QSqlQuery q(conn->database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT pluDesc, unitPrice FROM PLU WHERE pluNo = 13")) && q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("AÇÚCAR MASCAVO"));
    EXPECT_EQ(q.value(1).toInt(), 1240);
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT CodeSize, flgPrefixo2 FROM Config")) && q.next());
    EXPECT_EQ(q.value(0).toInt(), 6);
    EXPECT_EQ(q.value(1).toInt(), 1);
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT Frame FROM ScaleAck WHERE Scale = 'frios' AND pluNo = 3")) && q.next());
    EXPECT_EQ(q.value(0).toByteArray(), QByteArray::fromHex("444C0003"));
    // New sales follow the copied ones.
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO RECORD (pluNo) VALUES (4) RETURNING ID")) && q.next());
    EXPECT_EQ(q.value(0).toInt(), 2);

    EXPECT_FALSE(schema::copyFileToServer(file, target, &summary, &err));
    EXPECT_TRUE(err.contains(QStringLiteral("já existe"))) << err.toStdString();

    // Two products with one code in the file: named, and nothing created.
    {
        auto conn = db::Connection::open(file, nullptr);
        QSqlQuery q(conn->database());
        // A file from before the engine refused a repeated code.
        ASSERT_TRUE(q.exec(QStringLiteral("DROP INDEX plu_codigo_unico")));
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE PLU SET Codigo = 101, pluCode = (SELECT pluCode FROM PLU WHERE"
                                          " pluNo = 1) WHERE pluNo = 2")));
    }
    QTemporaryDir otherDir;
    test::useServerBase(otherDir.path());
    EXPECT_FALSE(schema::copyFileToServer(file, otherDir.filePath(QStringLiteral("vendabase.accdb")), &summary, &err));
    EXPECT_TRUE(err.contains(QStringLiteral("nos PLU 1, 2"))) << err.toStdString();
}

// Two bases on one server, one of them still being copied (a long
// transaction): the other is created all the same.
TEST(CopyToServer, ABaseIsCreatedWhileAnotherIsStillBeingCopied)
{
    if (!test::onServer())
        GTEST_SKIP() << "needs the server";
    QTemporaryDir longDir, otherDir;
    test::useServerBase(longDir.path());
    test::useServerBase(otherDir.path());
    QString otherError;
    bool otherMade = false;
    auto meanwhile = [&](QSqlDatabase &, QString *) {
        otherMade = schema::createServerBase(otherDir.filePath(QStringLiteral("vendabase.pgconn")), {.slotCount = 2},
                                             &otherError);
        return true;
    };
    QString err;
    ASSERT_TRUE(schema::createServerBase(longDir.filePath(QStringLiteral("vendabase.pgconn")), {.slotCount = 2}, &err,
                                         meanwhile))
        << err.toStdString();
    EXPECT_TRUE(otherMade) << otherError.toStdString();
}

namespace {

// torvane-createdb as the shop runs it.
QString createdb(const QStringList &args, const QString &folder, QProcess *process = nullptr)
{
    QProcess own;
    QProcess &p = process ? *process : own;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(qEnvironmentVariable("TORVANE_BIN_DIR") + QStringLiteral("/torvane-createdb"), args);
    if (process)
        return {};
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAll());
}

} // namespace

TEST(CreateDb, OnAServerItSaysTheBaseWentToTheServer)
{
    if (!test::onServer())
        GTEST_SKIP() << "needs the server";
    QTemporaryDir dir;
    test::useServerBase(dir.path());
    const QString said = createdb({QStringLiteral("--slots"), QStringLiteral("3")}, dir.path());
    EXPECT_TRUE(said.startsWith(QStringLiteral("created the product base on the server of "))) << said.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("vendabase.accdb"))));
}

// A copy stopped half-way (the program killed, the PC switched off) leaves
// the server as it was, and the next copy goes through.
TEST(CopyToServer, ACopyStoppedHalfWayLeavesTheServerAsItWas)
{
    if (!test::onServer())
        GTEST_SKIP() << "needs the server";
    QTemporaryDir fileDir, serverDir;
    const QString file = fileDir.filePath(QStringLiteral("vendabase.accdb"));
    ASSERT_TRUE(schema::createDatabaseFile(file, {.slotCount = 40}, nullptr));
    {
        // Enough sales that the copy takes a while.
        auto conn = db::Connection::open(file, nullptr);
        QSqlQuery q(conn->database());
        ASSERT_TRUE(q.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE"
                                          " i < 50000) INSERT INTO RECORD (pluNo, pluDesc, dateTime, weight,"
                                          " totalPrice) SELECT 1, 'A', '2024-03-15 09:30:05', i, 0 FROM n")));
    }
    test::useServerBase(serverDir.path());
    const QString session = QStringLiteral("copy_%1").arg(QCoreApplication::applicationPid());
    {
        QFile conn(serverDir.filePath(QStringLiteral("vendabase.pgconn")));
        ASSERT_TRUE(conn.open(QIODevice::Append));
        conn.write(QStringLiteral(" application_name=%1\n").arg(session).toUtf8());
    }
    auto sessions = [&](const QString &where) {
        return test::serverExec({QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE application_name = '%1'%2")
                                     .arg(session, where)})
            .toInt();
    };
    QProcess copy;
    createdb({QStringLiteral("--copy-from"), file}, serverDir.path(), &copy);
    ASSERT_TRUE(copy.waitForStarted());
    // Killed while it copies the rows.
    for (int i = 0; i < 3000 && sessions(QStringLiteral(" AND query LIKE 'EXECUTE%'")) == 0; ++i)
        QThread::msleep(10);
    ASSERT_EQ(copy.state(), QProcess::Running) << "the copy ended before it could be stopped";
    copy.kill();
    copy.waitForFinished();
    for (int i = 0; i < 3000 && sessions(QString()) > 0; ++i)
        QThread::msleep(10);

    const QString said = createdb({QStringLiteral("--copy-from"), file}, serverDir.path());
    EXPECT_TRUE(said.contains(QStringLiteral("RECORD 50000"))) << said.toStdString();
}

// Sales stored before runs existed carry their old keys: the first read of
// their scale takes them into its run instead of storing them again, also
// after a move to the server (there the key of a date stored in another
// form is written in the server's).
TEST(SalesRead, SalesStoredBeforeRunsAreKnownToTheFirstRead)
{
    QTemporaryDir fileDir, serverDir;
    QString path = fileDir.filePath(QStringLiteral("vendabase.accdb"));
    ASSERT_TRUE(schema::createDatabaseFile(path, {}, nullptr));
    {
        const QString second = test::onServer() ? QStringLiteral("2024-03-15T10:00:00") : QStringLiteral("2024-03-15 10:00:00");
        auto conn = db::Connection::open(path, nullptr);
        QSqlQuery q(conn->database());
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO RECORD (pluNo, pluDesc, dateTime, weight, totalPrice, saleKey)"
                                          " VALUES (3, 'AÇÚCAR', '2024-03-15 09:30:05', 1500, 0,"
                                          " '3|2024-03-15 09:30:05|1500|0|1'), (3, 'AÇÚCAR', '%1', 1500, 0,"
                                          " '3|%1|1500|0|1')")
                               .arg(second)));
    }
    if (test::onServer()) {
        test::useServerBase(serverDir.path());
        const QString target = serverDir.filePath(QStringLiteral("vendabase.accdb"));
        QString err;
        ASSERT_TRUE(schema::copyFileToServer(path, target, nullptr, &err)) << err.toStdString();
        path = target;
    }
    auto sale = [](int hour) {
        db::ReadSale s;
        s.pluNo = 3;
        s.pluDesc = QStringLiteral("AÇÚCAR");
        s.when = QDateTime(QDate(2024, 3, 15), QTime(hour, hour == 9 ? 30 : 0, hour == 9 ? 5 : 0));
        s.weight = 1500;
        s.unitPrice = 1240;
        return s;
    };
    for (int known : {2, 3}) {
        db::SalesRead r(path, QStringLiteral("frios"), QStringLiteral("caixa:/dev/ttyUSB0"));
        ASSERT_TRUE(r.open()) << r.error().toStdString();
        for (int hour : {9, 10, 11})
            r.add(sale(hour));
        ASSERT_TRUE(r.store(true)) << r.error().toStdString();
        EXPECT_EQ(r.knownSales(), known);
        EXPECT_EQ(r.newSales(), 3 - known);
    }
}

// Sales stored before each sale kept its price are priced once by the
// upgrade, as the window priced them until then: the scale's copy first,
// the base where the scale's copy is missing.
TEST(SalesRead, UpgradeFixesWhatEarlierSalesWereWorth)
{
    QTemporaryDir dir;
    const QString path = makeDb(dir, {.slotCount = 3, .layout = schema::Layout::AsDelivered});
    auto conn = db::Connection::open(path, nullptr);
    QSqlQuery q(conn->database());
    ASSERT_TRUE(q.exec(QStringLiteral("UPDATE PLU SET unitPrice = pluNo * 100")));
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, unitPrice, sellFlag) VALUES (1, 599, 1)")));
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO RECORD (pluNo, weight, totalPrice) VALUES (1, 1250, 0), (2, 1500, 0),"
                                      " (3, 0, 750), (9, 500, 0)")));
    QString err;
    ASSERT_TRUE(db::UpgradeSalesRecord(conn->database(), &err)) << err.toStdString();
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT salePrice, saleTotal FROM RECORD ORDER BY ID")));
    QStringList worth;
    while (q.next())
        worth << q.value(0).toString() + u'/' + q.value(1).toString();
    EXPECT_EQ(worth, (QStringList{"599/749", "200/300", "300/750", "0/0"}));
}

TEST(Sql, TextOrderIsTheOneAnOperatorReads)
{
    QTemporaryDir dir;
    const QString path = makeDb(dir, {.slotCount = 5});
    auto conn = db::Connection::open(path, nullptr);
    ASSERT_NE(conn, nullptr);
    QSqlQuery q(conn->database());
    const QStringList descs = {QStringLiteral("ZZZ"), QStringLiteral("banana"), QStringLiteral("Ágata"),
                               QStringLiteral("água"), QStringLiteral("Abacaxi")};
    for (int i = 0; i < descs.size(); ++i) {
        q.prepare(QStringLiteral("Update PLU Set pluDesc = ? Where pluNo = ?"));
        q.addBindValue(descs[i]);
        q.addBindValue(i + 1);
        ASSERT_TRUE(q.exec());
    }
    // The listing's statement, as written.
    ASSERT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Select PluDesc, PluNo From Plu Order By PluDesc"))));
    QStringList order;
    while (q.next())
        order << q.value(0).toString();
    EXPECT_EQ(order, (QStringList{QStringLiteral("Abacaxi"), QStringLiteral("Ágata"), QStringLiteral("água"),
                                  QStringLiteral("banana"), QStringLiteral("ZZZ")}));
    // Numbers still sort as numbers.
    ASSERT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Select pluNo From Plu Order By PluNo Desc"))));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 5);
}
