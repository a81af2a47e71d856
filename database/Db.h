#pragma once
// The engine layer both programs reach the shared database through.
//
// The file keeps its historical name, vendabase.accdb, but holds an SQLite
// database.  Opening never creates a file, refuses real Access files and
// anything else that is not a database, and prepares every connection so the
// statements the programs were written against (UCase, true, [brackets],
// accent-blind Like) behave as they did on the original engine.

#include <QSqlDatabase>
#include <QString>
#include <memory>

namespace torvane::db {

// The name of the shared file, looked for in the working directory.
inline constexpr const char *kDatabaseFileName = "vendabase.accdb";

// How long a statement waits for the other program's lock before failing.
inline constexpr int kBusyTimeoutMs = 5000;

// What opening found about a file, before any connection is made.
enum class FileKind {
    Missing,     // no such file
    Unreadable,  // exists but cannot be read (permissions, a directory, ...)
    Empty,       // zero bytes: not a database
    AccessFile,  // a real Access (Jet / ACE) database, which we cannot read
    NotDatabase, // any other content
    SQLite,      // an SQLite database
};

FileKind probeFile(const QString &path);

// A clear, operator-facing message (Portuguese, ends with a period) for every
// kind except SQLite.
QString describeProblem(FileKind kind, const QString &path);

// One open connection with its own name, closed and removed on destruction.
// Connections are bound to the thread that opened them (a Qt SQL rule).
class Connection {
public:
    // Opens an existing database: the server named by a connection file in
    // the same folder when there is one (Engine.h), else the file.  Returns
    // null and sets *error (operator text) when the file is missing, not a
    // database, or cannot be opened.  A file without any write permission
    // bit is opened for reading only, even by a user who could write it
    // (root); readOnly asks for reading only in any case.
    static std::unique_ptr<Connection> open(const QString &path, QString *error, bool readOnly = false);

    // The file itself, even when a connection file lies beside it (the
    // move of a shop's file onto its server reads it this way).
    static std::unique_ptr<Connection> openFile(const QString &path, QString *error, bool readOnly = false);

    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    QSqlDatabase database() const;
    const QString &name() const { return m_name; }
    const QString &path() const { return m_path; }
    // True when the file could not be opened for writing (read-only file or
    // folder); statements that write will fail with the engine's message.
    bool readOnly() const { return m_readOnly; }

private:
    Connection(QString name, QString path, bool readOnly);
    // The same for a PostgreSQL server named by a connection file
    // (Engine.h), found beside the file's path.
    static std::unique_ptr<Connection> openServer(const QString &serverFile, const QString &path, QString *error,
                                                  bool readOnly);
    QString m_name;
    QString m_path;
    bool m_readOnly;
};

// Registers UCase and the accent-blind Like on an open QSQLITE connection.
// Done by Connection::open; exposed for connections made elsewhere.
bool registerAccessFunctions(QSqlDatabase &db);

// The collation every connection gets: texts in the order an operator
// reads them, accents and case set aside.
inline constexpr const char *kOperatorCollation = "OPERADOR";

// The quoted Access statements run on SQLite as they stand except for the
// odd spelling this maps (kept in one place so every caller gets the same
// effect): the yes/no literals, and every ORDER BY term sorted with the
// operator's collation (the Access engine sorted text that way).
QString mapAccessSql(const QString &sql);

// What an engine error means for the operator.  Each kind has one wording,
// shared by both programs.
enum class EngineError {
    None,
    Locked,       // another program holds the file (or a table) locked
    Damaged,      // the file is damaged or is not a database at all
    MissingTable, // a table or column the statement names does not exist
    ReadOnly,     // the file or its folder cannot be written
    DiskFull,     // a write the disk refused: no room left, over the file-size limit, I/O error
    Duplicate,    // a value the table holds only once is there already (another PC saved it first)
    ConnectionLost, // the server ended the connection or cannot be reached (restarted, network down)
    NoPermission, // the server's role may not change the base (a PC's role on a base that needs its upgrade)
    Other,
};

// Classifies by the engine's result code, falling back to its text when the
// code is missing (errors raised before a statement ran).
EngineError classifyError(const class QSqlError &error);
EngineError classifyError(int engineCode, const QString &engineText);

// One Portuguese sentence per kind: what happened and what to do.  Empty for
// None.
QString engineErrorSentence(EngineError kind);

// The engine's own text of an error, untouched (for support and tests).
QString engineText(const class QSqlError &error);

// Text of the failure a query or database reported, as the operator sees
// it: the sentence for its kind, then the engine's own text in parentheses.
// Never empty: a failure the engine gave no error for (a statement refused
// on a connection that is not open) still says that nothing was done.
QString errorText(const class QSqlError &error);

} // namespace torvane::db
