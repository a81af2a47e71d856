#include "Recordsets.h"

#include "DataSource.h"
#include "Db.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace torvane::transmitter {

namespace {

constexpr const char *kDateFormat = "yyyy-MM-dd HH:mm:ss";

QString bracketed(const QString &column)
{
    return u'[' + column + u']';
}

} // namespace

CRecordset::CRecordset() = default;

CRecordset::~CRecordset()
{
    Close();
}

bool CRecordset::fail(const QString &what)
{
    m_error = what.isEmpty() ? QStringLiteral("database error") : what;
    return false;
}

QString CRecordset::tableName() const
{
    QString sql = GetDefaultSQL().trimmed();
    if (sql.startsWith(u'[') && sql.endsWith(u']'))
        sql = sql.mid(1, sql.size() - 2);
    return sql;
}

bool CRecordset::Open()
{
    m_error.clear();
    if (IsOpen())
        Close();
    if (!m_bound) {
        DoFieldExchange(&m_fx);
        m_bound = true;
    }
    QString error;
    const QString path = ResolveConnectString(GetDefaultConnect(), &error);
    if (path.isEmpty())
        return fail(error);
    m_conn = db::Connection::open(path, &error);
    if (!m_conn)
        return fail(error);

    // A view (or anything else that is not a plain table) is read as it is
    // and cannot take new rows.
    QSqlQuery kind(m_conn->database());
    kind.prepare(QStringLiteral("SELECT type FROM sqlite_master WHERE name = ? COLLATE NOCASE"
                                " AND type IN ('table', 'view')"));
    kind.addBindValue(tableName());
    if (!kind.exec()) {
        const QString text = db::errorText(kind.lastError());
        kind.finish();
        Close();
        return fail(text);
    }
    const QString type = kind.next() ? kind.value(0).toString() : QString();
    kind.finish();
    m_keyed = type == QLatin1String("table");
    m_canAppend = m_keyed && !m_conn->readOnly();

    if (!runKeysetQuery()) {
        const QString text = m_error;
        Close();
        return fail(text);
    }
    return true;
}

bool CRecordset::runKeysetQuery()
{
    m_keys.clear();
    m_rows.clear();
    m_pos = 0;
    m_adding = false;
    m_fetch.reset();

    QStringList cols;
    for (const auto &f : m_fx.fields())
        cols << bracketed(f.column);
    const QString from = QStringLiteral(" FROM ") + GetDefaultSQL()
        + (m_strFilter.isEmpty() ? QString() : QStringLiteral(" WHERE ") + m_strFilter);

    QSqlQuery q(m_conn->database());
    q.setForwardOnly(true);
    // Selecting the bound columns too makes a missing column an error here,
    // at open, rather than in the middle of a transfer.
    const QString sql = QStringLiteral("SELECT ") + (m_keyed ? QStringLiteral("rowid, ") : QString())
        + cols.join(QStringLiteral(", ")) + from;
    if (!q.exec(db::mapAccessSql(sql)))
        return fail(db::errorText(q.lastError()));
    while (q.next()) {
        if (m_keyed) {
            m_keys.push_back(q.value(0));
        } else {
            std::vector<QVariant> row;
            row.reserve(cols.size());
            for (int i = 0; i < cols.size(); ++i)
                row.push_back(q.value(i));
            m_rows.push_back(std::move(row));
            m_keys.push_back(QVariant(qlonglong(m_rows.size() - 1)));
        }
    }
    if (q.lastError().isValid())
        return fail(db::errorText(q.lastError()));
    q.finish();

    if (m_keyed) {
        m_fetch = std::make_unique<QSqlQuery>(m_conn->database());
        m_fetch->setForwardOnly(true);
        if (!m_fetch->prepare(QStringLiteral("SELECT ") + cols.join(QStringLiteral(", ")) + QStringLiteral(" FROM ")
                              + GetDefaultSQL() + QStringLiteral(" WHERE rowid = ?")))
            return fail(db::errorText(m_fetch->lastError()));
    }
    return loadCurrent();
}

void CRecordset::Close()
{
    m_fetch.reset();
    if (m_inTransaction && m_conn) {
        QSqlQuery q(m_conn->database());
        q.exec(QStringLiteral("ROLLBACK"));
    }
    m_inTransaction = false;
    m_conn.reset();
    m_keys.clear();
    m_rows.clear();
    m_pos = 0;
    m_adding = false;
}

void CRecordset::clearMembers()
{
    for (const auto &f : m_fx.fields()) {
        switch (f.kind) {
        case CFieldExchange::Kind::Long:
        case CFieldExchange::Kind::Int:
            *static_cast<int32_t *>(f.member) = 0;
            break;
        case CFieldExchange::Kind::Byte:
            *static_cast<uint8_t *>(f.member) = 0;
            break;
        case CFieldExchange::Kind::Text:
            static_cast<QString *>(f.member)->clear();
            break;
        case CFieldExchange::Kind::DateTime:
            *static_cast<QDateTime *>(f.member) = QDateTime();
            break;
        }
    }
}

