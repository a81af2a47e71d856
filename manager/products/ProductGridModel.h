#pragma once
// The product grid's columns over the product list: titles, widths,
// display formats and the two computed columns (TpVenda, SetorStr).

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

namespace torvane::manager {

class ProductQuery;

// The fixed sector list; the index is the value stored in Setor.
const QStringList &sectorNames();
// "Peso" for sellFlag 1, "Unidade" otherwise.
QString saleTypeText(const QVariant &sellFlag);
// The sector list entry at index Setor; empty outside the list.
QString sectorText(const QVariant &setor);
// Preco with two decimals, Tara with three (empty for no value).
QString formatPrice(const QVariant &preco);
QString formatTare(const QVariant &tara);

struct GridColumn {
    QString title;
    QString field;     // column of the query, or the computed column's name
    int widthChars;    // display width in characters
    bool computed;
};

class ProductGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ProductGridModel(ProductQuery *query, QObject *parent = nullptr);

    static const QVector<GridColumn> &gridColumns();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The text a cell shows (what an operator reads in the grid).
    QString cellText(int row, int column) const;
    QString cellText(int row, const QString &title) const;
    int columnOfTitle(const QString &title) const;

private:
    ProductQuery *m_query;
};

} // namespace torvane::manager
