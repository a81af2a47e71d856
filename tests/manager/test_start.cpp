// Starting on a file that cannot be used: one clear message, the window
// stays open, nothing is created or written.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;

namespace {

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

void expectOneErrorAndAnOpenEmptyWindow(FormFixture &f)
{
    ASSERT_EQ(f.dialogs.shown().size(), 1) << f.dialogs.messages().join('|').toStdString();
    EXPECT_EQ(f.dialogs.shown()[0].caption, "Torvane");
    EXPECT_EQ(f.dialogs.shown()[0].icon, manager::DialogIcon::Error);
    EXPECT_TRUE(f.dialogs.shown()[0].text.endsWith('.'));
    EXPECT_TRUE(f.form->isVisible());
    EXPECT_EQ(f.form->DBGrid1->model()->rowCount(), 0);
    // Commands on the empty window do nothing harmful.
    f.click(f.form->btnEditar);
    EXPECT_FALSE(f.form->btnGravar->isEnabled());
}

} // namespace

TEST(Start, MissingDatabaseGivesOneMessageAndCreatesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vendabase.accdb");
    FormFixture f(path);
    EXPECT_FALSE(f.start());
    expectOneErrorAndAnOpenEmptyWindow(f);
    EXPECT_TRUE(f.dialogs.shown()[0].text.contains("não foi encontrado")) << f.dialogs.shown()[0].text.toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(Start, AccessDatabaseIsNamedAndLeftUntouched)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vendabase.accdb");
    {
        QByteArray bytes(4096, '\x11');
        bytes.replace(0, 4, QByteArray("\0\1\0\0", 4));
        bytes.replace(4, 15, "Standard ACE DB");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const QByteArray before = digest(path);
    FormFixture f(path);
    EXPECT_FALSE(f.start());
    expectOneErrorAndAnOpenEmptyWindow(f);
    EXPECT_TRUE(f.dialogs.shown()[0].text.contains("Microsoft Access")) << f.dialogs.shown()[0].text.toStdString();
    EXPECT_EQ(digest(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList({"vendabase.accdb"}));
}

TEST(Start, FileThatIsNoDatabaseIsRefused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vendabase.accdb");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("codigo;descricao;preco\n");
    }
    FormFixture f(path);
    EXPECT_FALSE(f.start());
    expectOneErrorAndAnOpenEmptyWindow(f);
    EXPECT_TRUE(f.dialogs.shown()[0].text.contains("não é um banco de dados"));
}

TEST(Start, ReadOnlyUpgradedDatabaseIsShownWithOneNotice)
{
    if (onServer())
        GTEST_SKIP() << "file permissions do not reach a server";
    TempDatabase db(dbOptions(5, true));
    QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const QByteArray before = digest(db.path());
    {
        FormFixture f(db.path());
        EXPECT_TRUE(f.start());
        ASSERT_EQ(f.dialogs.shown().size(), 1);
        EXPECT_TRUE(f.dialogs.shown()[0].text.contains("protegido contra gravação"));
        EXPECT_EQ(f.form->DBGrid1->model()->rowCount(), 5);
        EXPECT_EQ(f.cell(0, "Descrição"), "PAO FRANCES");

        // A save attempt fails with the engine's message; the row stays in
        // edit with what was typed, so nothing the operator typed is lost
        // without notice.
        f.dialogs.clear();
        f.click(f.form->btnEditar);
        f.type(f.form->edtDesc, "PAO DE SAL");
        f.click(f.form->btnGravar);
        ASSERT_EQ(f.dialogs.shown().size(), 1);
        EXPECT_EQ(f.dialogs.shown()[0].caption, "Torvane");
        EXPECT_TRUE(f.dialogs.shown()[0].text.contains("a alteração não foi gravada"));
        EXPECT_TRUE(f.form->btnGravar->isEnabled());
        EXPECT_EQ(f.form->edtDesc->text(), "PAO DE SAL");
        f.click(f.form->btnCancelar);
    }
    EXPECT_EQ(digest(db.path()), before);
    QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST(Start, ReadOnlyDatabaseThatNeedsTheUpgradeSaysSoOnce)
{
    if (onServer())
        GTEST_SKIP() << "file permissions do not reach a server";
    TempDatabase db(dbOptions(5, false, schema::Layout::AsDelivered));
    QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const QByteArray before = digest(db.path());
    {
        FormFixture f(db.path());
        EXPECT_FALSE(f.start());
        ASSERT_EQ(f.dialogs.shown().size(), 1);
        EXPECT_EQ(f.dialogs.shown()[0].caption, "Torvane");
        EXPECT_TRUE(f.dialogs.shown()[0].text.contains("protegido contra gravação"));
        EXPECT_TRUE(f.form->isVisible());
        EXPECT_EQ(f.form->DBGrid1->model()->rowCount(), 0);
    }
    EXPECT_EQ(digest(db.path()), before);
    QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST(Start, AForeignSQLiteFileIsRefusedBeforeAnythingIsWrittenToIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vendabase.accdb");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(path);
        ASSERT_TRUE(other.open());
        QSqlQuery(other).exec(QStringLiteral("Create Table Clientes (Nome text)"));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    const QByteArray before = digest(path);
    {
        FormFixture f(path);
        EXPECT_FALSE(f.start());
        expectOneErrorAndAnOpenEmptyWindow(f);
        EXPECT_TRUE(f.dialogs.shown()[0].text.contains("não tem a tabela de produtos")) << f.dialogs.messages()[0].toStdString();
    }
    EXPECT_EQ(digest(path), before);
}

TEST(Start, AProductTableWithoutAColumnOrWithARepeatedNumberIsRefused)
{
    {
        TempDatabase db(dbOptions(3, true));
        if (onServer()) // the server's record of the products' changes watches the column
            db.exec("Drop Trigger historico_plu On PLU");
        db.exec("Alter Table PLU Drop Column Preco");
        FormFixture f(db.path());
        EXPECT_FALSE(f.start());
        expectOneErrorAndAnOpenEmptyWindow(f);
        EXPECT_TRUE(f.dialogs.shown()[0].text.contains("coluna(s) Preco")) << f.dialogs.messages()[0].toStdString();
    }
    TempDatabase db(dbOptions(3, true));
    if (onServer()) { // the server's base cannot be opened without its PLU table
        db.exec("Alter Table PLU Drop Constraint plu_pkey");
        db.exec("Alter Table PLU Drop Constraint plu_codigo_unico");
        db.exec("Insert Into PLU Select * From PLU Where pluNo = 2");
    } else {
        db.exec("Create Table PLU2 As Select * From PLU");
        db.exec("Insert Into PLU2 Select * From PLU Where pluNo = 2");
        db.exec("Drop Table PLU");
        db.exec("Alter Table PLU2 Rename To PLU");
    }
    FormFixture f(db.path());
    EXPECT_FALSE(f.start());
    expectOneErrorAndAnOpenEmptyWindow(f);
    EXPECT_TRUE(f.dialogs.shown()[0].text.contains("o número 2 está em mais de um produto")) << f.dialogs.messages()[0].toStdString();
}
