#pragma once
// The copy of the base the manager makes before every operation that changes
// many products (the upgrade, a bulk change, the code size, an import, a
// restore) and at the first start of each day.  See BaseCopies.h for where
// the copies go and how they are made.
//
// Only a file base the manager can write gets copies: a server base is
// copied by the server's tools (README), and a read-only file cannot change.
// When a copy cannot be made (a full disk) the operator is told why and
// asked whether the operation goes on without one.

#include "BaseCopies.h"

#include <QString>

namespace torvane::db {
class Connection;
}

namespace torvane::manager {

// How many copies are kept: the settings file shared by the programs.
int copiesKept();
void setCopiesKept(int count);

bool hasCopies(const db::Connection *connection);

struct CopyBefore {
    bool goOn = true;   // false: the operator chose not to go on without a copy
    QString path;       // the copy made, empty when none was
};
CopyBefore copyBeforeRisk(db::Connection *connection, db::CopyReason reason);

// The first start of the day: a copy unless the base has one from today.  A
// copy that cannot be made is told; nothing is asked.
void dailyCopy(db::Connection *connection);

// The question asked when the copy before an operation could not be made.
QString copyFailedQuestion(const QString &why);

} // namespace torvane::manager
