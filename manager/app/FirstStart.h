#pragma once
// The manager's start in the shop's data folder.  A folder that holds
// vendabase.accdb is used as it is.  One without it gets a question: create
// a new database there (empty, or with the demo products), choose another
// folder, or leave.  A database is created only on that answer, and the
// operator is told where it went.  The folder in use is remembered for the
// next start (DataFolder), unless the program was started from a terminal
// in a folder that already held a database.
//
// Every question goes through OperatorDialogs, so the tests answer them.

#include <QString>

namespace torvane::desktop {
class DataFolder;
}

namespace torvane::manager {

class OperatorDialogs;

class FirstStart {
public:
    FirstStart(desktop::DataFolder &data, OperatorDialogs &dialogs);

    // Returns the folder to work in (it holds a database), or an empty text
    // when the operator chose to leave.
    QString prepare(const QString &folder, bool remember = true);

    // The buttons of the question, in order.
    enum Answer { CreateDemo, CreateEmpty, OtherFolder, Leave };
    static QString questionText(const QString &folder);
    static QString createdText(const QString &databasePath);

private:
    bool create(const QString &folder, bool demo);

    desktop::DataFolder &m_data;
    OperatorDialogs &m_dialogs;
};

} // namespace torvane::manager