// Reads the row under the cursor into the members.  A row that vanished
// since the keyset was read (another program deleted it) is passed over.
bool CRecordset::loadCurrent()
{
    while (m_pos < m_keys.size()) {
        const std::vector<QVariant> *values = nullptr;
        std::vector<QVariant> fetched;
        if (m_keyed) {
            m_fetch->bindValue(0, m_keys[m_pos]);
            if (!m_fetch->exec())
                return fail(db::errorText(m_fetch->lastError()));
            if (!m_fetch->next()) {
                if (m_fetch->lastError().isValid())
                    return fail(db::errorText(m_fetch->lastError()));
                m_fetch->finish();
                ++m_pos;
                continue;
            }
            for (int i = 0; i < int(m_fx.fields().size()); ++i)
                fetched.push_back(m_fetch->value(i));
            m_fetch->finish();
            values = &fetched;
        } else {
            values = &m_rows[m_pos];
        }
        const auto &fields = m_fx.fields();
        for (size_t i = 0; i < fields.size(); ++i) {
            const QVariant &v = (*values)[i];
            const auto &f = fields[i];
            // A column without a value reads as zero or empty text: the
            // scale gets 0, never a marker value.
            switch (f.kind) {
            case CFieldExchange::Kind::Long:
            case CFieldExchange::Kind::Int:
                *static_cast<int32_t *>(f.member) = v.isNull() ? 0 : int32_t(uint32_t(v.toLongLong()));
                break;
            case CFieldExchange::Kind::Byte:
                *static_cast<uint8_t *>(f.member) = v.isNull() ? 0 : uint8_t(v.toLongLong());
                break;
            case CFieldExchange::Kind::Text:
                *static_cast<QString *>(f.member) = v.isNull() ? QString() : v.toString();
                break;
            case CFieldExchange::Kind::DateTime: {
                QDateTime dt;
                if (!v.isNull()) {
                    const QString s = v.toString();
                    dt = QDateTime::fromString(s, QLatin1String(kDateFormat));
                    if (!dt.isValid())
                        dt = QDateTime::fromString(s, Qt::ISODate);
                }
                *static_cast<QDateTime *>(f.member) = dt;
                break;
            }
            }
        }
        return true;
    }
    return true;
}

bool CRecordset::MoveFirst()
{
    m_error.clear();
    if (!IsOpen())
        return fail(QStringLiteral("Recordset is not open"));
    m_adding = false;
    m_pos = 0;
    return loadCurrent();
}

bool CRecordset::MoveNext()
{
    m_error.clear();
    if (!IsOpen())
        return fail(QStringLiteral("Recordset is not open"));
    if (IsEOF())
        return fail(QStringLiteral("Attempt to move past the end of the recordset"));
    m_adding = false;
    ++m_pos;
    return loadCurrent();
}

void CRecordset::AddNew()
{
    m_error.clear();
    clearMembers();
    m_adding = IsOpen();
}

bool CRecordset::Update()
{
    m_error.clear();
    if (!IsOpen())
        return fail(QStringLiteral("Recordset is not open"));
    if (!m_adding)
        return fail(QStringLiteral("Update without AddNew"));
    m_adding = false;
    if (!m_canAppend)
        return fail(QStringLiteral("The recordset cannot take new rows"));

    QStringList cols, marks;
    for (const auto &f : m_fx.fields()) {
        if (!f.writable)
            continue;
        cols << bracketed(f.column);
        marks << QStringLiteral("?");
    }
    QSqlQuery q(m_conn->database());
    if (!q.prepare(QStringLiteral("INSERT INTO ") + GetDefaultSQL() + QStringLiteral(" (") + cols.join(QStringLiteral(", "))
                   + QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) + u')'))
        return fail(db::errorText(q.lastError()));
    int i = 0;
    for (const auto &f : m_fx.fields()) {
        if (!f.writable)
            continue;
        QVariant v;
        switch (f.kind) {
        case CFieldExchange::Kind::Long:
        case CFieldExchange::Kind::Int:
            v = qlonglong(*static_cast<int32_t *>(f.member));
            break;
        case CFieldExchange::Kind::Byte:
            v = int(*static_cast<uint8_t *>(f.member));
            break;
        case CFieldExchange::Kind::Text:
            v = *static_cast<QString *>(f.member);
            if (v.isNull())
                v = QStringLiteral(""); // stored as empty text, not as no value
            break;
        case CFieldExchange::Kind::DateTime: {
            const QDateTime &dt = *static_cast<QDateTime *>(f.member);
            v = dt.isValid() ? QVariant(dt.toString(QLatin1String(kDateFormat))) : QVariant(QMetaType(QMetaType::QString));
            break;
        }
        }
        q.bindValue(i++, v);
    }
    if (!q.exec())
        return fail(db::errorText(q.lastError()));
    return q.numRowsAffected() > 0;
}

