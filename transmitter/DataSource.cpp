#include "DataSource.h"

#include <QMap>
#include <QMutex>
#include <QMutexLocker>

namespace torvane::transmitter {

namespace {

QMutex g_mutex;
QMap<QString, QString> g_sources; // DSN (upper case) -> DBQ
QString g_fileOverride;
thread_local QString t_fileOverride;

// Splits "A=1;B=2;;C" into upper-cased keys and values.  Pieces without '='
// carry no value and are skipped, as the driver manager does.
QMap<QString, QString> parsePairs(const QStringList &pieces)
{
    QMap<QString, QString> out;
    for (const QString &piece : pieces) {
        const qsizetype eq = piece.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = piece.left(eq).trimmed().toUpper();
        if (!key.isEmpty() && !out.contains(key))
            out.insert(key, piece.mid(eq + 1).trimmed());
    }
    return out;
}

} // namespace

bool SQLConfigDataSource(int request, const QString &driver, const QByteArray &attributes)
{
    if (request != kOdbcAddDsn || driver != QLatin1String(kAccessDriver))
        return false;
    QStringList pieces;
    for (const QByteArray &a : attributes.split('\0')) {
        if (a.isEmpty())
            break; // the empty attribute ends the list
        pieces << QString::fromLatin1(a);
    }
    const QMap<QString, QString> pairs = parsePairs(pieces);
    const QString dsn = pairs.value(QStringLiteral("DSN"));
    const QString dbq = pairs.value(QStringLiteral("DBQ"));
    if (dsn.isEmpty() || dbq.isEmpty())
        return false;
    QMutexLocker lock(&g_mutex);
    g_sources.insert(dsn.toUpper(), dbq);
    return true;
}

bool RegisterTorvaneDataSource()
{
    return SQLConfigDataSource(kOdbcAddDsn, QLatin1String(kAccessDriver),
                               QByteArray(kDataSourceAttributes, sizeof kDataSourceAttributes));
}

void ClearDataSources()
{
    QMutexLocker lock(&g_mutex);
    g_sources.clear();
}

void SetDatabaseFileOverride(const QString &path)
{
    QMutexLocker lock(&g_mutex);
    g_fileOverride = path;
}

void SetThreadDatabaseFileOverride(const QString &path)
{
    t_fileOverride = path;
}

QString ResolveConnectString(const QString &connect, QString *error)
{
    if (!t_fileOverride.isEmpty())
        return t_fileOverride;
    {
        QMutexLocker lock(&g_mutex);
        if (!g_fileOverride.isEmpty())
            return g_fileOverride;
    }
    const QMap<QString, QString> pairs = parsePairs(connect.split(u';'));
    const QString dsn = pairs.value(QStringLiteral("DSN"));
    QString dbq = pairs.value(QStringLiteral("DBQ"));
    if (!dsn.isEmpty()) {
        QMutexLocker lock(&g_mutex);
        const auto it = g_sources.constFind(dsn.toUpper());
        if (it == g_sources.constEnd()) {
            if (error)
                *error = QStringLiteral("Data source name not found: %1").arg(dsn);
            return {};
        }
        if (dbq.isEmpty())
            dbq = it.value();
    }
    if (dbq.isEmpty() && error)
        *error = QStringLiteral("No database file named in the connection");
    return dbq;
}

} // namespace torvane::transmitter
