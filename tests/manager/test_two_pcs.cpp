// Two managers, each in its own process, on one product base: what one PC
// saves is never doubled or written over by the other.  The test program
// starts itself twice as a "PC" (the TwoPcs.Manager case, driven over its
// standard input) and scripts both.
#include "Db.h"
#include "Engine.h"
#include "DataModule.h"
#include "ManagerTestSupport.h"
#include "ProductForm.h"
#include "StatusWindow.h"
#include "ServerBase.h"
#include "Unitselect.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QSqlQuery>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <iostream>
#include <string>

using namespace torvane;
using namespace torvane::test;

namespace {

const char *kFolderVariable = "TORVANE_PC_FOLDER";
const QString kPrefix = QStringLiteral("pc> ");

// One manager in a child process.  send() writes a command and returns the
// lines the manager answered before its "ok".
class Pc {
public:
    explicit Pc(const QString &folder)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kFolderVariable), folder);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=TwoPcs.Manager")});
        ready = m_process.waitForStarted(10000) && replied();
    }
    ~Pc()
    {
        if (m_process.state() == QProcess::Running) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(10000))
                m_process.kill();
        }
    }
    void write(const QString &command)
    {
        m_process.write((command + u'\n').toUtf8());
        m_process.waitForBytesWritten(10000);
    }
    QStringList send(const QString &command)
    {
        write(command);
        return reply();
    }
    QStringList reply()
    {
        m_lines.clear();
        EXPECT_TRUE(replied()) << "no answer from the other manager";
        return m_lines;
    }
    bool ready = false;

private:
    bool replied()
    {
        for (;;) {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (!line.startsWith(kPrefix))
                    continue;
                if (line == kPrefix + QStringLiteral("ok"))
                    return true;
                m_lines << line.mid(kPrefix.size());
            }
            if (!m_process.waitForReadyRead(30000))
                return false;
        }
    }
    QProcess m_process;
    QStringList m_lines;
};

// Waits until some session of the server waits for another's lock (the
// file has no such view: there a short pause stands in).
void waitForABlockedSave(const QString &databasePath)
{
    if (!onServer()) {
        QThread::msleep(300);
        return;
    }
    QString error;
    auto conn = db::Connection::open(databasePath, &error);
    ASSERT_TRUE(conn) << error.toStdString();
    for (int i = 0; i < 200; ++i) {
        QSqlQuery q(conn->database());
        if (q.exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'")) && q.next()
            && q.value(0).toInt() > 0)
            return;
        QThread::msleep(50);
    }
    // Not blocked: the second save went through at once, which the test's
    // checks of the stored rows then show.
}

QString price(const QVariant &v)
{
    return QString::number(v.toDouble(), 'f', 2);
}

} // namespace

// The manager side, run only in a child process.
TEST(TwoPcs, Manager)
{
    const QString folder = qEnvironmentVariable(kFolderVariable);
    if (folder.isEmpty())
        GTEST_SKIP() << "started by the other tests as a second PC";
    FormFixture f(folder + QStringLiteral("/vendabase.accdb"));
    ASSERT_TRUE(f.start());
    manager::TfrmProdutos &form = *f.form;
    auto say = [](const QString &text) { std::cout << (kPrefix + text).toStdString() << std::endl; };
    say(QStringLiteral("ok"));
    std::string line;
    while (std::getline(std::cin, line)) {
        const QString command = QString::fromStdString(line);
        const QString word = command.section(u' ', 0, 0);
        const QString rest = command.section(u' ', 1);
        if (word == QLatin1String("quit"))
            break;
        if (word == QLatin1String("edit")) {
            f.selectSlot(rest.toInt());
            f.click(form.btnEditar);
        } else if (word == QLatin1String("code")) {
            f.type(form.edtCodigo, rest);
        } else if (word == QLatin1String("desc")) {
            f.type(form.edtDesc, rest);
        } else if (word == QLatin1String("price")) {
            f.type(form.edtPU, rest);
        } else if (word == QLatin1String("begin")) {
            // Holds the next save's transaction open, as a PC that has
            // written its row but not yet committed it.
            db::beginTransaction(f.dm->ADOC()->database());
        } else if (word == QLatin1String("commit")) {
            f.dm->ADOC()->database().commit();
        } else if (word == QLatin1String("configure")) {
            // "configure SIZE [yes|no]": Arquivo, Configurar, the size
            // picked, the second prefix answered, the change confirmed.
            const int size = rest.section(u' ', 0, 0).toInt();
            f.dialogs.clear();
            if (size != 6)
                f.dialogs.answerConfirm(rest.section(u' ', 1, 1) == QLatin1String("yes"));
            f.dialogs.answerConfirm(true);
            QTimer::singleShot(0, [size] {
                if (auto *dlg = qobject_cast<manager::TfrmSelect *>(QApplication::activeModalWidget())) {
                    dlg->selectOption(size - 4);
                    dlg->btnOk->click();
                }
            });
            form.Configurar2->trigger();
            for (const QString &m : f.dialogs.messages())
                say(QStringLiteral("message ") + QString(m).replace(u'\n', u' '));
        } else if (word == QLatin1String("save")) {
            f.dialogs.clear();
            f.click(form.btnGravar);
            for (const QString &m : f.dialogs.messages())
                say(QStringLiteral("message ") + QString(m).replace(u'\n', u' '));
            say(QStringLiteral("editing %1").arg(form.qryProdutos->isEditing()));
            say(QStringLiteral("price ") + form.edtPU->text());
        }
        say(QStringLiteral("ok"));
    }
}