bool CRecordset::Delete()
{
    m_error.clear();
    if (!IsOpen())
        return fail(QStringLiteral("Recordset is not open"));
    if (IsEOF())
        return fail(QStringLiteral("No current row to delete"));
    if (!m_keyed || !m_canAppend)
        return fail(QStringLiteral("The recordset is read-only"));
    QSqlQuery q(m_conn->database());
    q.prepare(QStringLiteral("DELETE FROM ") + GetDefaultSQL() + QStringLiteral(" WHERE rowid = ?"));
    q.addBindValue(m_keys[m_pos]);
    if (!q.exec())
        return fail(db::errorText(q.lastError()));
    return true;
}

bool CRecordset::Requery()
{
    m_error.clear();
    if (!IsOpen())
        return fail(QStringLiteral("Recordset is not open"));
    return runKeysetQuery();
}

bool CRecordset::BeginTrans(bool forWriting)
{
    return transactionStatement(forWriting ? "BEGIN IMMEDIATE" : "BEGIN", false);
}

bool CRecordset::CommitTrans()
{
    return transactionStatement("COMMIT", true);
}

bool CRecordset::Rollback()
{
    return transactionStatement("ROLLBACK", true);
}

// Runs BEGIN, COMMIT or ROLLBACK.  A COMMIT that fails is rolled back, so
// the recordset never stays inside a transaction it reported as ended.
bool CRecordset::transactionStatement(const char *statement, bool ends)
{
    m_error.clear();
    if (!IsOpen())
        return fail(QStringLiteral("Recordset is not open"));
    if (m_inTransaction != ends)
        return fail(ends ? QStringLiteral("No transaction is open") : QStringLiteral("A transaction is already open"));
    if (m_fetch)
        m_fetch->finish();
    QSqlQuery q(m_conn->database());
    const bool ok = q.exec(QLatin1String(statement));
    const QString text = ok ? QString() : db::errorText(q.lastError());
    if (!ok && ends)
        q.exec(QStringLiteral("ROLLBACK"));
    m_inTransaction = ends ? false : ok;
    return ok || fail(text);
}

// ---- the three tables -------------------------------------------------------

QString CPLU::GetDefaultConnect() const { return QLatin1String(kPluConnect); }
QString CPLU::GetDefaultSQL() const { return QStringLiteral("[PLU]"); }
void CPLU::DoFieldExchange(CFieldExchange *fx)
{
    RFX_Long(fx, "pluNo", m_pluNo);
    RFX_Byte(fx, "preFix", m_preFix);
    RFX_Text(fx, "pluCode", m_pluCode);
    RFX_Text(fx, "pluDesc", m_pluDesc);
    RFX_Int(fx, "validDays", m_validDays);
    RFX_Int(fx, "tareWeight", m_tareWeight);
    RFX_Long(fx, "unitPrice", m_unitPrice);
    RFX_Byte(fx, "sellFlag", m_sellFlag);
    RFX_Byte(fx, "barcodeMode", m_barcodeMode);
}

QString CPLU_UPLOADED::GetDefaultConnect() const { return QLatin1String(kUploadConnect); }
QString CPLU_UPLOADED::GetDefaultSQL() const { return QStringLiteral("[PLU_UPLOADED]"); }
void CPLU_UPLOADED::DoFieldExchange(CFieldExchange *fx)
{
    RFX_Long(fx, "pluNo", m_pluNo);
    RFX_Byte(fx, "preFix", m_preFix);
    RFX_Text(fx, "pluCode", m_pluCode);
    RFX_Text(fx, "pluDesc", m_pluDesc);
    RFX_Int(fx, "validDays", m_validDays);
    RFX_Int(fx, "tareWeight", m_tareWeight);
    RFX_Long(fx, "unitPrice", m_unitPrice);
    RFX_Byte(fx, "sellFlag", m_sellFlag);
}

QString CRECORD::GetDefaultConnect() const { return QLatin1String(kUploadConnect); }
QString CRECORD::GetDefaultSQL() const { return QStringLiteral("[RECORD]"); }
void CRECORD::DoFieldExchange(CFieldExchange *fx)
{
    // ID is numbered by the table; it is read but never written.
    fx->add(QStringLiteral("ID"), CFieldExchange::Kind::Long, &m_ID, false);
    RFX_Int(fx, "pluNo", m_pluNo);
    RFX_Text(fx, "pluDesc", m_pluDesc);
    RFX_Date(fx, "dateTime", m_dateTime);
    RFX_Int(fx, "weight", m_weight);
    RFX_Int(fx, "totalPrice", m_totalPrice);
}

} // namespace torvane::transmitter
