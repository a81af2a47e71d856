#include "PriceHistory.h"

#include "CsvFile.h"
#include "Db.h"

#include <QSqlError>
#include <QSqlQuery>

namespace torvane::manager {

namespace {

constexpr const char *kStoredFormat = "yyyy-MM-dd HH:mm:ss";

QDateTime storedTime(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime();
    return QDateTime::fromString(v.toString(), QLatin1String(kStoredFormat));
}

} // namespace

bool readHistory(const QSqlDatabase &db, const HistoryFilter &filter, std::vector<HistoryRow> *rows, QString *error)
{
    rows->clear();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Quando is stored as text that sorts as it reads (a timestamp on the
    // server); the index on it gives the newest first.
    // Read as written on both engines: the text order Order By gets on the
    // file is for names, not for times.
    q.prepare(QStringLiteral("SELECT Quando, Computador, Usuario, Operacao, pluNo, Codigo, Campo, Antes, Depois"
                             " FROM Historico WHERE Quando >= ? AND Quando < ?%1 ORDER BY Quando DESC, ID DESC")
                  .arg(filter.pluNo ? QStringLiteral(" AND pluNo = ?") : QString()));
    q.addBindValue(filter.from.startOfDay().toString(QLatin1String(kStoredFormat)));
    q.addBindValue(filter.to.addDays(1).startOfDay().toString(QLatin1String(kStoredFormat)));
    if (filter.pluNo)
        q.addBindValue(*filter.pluNo);
    if (!q.exec()) {
        *error = db::errorText(q.lastError());
        return false;
    }
    while (q.next())
        rows->push_back({storedTime(q.value(0)), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                         q.value(4).toLongLong(), q.value(5).toString(), q.value(6).toString(), q.value(7).toString(),
                         q.value(8).toString()});
    return true;
}

QString historyFieldTitle(const QString &column)
{
    static const QHash<QString, QString> titles = {
        {QStringLiteral("codigo"), QStringLiteral("Código nas Barras")},
        {QStringLiteral("plucode"), QStringLiteral("Código na balança")},
        {QStringLiteral("pludesc"), QStringLiteral("Descrição")},
        {QStringLiteral("preco"), QStringLiteral("Preço/kg")},
        {QStringLiteral("tara"), QStringLiteral("Tara (kg)")},
        {QStringLiteral("sellflag"), QStringLiteral("Tipo venda")},
        {QStringLiteral("prefix"), QStringLiteral("Prefixo 1")},
        {QStringLiteral("prefixb"), QStringLiteral("Prefixo 2")},
    };
    return titles.value(column.toLower(), column);
}

QString historyValueText(const QString &column, const QString &value)
{
    const QString c = column.toLower();
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (ok && (c == QLatin1String("preco") || c == QLatin1String("tara")))
        return csv::formatSheetNumber(number, c == QLatin1String("preco") ? 2 : 3);
    if (c == QLatin1String("sellflag") && (value == QLatin1String("1") || value == QLatin1String("2")))
        return value == QLatin1String("1") ? QStringLiteral("Peso") : QStringLiteral("Unidade");
    return value;
}

QStringList historyTitles()
{
    return {QStringLiteral("Quando"),  QStringLiteral("Computador"), QStringLiteral("Usuário"),
            QStringLiteral("Operação"), QStringLiteral("PLU"),       QStringLiteral("Código"),
            QStringLiteral("Campo"),   QStringLiteral("Antes"),      QStringLiteral("Depois")};
}

QStringList historyCells(const HistoryRow &r)
{
    return {r.when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
            r.computer,
            r.user,
            r.operation,
            QString::number(r.pluNo),
            r.codigo,
            historyFieldTitle(r.column),
            historyValueText(r.column, r.before),
            historyValueText(r.column, r.after)};
}

QByteArray historyCsv(const std::vector<HistoryRow> &rows)
{
    auto line = [](const QStringList &cells) {
        QStringList out;
        for (const QString &c : cells)
            out << csv::csvCell(csv::asSheetText(c));
        return out.join(u';') + QStringLiteral("\r\n");
    };
    QString text = line(historyTitles());
    for (const HistoryRow &r : rows)
        text += line(historyCells(r));
    return csv::encodeCsv(text, csv::Encoding::Utf8);
}

} // namespace torvane::manager