TEST(TwoPcs, OneCodeSavedAtOnceOnTwoPcsGoesToOneProduct)
{
    TempDatabase db(dbOptions(6));
    Pc a(db.dirPath()), b(db.dirPath());
    ASSERT_TRUE(a.ready && b.ready);
    for (auto [pc, slot, desc] : {std::tuple{&a, 3, "LEITE A"}, std::tuple{&b, 4, "LEITE B"}}) {
        pc->send(QStringLiteral("edit %1").arg(slot));
        pc->send(QStringLiteral("code 777"));
        pc->send(QStringLiteral("desc ") + QLatin1String(desc));
        pc->send(QStringLiteral("price 5,00"));
    }
    // A has written 777 and not committed yet when B saves the same code:
    // B's look-up cannot see A's row, and B's write must wait for A.
    a.send(QStringLiteral("begin"));
    EXPECT_TRUE(a.send(QStringLiteral("save")).contains(QStringLiteral("editing 0")));
    b.write(QStringLiteral("save"));
    waitForABlockedSave(db.path());
    a.send(QStringLiteral("commit"));
    const QStringList first = b.reply();
    EXPECT_TRUE(first.contains(QStringLiteral("editing 1"))) << first.join(u'|').toStdString();
    if (onServer()) {
        EXPECT_TRUE(first.contains(QStringLiteral("message Código já existente"))) << first.join(u'|').toStdString();
    }
    // On the file the late write fails as busy; saved again, B is told why.
    const QStringList again = b.send(QStringLiteral("save"));
    EXPECT_TRUE(again.contains(QStringLiteral("message Código já existente"))) << again.join(u'|').toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("Select count(*) From PLU Where Codigo = 777")).toInt(), 1);
    EXPECT_EQ(db.scalar(QStringLiteral("Select pluDesc From PLU Where Codigo = 777")).toString(), "LEITE A");
}

TEST(TwoPcs, APriceChangedOnAnotherPcIsNotWrittenOver)
{
    TempDatabase db(dbOptions(6, true));
    Pc a(db.dirPath()), b(db.dirPath());
    ASSERT_TRUE(a.ready && b.ready);
    a.send(QStringLiteral("edit 1"));
    a.send(QStringLiteral("price 2,00"));
    b.send(QStringLiteral("edit 1"));
    b.send(QStringLiteral("price 3,00"));
    EXPECT_EQ(b.send(QStringLiteral("save")), (QStringList{"editing 0", "price 3.00"}));

    const QStringList refused = a.send(QStringLiteral("save"));
    ASSERT_EQ(refused.size(), 3) << refused.join(u'|').toStdString();
    EXPECT_TRUE(refused[0].contains(QStringLiteral("alterado em outro computador"))) << refused[0].toStdString();
    EXPECT_TRUE(refused[0].contains(QStringLiteral("Preço"))) << refused[0].toStdString();
    // A shows what B stored, out of edit.
    EXPECT_EQ(refused.mid(1), (QStringList{"editing 0", "price 3.00"}));
    EXPECT_EQ(price(db.scalar(QStringLiteral("Select Preco From PLU Where pluNo = 1"))), "3.00");
}

