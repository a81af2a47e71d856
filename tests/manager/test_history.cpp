// The record of the products' changes: every path that changes a price, a
// code or a prefix leaves its rows, written with the change itself.
#include "ManagerTestSupport.h"

#include "Db.h"
#include "ProductForm.h"
#include "ProductHistory.h"
#include "SheetImportWindow.h"
#include "Unitselect.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace torvane;
using namespace torvane::test;

namespace {

// Queijo in slot 1 (code 123, 12,50, Prefixo 2 0), Alface in slot 2; size 5
// without the second prefix.
class HistoryTest : public ::testing::Test {
public: // the paths below drive it
    void SetUp() override
    {
        db = std::make_unique<TempDatabase>(dbOptions(4));
        db->exec("Update Config Set CodeSize = 5, flgPrefixo2 = 0");
        db->exec("Update PLU Set Prefixb = 0");
        db->exec("Update PLU Set Codigo = 123, pluDesc = 'QUEIJO', Preco = 12.5, unitPrice = 1250, "
                 "pluCode = '001230' Where pluNo = 1");
        db->exec("Update PLU Set Codigo = 45, pluDesc = 'ALFACE', Preco = 3, unitPrice = 300, "
                 "pluCode = '000450' Where pluNo = 2");
        db->exec("Delete From Historico");
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        f->form->strDirPrograma = db->dirPath();
    }
    void TearDown() override
    {
        EXPECT_EQ(f->dialogs.unexpected(), 0);
        EXPECT_EQ(f->dialogs.pendingAnswers(), 0);
    }
    // "operation: column before -> after" of slot 1's rows, oldest first.
    QStringList slotOne() const
    {
        QString error;
        auto conn = db::Connection::open(db->path(), &error);
        QSqlQuery q(conn->database());
        q.exec("SELECT Operacao, Campo, Antes, Depois, Usuario, Computador FROM Historico WHERE pluNo = 1 ORDER BY ID");
        QStringList out;
        while (q.next()) {
            out << QStringLiteral("%1: %2 %3 -> %4")
                       .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString());
            if (!onServer()) { // there: the server's login
                EXPECT_EQ(q.value(4).toString(), db::thisUser());
            }
            EXPECT_EQ(q.value(5).toString(), db::thisComputer());
        }
        return out;
    }
    QString writeFile(const QString &name, const QByteArray &bytes) const
    {
        const QString path = QDir(db->dirPath()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

TEST_F(HistoryTest, EveryPathRecordsWhatItChangedBeforeAndAfter)
{
    struct Path {
        const char *name;
        std::function<void(HistoryTest &)> run;
        QStringList expected;
    };
    const QString queijo22 = QStringLiteral("QUEIJO") + QString(16, u' ');
    const Path paths[] = {
        {"Gravar",
         [](HistoryTest &t) {
             t.f->selectSlot(1);
             t.f->click(t.f->form->btnEditar);
             t.f->type(t.f->form->edtPU, "13.25");
             t.f->click(t.f->form->btnGravar);
         },
         {"Gravar: Preco 12.5 -> 13.25"}},
        {"Prefixo 2",
         [](HistoryTest &t) {
             t.f->dialogs.answerInput("4");
             t.f->form->Prefixo21->trigger();
         },
         {"Prefixo 2: Prefixb 0 -> 4"}},
        {"Configurar",
         [](HistoryTest &t) {
             t.f->dialogs.answerConfirm(true); // go ahead
             QTimer::singleShot(0, [] {
                 auto *dlg = qobject_cast<manager::TfrmSelect *>(QApplication::activeModalWidget());
                 ASSERT_TRUE(dlg);
                 dlg->selectOption(2); // size 6
                 dlg->btnOk->click();
             });
             t.f->form->Configurar2->trigger();
         },
         {"Configurar: pluCode 001230 -> 000123"}},
        {"Importar",
         [](HistoryTest &t) {
             const QByteArray line = "000123P" + QByteArray("QUEIJO").leftJustified(22, ' ') + "0001410\r\n";
             t.f->dialogs.answerOpenFile(t.writeFile("lista.txt", line));
             t.f->dialogs.answerConfirm(false); // Limpar dados existentes ?
             t.f->form->Importar1->trigger();
         },
         {"Importar: pluDesc QUEIJO -> " + queijo22, "Importar: Preco 12.5 -> 14.1"}},
        {"Importar planilha",
         [](HistoryTest &t) {
             t.f->dialogs.answerOpenFile(t.writeFile("lista.csv", "Código;Descrição;Preço\r\n123;QUEIJO;15,10\r\n"));
             t.f->dialogs.answerConfirm(false); // Limpar dados existentes ?
             QTimer::singleShot(0, [] {
                 auto *w = qobject_cast<manager::TfrmPlanilha *>(QApplication::activeModalWidget());
                 ASSERT_TRUE(w);
                 w->btnImportar->click();
             });
             t.f->form->ImportarPlanilha1->trigger();
         },
         {"Importar planilha: Preco 12.5 -> 15.1"}},
    };
    for (const Path &p : paths) {
        SCOPED_TRACE(p.name);
        TearDown();
        f.reset();
        SetUp();
        p.run(*this);
        EXPECT_EQ(slotOne(), p.expected);
    }
}

// A save the engine refuses leaves the product and its history as they were.
TEST_F(HistoryTest, AFailedSaveLeavesNoRow)
{
    db->exec(faultTrigger("recusa", "UPDATE", "PLU", "NEW.Preco > 100", "preco recusado"));
    f->selectSlot(1);
    f->click(f->form->btnEditar);
    f->type(f->form->edtPU, "200");
    f->click(f->form->btnGravar);
    EXPECT_TRUE(f->form->btnGravar->isEnabled()); // still in edit
    EXPECT_EQ(db->scalar("SELECT count(*) FROM Historico").toInt(), 0);
    f->click(f->form->btnCancelar);
}

// On the server every PC is recorded with its own login, and so is a change
// made with psql.
TEST_F(HistoryTest, OnTheServerEveryPcAndPsqlAreRecorded)
{
    if (!onServer())
        GTEST_SKIP() << "runs against the server (scripts/with-pg.sh)";
    QString error, schema;
    auto owner = db::Connection::open(db->path(), &error);
    ASSERT_TRUE(owner) << error.toStdString();
    const QString role = usePcRole(db->dirPath(), &schema);
    auto pc = db::Connection::open(db->path(), &error);
    ASSERT_TRUE(pc) << error.toStdString();
    for (auto *conn : {owner.get(), pc.get()}) {
        const db::HistoryOperation operation(conn->database(), conn == pc.get() ? "Caixa 2" : "Caixa 1");
        QSqlQuery q(conn->database());
        EXPECT_TRUE(q.exec("UPDATE PLU SET Preco = Preco + 1 WHERE pluNo = 1")) << q.lastError().text().toStdString();
    }
    serverExec({"SET application_name = 'psql'",
                QStringLiteral("UPDATE %1.plu SET pludesc = 'QUEIJO MINAS' WHERE pluno = 1").arg(schema)});
    QSqlQuery q(owner->database());
    q.exec("SELECT session_user");
    q.next();
    const QString ownerLogin = q.value(0).toString(); // the administrator's too, in the tests
    q.exec("SELECT Operacao, Usuario, Campo, Antes, Depois FROM Historico WHERE pluNo = 1 ORDER BY ID");
    QStringList rows;
    while (q.next())
        rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toString(), q.value(4).toString()}
                    .join(u'|');
    EXPECT_EQ(rows, (QStringList{"Caixa 1|" + ownerLogin + "|Preco|12.5|13.5", "Caixa 2|" + role + "|Preco|13.5|14.5",
                                 "psql|" + ownerLogin + "|pluDesc|QUEIJO|QUEIJO MINAS"}));
}

// A base of an older version records each row from a trigger of its own, or
// once a statement with an older insert; the upgrade puts this version's in
// its place, which records a statement's rows at once.
TEST_F(HistoryTest, OnTheServerTheRecordOfAnOlderBaseIsReplaced)
{
    if (!onServer())
        GTEST_SKIP() << "runs against the server (scripts/with-pg.sh)";
    QString error;
    auto conn = db::Connection::open(db->path(), &error);
    ASSERT_TRUE(conn) << error.toStdString();
    const QSqlDatabase base = conn->database();
    QSqlQuery q(base);
    const QStringList older[] = {
        {"CREATE OR REPLACE FUNCTION historico_plu() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
         " INSERT INTO historico (pluNo, Campo) VALUES (NEW.pluno, 'linha'); RETURN NULL; END $$",
         "CREATE TRIGGER historico_plu AFTER UPDATE ON plu FOR EACH ROW EXECUTE FUNCTION historico_plu()"},
        {"CREATE OR REPLACE FUNCTION historico_plu() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
         " INSERT INTO historico (pluNo, Campo) SELECT pluno, 'antiga' FROM novas; RETURN NULL; END $$",
         "CREATE TRIGGER historico_plu AFTER UPDATE ON plu REFERENCING NEW TABLE AS novas"
         " FOR EACH STATEMENT EXECUTE FUNCTION historico_plu()"}};
    for (const QStringList &trigger : older) {
        SCOPED_TRACE(trigger.last().toStdString());
        ASSERT_TRUE(q.exec("DROP TRIGGER historico_plu ON plu")) << q.lastError().text().toStdString();
        for (const QString &sql : trigger)
            ASSERT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
        EXPECT_FALSE(db::historyPresent(base));
        ASSERT_TRUE(db::createHistory(base, &error)) << error.toStdString();
        EXPECT_TRUE(db::historyPresent(base));
        ASSERT_TRUE(q.exec("DELETE FROM Historico"));
        ASSERT_TRUE(q.exec("UPDATE PLU SET Preco = Preco + 1, Tara = 0.25 WHERE pluNo IN (1, 2)"));
        q.exec("SELECT pluNo, Campo, Antes, Depois FROM Historico ORDER BY ID");
        QStringList rows;
        while (q.next())
            rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                q.value(3).toString()}
                        .join(u'|');
        rows.sort(); // the slots in the statement's order, which the server chooses
        EXPECT_EQ(rows, (QStringList{"1|Preco|12.5|13.5", "1|Tara|0|0.25", "2|Preco|3|4", "2|Tara|0|0.25"}));
        ASSERT_TRUE(q.exec("UPDATE PLU SET Preco = Preco - 1, Tara = 0 WHERE pluNo IN (1, 2)"));
    }
}

} // namespace
