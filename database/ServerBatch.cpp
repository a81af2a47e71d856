#include "ServerBatch.h"

#include "Engine.h"
#include "ServerHandle.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

namespace torvane::db {

namespace {

// Type numbers of the server's built-in types (pg_type), as the driver
// reads them.
enum : Oid {
    kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700, kFloat8 = 701,
    kDate = 1082, kTime = 1083, kTimestamp = 1114, kTimestampTz = 1184, kNumeric = 1700,
};

QMetaType metaTypeOf(Oid type)
{
    switch (type) {
    case kBool:
        return QMetaType(QMetaType::Bool);
    case kBytea:
        return QMetaType(QMetaType::QByteArray);
    case kInt8:
        return QMetaType(QMetaType::LongLong);
    case kInt2:
    case kInt4:
        return QMetaType(QMetaType::Int);
    case kOid:
        return QMetaType(QMetaType::UInt);
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QMetaType(QMetaType::Double);
    case kDate:
        return QMetaType(QMetaType::QDate);
    case kTime:
        return QMetaType(QMetaType::QTime);
    case kTimestamp:
    case kTimestampTz:
        return QMetaType(QMetaType::QDateTime);
    default:
        return QMetaType(QMetaType::QString);
    }
}

// A value of the answer (text format) as the driver gives it.
QVariant valueOf(const PGresult *res, int row, int column)
{
    const Oid type = PQftype(res, column);
    if (PQgetisnull(res, row, column))
        return QVariant(metaTypeOf(type));
    const char *text = PQgetvalue(res, row, column);
    const int length = PQgetlength(res, row, column);
    switch (type) {
    case kBool:
        return QVariant(text[0] == 't');
    case kBytea: {
        size_t size = 0;
        unsigned char *bytes = PQunescapeBytea(reinterpret_cast<const unsigned char *>(text), &size);
        const QByteArray value(reinterpret_cast<const char *>(bytes), qsizetype(size));
        PQfreemem(bytes);
        return value;
    }
    case kInt8:
        return QByteArray::fromRawData(text, length).toLongLong();
    case kInt2:
    case kInt4:
        return QByteArray::fromRawData(text, length).toInt();
    case kOid:
        return QByteArray::fromRawData(text, length).toUInt();
    case kFloat4:
    case kFloat8:
    case kNumeric: {
        const QByteArray t = QByteArray::fromRawData(text, length);
        if (t == "Infinity")
            return std::numeric_limits<double>::infinity();
        if (t == "-Infinity")
            return -std::numeric_limits<double>::infinity();
        if (t == "NaN")
            return std::numeric_limits<double>::quiet_NaN();
        return t.toDouble();
    }
    case kDate:
        return QDate::fromString(QString::fromLatin1(text, length), Qt::ISODate);
    case kTime:
        return QTime::fromString(QString::fromLatin1(text, length), Qt::ISODateWithMs);
    case kTimestamp:
    case kTimestampTz:
        return QDateTime::fromString(QString::fromLatin1(text, length), Qt::ISODateWithMs);
    default:
        return QString::fromUtf8(text, length);
    }
}

// A value to bind, in the text the server reads for it (bytea goes as
// bytes).  Null stays null.
struct Bound {
    QByteArray bytes;
    bool null = false;
    bool binary = false;
};

Bound boundOf(const QVariant &v)
{
    if (v.isNull())
        return {{}, true, false};
    switch (v.typeId()) {
    case QMetaType::Bool:
        return {v.toBool() ? "1" : "0"};
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return {QByteArray::number(v.toLongLong())};
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return {QByteArray::number(v.toULongLong())};
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (std::isnan(d))
            return {"NaN"};
        if (std::isinf(d))
            return {d > 0 ? "Infinity" : "-Infinity"};
        return {QByteArray::number(d, 'g', QLocale::FloatingPointShortest)};
    }
    case QMetaType::QByteArray:
        return {v.toByteArray(), false, true};
    case QMetaType::QDate:
        return {v.toDate().toString(Qt::ISODate).toLatin1()};
    case QMetaType::QDateTime:
        return {v.toDateTime().toString(Qt::ISODateWithMs).toLatin1()};
    default:
        return {v.toString().toUtf8()};
    }
}

// "?" marks (outside quoted texts) as the server's "$1", "$2"...
QString numbered(const QString &sql)
{
    QString out;
    out.reserve(sql.size() + 16);
    int n = 0;
    for (qsizetype i = 0; i < sql.size();) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"') {
            const qsizetype end = sqlQuotedEnd(sql, i);
            out += QStringView(sql).mid(i, end - i);
            i = end;
            continue;
        }
        if (c == u'?')
            out += u'$' + QString::number(++n);
        else
            out += c;
        ++i;
    }
    return out;
}

