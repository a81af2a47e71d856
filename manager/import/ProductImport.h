#pragma once
// Loading the product list from a fixed-column text file.
//
// One product per line: code in columns 1-6, sale type in 7, description in
// 8-29, price check in 30-36 (the price itself in 31-36, in hundredths) and
// an optional shelf life in 37-39 when the line is exactly 39 characters.
// A product overwrites the slot that already carries its code, or takes the
// first free slot; every slot the file does not fill is cleared at the end.
// Rejected lines go to log.txt, one message each.
//
// The file is read twice, as a stream: once to count its lines and see what
// kind of file it is (so the operator can be told before anything changes),
// once to import.  Only the first characters of a line are kept, so neither a
// file of hundreds of megabytes nor a line of thousands of characters is ever
// held in memory.
//
// The pieces are plain classes so they can be driven without the product
// form: the form supplies an ImportTable over its product list and an
// ImportProgress over the progress window.

#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>

#include <memory>
#include <optional>
#include <stdexcept>

class QFile;
class QIODevice;

namespace torvane::manager {

// The log messages.  Line numbers count from 0.
QString importSizeMessage(qint64 line);
QString importCodeMessage(qint64 line);
QString importPriceMessage(qint64 line);
QString importCapacityMessage(const QString &code);
// A shelf life the product form would refuse.
QString importValidDaysMessage(qint64 line);

// The reason given when a line ends the import: the line, numbered as the
// log numbers lines, and what went wrong.
QString importStoppedMessage(qint64 line, const QString &reason);
// What the operator is told when an import ends early: the reason, then
// that no product changed (an import is one transaction).
QString importNotDoneMessage(const QString &reason);

// An error that ends the import (a text that passes the number check but is
// not an integer, a database error, a log that cannot be written, a read
// error, a change the code check refuses).  The text is for the operator;
// complete when it already says what became of the products.
class ImportFailure : public std::runtime_error {
public:
    explicit ImportFailure(const QString &text, bool complete = false);
    const QString &text() const { return m_text; }
    bool complete() const { return m_complete; }

private:
    QString m_text;
    bool m_complete;
};

// Windows-1252 to Unicode.
QString decodeCp1252(const char *data, qsizetype size);

// The lines of an import file.  Lines end in CR LF, LF or CR; a last line
// without a line end counts; a line end at the very end adds no empty line;
// a UTF-8 byte-order mark at the start of the file is skipped.
//
// Files are single-byte Windows-1252 text, but suppliers' exports are often
// UTF-8, and a file edited by hand can mix both.  So each line is read on its
// own: as UTF-8 when its bytes are valid UTF-8 and the line read that way is
// a usable record, otherwise as Windows-1252.  Lengths and columns count
// characters (code points), so a letter of two or four bytes, or an emoji
// beyond the 16-bit range, never moves a column.
class ImportLineReader {
public:
    // Characters of each line that are kept: one more than the longest line
    // the import looks at, so "exactly 39" can still be told apart.
    static constexpr int kHeadChars = 40;

    explicit ImportLineReader(QIODevice *device);
    ~ImportLineReader();
    ImportLineReader(const ImportLineReader &) = delete;
    ImportLineReader &operator=(const ImportLineReader &) = delete;