TEST(TwoPcs, ACodeSavedElsewhereJustAfterTheLookUpIsStillRefused)
{
    TempDatabase db(dbOptions(6));
    FormFixture f(db.path());
    ASSERT_TRUE(f.start());
    manager::TfrmProdutos &form = *f.form;
    f.selectSlot(3);
    f.click(form.btnEditar);
    f.type(form.edtCodigo, QStringLiteral("777"));
    f.type(form.edtDesc, QStringLiteral("LEITE A"));
    // The other PC commits 777 between this PC's look-up and its write.
    const auto lookUp = form.qryProdutos->beforePost;
    form.qryProdutos->beforePost = [&] {
        const bool ok = lookUp();
        db.exec(QStringLiteral("Update PLU Set Codigo = 777, pluCode = '%1', pluDesc = 'LEITE B' Where pluNo = 4")
                    .arg(form.qryProdutos->value(QStringLiteral("pluCode")).toString()));
        return ok;
    };
    f.click(form.btnGravar);
    EXPECT_EQ(f.dialogs.messages(), QStringList{QStringLiteral("Código já existente")});
    EXPECT_EQ(db.scalar(QStringLiteral("Select count(*) From PLU Where Codigo = 777")).toInt(), 1);
}

// Another PC changes the code size: the rewrite there covers the product
// this PC saved after the other had loaded its list, and this PC's next
// save builds its code in the new size, though it read the old one at start.
TEST(TwoPcs, ACodeSizeChangedOnAnotherPcReachesEveryProductAndEverySave)
{
    TempDatabase db(dbOptions(6));
    Pc a(db.dirPath()), b(db.dirPath());
    ASSERT_TRUE(a.ready && b.ready);
    a.send(QStringLiteral("edit 4"));
    a.send(QStringLiteral("code 77"));
    a.send(QStringLiteral("desc LEITE"));
    EXPECT_TRUE(a.send(QStringLiteral("save")).contains(QStringLiteral("editing 0")));
    ASSERT_EQ(db.scalar(QStringLiteral("Select pluCode From PLU Where pluNo = 4")).toString(), "000770");

    const QStringList configured = b.send(QStringLiteral("configure 6"));
    EXPECT_TRUE(configured.isEmpty()) << configured.join(u'|').toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("Select CodeSize From Config")).toInt(), 6);
    EXPECT_EQ(db.scalar(QStringLiteral("Select pluCode From PLU Where pluNo = 4")).toString(), "000077");

    a.send(QStringLiteral("edit 3"));
    a.send(QStringLiteral("code 4321"));
    a.send(QStringLiteral("desc PAO"));
    EXPECT_TRUE(a.send(QStringLiteral("save")).contains(QStringLiteral("editing 0")));
    EXPECT_EQ(db.scalar(QStringLiteral("Select pluCode From PLU Where pluNo = 3")).toString(), "004321");
}

// The server restarted while the manager stood open, which ends its
// connection: the next save connects again and is stored.  While the
// server refuses the connection the save says so, and the row stays in
// edit until a later save stores it.
TEST(Server, ASaveAfterTheServerEndedTheConnectionConnectsAgain)
{
    if (!onServer())
        GTEST_SKIP() << "needs the server";
    TempDatabase db(dbOptions(6));
    const QString pc = usePcRole(db.dirPath());
    FormFixture f(db.path());
    ASSERT_TRUE(f.start());
    manager::TfrmProdutos &form = *f.form;
    auto edit = [&](int slot, const QString &code) {
        f.selectSlot(slot);
        f.click(form.btnEditar);
        f.type(form.edtCodigo, code);
        f.type(form.edtDesc, QStringLiteral("QUEIJO"));
        f.type(form.edtPU, QStringLiteral("30,00"));
    };

    endConnections(pc);
    edit(1, QStringLiteral("301"));
    f.click(form.btnGravar);
    EXPECT_TRUE(f.dialogs.messages().isEmpty()) << f.dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("Select Codigo From PLU Where pluNo = 1")).toInt(), 301);

    serverExec({QStringLiteral("ALTER ROLE %1 NOLOGIN").arg(pc)});
    endConnections(pc);
    edit(2, QStringLiteral("302"));
    f.click(form.btnGravar);
    ASSERT_EQ(f.dialogs.messages().size(), 1);
    EXPECT_TRUE(f.dialogs.messages()[0].contains(QStringLiteral("servidor"))) << f.dialogs.messages()[0].toStdString();
    EXPECT_TRUE(form.qryProdutos->isEditing());

    serverExec({QStringLiteral("ALTER ROLE %1 LOGIN").arg(pc)});
    f.dialogs.clear();
    f.click(form.btnGravar);
    EXPECT_TRUE(f.dialogs.messages().isEmpty()) << f.dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("Select Codigo From PLU Where pluNo = 2")).toInt(), 302);
}

