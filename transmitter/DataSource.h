#pragma once
// How the transmitter's recordsets find the shared database.
//
// The program was written against a registered data source named "Torvane"
// and connect strings that name it together with the file.  There is no ODBC
// here: registering the data source records its attributes in this process,
// and a connect string is resolved to the file path it names (DBQ), or to the
// path of the registered data source when it names none.

#include <QString>

namespace torvane::transmitter {

inline constexpr const char *kDataSourceName = "Torvane";
inline constexpr const char *kAccessDriver = "Microsoft Access Driver (*.mdb, *.accdb)";
// The attribute list registered at every start: two zero-terminated
// attributes and a final zero (the second begins with a blank).
inline constexpr char kDataSourceAttributes[] = "DSN=Torvane\0 DBQ=./vendabase.accdb\0";
inline constexpr int kOdbcAddDsn = 1;

// Connect strings of the recordsets, kept as written (they differ in
// punctuation only).
inline constexpr const char *kPluConnect =
    "DSN=Torvane;DBQ=./vendabase.accdb;DefaultDir=;DriverId=25;FIL=MS Access;MaxBufferSize=2048;PageTimeout=5;UID=admin;";
inline constexpr const char *kUploadConnect =
    "DSN=Torvane;;DBQ=./vendabase.accdb;DefaultDir;DriverId=25;FIL=MS Access;MaxBufferSize=2048;PageTimeout=5;UID=admin;";

// Registers (or replaces) a data source.  attributes is the zero-separated
// list, ending with an empty attribute; each attribute is KEY=VALUE, blanks
// around the key are ignored.  Returns false when the request is not an add,
// the driver is not the Access driver, or the list names no DSN or no DBQ.
bool SQLConfigDataSource(int request, const QString &driver, const QByteArray &attributes);

// Registers "Torvane" exactly as the program does at start.
bool RegisterTorvaneDataSource();

// Forgets every registration (tests).
void ClearDataSources();

// A file that every connect string reaches instead of the one it names: for
// the whole process (a file given on the command line), or for the calling
// thread only (a private scratch file one transfer writes into).  An empty
// path removes the override.  The thread's override wins.
void SetDatabaseFileOverride(const QString &path);
void SetThreadDatabaseFileOverride(const QString &path);

// The database file a connect string reaches.  Empty with *error set when
// the string names an unregistered data source, or names no file at all.
QString ResolveConnectString(const QString &connect, QString *error);

} // namespace torvane::transmitter
