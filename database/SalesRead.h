#pragma once
// One read of a scale's sales into RECORD: the one place every path that
// reads sales goes through (the transmitter's record upload, run by its
// window, by the manager's "Vendas" and by torvane-transfer).
//
// The records are gathered as they arrive and stored together at the end,
// in one transaction: a read killed half-way stores nothing, and the next
// read finds every sale still new.  A read that failed or was stopped stores
// what it read, which the next read continues.
//
// Which records are new: the scale sends its records oldest first, the same
// ones every time until it is cleared.  The scale's run (SalesSchema.h) is
// the one last stored under its name or through its port (one scale may be
// read under several names, by its port on this PC); a read continues the
// run when its records repeat the run's from the first on: the ones past
// the run's end are new.  A read that differs anywhere, or a complete read
// with fewer records than the run holds, comes from a cleared scale: a new
// run begins and every record of it is a new sale.  (A cleared scale whose
// first records are equal in every value to the old ones, dates included,
// cannot be told from one that was not cleared.)
//
// The runs are matched and written under a lock both engines honour, so two
// reads that end at once (two scales, the timer beside the manager, two PCs
// on the server) are stored one after the other: on the file the write lock
// of an immediate transaction, on the server an advisory lock of the
// transaction.  A read that cannot have it within the engine's lock time-out
// (kBusyTimeoutMs) stores nothing and says that another read is running.

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <memory>
#include <vector>

namespace torvane::db {

class Connection;

struct ReadSale {
    int pluNo = 0;
    QString pluDesc;
    QDateTime when;        // invalid: stored without a date
    qint64 weight = 0;     // grams, when the product is sold by weight
    qint64 totalPrice = 0; // hundredths, otherwise
    qint64 unitPrice = 0;  // the scale's price of the product as the read finds it
};

// What a sale is worth at a unit price: the weight at that price per kg
// (rounded to the cent, half away from zero) for a weighed sale, the scale's
// total otherwise.
qint64 SaleWorth(qint64 weight, qint64 totalPrice, qint64 unitPrice);

// Begins the transaction a read's sales are stored in, holding the lock
// every sales read takes (waiting at most the connection's lock time-out).
// False with *error set when it cannot.
bool BeginSalesStore(const QSqlDatabase &db, QSqlError *error);

class SalesRead {
public:
    // scale: the name the sales are kept under; port: the port's identity
    // (PortIdentity in the transmitter).
    SalesRead(const QString &databasePath, const QString &scale, const QString &port);
    ~SalesRead();

    // Opens the connection (on the calling thread) before the scale is
    // asked.  False with error() set when the base cannot be reached or
    // lacks the sales table.  (A base that cannot be written is refused by
    // the sales job before, in the words every path shows.)
    bool open();
    // False when the base has not been upgraded to tell sales apart yet:
    // every read then appends all its records.
    bool keyed() const { return m_keyed; }

    void add(ReadSale sale) { m_sales.push_back(std::move(sale)); }
    int count() const { return int(m_sales.size()); }

    // Stores the records read.  complete: the scale said its last record was
    // sent.  False with error() set (nothing stored) on a database error or
    // when the lock stayed taken.
    bool store(bool complete);
    int newSales() const { return m_new; }
    int knownSales() const { return m_known; }
    // Records the base declined to store without an error (counted as new).
    int notWritten() const { return m_notWritten; }

    const QString &error() const { return m_error; }

    // The message for a read that could not store its sales because the
    // lock stayed taken.
    static QString busyMessage();

private:
    bool fail(const QString &error);

    QString m_path;
    QString m_scale;
    QString m_port;
    std::unique_ptr<Connection> m_conn;
    bool m_keyed = false;
    std::vector<ReadSale> m_sales;
    int m_new = 0;
    int m_known = 0;
    int m_notWritten = 0;
    QString m_error;
};

} // namespace torvane::db
