#pragma once
// "Restaurar cópia…": the copies of the base, newest first, with their date,
// the operation that came after each one and its size, and how many copies
// are kept.  The window only lists and lets the operator choose; the product
// form asks for the confirmation and restores (TfrmProdutos::RestauraCopia).

#include "BaseCopies.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace torvane::manager {

class TfrmCopias : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCopias(const QString &databasePath, QWidget *parent = nullptr);

    // The copy chosen with "Restaurar" (valid after exec() == Accepted).
    const db::BaseCopy &chosen() const { return m_chosen; }
    const QVector<db::BaseCopy> &copies() const { return m_copies; }

    QLabel *lblPasta = nullptr;
    QTableWidget *grdCopias = nullptr;
    QSpinBox *edtManter = nullptr;
    QPushButton *btnRestaurar = nullptr;
    QPushButton *btnFechar = nullptr;

    void btnRestaurarClick();

private:
    QVector<db::BaseCopy> m_copies;
    db::BaseCopy m_chosen;
};

} // namespace torvane::manager
