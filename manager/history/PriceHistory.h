#pragma once
// The record of the products' changes (table Historico, ProductHistory.h)
// as the window "Histórico" shows it: the rows of a period, of one product
// slot or of all, newest first, each field named and each value written as
// the product form shows it; and the same rows as CSV, in the conventions of
// the product export (UTF-8 with a byte-order mark, ";", decimal comma, a
// heading row, formula-like texts kept as text).
//
// No widgets.  Every query runs on the connection given.

#include <QDate>
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace torvane::manager {

struct HistoryRow {
    QDateTime when;
    QString computer, user, operation;
    qint64 pluNo = 0;
    QString codigo;  // the product's code after the change
    QString column;  // as PLU names it
    QString before, after;
};

struct HistoryFilter {
    std::optional<qint64> pluNo; // none: every slot
    QDate from, to;              // both days included
};

// The rows of the filter, newest first.  False with *error (operator text).
bool readHistory(const QSqlDatabase &db, const HistoryFilter &filter, std::vector<HistoryRow> *rows,
                 QString *error);

// The field as the product form names it ("Preço/kg").
QString historyFieldTitle(const QString &column);
// A stored value as the form shows it ("12,99", "Unidade").
QString historyValueText(const QString &column, const QString &value);

// The columns of the window and of the CSV.
QStringList historyTitles();
// One row's cells in those columns.
QStringList historyCells(const HistoryRow &row);
QByteArray historyCsv(const std::vector<HistoryRow> &rows);

} // namespace torvane::manager