    // The next line: its first kHeadChars characters (NUL bytes included)
    // and its whole length in characters.  False at the end of the file and
    // on a read error (see error()).
    bool next(QString *head, qint64 *length);
    // Empty unless reading failed.
    QString error() const;
    // Bytes read so far that never occur in text (NUL, other C0 codes).
    qint64 controlBytes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The product a usable line describes, as it will be written.
struct ImportedProduct {
    QString code;               // columns 1-6 cut to the code size
    qint64 codigo = 0;          // the code as a number
    int sellFlag = 1;           // 2 = by unit ("U" or "u" in column 7), 1 = by weight
    QString description;        // columns 8-29 as they stand (NUL read as a blank)
    qint64 unitPrice = 0;       // columns 31-36
    double preco = 0.0;         // the same in currency units
    std::optional<qint64> validDays; // columns 37-39 when the line carries them
    // What a spreadsheet may carry besides the fixed layout's fields; the
    // slot keeps its own value for each one a record does not carry.
    std::optional<qint64> tareWeight; // grams, even (Tara follows in kg)
    std::optional<int> setor;
    std::optional<int> preFix;
    std::optional<int> prefixb;
    std::optional<int> barcodeMode;
};

// The outcome of the size, code and price checks of one line.
enum class LineCheck { Usable, TooShort, BadCode, BadPrice };

// The raw fields of a line that passed the checks.
struct ImportFields {
    QString code6;
    QChar saleType;
    QString description;
    QString price;          // columns 31-36
    QString shelfLife;      // columns 37-39, or null when the line carries none
};

LineCheck checkImportLine(const QString &head, qint64 length, ImportFields *fields = nullptr);

// Columns 1-6 cut to the code size: 6 keeps all, 5 drops the first
// character, any other size the first two.
QString cutImportCode(const QString &code6, int codeSize);

// Integer conversion of a field: blanks around, an optional sign and digits,
// within 32 bits.  Anything else (a decimal part, an exponent) throws
// ImportFailure, which ends the import.
qint64 importInteger(const QString &text);

// Turns the fields of a usable line into the product to write, for the
// given code size.  Throws ImportFailure when a field does not convert.
ImportedProduct makeImportedProduct(const ImportFields &fields, int codeSize);

// The log message for a product whose values the product form would refuse
// (a negative code, a price below 0 or above 999,99, a shelf life outside 0
// to 999 days); empty when the form would take them.  Such a line is
// logged and not written.
QString importRangeMessage(const ImportedProduct &product, qint64 line);

// What a first look at the file found.
struct ImportSurvey {
    qint64 lines = 0;          // number of lines
    qint64 usableLines = 0;    // lines that pass the size, code and price checks
    qint64 controlBytes = 0;   // bytes that never occur in text (NUL, other C0 codes)

    // A file with control bytes and not a single usable line is not an
    // import file at all (a picture, a spreadsheet, a zip...): importing it
    // would clear every product, so it is refused before anything changes.
    bool looksBinary() const { return controlBytes > 0 && usableLines == 0; }
};

// Reads the whole file once, as a stream.  False, with *error set to a text
// for the operator, when the file cannot be opened or read, or is not a
// regular file (a device or a pipe would never end, or never start).
bool surveyImportFile(const QString &path, ImportSurvey *survey, QString *error);

// log.txt: deleted at the start of each import, one line per rejected line,
// Latin-1, lines ending in LF.  The file stays open during the run and is
// flushed after every message, so a log is complete even when the import
// stops half way.
class ImportLog {
public:
    static constexpr const char *kFileName = "log.txt";

    explicit ImportLog(QString path);
    ~ImportLog();

    const QString &path() const { return m_path; }
    // Deletes the file; a missing file, or one that cannot be deleted, is
    // no error.
    void remove();
    // Adds one line.  Throws ImportFailure when the file cannot be written.
    void WriteLog(const QString &message);
    void close();
    qint64 messages() const { return m_messages; }

