#pragma once
// The command line both programs accept.  It is read before the window
// system is touched, so --help and --version work without a display.
//
//   --data-folder        work in the shop's data folder (the menu's launcher)
//   --data-folder=DIR    work in DIR (DIR becomes the shop's folder once it
//                        holds a database)
//   --help, -h           usage on standard output
//   --version, -v        "<program> <version>" on standard output
//
// Options of the Qt toolkit (-platform, -style, ...) are left to it: the
// application object removes them before this parser sees the list.

#include <QString>
#include <QStringList>

namespace torvane::desktop {

struct StartOptions {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool useDataFolder = false;
    QString dataFolder;
    QString error; // for Action::Error, in the words printed to stderr
};

// arguments: the command line without the program name.
StartOptions parseStartOptions(const QStringList &arguments);

// What a program prints for --help: its own description first, then the
// shared options.  extra goes at the end (e.g. the serial ports).
QString usageText(const QString &program, const QString &description, const QString &extra = QString());
QString versionText(const QString &program);

// Handles Help, Version and Error by printing; returns the exit code to end
// with, or -1 when the program should run.
int answerCommandLine(const StartOptions &options, const QString &program, const QString &description,
                      const QString &extra = QString());

} // namespace torvane::desktop
