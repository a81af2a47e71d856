#pragma once
// CSV files as spreadsheets write and read them.
//
// Reading: the separator is ";" (what a Brazilian spreadsheet writes), ","
// or a tab, guessed from the first record; the text is UTF-8 (with or
// without a byte-order mark), UTF-16 with its mark (the "Unicode text" of
// some spreadsheets) or Windows-1252; fields may be quoted ("a ""b""; c"),
// quoted fields may hold separators and line ends; lines end in CR LF, LF
// or CR.  The file is read as a stream and every record is bounded
// (kMaxCells cells of kMaxCellChars characters; what goes beyond is
// dropped), so no file, however large or malformed, is held in memory.
//
// Writing: UTF-8 with a byte-order mark (so a spreadsheet recognises it
// without asking) or Windows-1252, ";" between fields, CR LF after each
// record, a field quoted only when it holds the separator, a quote or a
// line end.
//
// Numbers in cells: a decimal comma or a decimal point; when both appear
// the last one is the decimal separator and the other groups thousands.

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <optional>

class QIODevice;

namespace torvane::manager::csv {

enum class Encoding { Utf8, Utf16, Windows1252 };

// The encoding's name for the operator ("UTF-8", "Windows-1252", ...).
QString encodingName(Encoding encoding);

inline constexpr int kMaxCells = 256;
inline constexpr int kMaxCellChars = 1024;

class CsvReader {
public:
    CsvReader(QIODevice *device, Encoding encoding, QChar separator);
    ~CsvReader();
    CsvReader(const CsvReader &) = delete;
    CsvReader &operator=(const CsvReader &) = delete;

    // The next record's cells.  False at the end of the file and on a read
    // error (see error()).
    bool next(QStringList *cells);
    // Records read so far (the last one returned is record number records()).
    qint64 records() const;
    QString error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// What a first pass over a file found.
struct CsvSurvey {
    qint64 bytes = 0;
    qint64 controlBytes = 0;  // bytes that never occur in text (NUL, other C0 codes)
    Encoding encoding = Encoding::Utf8;
    QChar separator = QLatin1Char(';');
    qint64 records = 0;
    qint64 filledRecords = 0; // records with something in a cell
    // A picture, a zip or a real spreadsheet file (.xlsx, .ods) is no CSV:
    // refused before anything changes.
    bool looksBinary() const { return controlBytes > 0; }
};

// Reads the whole file once, as a stream.  False, with *error set to a text
// for the operator, when the file cannot be opened or read, or is not a
// regular file.
bool surveyCsvFile(const QString &path, CsvSurvey *survey, QString *error);

// The separator a record's line uses: the most frequent of ";", tab and ","
// outside quotes (";" on a tie or when none appears).
QChar guessSeparator(const QString &line);

// A text a spreadsheet would take for a formula ("=...", "+...", "-...",
// "@...") is written with an apostrophe before it, so opening the file runs
// nothing.
bool formulaStart(QStringView text);
QString asSheetText(const QString &text);
// A cell ready to be written.
QString csvCell(const QString &text, QChar separator = QLatin1Char(';'));
// The whole text in the file's encoding: UTF-8 gets its byte-order mark;
// Windows-1252 turns what it cannot hold into "?".
QByteArray encodeCsv(const QString &text, Encoding encoding);

// A number as a spreadsheet writes it: blanks around, an optional sign, an
// optional "R$", digits with a decimal comma or point and optional
// thousands grouping ("1.234,56", "1,234.56").  Nothing for anything else.
std::optional<double> parseSheetNumber(const QString &text);
// A number with a decimal comma and no grouping ("12,50").
QString formatSheetNumber(double value, int decimals);

} // namespace torvane::manager::csv
