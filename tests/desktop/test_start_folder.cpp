// Which folder a program works in, from its command line and its working
// directory.
#include "DataFolder.h"
#include "StartOptions.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvane::desktop;

namespace {

StartOptions parse(std::initializer_list<const char *> args)
{
    QStringList list;
    for (const char *a : args)
        list << QString::fromLatin1(a);
    return parseStartOptions(list);
}

TEST(StartFolder, TerminalFolderWithABaseWinsUnlessStartedFromTheMenu)
{
    QTemporaryDir tmp;
    QSettings settings(tmp.filePath(QStringLiteral("t.conf")), QSettings::IniFormat);
    DataFolder data(&settings);
    const QString shop = tmp.filePath(QStringLiteral("shop"));
    data.remember(shop);
    const QString cwd = tmp.filePath(QStringLiteral("cwd"));
    QDir().mkpath(cwd);

    EXPECT_EQ(startFolder(parse({}), cwd, data), shop) << "no base here: the shop's folder";
    QFile(QDir(cwd).filePath(QStringLiteral("vendabase.pgconn"))).open(QIODevice::WriteOnly);
    EXPECT_EQ(startFolder(parse({}), cwd, data), cwd) << "a base on a server";
    QFile::remove(QDir(cwd).filePath(QStringLiteral("vendabase.pgconn")));
    QFile(DataFolder::databasePath(cwd)).open(QIODevice::WriteOnly);
    EXPECT_EQ(startFolder(parse({}), cwd, data), cwd);
    EXPECT_EQ(startFolder(parse({"--data-folder"}), cwd, data), shop);
    EXPECT_EQ(startFolder(parse({"--data-folder=sub/../other"}), cwd, data), tmp.filePath(QStringLiteral("cwd/other")));
}

TEST(StartOptions, RefusesWhatItDoesNotKnow)
{
    EXPECT_EQ(parse({"--data-folder", "--version"}).action, StartOptions::Action::Version);
    EXPECT_EQ(parse({"--data-folder="}).action, StartOptions::Action::Error);
    EXPECT_EQ(parse({"vendabase.accdb"}).action, StartOptions::Action::Error);
}

} // namespace