// The server ends the connection half-way through "Prefixo 1", between
// two rows: the change is not half made (the rows after it do not go in on
// a new connection, one by one), the list shows what is stored, and the
// next save connects again.
TEST(Server, AConnectionEndedHalfWayThroughABulkChangeLeavesItUndone)
{
    if (!onServer())
        GTEST_SKIP() << "needs the server";
    TempDatabase db(dbOptions(8, true));
    const QString pc = usePcRole(db.dirPath());
    FormFixture f(db.path());
    ASSERT_TRUE(f.start());
    QObject::connect(f.status->ProgressBar, &QProgressBar::valueChanged, [&](int row) {
        if (row == 4)
            endConnections(pc);
    });
    f.dialogs.answerInput(QStringLiteral("7"));
    f.form->Prefixo11->trigger();
    ASSERT_EQ(f.dialogs.messages().size(), 1);
    EXPECT_TRUE(f.dialogs.messages()[0].contains(QStringLiteral("conexão com o servidor"))) << f.dialogs.messages()[0].toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("Select count(*) From PLU Where preFix = 7")).toInt(), 0);
    EXPECT_EQ(f.form->qryProdutos->value(QStringLiteral("preFix")).toInt(), 2);

    f.dialogs.clear();
    f.selectSlot(8);
    f.click(f.form->btnEditar);
    f.type(f.form->edtCodigo, QStringLiteral("301"));
    f.click(f.form->btnGravar);
    EXPECT_TRUE(f.dialogs.messages().isEmpty()) << f.dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("Select Codigo From PLU Where pluNo = 8")).toInt(), 301);
}

// A PC logs in with a role of its own that may use the rows and nothing
// more (the set-up torvane-createdb --roles prints): it saves products and
// cannot drop a table; on a base that needs the upgrade it is told that
// the owner must open it once.
TEST(Server, APcRoleSavesProductsAndLeavesTheUpgradeToTheOwner)
{
    if (!onServer())
        GTEST_SKIP() << "needs the server";
    TempDatabase db(dbOptions(6));
    QString schema;
    usePcRole(db.dirPath(), &schema);
    {
        FormFixture f(db.path());
        ASSERT_TRUE(f.start());
        f.selectSlot(1);
        f.click(f.form->btnEditar);
        f.type(f.form->edtCodigo, QStringLiteral("301"));
        f.type(f.form->edtDesc, QStringLiteral("QUEIJO"));
        f.click(f.form->btnGravar);
        EXPECT_TRUE(f.dialogs.messages().isEmpty()) << f.dialogs.messages().join(u'|').toStdString();
        EXPECT_EQ(db.scalar(QStringLiteral("Select Codigo From PLU Where pluNo = 1")).toInt(), 301);
        QSqlQuery q(f.dm->ADOC()->database());
        EXPECT_FALSE(q.exec(QStringLiteral("DROP TABLE PLU")));
    }
    // A new version adds a table, and the owner has not opened the base yet.
    serverExec({QStringLiteral("DROP TABLE %1.ScaleAck").arg(schema)});
    FormFixture f(db.path());
    EXPECT_FALSE(f.start());
    ASSERT_EQ(f.dialogs.messages().size(), 1);
    EXPECT_TRUE(f.dialogs.messages()[0].contains(QStringLiteral("o dono do banco"))) << f.dialogs.messages()[0].toStdString();
}
