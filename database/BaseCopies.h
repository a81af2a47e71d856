#pragma once
// Dated copies of a base file, made before every operation that changes many
// products at once, so the shop can get the base of before back.
//
// The copies live in the folder "copias" beside the base, one file each,
// named after the base, the moment and the operation that came after the
// copy ("vendabase-20250131-073012-importacao.accdb"): the name alone says
// what the list shows, so nothing can fall out of step with the files.
//
// Every copy is made with SQLite's online backup from the live base, never
// by copying the file: the transmitter may be writing at the same moment,
// and a file copy of a database in WAL mode misses what the log holds.  A
// restore is an online backup too, from the copy into the live base, so a
// program that has the base open simply sees the restored content on its
// next read.
//
// Only file bases have copies: a base on a server is copied by the server's
// own tools (pg_dump; see backupCommand()).

#include <QDateTime>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>

namespace torvane::db {

inline constexpr const char *kCopiesFolder = "copias";
inline constexpr int kDefaultCopiesKept = 20;
inline constexpr int kMaxCopiesKept = 999;

// The operation a copy was made before.
enum class CopyReason {
    Upgrade,      // the upgrade at start changed the base
    Daily,        // the first start of the day
    CodeSize,     // "Configurar": the product-code size
    Prefix1,      // "Prefixo 1" of all products
    Prefix2,      // "Prefixo 2" of all products
    BarcodeMode,  // "Peso" or "Total" for all products
    ClearAll,     // "Limpar todos produtos"
    Import,       // "Importar": the fixed-column text file
    SheetImport,  // "Importar planilha"
    Restore,      // "Restaurar cópia": the base as it was before a restore
};

// What came after the copy, as the list of copies shows it.
QString copyReasonText(CopyReason reason);
// The word in the file name ("importacao").
QString copyReasonKey(CopyReason reason);

struct BaseCopy {
    QString path;
    QDateTime when;
    QString after;   // what came after, for the operator; the key itself when unknown
    qint64 bytes = 0;
};

class BaseCopies {
public:
    explicit BaseCopies(const QString &databasePath);

    QString folder() const;

    // Copies the live base into the folder and then keeps only the newest
    // `keep` copies.  False with *error (Portuguese, says what happened and
    // what to do) when no copy was made: no room on the disk (checked
    // before, and a write the disk refuses), a folder that cannot be made,
    // a base that cannot be read.  Nothing half-written is left behind.
    bool make(CopyReason reason, int keep, QString *error, QString *madePath = nullptr) const;

    // The copies of this base, newest first.
    QVector<BaseCopy> list() const;
    bool hasCopyFrom(const QDate &day) const;
    // Deletes the oldest copies beyond `keep`.
    void prune(int keep) const;

    // Writes the copy into the live base (an online backup: whoever has the
    // base open keeps it open).  The copy is checked first; a damaged one is
    // refused and the base is left alone.  Afterwards the sales read from
    // the scale after the copy was made are put back from `salesFrom` (the
    // copy of the base made just before the restore; may be empty), and
    // every scale is marked as needing a full send: the scale still holds
    // what it was sent last, not what the restored base says.
    bool restore(const QString &copyPath, const QString &salesFrom, QString *error) const;

    // Free bytes where the copies go; replaceable so the tests can play a
    // full disk.  Returns -1 when it cannot be told.
    using SpaceProbe = std::function<qint64(const QString &folder)>;
    static void setSpaceProbe(SpaceProbe probe);

private:
    QString m_base;
};

// The command that dumps a server base named by a connection file into a
// dated file of targetFolder and deletes the dumps older than
// kServerDumpDays, to be scheduled by the shop (the programs make no copies
// of a server base).
inline constexpr int kServerDumpDays = 30;
QString backupCommand(const QString &connectionString, const QString &targetFolder);

} // namespace torvane::db
