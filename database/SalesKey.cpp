#include "SalesKey.h"

#include <QDateTime>

namespace torvane::db {

QString SaleKeyDate(const QVariant &dateTime)
{
    if (dateTime.isNull())
        return QString();
    if (dateTime.metaType().id() != QMetaType::QDateTime)
        return dateTime.toString();
    // Date and time as they are, with no conversion between time zones.
    const QDateTime dt = dateTime.toDateTime();
    return dt.toString(dt.time().msec() ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                        : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString RunSaleKey(const QString &scale, qint64 run, int place)
{
    return QStringLiteral("%1|%2|%3").arg(scale).arg(run).arg(place);
}

QString ValueSaleKey(int pluNo, const QString &date, qint64 weight, qint64 totalPrice, int n)
{
    return QStringLiteral("%1|%2|%3|%4|%5").arg(pluNo).arg(date).arg(weight).arg(totalPrice).arg(n);
}

} // namespace torvane::db