// The engine's error as the driver words it: the server's message with its
// state in parentheses, the state as the native code.
QSqlError serverError(PGconn *conn, const PGresult *res)
{
    const char *own = res ? PQresultErrorMessage(res) : nullptr;
    QString text = QString::fromUtf8(own && *own ? own : PQerrorMessage(conn));
    const char *state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    const QString code = state ? QString::fromLatin1(state) : QString();
    if (!code.isEmpty())
        text += QStringLiteral("(%1)").arg(code);
    return QSqlError(QStringLiteral("Unable to execute statement"), text, QSqlError::StatementError, code);
}

// The answer's rows (and, the first time, its column names).
void appendRows(const PGresult *res, ServerBatch::Result *result)
{
    const int columns = PQnfields(res);
    if (result->names.isEmpty())
        for (int c = 0; c < columns; ++c)
            result->names << QString::fromUtf8(PQfname(res, c));
    for (int r = 0; r < PQntuples(res); ++r) {
        QVector<QVariant> row(columns);
        for (int c = 0; c < columns; ++c)
            row[c] = valueOf(res, r, c);
        result->rows << std::move(row);
    }
}

QSqlError notRun()
{
    return QSqlError(QStringLiteral("Not run: an earlier statement of its batch failed"), QString(),
                     QSqlError::StatementError);
}

std::atomic<int> g_nextName{0};

} // namespace

ServerBatch::ServerBatch(const QSqlDatabase &db)
    : m_db(db)
{
}

ServerBatch::~ServerBatch()
{
    if (m_inFlight) { // read, so the connection is free again
        QVector<Result> ignored;
        QSqlError error;
        receive(&ignored, &error);
    }
    PGconn *conn = pgConnection(m_db);
    if (!conn || m_prepared.empty() || PQstatus(conn) != CONNECTION_OK || PQisBusy(conn))
        return;
    for (const auto &[sql, name] : m_prepared)
        PQclear(PQexec(conn, ("DEALLOCATE " + name).constData()));
}

bool ServerBatch::usable(const QSqlDatabase &db)
{
    if (engineOf(db) != Engine::Server)
        return false;
    PGconn *conn = pgConnection(db);
    if (!conn || PQstatus(conn) != CONNECTION_OK || PQpipelineStatus(conn) != PQ_PIPELINE_OFF || PQisBusy(conn))
        return false;
    // (A statement's answer the driver has not finished reading counts as
    // none: see transactionOpen.)
    return transactionOpen(db) && PQtransactionStatus(conn) == PQTRANS_INTRANS;
}

