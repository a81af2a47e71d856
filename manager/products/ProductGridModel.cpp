#include "ProductGridModel.h"

#include "ProductQuery.h"

#include <QLocale>

namespace torvane::manager {

const QStringList &sectorNames()
{
    static const QStringList names = {
        QStringLiteral("Nenhum"),     QStringLiteral("Açougue"),   QStringLiteral("FLV"),
        QStringLiteral("Laticínios / Embutidos"), QStringLiteral("Mercearia"), QStringLiteral("Padaria"),
        QStringLiteral("Peixaria"),   QStringLiteral("Rotisseria"), QStringLiteral("Outros"),
    };
    return names;
}

QString saleTypeText(const QVariant &sellFlag)
{
    return sellFlag.toInt() == 1 ? QStringLiteral("Peso") : QStringLiteral("Unidade");
}

QString sectorText(const QVariant &setor)
{
    bool ok = false;
    const int i = setor.toInt(&ok);
    return ok && i >= 0 && i < sectorNames().size() ? sectorNames()[i] : QString();
}

static QString formatFixed(const QVariant &v, int decimals)
{
    if (v.isNull() || !v.isValid())
        return {};
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok)
        return v.toString();
    return QLocale().toString(d, 'f', decimals).remove(QLocale().groupSeparator());
}

QString formatPrice(const QVariant &preco)
{
    return formatFixed(preco, 2);
}

QString formatTare(const QVariant &tara)
{
    return formatFixed(tara, 3);
}

const QVector<GridColumn> &ProductGridModel::gridColumns()
{
    static const QVector<GridColumn> columns = {
        {QStringLiteral("Código"), QStringLiteral("pluNo"), 4, false},
        {QStringLiteral("Cod.Barras"), QStringLiteral("Codigo"), 6, false},
        {QStringLiteral("Descrição"), QStringLiteral("pluDesc"), 30, false},
        {QStringLiteral("Preço/kg"), QStringLiteral("Preco"), 8, false},
        {QStringLiteral("Tara (kg)"), QStringLiteral("Tara"), 8, false},
        {QStringLiteral("Validade"), QStringLiteral("validDays"), 4, false},
        {QStringLiteral("Prefixo 1"), QStringLiteral("preFix"), 4, false},
        {QStringLiteral("Prefixo 2"), QStringLiteral("Prefixb"), 4, false},
        {QStringLiteral("Tipo Venda"), QStringLiteral("TpVenda"), 8, true},
        {QStringLiteral("Setor"), QStringLiteral("SetorStr"), 25, true},
    };
    return columns;
}

ProductGridModel::ProductGridModel(ProductQuery *query, QObject *parent) : QAbstractTableModel(parent), m_query(query)
{
    connect(query, &ProductQuery::opened, this, [this] {
        beginResetModel();
        endResetModel();
    });
    connect(query, &ProductQuery::closed, this, [this] {
        beginResetModel();
        endResetModel();
    });
    connect(query, &ProductQuery::rowChanged, this, [this](int row) {
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    });
    connect(query, &ProductQuery::rowsChanged, this, [this] {
        if (rowCount() > 0)
            emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    });
}

int ProductGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_query->count();
}

int ProductGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(gridColumns().size());
}

QString ProductGridModel::cellText(int row, int column) const
{
    if (column < 0 || column >= gridColumns().size())
        return {};
    const GridColumn &c = gridColumns()[column];
    if (c.field == QLatin1String("TpVenda"))
        return saleTypeText(m_query->value(row, QStringLiteral("sellFlag")));
    if (c.field == QLatin1String("SetorStr"))
        return sectorText(m_query->value(row, QStringLiteral("Setor")));
    const QVariant v = m_query->value(row, c.field);
    if (c.field == QLatin1String("Preco"))
        return formatPrice(v);
    if (c.field == QLatin1String("Tara"))
        return formatTare(v);
    return v.toString();
}

int ProductGridModel::columnOfTitle(const QString &title) const
{
    for (int i = 0; i < gridColumns().size(); ++i)
        if (gridColumns()[i].title == title)
            return i;
    return -1;
}

QString ProductGridModel::cellText(int row, const QString &title) const
{
    return cellText(row, columnOfTitle(title));
}

QVariant ProductGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return cellText(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) {
        const QString &f = gridColumns()[index.column()].field;
        if (f == QLatin1String("pluDesc") || f == QLatin1String("TpVenda") || f == QLatin1String("SetorStr"))
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant ProductGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < gridColumns().size())
        return gridColumns()[section].title;
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ProductGridModel::flags(const QModelIndex &index) const
{
    // The grid never edits in place.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace torvane::manager