    // The folder the log goes to: the program's folder when a log can be
    // written there, otherwise the database's folder.  Empty when neither
    // can take it.
    static QString chooseDirectory(const QString &programDir, const QString &databaseDir);

private:
    QString m_path;
    std::unique_ptr<QFile> m_file;
    qint64 m_messages = 0;
};

// The product list as the import sees it, rows in the list's current order.
// Every method may throw ImportFailure (database errors).
class ImportTable {
public:
    virtual ~ImportTable() = default;
    // Starts the import's one transaction and reads the settings and the
    // rows as stored.  Nothing is written before write(); whatever the
    // import wrote is undone by finish() unless commit() ran.
    virtual void begin() {}
    // CodeSize of the settings row, as begin() read it.
    virtual int codeSize() = 0;
    virtual int rowCount() = 0;
    // Codigo of a row; nothing when it holds no value.
    virtual std::optional<qint64> codigoAt(int row) = 0;
    // Whether the second prefix tells two products with one code apart (the
    // settings row uses it and the code size leaves room for it: code 12
    // with Prefixo 2 = 1 and code 12 with Prefixo 2 = 2 are two products),
    // as begin() read it; and a row's second prefix (Prefixb).
    virtual bool secondPrefixInUse() { return false; }
    virtual qint64 prefixbAt(int /*row*/) { return 0; }
    // Writes what the file made of every row.  rows[r] is the product the
    // file put in row r: it is written without the save-time checks
    // (pluCode still derived from the code) and loses its import mark; with
    // clearedFirst the columns the file does not carry take the cleared
    // values, otherwise they keep the row's own.  A row without a product
    // is cleared (LimpaRegistro's values) and keeps its mark.  A change that
    // would give two products one code is refused (ImportFailure, complete)
    // before anything is written.  step() once per row.
    virtual void write(const QVector<std::optional<ImportedProduct>> &rows, bool clearedFirst,
                       const std::function<void()> &step) = 0;
    // Makes everything written durable.  Throws ImportFailure when that fails.
    virtual void commit() {}
    // Makes the first row current.
    virtual void moveFirst() = 0;
    // Called once at the end of every run, also when it failed: what was
    // not committed is undone, and no save may skip its checks after the
    // import.
    virtual void finish() = 0;
};

class ImportProgress {
public:
    virtual ~ImportProgress() = default;
    virtual void start(qint64 maximum) = 0;
    virtual void step() = 0;
    virtual void finish() = 0;
};

// One record of an import file: a product to write, a line refused (its
// message goes to the log), or a value that ends the import.
struct ImportRecord {
    qint64 line = 0;                        // as the messages number it
    std::optional<ImportedProduct> product;
    QString rejected;                       // the log message of a refused line
    QString failure;                        // why the import ends at this line
};

// Where the import's records come from: the fixed-column text file, or a
// spreadsheet read through the operator's column mapping.  Both feed the
// same run, so every product rule applies to both alike.
class ImportSource {
public:
    virtual ~ImportSource() = default;
    // The next record, for the code size of the settings row.  False at the
    // end.  Throws ImportFailure when the file cannot be read.
    virtual bool next(int codeSize, ImportRecord *record) = 0;
    // Whether two records of one product refuse the whole file.  In the
    // fixed-column file the later line overwrites the earlier; a spreadsheet
    // row names its product (with its second prefix), so two rows of one
    // product are a mistake the operator must see.
    virtual bool oneRecordPerProduct() const { return false; }
};

// The fixed-column text file, line by line.
class FixedColumnSource : public ImportSource {
public:
    FixedColumnSource(QIODevice *device, const QString &path);
    bool next(int codeSize, ImportRecord *record) override;

private:
    ImportLineReader m_reader;
    QString m_path;
    qint64 m_line = 0;
};

struct ImportOutcome {
    qint64 lines = 0;      // lines read
    qint64 written = 0;    // lines written into a row
    qint64 rejected = 0;   // lines logged
    bool errors() const { return rejected > 0; }
};

// Runs an import over a surveyed file, in the table's one transaction: the
// lines first, each finding its row as if the earlier ones were written
// (every row free with clearFirst), then every row written once: the
// file's product, or cleared when the file did not fill it.  A record finds
// the row of its product: its code, and its second prefix where that tells
// products apart (a record that carries none takes the first row with its
// code).  Throws
// ImportFailure (its text says that no product changed) when a line cannot
// be used or anything fails; nothing of the import is then stored.
class ProductImport {
public:
    ProductImport(ImportTable &table, ImportLog &log, ImportProgress *progress = nullptr);
    ImportOutcome run(const QString &path, const ImportSurvey &survey, bool clearFirst);
    // The same over any source of records; records: how many it will give
    // (the progress bar's maximum).
    ImportOutcome run(ImportSource &source, qint64 records, bool clearFirst);

private:
    ImportTable &m_table;
    ImportLog &m_log;
    ImportProgress *m_progress;
};

} // namespace torvane::manager
