// The first start in the shop's data folder: a database only on the
// operator's answer, the folder remembered, the operator told where it went.
#include "DataFolder.h"
#include "FirstStart.h"
#include "OperatorDialogs.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <deque>

using namespace torvane;
using manager::FirstStart;

namespace {

// Answers the question and the folder chooser from queues; records messages.
class Operator final : public manager::OperatorDialogs {
public:
    std::deque<int> choices;
    std::deque<QString> folders;
    QStringList questions, messages;

    void message(const QString &, const QString &text, manager::DialogIcon) override { messages << text; }
    bool confirm(const QString &, const QString &) override { return false; }
    bool inputText(const QString &, const QString &, QString *) override { return false; }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    int choose(const QString &, const QString &text, const QStringList &) override
    {
        questions << text;
        if (choices.empty())
            return -1;
        const int c = choices.front();
        choices.pop_front();
        return c;
    }
    QString existingFolder(const QString &, const QString &) override
    {
        if (folders.empty())
            return {};
        const QString f = folders.front();
        folders.pop_front();
        return f;
    }
};

int demoProducts(const QString &path)
{
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM PLU WHERE Codigo <> 0"), db);
            if (q.next())
                n = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return n;
}

class FirstStartTest : public ::testing::Test {
protected:
    QTemporaryDir home;
    QSettings settings{home.filePath(QStringLiteral("Torvane.conf")), QSettings::IniFormat};
    desktop::DataFolder data{&settings};
    Operator op;
    QString shop = home.filePath(QStringLiteral("Documentos/Torvane")); // not there yet
};

TEST_F(FirstStartTest, CreatesTheDemoBaseOnlyWhenAskedAndSaysWhere)
{
    op.choices = {FirstStart::Leave};
    EXPECT_TRUE(FirstStart(data, op).prepare(shop).isEmpty());
    EXPECT_FALSE(QFile::exists(shop)) << "leaving must not create anything";
    EXPECT_TRUE(data.remembered().isEmpty());

    op.choices = {FirstStart::CreateDemo};
    EXPECT_EQ(FirstStart(data, op).prepare(shop), shop);
    const QString db = desktop::DataFolder::databasePath(shop);
    EXPECT_GT(demoProducts(db), 0);
    EXPECT_EQ(data.remembered(), shop);
    ASSERT_EQ(op.messages.size(), 1);
    EXPECT_TRUE(op.messages.last().contains(db)) << op.messages.last().toStdString();

    // Next start: the folder holds the base, nothing is asked.
    op.questions.clear();
    EXPECT_EQ(FirstStart(data, op).prepare(data.folder()), shop);
    EXPECT_TRUE(op.questions.isEmpty());
}

TEST_F(FirstStartTest, AnotherFolderWithABaseIsUsedAndRemembered)
{
    const QString other = home.filePath(QStringLiteral("loja"));
    QDir().mkpath(other);
    QFile(desktop::DataFolder::databasePath(other)).open(QIODevice::WriteOnly);
    op.choices = {FirstStart::OtherFolder};
    op.folders = {other};
    EXPECT_EQ(FirstStart(data, op).prepare(shop), other);
    EXPECT_EQ(data.remembered(), other);
    EXPECT_FALSE(QFile::exists(shop));
}

TEST_F(FirstStartTest, AFailedCreationIsReportedAndAskedAgain)
{
    // A file where the folder should be: neither folder nor base can be made.
    QFile(home.filePath(QStringLiteral("Documentos"))).open(QIODevice::WriteOnly);
    op.choices = {FirstStart::CreateEmpty, FirstStart::Leave};
    EXPECT_TRUE(FirstStart(data, op).prepare(shop).isEmpty());
    EXPECT_EQ(op.questions.size(), 2);
    ASSERT_EQ(op.messages.size(), 1);
    EXPECT_TRUE(op.messages.first().startsWith(QStringLiteral("Não foi possível criar")));
    EXPECT_TRUE(data.remembered().isEmpty());
}

TEST_F(FirstStartTest, AStartFromATerminalFolderIsNotRemembered)
{
    QDir().mkpath(shop);
    QFile(desktop::DataFolder::databasePath(shop)).open(QIODevice::WriteOnly);
    EXPECT_EQ(FirstStart(data, op).prepare(shop, false), shop);
    EXPECT_TRUE(data.remembered().isEmpty());
}

} // namespace
