// The copies of the base on the product form: the copy each risky command
// makes first, and "Restaurar cópia…".
#include "ProductForm.h"

#include "CopiesWindow.h"
#include "CopyBeforeRisk.h"
#include "DataModule.h"
#include "OperatorDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>

namespace torvane::manager {

bool TfrmProdutos::CopiaAntes(db::CopyReason reason, QString *path)
{
    QElapsedTimer took;
    took.start();
    const CopyBefore before = copyBeforeRisk(m_dm->isConnected() ? m_dm->ADOC() : nullptr, reason);
    m_copiesNs += took.nsecsElapsed();
    if (path)
        *path = before.path;
    return before.goOn;
}

void TfrmProdutos::RestaurarCopia1Click()
{
    if (qryProdutos->isEditing())
        return;
    db::Connection *conn = m_dm->isConnected() ? m_dm->ADOC() : nullptr;
    if (!hasCopies(conn))
        return;
    TfrmCopias window(conn->path(), this);
    if (window.exec() != QDialog::Accepted)
        return;
    RestauraCopia(window.chosen());
}

bool TfrmProdutos::RestauraCopia(const db::BaseCopy &copy)
{
    db::Connection *conn = m_dm->isConnected() ? m_dm->ADOC() : nullptr;
    if (!hasCopies(conn))
        return false;
    const QString when = copy.when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    if (!askChoice(QStringLiteral("Restaurar a cópia de %1 (feita antes de: %2) ?\nOs produtos e as configurações "
                                  "voltam a ser os da cópia; as vendas lidas da balança depois dela são mantidas, e "
                                  "a próxima transmissão envia todos os produtos à balança.\nAntes, é feita uma "
                                  "cópia do banco como está agora.\n\nContinuar ?")
                       .arg(when, copy.after)))
        return false;
    QString current;
    if (!CopiaAntes(db::CopyReason::Restore, &current))
        return false;
    QString error;
    bool restored = false;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        qryProdutos->close();
        restored = db::BaseCopies(conn->path()).restore(copy.path, current, &error);
        QApplication::restoreOverrideCursor();
    }
    // The copy may come from an older version of the base: the start
    // sequence brings it up to date and loads it, as at a start.
    m_started = false;
    FormShow();
    if (!restored) {
        showApplicationError(error);
        return false;
    }
    QString text = QStringLiteral("A cópia de %1 foi restaurada.").arg(when);
    if (!current.isEmpty())
        text += QStringLiteral(" O banco como estava antes da restauração ficou na cópia %1.")
                    .arg(QDir::toNativeSeparators(QFileInfo(current).fileName()));
    showInformation(text);
    return true;
}

} // namespace torvane::manager
