#pragma once
// Tables, columns and the rule that ties the manager's product code to the
// 6-character code the scale puts in its barcodes.

#include <QString>

#include <functional>

class QSqlDatabase;

namespace torvane::schema {

// Product code sizes the scale's barcode layout allows.
inline constexpr int kMinCodeSize = 4;
inline constexpr int kMaxCodeSize = 6;
inline constexpr int kDefaultCodeSize = 5;

inline bool isValidCodeSize(int size)
{
    return size >= kMinCodeSize && size <= kMaxCodeSize;
}

// pluCode from Codigo, Prefixb and the settings row (CodeSize, flgPrefixo2):
//   6 -> code in 6 digits;  5/true -> Prefixb + 5 digits;  5/false -> 5 digits + "0"
//   4/true -> Prefixb + 4 digits + "0";  4/false -> 4 digits + "00"
// Returns a null QString for a CodeSize outside 4..6 (the caller then keeps
// the stored pluCode).  A negative code is written with its sign, as the
// original number formatting did; nothing but free typing produces one.
QString buildPluCode(qint64 codigo, qint64 prefixb, int codeSize, bool flgPrefixo2);

// Fresh databases.  Layout::Current is the full schema the programs work with;
// Layout::AsDelivered is the older file the system was first delivered with
// (no Config table, no Codigo, BarcodeMode, Prefixb or flgDel), kept so the
// manager's upgrade can be tried.
enum class Layout { Current, AsDelivered };

struct CreateOptions {
    int slotCount = 500;
    Layout layout = Layout::Current;
    bool demoProducts = false;
};

// Creates the tables and the product slots in an open, empty database,
// inside the caller's transaction when one is open, else in its own.
// Free slots of the current layout carry Codigo 0 and the pluCode of code 0;
// as delivered, each slot's pluCode is its own number in six digits (the
// scale's factory code), so the upgrade's back-fill gives every slot its
// own code.  Returns false and sets *error on failure.
bool createTables(QSqlDatabase &db, const CreateOptions &options, QString *error);

// Creates a new database file at path.  Refuses to overwrite an existing
// file, and leaves no file behind when it fails.  When the folder holds a
// server connection file (Engine.h), creates the tables on that server
// instead, refusing a server base that already has them.
bool createDatabaseFile(const QString &path, const CreateOptions &options, QString *error);

// The server half of createDatabaseFile.  fill, when given, runs in the
// same transaction as the creation (the move of a file's rows), so the base
// is there with all of it or not at all: a run stopped half-way (the
// program killed, the PC switched off) leaves the server as it was.  what
// names the work in the failure message ("A cópia de ..."), which says
// whether the server was found as it was before.
bool createServerBase(const QString &serverFile, const CreateOptions &options, QString *error,
                      const std::function<bool(QSqlDatabase &db, QString *error)> &fill = {},
                      const QString &what = QString());

// Copies a database file (already brought up to date by the manager) into a
// new base on the server named by the connection file beside targetPath:
// every row of PLU, PLU_UPLOADED, RECORD, SalesRun, Config and the scales'
// record (ScaleTransfer, ScaleAck), with its keys, created and copied in one
// transaction, checking the row counts.  Refuses a server that already
// holds a base; a failure leaves the server as it was.  *summary lists the
// rows copied per table.
bool copyFileToServer(const QString &sourceFile, const QString &targetPath, QString *summary, QString *error);

} // namespace torvane::schema
