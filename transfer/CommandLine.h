#pragma once
// The command line of torvane-transfer:
//
//   torvane-transfer send [--changed] --port [NAME=]PORT [--port ...]
//   torvane-transfer products --port [NAME=]PORT
//   torvane-transfer sales --port [NAME=]PORT [--port ...]
//   torvane-transfer check [--send] --port [NAME=]PORT [--port ...]
//   common options: --database FILE, --json, --help
//
// PORT is COM1..COM9, a device path, or a scale on the network
// (tcp://HOST:PORT, rfc2217://HOST:PORT); NAME, when given, is the scale's name
// in the output and in its record of acknowledged products (otherwise the
// port is).  Parsing never exits: it returns what it found or the error.

#include <QString>
#include <QStringList>

#include <vector>

namespace torvane::transfer {

// Exit statuses, also listed by --help.  With several scales the highest
// status among them is the command's.
enum ExitCode : int {
    ExitOk = 0,            // every scale done (check: nothing differs)
    ExitDiffers = 1,       // check: some product differs (and was not sent)
    ExitUsage = 2,         // bad command line
    ExitPortFailed = 3,    // a port could not be opened
    ExitNoAnswer = 4,      // a scale stopped answering (or a read ended short)
    ExitInterrupted = 5,   // stopped by Ctrl-C / SIGTERM
    ExitDatabase = 6,      // the database could not be read or written
};

enum class Action { Send, Products, Sales, Check };

struct ScaleTarget {
    QString name; // as shown and recorded
    QString port; // as opened
};

struct Command {
    Action action = Action::Send;
    bool changedOnly = false;   // send --changed
    bool sendDifferences = false; // check --send
    bool json = false;
    bool help = false;
    QString database;           // empty: ./vendabase.accdb
    std::vector<ScaleTarget> scales;
};

struct ParseResult {
    Command command;
    QString error; // empty when the line was understood
};

ParseResult ParseCommandLine(const QStringList &arguments); // without the program name

QString UsageText();
QString ActionName(Action action);

} // namespace torvane::transfer