QString ServerBatch::jsonRows(const QVector<QStringList> &names, const QVector<QVariantList> &rows)
{
    QJsonArray array;
    for (qsizetype r = 0; r < rows.size() && r < names.size(); ++r) {
        QJsonObject object;
        for (qsizetype i = 0; i < names[r].size() && i < rows[r].size(); ++i) {
            const Bound b = boundOf(bindable(rows[r][i]));
            if (b.binary)
                return {};
            // Unquoted names are kept in lower case by the server.
            object.insert(names[r][i].toLower(), b.null ? QJsonValue() : QJsonValue(QString::fromUtf8(b.bytes)));
        }
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

bool ServerBatch::run(const QVector<Statement> &statements, QVector<Result> *results, QSqlError *error)
{
    send(statements);
    return receive(results, error);
}

void ServerBatch::send(const QVector<Statement> &statements)
{
    m_sent.clear();
    m_count = statements.size();
    m_sendError = QSqlError();
    m_inFlight = true;
    PGconn *conn = pgConnection(m_db);
    if (!conn || PQstatus(conn) != CONNECTION_OK || !PQenterPipelineMode(conn)) {
        m_sendError = serverError(conn, nullptr);
        return;
    }
    // What goes out: each statement, after its preparation when it is the
    // first run of one with values.
    bool sendFailed = false;
    for (qsizetype i = 0; i < statements.size() && !sendFailed; ++i) {
        const Statement &s = statements[i];
        std::vector<Bound> bound;
        bound.reserve(s.values.size());
        for (const QVariant &v : s.values)
            bound.push_back(boundOf(bindable(v)));
        std::vector<const char *> values(bound.size());
        std::vector<int> lengths(bound.size()), formats(bound.size());
        for (size_t k = 0; k < bound.size(); ++k) {
            values[k] = bound[k].null ? nullptr : bound[k].bytes.constData();
            lengths[k] = int(bound[k].bytes.size());
            formats[k] = bound[k].binary ? 1 : 0;
        }
        if (s.values.isEmpty()) {
            sendFailed = !PQsendQueryParams(conn, s.sql.toUtf8().constData(), 0, nullptr, nullptr, nullptr, nullptr, 0);
            m_sent.push_back({i, false, {}});
            continue;
        }
        auto known = m_prepared.find(s.sql);
        if (known == m_prepared.end()) {
            const QByteArray name = "torvane_batch_" + QByteArray::number(++g_nextName);
            sendFailed = !PQsendPrepare(conn, name.constData(), numbered(s.sql).toUtf8().constData(),
                                        int(values.size()), nullptr);
            m_sent.push_back({i, true, s.sql});
            known = m_prepared.emplace(s.sql, name).first;
        }
        sendFailed = sendFailed
            || !PQsendQueryPrepared(conn, known->second.constData(), int(values.size()), values.data(),
                                    lengths.data(), formats.data(), 0);
        m_sent.push_back({i, false, {}});
    }
    // Out now: the server works through them while the caller goes on.
    if (sendFailed || !PQpipelineSync(conn) || PQflush(conn) != 0) {
        // Nothing is read back from a connection that refused to send; it
        // is left for the driver to find broken.
        m_sendError = serverError(conn, nullptr);
        m_prepared.clear();
    }
}

bool ServerBatch::receive(QVector<Result> *results, QSqlError *error)
{
    results->clear();
    results->resize(m_count);
    m_inFlight = false;
    PGconn *conn = pgConnection(m_db);
    if (m_sendError.isValid()) {
        for (qsizetype i = 0; i < results->size(); ++i)
            (*results)[i].error = i == 0 ? m_sendError : notRun();
        *error = m_sendError;
        return false;
    }
    // The answers, in the order sent.  A preparation that failed keeps its
    // statement unprepared for the next batch.
    QSqlError first;
    size_t read = 0;
    for (; read < m_sent.size(); ++read) {
        const Sent &item = m_sent[read];
        Result &result = (*results)[item.statement];
        bool answered = false;
        while (PGresult *res = PQgetResult(conn)) {
            answered = true;
            const ExecStatusType status = PQresultStatus(res);
            if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
                if (!item.preparation)
                    appendRows(res, &result);
            } else {
                if (item.preparation)
                    m_prepared.erase(item.sql);
                if (!result.error.isValid())
                    result.error = status == PGRES_PIPELINE_ABORTED ? notRun() : serverError(conn, res);
                if (!first.isValid() && status != PGRES_PIPELINE_ABORTED)
                    first = result.error;
            }
            PQclear(res);
        }
        if (!answered && !result.error.isValid()) {
            result.error = serverError(conn, nullptr); // the connection ended
            if (!first.isValid())
                first = result.error;
        }
        if (PQstatus(conn) != CONNECTION_OK) {
            ++read;
            break;
        }
    }
    // What was not read back when the connection ended did not run.
    for (; read < m_sent.size(); ++read)
        if (Result &r = (*results)[m_sent[read].statement]; !r.error.isValid())
            r.error = notRun();
    // The end of the run.
    if (PQstatus(conn) == CONNECTION_OK) {
        while (PGresult *res = PQgetResult(conn)) {
            const bool sync = PQresultStatus(res) == PGRES_PIPELINE_SYNC;
            PQclear(res);
            if (sync)
                break;
        }
        PQexitPipelineMode(conn);
    } else {
        m_prepared.clear();
        if (!first.isValid())
            first = serverError(conn, nullptr);
    }
    const bool ok = !first.isValid();
    if (!ok)
        *error = first;
    return ok;
}

} // namespace torvane::db
