#include "SalesLedger.h"

#include "Db.h"
#include "SalesRead.h"
#include "SalesSchema.h"

#include <QFile>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <map>

namespace torvane::manager {

namespace {

constexpr const char *kStoredDateFormat = "yyyy-MM-dd HH:mm:ss";

struct Price {
    qint64 unitPrice = 0; // hundredths per kg or per unit
    qint64 codigo = 0;
};

QDateTime parseStored(const QVariant &v)
{
    if (v.isNull())
        return {};
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime();
    const QString s = v.toString();
    // The usual "yyyy-MM-dd HH:mm:ss" read field by field: a month is
    // thousands of rows and the general parser is slow.
    if (s.size() == 19 && s[4] == u'-' && s[7] == u'-' && s[10] == u' ' && s[13] == u':' && s[16] == u':') {
        const QStringView t(s);
        const QDate d(t.mid(0, 4).toInt(), t.mid(5, 2).toInt(), t.mid(8, 2).toInt());
        const QTime tm(t.mid(11, 2).toInt(), t.mid(14, 2).toInt(), t.mid(17, 2).toInt());
        if (d.isValid() && tm.isValid())
            return QDateTime(d, tm);
    }
    QDateTime dt = QDateTime::fromString(s, QLatin1String(kStoredDateFormat));
    if (!dt.isValid())
        dt = QDateTime::fromString(s, Qt::ISODate);
    return dt;
}

bool fail(const QSqlQuery &q, QString *error)
{
    *error = db::errorText(q.lastError());
    return false;
}

QString csvField(QString text)
{
    if (text.contains(u';') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r'))
        text = u'"' + text.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    return text;
}

} // namespace

QString FormatKg(qint64 grams)
{
    const qint64 a = grams < 0 ? -grams : grams;
    return QStringLiteral("%1%2,%3").arg(grams < 0 ? QStringLiteral("-") : QString()).arg(a / 1000).arg(a % 1000, 3, 10, QChar(u'0'));
}

QString FormatMoney(qint64 cents)
{
    const qint64 a = cents < 0 ? -cents : cents;
    return QStringLiteral("%1%2,%3").arg(cents < 0 ? QStringLiteral("-") : QString()).arg(a / 100).arg(a % 100, 2, 10, QChar(u'0'));
}

QString FormatDay(const QDate &day)
{
    return day.isValid() ? day.toString(QStringLiteral("dd/MM/yyyy")) : QLatin1String(kNoDate);
}

bool SalesLedger::load(const QDate &from, const QDate &to, SalesPeriod *out, QString *error) const
{
    *out = SalesPeriod();
    out->from = from;
    out->to = to;

    // The scale's prices first, the base's where the scale's copy is missing.
    std::map<int, Price> prices;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT pluNo, unitPrice, Codigo FROM PLU")))
        return fail(q, error);
    while (q.next())
        prices[q.value(0).toInt()] = {q.value(1).toLongLong(), q.value(2).toLongLong()};
    if (!q.exec(QStringLiteral("SELECT pluNo, unitPrice FROM PLU_UPLOADED")))
        return fail(q, error);
    while (q.next())
        prices[q.value(0).toInt()].unitPrice = q.value(1).toLongLong();

    // What each sale was worth when it was read, where the base keeps it.
    const QString worth = db::HasSalesRuns(m_db) ? QStringLiteral("salePrice, saleTotal") : QStringLiteral("NULL, NULL");
    // dateTime is stored as text that sorts as it reads; the index on it
    // (with the row id, which is ID) gives the newest first without a sort.
    QSqlQuery dated(m_db), undated(m_db);
    dated.setForwardOnly(true);
    undated.setForwardOnly(true);
    dated.prepare(QStringLiteral("SELECT ID, pluNo, pluDesc, dateTime, weight, totalPrice, %1 FROM RECORD"
                                 " WHERE dateTime >= ? AND dateTime < ? ORDER BY dateTime DESC, ID DESC")
                      .arg(worth));
    dated.addBindValue(from.startOfDay().toString(QLatin1String(kStoredDateFormat)));
    dated.addBindValue(to.addDays(1).startOfDay().toString(QLatin1String(kStoredDateFormat)));
    if (!dated.exec())
        return fail(dated, error);

    std::map<int, ProductTotal> products;
    std::vector<DayTotal> days; // rows come newest first: a day's rows are together
    for (QSqlQuery *q : {&dated, &undated}) {
        // The undated rows are asked for once the dated ones are read: the
        // server streams one statement's rows at a time per connection.
        if (q == &undated
            && !undated.exec(QStringLiteral("SELECT ID, pluNo, pluDesc, dateTime, weight, totalPrice, %1 FROM RECORD"
                                            " WHERE dateTime IS NULL ORDER BY ID DESC")
                                 .arg(worth)))
            return fail(undated, error);
        while (q->next()) {
            SaleRow r;
            r.id = q->value(0).toLongLong();
            r.pluNo = q->value(1).toInt();
            r.pluDesc = q->value(2).toString();
            r.when = parseStored(q->value(3));
            const qint64 weight = q->value(4).toLongLong();
            const qint64 total = q->value(5).toLongLong();
            const auto price = prices.find(r.pluNo);
            const bool kept = !q->value(7).isNull();
            const qint64 unitPrice = kept ? q->value(6).toLongLong()
                                   : price == prices.end() ? 0 : price->second.unitPrice;
            r.codigo = price == prices.end() ? 0 : price->second.codigo;
            r.byWeight = weight != 0;
            if (r.byWeight) {
                r.weightGrams = weight;
                r.totalCents = kept ? q->value(7).toLongLong() : db::SaleWorth(weight, total, unitPrice);
            } else {
                r.totalCents = total;
                if (unitPrice > 0)
                    r.quantity = std::llround(double(total) / double(unitPrice));
            }

            ProductTotal &p = products[r.pluNo];
            p.pluNo = r.pluNo;
            if (p.pluDesc.isEmpty())
                p.pluDesc = r.pluDesc;
            ++p.sales;
            p.weightGrams += r.weightGrams;
            p.quantity += r.quantity > 0 ? r.quantity : 0;
            p.totalCents += r.totalCents;

            const QDate day = r.when.isValid() ? r.when.date() : QDate();
            if (days.empty() || days.back().day != day)
                days.push_back({day, 0, 0});
            ++days.back().sales;
            days.back().totalCents += r.totalCents;

            if (!r.when.isValid())
                ++out->undated;
            out->totalCents += r.totalCents;
            out->rows.push_back(std::move(r));
        }
    }
    for (auto &[no, p] : products)
        out->products.push_back(std::move(p));
    out->days = std::move(days);
    return true;
}

QStringList SalesLedger::csvHeader()
{
    return {QStringLiteral("Data"),      QStringLiteral("Hora"),       QStringLiteral("PLU"),
            QStringLiteral("Código"),    QStringLiteral("Descrição"),  QStringLiteral("Peso (kg)"),
            QStringLiteral("Quantidade"), QStringLiteral("Total (R$)")};
}

QByteArray SalesLedger::toCsv(const std::vector<SaleRow> &rows)
{
    QString text = csvHeader().join(u';') + QStringLiteral("\r\n");
    for (const SaleRow &r : rows) {
        QStringList f;
        f << (r.when.isValid() ? r.when.toString(QStringLiteral("dd/MM/yyyy")) : QLatin1String(kNoDate))
          << (r.when.isValid() ? r.when.toString(QStringLiteral("HH:mm:ss")) : QString())
          << QString::number(r.pluNo) << (r.codigo > 0 ? QString::number(r.codigo) : QString())
          << csvField(r.pluDesc) << (r.byWeight ? FormatKg(r.weightGrams) : QString())
          << (!r.byWeight && r.quantity >= 0 ? QString::number(r.quantity) : QString())
          << FormatMoney(r.totalCents);
        text += f.join(u';') + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool SalesLedger::writeCsv(const QString &path, const std::vector<SaleRow> &rows, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(toCsv(rows)) < 0 || !file.commit()) {
        *error = QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace torvane::manager
