// The spreadsheet import's reading of a CSV file: records, quoted cells that
// span lines, the three encodings and separators, the bounds on what one
// record may hold, and the numbers read from the cells.  The first byte
// picks the encoding and the separator; the rest is the file.
#include "CsvFile.h"
#include "FuzzRequire.h"

#include <QBuffer>

#include <cmath>
#include <cstdint>

using torvane::fuzz::require;
using namespace torvane::manager;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const csv::Encoding encodings[] = {csv::Encoding::Utf8, csv::Encoding::Windows1252, csv::Encoding::Utf16};
    const QChar separators[] = {u';', u',', u'\t'};
    const csv::Encoding encoding = encodings[data[0] % 3];
    const QChar separator = separators[(data[0] / 3) % 3];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    csv::CsvReader reader(&buffer, encoding, separator);
    QStringList cells;
    qint64 records = 0;
    while (reader.next(&cells)) {
        ++records;
        require(reader.records() == records);
        require(!cells.isEmpty() && cells.size() <= csv::kMaxCells);
        for (const QString &cell : cells) {
            require(cell.size() <= csv::kMaxCellChars);
            if (const std::optional<double> n = csv::parseSheetNumber(cell))
                require(std::isfinite(*n));
        }
    }
    require(reader.error().isEmpty());
    // Every record ends at a line end or at the end of the file.
    require(records <= qint64(size));
    const QChar guessed = csv::guessSeparator(QString::fromUtf8(bytes));
    require(guessed == u';' || guessed == u',' || guessed == u'\t');
    return 0;
}
