#pragma once
// The transmitter's three recordsets: PLU (read), PLU_UPLOADED (emptied and
// refilled) and RECORD (appended to).
//
// Each recordset opens its own connection on the thread that uses it, through
// its class's connect string, and behaves as a keyset cursor: the set of rows
// is fixed when it opens (or requeries), each move re-reads the row under the
// cursor so a value the manager saved meanwhile is the one that goes out.
// Rows come in table order; no sort order is ever asked for.
//
// Every operation returns false on a database error and keeps the engine's
// message in GetLastError(); nothing throws.

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <vector>

class QSqlQuery;

namespace torvane::db {
class Connection;
}

namespace torvane::transmitter {

// Collects the column bindings of a recordset, in binding order.
class CFieldExchange {
public:
    enum class Kind { Long, Int, Byte, Text, DateTime };
    struct Field {
        QString column;
        Kind kind;
        void *member;
        bool writable;
    };
    void add(const QString &column, Kind kind, void *member, bool writable = true)
    {
        m_fields.push_back({column, kind, member, writable});
    }
    const std::vector<Field> &fields() const { return m_fields; }

private:
    std::vector<Field> m_fields;
};

// Integer bindings hold signed 32-bit values; "Int" is the short-integer
// binding of the original (5 digits declared), same storage.
inline void RFX_Long(CFieldExchange *fx, const char *col, int32_t &v) { fx->add(QLatin1String(col), CFieldExchange::Kind::Long, &v); }
inline void RFX_Int(CFieldExchange *fx, const char *col, int32_t &v) { fx->add(QLatin1String(col), CFieldExchange::Kind::Int, &v); }
inline void RFX_Byte(CFieldExchange *fx, const char *col, uint8_t &v) { fx->add(QLatin1String(col), CFieldExchange::Kind::Byte, &v); }
inline void RFX_Text(CFieldExchange *fx, const char *col, QString &v) { fx->add(QLatin1String(col), CFieldExchange::Kind::Text, &v); }
inline void RFX_Date(CFieldExchange *fx, const char *col, QDateTime &v) { fx->add(QLatin1String(col), CFieldExchange::Kind::DateTime, &v); }

class CRecordset {
public:
    CRecordset();
    virtual ~CRecordset();
    CRecordset(const CRecordset &) = delete;
    CRecordset &operator=(const CRecordset &) = delete;

    // Opens the default SQL (with " WHERE " + m_strFilter when a filter is
    // set); the cursor stands on the first row, or at the end when empty.
    bool Open();
    void Close();
    bool IsOpen() const { return m_conn != nullptr; }

    bool IsEOF() const { return !IsOpen() || m_pos >= m_keys.size(); }
    bool MoveFirst();
    bool MoveNext();

    // True when rows can be added: the file is writable and the table is a
    // real table (not a view or a missing object).
    bool CanAppend() const { return IsOpen() && m_canAppend; }
    // Starts a new row: every bound member is cleared.
    void AddNew();
    // Inserts the new row.  False when no row was written: HasError() tells
    // a database error from a row that the database declined silently.
    bool Update();
    // Deletes the row under the cursor; the cursor stays until the next move.
    bool Delete();
    // Runs the query again with the current filter.
    bool Requery();

    // A transaction on the recordset's own connection (open first).  A read
    // transaction sees one state of the file from its first read on, whatever
    // the manager commits meanwhile; forWriting takes the write lock at once
    // (waiting as long as any statement does), so a writer that must not be
    // held up later finds out before it starts.  Closing the recordset
    // undoes what was not committed.
    bool BeginTrans(bool forWriting = false);
    bool CommitTrans();
    bool Rollback();
    bool InTransaction() const { return m_inTransaction; }

    bool HasError() const { return !m_error.isEmpty(); }
    const QString &GetLastError() const { return m_error; }

    QString m_strFilter;

protected:
    virtual QString GetDefaultConnect() const = 0;
    virtual QString GetDefaultSQL() const = 0;
    virtual void DoFieldExchange(CFieldExchange *fx) = 0;

private:
    bool fail(const QString &what);
    bool transactionStatement(const char *statement, bool ends);
    bool runKeysetQuery();
    bool loadCurrent();
    void clearMembers();
    QString tableName() const;

    std::unique_ptr<db::Connection> m_conn;
    std::unique_ptr<QSqlQuery> m_fetch; // re-reads one row by rowid
    CFieldExchange m_fx;
    bool m_bound = false;
    bool m_keyed = true;       // rows reachable by rowid (tables); views are read as they are
    bool m_canAppend = false;
    std::vector<QVariant> m_keys;               // rowid per row (tables)
    std::vector<std::vector<QVariant>> m_rows;  // values per row, views only
    size_t m_pos = 0;
    bool m_adding = false;
    bool m_inTransaction = false;
    QString m_error;
};

class CPLU : public CRecordset {
public:
    CPLU() = default;
    int32_t m_pluNo = 0;
    uint8_t m_preFix = 0;
    QString m_pluCode;
    QString m_pluDesc;
    int32_t m_validDays = 0;
    int32_t m_tareWeight = 0;
    int32_t m_unitPrice = 0;
    uint8_t m_sellFlag = 0;
    uint8_t m_barcodeMode = 0;

protected:
    QString GetDefaultConnect() const override;
    QString GetDefaultSQL() const override;
    void DoFieldExchange(CFieldExchange *fx) override;
};

class CPLU_UPLOADED : public CRecordset {
public:
    CPLU_UPLOADED() = default;
    int32_t m_pluNo = 0;
    uint8_t m_preFix = 0;
    QString m_pluCode;
    QString m_pluDesc;
    int32_t m_validDays = 0;
    int32_t m_tareWeight = 0;
    int32_t m_unitPrice = 0;
    uint8_t m_sellFlag = 0;

protected:
    QString GetDefaultConnect() const override;
    QString GetDefaultSQL() const override;
    void DoFieldExchange(CFieldExchange *fx) override;
};

class CRECORD : public CRecordset {
public:
    CRECORD() = default;
    int32_t m_ID = 0;
    int32_t m_pluNo = 0;
    QString m_pluDesc;
    QDateTime m_dateTime; // invalid: stored as no date
    int32_t m_weight = 0;
    int32_t m_totalPrice = 0;

protected:
    QString GetDefaultConnect() const override;
    QString GetDefaultSQL() const override;
    void DoFieldExchange(CFieldExchange *fx) override;
};

} // namespace torvane::transmitter
