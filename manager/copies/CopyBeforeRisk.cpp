#include "CopyBeforeRisk.h"

#include "DataFolder.h"
#include "Db.h"
#include "Engine.h"
#include "OperatorDialogs.h"

#include <QApplication>
#include <QDate>
#include <QSettings>

#include <algorithm>

namespace torvane::manager {

namespace {

const QString kKeptKey = QStringLiteral("copias/manter");

// Copying a large base takes a moment: the operator sees the program busy.
class BusyCursor {
public:
    BusyCursor()
    {
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyCursor()
    {
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            QApplication::restoreOverrideCursor();
    }
};

} // namespace

int copiesKept()
{
    const int n = desktop::sharedSettings().value(kKeptKey, db::kDefaultCopiesKept).toInt();
    return std::clamp(n, 1, db::kMaxCopiesKept);
}

void setCopiesKept(int count)
{
    desktop::sharedSettings().setValue(kKeptKey, std::clamp(count, 1, db::kMaxCopiesKept));
    desktop::sharedSettings().sync();
}

bool hasCopies(const db::Connection *connection)
{
    return connection && !connection->readOnly() && db::engineOf(connection->database()) == db::Engine::File;
}

QString copyFailedQuestion(const QString &why)
{
    return QStringLiteral("%1\n\nContinuar sem cópia de segurança ?").arg(why);
}

CopyBefore copyBeforeRisk(db::Connection *connection, db::CopyReason reason)
{
    CopyBefore out;
    if (!hasCopies(connection))
        return out;
    QString error;
    {
        BusyCursor busy;
        if (db::BaseCopies(connection->path()).make(reason, copiesKept(), &error, &out.path))
            return out;
    }
    out.goOn = askChoice(copyFailedQuestion(error));
    return out;
}

void dailyCopy(db::Connection *connection)
{
    if (!hasCopies(connection))
        return;
    const db::BaseCopies copies(connection->path());
    if (copies.hasCopyFrom(QDate::currentDate()))
        return;
    QString error;
    bool made = false;
    {
        BusyCursor busy;
        made = copies.make(db::CopyReason::Daily, copiesKept(), &error);
    }
    if (!made)
        showInformation(error);
}

} // namespace torvane::manager
